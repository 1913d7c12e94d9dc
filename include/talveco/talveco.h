// talveco: decoding of ACM audio streams into 16-bit PCM samples.
//
//     auto stream = talveco::AcmStream::openMemory(bytes);   // or openFile(path)
//     std::vector<std::int16_t> samples(stream.sampleCount());
//     stream.read(samples);
//
// Failures are talveco::Failure exceptions whose what() is the message the
// talveco program prints ("File not found", "File does not appear to be a
// valid ACM file", "Out of memory", "I/O error 5", ...). Streams are
// independent: any number may be decoded in one process, each from one thread
// at a time. On a machine with more than one core a stream may unpack ahead
// on a second thread of its own, which reads the input until the stream is
// destroyed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace talveco {

enum class FailureKind {
    NotAcmFile,
    FileNotFound,
    InvalidFilename,
    TooManyOpenFiles,
    AccessDenied,
    DiskFull,
    OutOfMemory,
    IoError,  // errorNumber() holds the system's error number
    TooManySamples,  // more values than a stream's header can announce
};

class Failure : public std::exception {
  public:
    explicit Failure(FailureKind kind, int errorNumber = 0);

    FailureKind kind() const noexcept { return kind_; }
    int errorNumber() const noexcept { return errorNumber_; }
    const char* what() const noexcept override { return message_.c_str(); }

  private:
    FailureKind kind_;
    int errorNumber_;
    std::string message_;
};

class AcmStream {
  public:
    // Reads the stream's header; the file stays open, read-only, until the
    // stream is destroyed.
    static AcmStream openFile(const std::string& path);
    // Decodes bytes already in memory, such as a sound read out of an archive.
    // The bytes are copied; the caller's buffer may go away.
    static AcmStream openMemory(std::span<const std::uint8_t> bytes);
    static AcmStream openMemory(std::vector<std::uint8_t>&& bytes);

    AcmStream(AcmStream&&) noexcept;
    AcmStream& operator=(AcmStream&&) noexcept;
    ~AcmStream();

    // As the header states them. The samples of all channels are interleaved.
    unsigned channels() const noexcept;
    unsigned sampleRate() const noexcept;
    std::uint32_t sampleCount() const noexcept;

    // Decodes the next samples into `out` and returns how many were stored.
    // Fewer than out.size() only at the end of the stream, or when a damaged
    // block is met (the next call resumes after it); 0 when nothing more can
    // be decoded.
    std::size_t read(std::span<std::int16_t> out);

  private:
    struct State;
    explicit AcmStream(std::unique_ptr<State> state);

    std::unique_ptr<State> state_;
};

}  // namespace talveco
