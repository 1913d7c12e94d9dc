// What the talveco-decode tests share: running the built program in a
// directory of its own, ACM files made by the library, and reading back what
// the program wrote with libsndfile and with the library's own decoder.
#pragma once

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "talveco/talveco.h"
#include "tests/encode_app/SoundFiles.h"
#include "tests/support/ProgramRunner.h"
#include "tests/support/TempDir.h"

namespace talveco::testing {

template <typename Case>
std::string caseLabel(const ::testing::TestParamInfo<Case>& test) {
    return test.param.label;
}

struct Sound {
    int channels = 0;
    int rate = 0;
    int format = 0;  // libsndfile's major format
    std::vector<std::int16_t> samples;
};

// A sound file as libsndfile reads it, all of it; nothing for a file it
// cannot read. A raw file (".raw", or `rawChannels` given) is taken as 16-bit
// little-endian samples of that shape (stereo at 22050 Hz by default).
inline Sound readSound(const std::filesystem::path& path, int rawChannels = 0, int rawRate = 0) {
    SF_INFO info{};
    if (rawChannels != 0 || path.extension() == ".raw") {
        info = SF_INFO{0,
                       rawRate != 0 ? rawRate : 22050,
                       rawChannels != 0 ? rawChannels : 2,
                       SF_FORMAT_RAW | SF_FORMAT_PCM_16 | SF_ENDIAN_LITTLE,
                       0,
                       0};
    }
    SNDFILE* file = ::sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) return {};
    Sound sound{info.channels, info.samplerate, info.format & SF_FORMAT_TYPEMASK, {}};
    std::vector<std::int16_t> block(4096);
    const auto frames = static_cast<sf_count_t>(block.size()) / info.channels;
    for (sf_count_t got; (got = ::sf_readf_short(file, block.data(), frames)) > 0;)
        sound.samples.insert(sound.samples.end(), block.begin(),
                             block.begin() + got * info.channels);
    ::sf_close(file);
    return sound;
}

// What the library decodes the ACM file to.
inline std::vector<std::int16_t> libraryDecode(const std::filesystem::path& path) {
    AcmStream stream = AcmStream::openFile(path.string());
    std::vector<std::int16_t> samples(stream.sampleCount());
    samples.resize(stream.read(samples));
    return samples;
}

// Every file and folder below `dir`, relative to it, sorted.
inline std::vector<std::string> directoryEntries(const std::filesystem::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir))
        names.push_back(entry.path().lexically_relative(dir).string());
    std::sort(names.begin(), names.end());
    return names;
}

// talveco-decode run in a temporary directory of its own.
class DecodeProgramTest : public ::testing::Test {
  protected:
    ProgramResult decode(const std::vector<std::string>& arguments, RunOptions options = {}) {
        options.program = TALVECO_DECODE_BINARY;
        return runProgram(arguments, dir.path(), options);
    }
    // An ACM file of `frames` frames of the test signal, encoded by the library.
    void writeAcm(const std::string& name, unsigned channels = 2, unsigned rate = 22050,
                  std::size_t frames = 3000, std::uint32_t seed = 1) {
        const auto samples = testSignal(frames, channels, seed);
        writeFileBytes(dir / name, encodeWithLibrary(samples, channels, rate, {}).bytes);
    }

    TempDir dir;
};

}  // namespace talveco::testing
