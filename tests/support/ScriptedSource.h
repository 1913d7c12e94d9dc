// A sound source for tests of the writer and the driver: it promises a size
// and then delivers chunks of a fixed pattern in the sizes it is told.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <vector>

#include "platform/Failure.h"
#include "wav/SoundSource.h"

namespace talveco::testing {

// The byte at `index` of every scripted stream.
inline std::uint8_t patternByte(std::size_t index) {
    return static_cast<std::uint8_t>(index * 7 + 3);
}

class ScriptedSource : public SoundSource {
  public:
    // `chunks` are the results of successive reads (each cut to the capacity
    // offered); after them every read returns 0.
    ScriptedSource(std::int32_t promised, std::vector<std::size_t> chunks)
        : promised_(promised), chunks_(std::move(chunks)) {}

    // The read with this index raises `failure` instead of delivering.
    void failAtRead(std::size_t index, Failure failure) { failAt_ = index, failure_ = failure; }
    void failOnOpen(Failure failure) { openFailure_ = failure; }
    void setIdentity(FileIdentity identity) { identity_ = identity; }

    void open(const std::string& path) override {
        openedPath = path;
        if (openFailure_) throw *openFailure_;
    }
    std::int32_t size() const override { return promised_; }
    std::size_t read(std::span<std::uint8_t> buffer) override {
        capacities.push_back(buffer.size());
        const std::size_t index = capacities.size() - 1;
        if (failAt_ && *failAt_ == index) throw *failure_;
        if (index >= chunks_.size()) return 0;
        const std::size_t count = std::min(chunks_[index], buffer.size());
        for (std::size_t i = 0; i < count; ++i)
            buffer[i] = patternByte(delivered_ + i);
        delivered_ += count;
        return count;
    }
    std::optional<FileIdentity> inputIdentity() const override { return identity_; }

    std::string openedPath;
    std::vector<std::size_t> capacities;  // capacity offered at each read

  private:
    std::int32_t promised_;
    std::vector<std::size_t> chunks_;
    std::size_t delivered_ = 0;
    std::optional<std::size_t> failAt_;
    std::optional<Failure> failure_;
    std::optional<Failure> openFailure_;
    std::optional<FileIdentity> identity_;
};

}  // namespace talveco::testing
