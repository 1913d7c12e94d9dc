// Where the bytes of one output go: a file that appears under its name only
// when complete, or standard output. Failures name the output.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "platform/FileIdentity.h"
#include "platform/Files.h"
#include "platform/OutputFile.h"

namespace talveco {

class OutputStream {
  public:
    virtual ~OutputStream() = default;

    // The descriptor, for writers that take one (libsndfile).
    virtual int descriptor() const = 0;
    virtual void write(std::span<const std::uint8_t> bytes) = 0;
    // Whether bytes already written can be written again (a header whose
    // lengths are known only at the end).
    virtual bool canRewrite() const = 0;
    // Writes over bytes already written, `offset` counted from the output's start.
    virtual void rewriteAt(std::uint64_t offset, std::span<const std::uint8_t> bytes) = 0;
    // Puts the finished output in place. An output that is never committed
    // goes away if it can (a file), or stays as written (standard output).
    virtual void commit() {}
    virtual bool removedUnlessCommitted() const { return false; }
};

// A new file through a temporary file in the target's directory. Without
// commit() the temporary file is removed and the target stays as it was.
class FileOutput final : public OutputStream {
  public:
    FileOutput(const std::string& path, std::optional<FileIdentity> input);

    int descriptor() const override { return file_.descriptor(); }
    void write(std::span<const std::uint8_t> bytes) override;
    bool canRewrite() const override { return true; }
    void rewriteAt(std::uint64_t offset, std::span<const std::uint8_t> bytes) override;
    void commit() override;
    bool removedUnlessCommitted() const override { return true; }

  private:
    std::string path_;
    OutputFile file_;
};

// The null device, written directly: people send the output there to time
// the decoder, and there is nothing to protect or to rename over.
class NullDeviceOutput final : public OutputStream {
  public:
    explicit NullDeviceOutput(const std::string& path);

    int descriptor() const override { return device_.descriptor(); }
    void write(std::span<const std::uint8_t> bytes) override;
    bool canRewrite() const override { return true; }
    void rewriteAt(std::uint64_t offset, std::span<const std::uint8_t> bytes) override;

  private:
    std::string path_;
    DeviceOutput device_;
};

// Standard output: rewritable when it is a regular file written from a known
// place, and not when it is a pipe, a terminal or a file opened to append.
class StandardOutput final : public OutputStream {
  public:
    StandardOutput() : start_(rewritableStandardOutputStart()) {}

    int descriptor() const override { return 1; }
    void write(std::span<const std::uint8_t> bytes) override;
    bool canRewrite() const override { return start_.has_value(); }
    void rewriteAt(std::uint64_t offset, std::span<const std::uint8_t> bytes) override;

  private:
    std::optional<std::uint64_t> start_;  // where the output began in the file
};

// The output `target` of a file whose identity is `input` ("-": standard
// output), after the checks of app/common/OutputPaths.h.
std::unique_ptr<OutputStream> openOutput(const std::string& target,
                                         std::optional<FileIdentity> input, bool force);

}  // namespace talveco
