// Fuzz target for a whole conversion in the process: the driver, the ACM
// source on a real file, the WAV writer and the output file, in a scratch
// directory on tmpfs. The input gives the stream, the input file's name and
// the mono option. It reaches what the decode target cannot: a data length
// that falls short of the header's promise when a block fails, the header
// patched afterwards, names of any length with the DOS separators, an
// output name that is the input itself, and the console transcript.
//
// After every run the directory must hold the input, unchanged, and either
// nothing else (a failed run, with one "Error: " line) or exactly one WAV
// file whose every field and data byte is what the decoder delivers.
#include <fcntl.h>
#include <fuzzer/FuzzedDataProvider.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "acm/AcmDecoder.h"
#include "app/AcmSource.h"
#include "app/Driver.h"
#include "fuzz/ConvertInput.h"
#include "platform/Console.h"
#include "tests/support/MemoryByteSource.h"
#include "wav/ConvertJob.h"

namespace talveco::fuzzing {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// Headers promising more are cut down to this many samples, so that no
// input writes more than 256 KiB; counts the decoder refuses stay as they are.
constexpr std::uint32_t kSampleCap = std::uint32_t{1} << 17;
constexpr std::size_t kBlockCap = std::size_t{1} << 15;

// Each run works in a scratch directory of its own on tmpfs. libFuzzer
// keeps the paths it was given relative to the directory it started in, so
// that one is the working directory again between runs and when a check
// fails.
char scratch[] = "/dev/shm/talveco-fuzz-XXXXXX";
int startDirectory = -1;

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "talveco convert fuzzer: %s\n", what);
    if (startDirectory >= 0 && ::fchdir(startDirectory) != 0) std::perror("fchdir");
    std::abort();
}

class InScratch {
  public:
    InScratch() {
        startDirectory = ::open(".", O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (startDirectory < 0 || ::chdir(scratch) != 0) fail("cannot enter the scratch directory");
    }
    ~InScratch() {
        if (::fchdir(startDirectory) != 0) std::perror("fchdir");
        ::close(startDirectory);
        startDirectory = -1;
    }
    InScratch(const InScratch&) = delete;
    InScratch& operator=(const InScratch&) = delete;
};

void check(bool condition, const char* what) {
    if (!condition) fail(what);
}

std::uint32_t le32(const Bytes& bytes, std::size_t at) {
    return std::uint32_t{bytes[at]} | std::uint32_t{bytes[at + 1]} << 8 |
           std::uint32_t{bytes[at + 2]} << 16 | std::uint32_t{bytes[at + 3]} << 24;
}

void putLe32(Bytes& bytes, std::size_t at, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// The verdict on the header straight from its bytes (zero where missing).
bool headerAcceptable(const Bytes& stream) {
    Bytes h(14, 0);
    std::copy_n(stream.begin(), std::min<std::size_t>(stream.size(), 14), h.begin());
    const unsigned rows = unsigned{h[12]} >> 4 | unsigned{h[13]} << 4;
    const std::uint32_t count = le32(h, 4);
    return h[0] == 0x97 && h[1] == 0x28 && h[2] == 0x03 && h[3] == 0x01 &&
           !(rows == 0 && count != 0) && count < (std::uint32_t{1} << 30);
}

// The error a run must end in, or nothing when it must convert: headers the
// decoder refuses, an output name that is the input's own, and one too long
// for the file system (the input's name may take all 255 bytes, and ".wav"
// is added).
std::string expectedError(const Bytes& stream, const std::string& path,
                          const std::string& outputName) {
    if (!headerAcceptable(stream)) return "File does not appear to be a valid ACM file";
    if (outputName == path) return "I/O error 32";
    if (outputName.size() > 255) return "I/O error 36";
    return "";
}

// Keeps the work of one input small: fewer samples, narrower blocks. A
// stream that ends inside the header reads zeros for the missing bytes, so
// it is padded with them when a field has to change.
void limitWork(Bytes& stream) {
    Bytes header(14, 0);
    std::copy_n(stream.begin(), std::min<std::size_t>(stream.size(), 14), header.begin());
    const std::uint32_t count = le32(header, 4);
    const unsigned levels = header[12] & 0x0Fu;
    const unsigned rows = unsigned{header[12]} >> 4 | unsigned{header[13]} << 4;
    const auto maxRows = static_cast<unsigned>(kBlockCap >> levels);
    const bool tooMany = count > kSampleCap && count < (std::uint32_t{1} << 30);
    if (!tooMany && rows <= maxRows) return;
    if (stream.size() < header.size()) stream.resize(header.size(), 0);
    if (tooMany) putLe32(stream, 4, kSampleCap);
    if (rows > maxRows) {
        stream[12] = static_cast<std::uint8_t>(levels | (maxRows & 0x0Fu) << 4);
        stream[13] = static_cast<std::uint8_t>(maxRows >> 4);
    }
}

Bytes readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> directoryEntries() {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator("."))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// What the writer must have received: the decoder read in transfer-buffer
// sized pieces up to the first empty read.
struct Expected {
    Bytes data;
    std::size_t marks = 0;
};

Expected decodeDirectly(const Bytes& stream) {
    Expected expected;
    testing::MemoryByteSource source(stream);
    const auto decoder = createAcmDecoder(source);
    const auto total = static_cast<std::int32_t>(decoder->header().sampleCount * 2);
    Bytes buffer(static_cast<std::size_t>(transferBufferSize(total)));
    while (const std::size_t got = decoder->readSampleBytes(buffer)) {
        expected.data.insert(expected.data.end(), buffer.begin(),
                             buffer.begin() + static_cast<std::ptrdiff_t>(got));
        ++expected.marks;
    }
    return expected;
}

// The file-name part of the path (after the last backslash or colon, at
// most 255 characters) and the output name made from it.
std::string infoNameOf(const std::string& path) {
    const auto separator = path.find_last_of("\\:");
    const std::string name = separator == std::string::npos ? path : path.substr(separator + 1);
    return name.substr(0, 255);
}

std::string outputNameOf(const std::string& infoName) {
    return infoName.substr(0, infoName.find_last_of('.')) + ".wav";
}

void checkWavFile(const Bytes& wav, const Expected& expected, const std::string& infoName,
                  bool mono) {
    const std::size_t d = expected.data.size();
    const std::size_t n = infoName.size();
    check(wav.size() == 116 + d + n, "file length");
    check(std::string(wav.begin(), wav.begin() + 4) == "RIFF", "RIFF tag");
    check(le32(wav, 4) == d + n + 108, "RIFF length");
    check(wav[22] == (mono ? 1 : 2), "channel count");
    check(le32(wav, 40) == d, "data length");
    check(std::equal(expected.data.begin(), expected.data.end(), wav.begin() + 44), "data");
    check(std::string(wav.begin() + 44 + static_cast<std::ptrdiff_t>(d),
                      wav.begin() + 48 + static_cast<std::ptrdiff_t>(d)) == "LIST",
          "LIST tag");
    check(le32(wav, 48 + d) == n + 64, "LIST length");
    check(le32(wav, 112 + d) == n, "INAM length");
    check(std::string(wav.end() - static_cast<std::ptrdiff_t>(n), wav.end()) == infoName,
          "INAM text");
}

std::string consoleText(int fd) {
    std::string text(static_cast<std::size_t>(::lseek(fd, 0, SEEK_END)), '\0');
    check(::pread(fd, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size()),
          "console capture");
    return text;
}

struct Run {
    std::string path;
    bool mono = false;
    Bytes stream;
};

void checkRun(const Run& run, int status, const std::string& console) {
    const std::string infoName = infoNameOf(run.path);
    const std::string outputName = outputNameOf(infoName);
    const std::string head = "Quarnix ACM to WAV converter v1.1 beta\r\n Converting " + run.path +
                             " to " + outputName + (run.mono ? " (mono)" : "") + "\r\n";
    check(console.compare(0, head.size(), head) == 0, "console head");
    check(readFile(run.path) == run.stream, "input changed");
    const std::vector<std::string> entries = directoryEntries();
    const std::string error = expectedError(run.stream, run.path, outputName);
    if (status != kExitSuccess) {
        check(status == kExitFailure, "exit status");
        check(!error.empty(), "a run that should convert failed");
        check(console.ends_with("\r\nError: " + error + "\r\n"), "error transcript");
        check(entries == std::vector<std::string>{run.path}, "a failed run left a file");
        return;
    }
    check(error.empty(), "a run that should fail converted");
    const Expected expected = decodeDirectly(run.stream);
    const std::string tail = std::string(expected.marks, '#') + "\r\n" +
                             std::to_string(expected.data.size()) + " bytes written\r\n";
    check(console == head + tail, "console tail");
    check(entries.size() == 2 && fs::exists(outputName), "output file missing");
    checkWavFile(readFile(outputName), expected, infoName, run.mono);
}

Run takeRun(FuzzedDataProvider& provider) {
    Run run;
    const RunTail tail = takeRunTail(provider);
    run.mono = tail.mono;
    run.path = tail.name;
    run.stream = provider.ConsumeRemainingBytes<std::uint8_t>();
    limitWork(run.stream);
    return run;
}

}  // namespace
}  // namespace talveco::fuzzing

// Every run works in a scratch directory of its own on tmpfs, removed again
// when the fuzzer exits.
namespace fs = std::filesystem;

// The scratch directory, made once and removed when the fuzzer exits.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (::mkdtemp(talveco::fuzzing::scratch) == nullptr) talveco::fuzzing::fail("scratch");
    std::atexit([] {
        std::error_code ignored;
        fs::remove_all(talveco::fuzzing::scratch, ignored);
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace talveco::fuzzing;
    FuzzedDataProvider provider(data, size);
    const Run run = takeRun(provider);
    const InScratch inScratch;
    for (const auto& entry : fs::directory_iterator("."))
        fs::remove_all(entry.path());
    // "." and ".." are no files, and no more than 255 bytes fit a name.
    if (run.path == "." || run.path == ".." || run.path.size() > 255) return -1;
    {
        std::ofstream out(run.path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(run.stream.data()),
                  static_cast<std::streamsize>(run.stream.size()));
    }
    const int consoleFd = ::memfd_create("console", MFD_CLOEXEC);
    check(consoleFd >= 0, "memfd");
    talveco::Console console(consoleFd);
    talveco::AcmSource source;
    std::vector<std::string> arguments = {run.path};
    if (run.mono) arguments.emplace_back("-m");
    // Warnings share the console's file, which checkRun reads: only the
    // transcript's own lines are expected there.
    const int warningsFd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    check(warningsFd >= 0, "/dev/null");
    talveco::Console warnings(warningsFd);
    const int status = talveco::runDriver(arguments, source, console, warnings);
    ::close(warningsFd);
    checkRun(run, status, consoleText(consoleFd));
    ::close(consoleFd);
    return 0;
}
