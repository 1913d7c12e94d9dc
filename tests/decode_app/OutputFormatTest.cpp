// Output formats chosen by name, and the sinks that write them: refused
// before a byte goes out where the format cannot be written, and FLAC that
// decodes where the output cannot go back.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "app/common/OutputPaths.h"
#include "app/decode/OutputFormat.h"
#include "app/decode/SampleSinks.h"
#include "tests/decode_app/FlacReading.h"
#include "tests/encode_app/SoundFiles.h"
#include "tests/support/TempDir.h"

namespace talveco {
namespace {

using testing::TempDir;

// ---- names ------------------------------------------------------------------------------

template <typename Case>
std::string caseLabel(const ::testing::TestParamInfo<Case>& test) {
    return test.param.label;
}

struct NameCase {
    const char* path;
    std::optional<OutputFormat> format;
};

TEST(OutputFormatOfName, ExtensionOfTheLastComponentOnly) {
    const NameCase cases[] = {
        {"c.mp3", OutputFormat::Mp3},
        {"E.OPUS", OutputFormat::Opus},
        {"x.AIF", OutputFormat::Aiff},
        {"take.oga", OutputFormat::Ogg},
        {"dir/s.flac", OutputFormat::Flac},
        {"c.xyz", OutputFormat::Unlisted},
        {"song.wav.bak", OutputFormat::Unlisted},
        {"dir.flac/out", std::nullopt},
        {"noextension", std::nullopt},
        {"dir/.hidden", std::nullopt},
        {"take.", std::nullopt},
    };
    for (const NameCase& c : cases)
        EXPECT_EQ(formatOfName(c.path), c.format) << c.path;
}

// Every name the list offers is one --format takes, and the extension given
// to its outputs names the same format again.
TEST(OutputFormatOfName, ListedNamesAndExtensionsRoundTrip) {
    std::string list = formatNameList();
    for (const std::string separator : {", ", " or "}) {
        for (auto at = list.find(separator); at != std::string::npos; at = list.find(separator))
            list.replace(at, separator.size(), " ");
    }
    std::vector<std::string> names;
    for (std::size_t start = 0; start < list.size();) {
        const std::size_t end = std::min(list.find(' ', start), list.size());
        names.push_back(list.substr(start, end - start));
        start = end + 1;
    }
    ASSERT_EQ(names.size(), 9U) << formatNameList();
    for (const std::string& name : names) {
        const auto format = formatNamed(name);
        ASSERT_TRUE(format) << name;
        EXPECT_EQ(formatOfName("x" + std::string(extensionOf(*format))), format) << name;
    }
    EXPECT_FALSE(formatNamed(""));
}

TEST(OutputFormatOfName, RefusalNamesTheExtensionAndTheWayOut) {
    const auto refusal = refusalOfName("music/c.m4a");
    ASSERT_TRUE(refusal);
    for (const char* part : {"'.m4a'", ".mp3", ".opus", "--format"})
        EXPECT_NE(refusal->find(part), std::string::npos) << *refusal;
    EXPECT_FALSE(refusalOfName("c.flac"));
    EXPECT_FALSE(refusalOfName("dir.m4a/out"));
}

// ---- sinks ------------------------------------------------------------------------------

// Where the output's bytes go, and what kind of descriptor it shows.
enum class Target { Pipe, AppendedFile, RewritableFile, ReadOnlyFile };

// An output collecting its bytes in memory, over a descriptor of the kind
// the test asks for (the sinks look at it: libsndfile writes to it, and a
// pipe is told from a file by it).
class MemoryOutput final : public OutputStream {
  public:
    MemoryOutput(Target target, const TempDir& dir) : target_(target) {
        if (target == Target::Pipe) {
            int ends[2];
            EXPECT_EQ(::pipe2(ends, O_NONBLOCK), 0);
            fd_ = ends[1];
            readEnd_ = ends[0];
        } else {
            const int flags =
                target == Target::ReadOnlyFile
                    ? O_RDONLY | O_CREAT
                    : O_RDWR | O_CREAT | (target == Target::AppendedFile ? O_APPEND : 0);
            fd_ = ::open((dir / "descriptor").c_str(), flags, 0644);
        }
    }
    ~MemoryOutput() override {
        ::close(fd_);
        if (readEnd_ >= 0) ::close(readEnd_);
    }

    int descriptor() const override { return fd_; }
    void write(std::span<const std::uint8_t> bytes) override {
        if (bytes_.size() + bytes.size() > failAfter_) throw FileRefused("no room left");
        bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    }
    bool canRewrite() const override {
        return target_ == Target::RewritableFile || target_ == Target::ReadOnlyFile;
    }
    void rewriteAt(std::uint64_t offset, std::span<const std::uint8_t> bytes) override {
        ADD_FAILURE() << "rewrote " << bytes.size() << " bytes at " << offset;
    }

    // Bytes written here or straight to the descriptor.
    std::size_t bytesOut() const {
        struct stat info {};
        ::fstat(fd_, &info);
        char ignored[1];
        const bool pipeHasBytes = readEnd_ >= 0 && ::read(readEnd_, ignored, 1) == 1;
        return bytes_.size() + static_cast<std::size_t>(S_ISREG(info.st_mode) ? info.st_size : 0) +
               (pipeHasBytes ? 1 : 0);
    }
    const std::vector<std::uint8_t>& bytes() const { return bytes_; }
    bool descriptorIsOpen() const { return ::fcntl(fd_, F_GETFD) != -1; }
    void failAfter(std::size_t bytes) { failAfter_ = bytes; }

  private:
    Target target_;
    int fd_ = -1;
    int readEnd_ = -1;
    std::vector<std::uint8_t> bytes_;
    std::size_t failAfter_ = SIZE_MAX;
};

struct StreamCase {
    const char* label;
    unsigned channels;
    unsigned rate;
    std::size_t frames;
    std::size_t chunk;  // samples handed over at once
};

class FlacIntoAPipe : public ::testing::TestWithParam<StreamCase> {};

// FLAC written where the output cannot go back decodes frame by frame, in
// sync to the end, to exactly the samples given.
TEST_P(FlacIntoAPipe, DecodesToTheSamplesGiven) {
    const StreamCase& c = GetParam();
    TempDir dir;
    MemoryOutput out(Target::Pipe, dir);
    const auto samples = testing::testSignal(c.frames, c.channels, 9);
    const SoundShape shape{c.channels, c.rate, static_cast<std::uint32_t>(samples.size())};
    {
        const auto sink = makeSampleSink(OutputFormat::Flac, out, shape);
        for (std::size_t at = 0; at < samples.size(); at += c.chunk) {
            const std::size_t count = std::min(c.chunk, samples.size() - at);
            sink->write(std::span(samples).subspan(at, count));
        }
        sink->finish();
    }
    const testing::DecodedFlac decoded = testing::decodeFlac(out.bytes());
    EXPECT_EQ(decoded.errors, std::vector<std::string>{});
    EXPECT_EQ(decoded.channels, c.channels);
    EXPECT_EQ(decoded.rate, c.rate);
    EXPECT_EQ(decoded.samples, samples);
}

INSTANTIATE_TEST_SUITE_P(Shapes, FlacIntoAPipe,
                         ::testing::Values(StreamCase{"Mono8k", 1, 8000, 5001, 1000},
                                           StreamCase{"Stereo22k", 2, 22050, 12345, 4096},
                                           StreamCase{"Stereo44kOneChunk", 2, 44100, 4096, 8192}),
                         caseLabel<StreamCase>);

// A failing output fails the sink with the output's own error, whether it
// fails on the header or on the frames.
TEST(FlacIntoAPipe, OutputFailureIsRaisedNotSwallowed) {
    const auto samples = testing::testSignal(20000, 2, 3);
    const SoundShape shape{2, 22050, static_cast<std::uint32_t>(samples.size())};
    for (const std::size_t room : {0UL, 100UL, 5000UL}) {
        TempDir dir;
        MemoryOutput out(Target::Pipe, dir);
        out.failAfter(room);
        try {
            const auto sink = makeSampleSink(OutputFormat::Flac, out, shape);
            sink->write(samples);
            sink->finish();
            ADD_FAILURE() << "no failure with room for " << room << " bytes";
        } catch (const FileRefused& failure) {
            EXPECT_STREQ(failure.what(), "no room left") << room;
        }
    }
}

// A sound libsndfile cannot start (here its header cannot be written) is refused, and the
// output's descriptor stays the output's: libsndfile closes the one it was given.
TEST(SndfileSink, SoundThatCannotStartLeavesTheOutputsDescriptorOpen) {
    for (const OutputFormat format : {OutputFormat::Aiff, OutputFormat::W64, OutputFormat::Caf}) {
        TempDir dir;
        MemoryOutput out(Target::ReadOnlyFile, dir);
        EXPECT_THROW(makeSampleSink(format, out, SoundShape{2, 22050, 1000}), FileRefused);
        EXPECT_TRUE(out.descriptorIsOpen()) << extensionOf(format);
    }
}

struct RefusalCase {
    const char* label;
    OutputFormat format;
    Target target;
    unsigned rate;
    const char* message;  // part of the refusal; empty where the sink is made
};

class SinkRefusal : public ::testing::TestWithParam<RefusalCase> {};

// A format that cannot be written to the output is refused before a single
// byte goes out; one that can is made.
TEST_P(SinkRefusal, RefusesBeforeAnyByteOrWrites) {
    const RefusalCase& c = GetParam();
    TempDir dir;
    MemoryOutput out(c.target, dir);
    const SoundShape shape{2, c.rate, 1000};
    if (std::string(c.message).empty()) {
        EXPECT_NO_THROW(makeSampleSink(c.format, out, shape));
        return;
    }
    try {
        makeSampleSink(c.format, out, shape);
        ADD_FAILURE() << "made";
    } catch (const FileRefused& refusal) {
        EXPECT_NE(std::string(refusal.what()).find(c.message), std::string::npos) << refusal.what();
    }
    EXPECT_EQ(out.bytesOut(), 0U);
}

INSTANTIATE_TEST_SUITE_P(
    Outputs, SinkRefusal,
    ::testing::Values(
        RefusalCase{"AiffIntoPipe", OutputFormat::Aiff, Target::Pipe, 22050,
                    "AIFF cannot be written to a pipe"},
        RefusalCase{"W64IntoPipe", OutputFormat::W64, Target::Pipe, 22050, "W64 cannot be"},
        RefusalCase{"CafIntoPipe", OutputFormat::Caf, Target::Pipe, 22050, "CAF cannot be"},
        RefusalCase{"CafAppended", OutputFormat::Caf, Target::AppendedFile, 22050,
                    "CAF cannot be written to an output it cannot go back in"},
        RefusalCase{"Mp3Appended", OutputFormat::Mp3, Target::AppendedFile, 22050,
                    "MP3 cannot be written to an output it cannot go back in"},
        RefusalCase{"OpusAt22k", OutputFormat::Opus, Target::RewritableFile, 22050,
                    "Opus holds only 8000, 12000, 16000, 24000 or 48000 Hz, not 22050 Hz"},
        RefusalCase{"Mp3At37800", OutputFormat::Mp3, Target::Pipe, 37800, "not 37800 Hz"},
        RefusalCase{"UnlistedName", OutputFormat::Unlisted, Target::RewritableFile, 22050,
                    "end the name in .wav"},
        RefusalCase{"FlacIntoPipe", OutputFormat::Flac, Target::Pipe, 37800, ""},
        RefusalCase{"FlacAppended", OutputFormat::Flac, Target::AppendedFile, 22050, ""},
        RefusalCase{"WavIntoPipe", OutputFormat::Wav, Target::Pipe, 22050, ""},
        RefusalCase{"RawIntoPipe", OutputFormat::Raw, Target::Pipe, 22050, ""},
        RefusalCase{"OggIntoPipe", OutputFormat::Ogg, Target::Pipe, 37800, ""},
        RefusalCase{"Mp3IntoPipe", OutputFormat::Mp3, Target::Pipe, 44100, ""},
        RefusalCase{"OpusIntoPipe", OutputFormat::Opus, Target::Pipe, 48000, ""},
        RefusalCase{"AiffIntoFile", OutputFormat::Aiff, Target::RewritableFile, 22050, ""}),
    caseLabel<RefusalCase>);

}  // namespace
}  // namespace talveco
