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
// at a time.
//
// On a machine with more than one core a stream may unpack ahead on a second
// thread of its own (OpenOptions turns this off). The samples, the reads and
// the failures are the same either way. That thread blocks SIGINT, SIGTERM
// and SIGHUP, reads the input no further than the samples read so far need
// plus a few blocks, and ends when the stream is destroyed: destroying a
// stream whose input is slow (a pipe, a FIFO) waits for the input read in
// progress, and no longer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "talveco/limits.h"

namespace talveco {

// The one table of failures, shared by the decoder, the encoder and the
// programs. Each kind has a fixed message, the one the talveco program prints
// after "Error: "; what() carries it, or for the kinds after TooManySamples a
// more precise one that says what went wrong and what would do instead. The
// order is kept: new kinds are only ever added at the end.
enum class FailureKind {
    NotAcmFile,  // not an ACM stream, or a header no decoder can honour
    FileNotFound,
    InvalidFilename,  // a directory in the path is missing or is no directory
    TooManyOpenFiles,
    AccessDenied,
    DiskFull,  // also a quota or a file size limit
    OutOfMemory,
    IoError,         // errorNumber() holds the system's error number
    TooManySamples,  // more values than a stream's header can announce (limits.h)
    OutsideLimits,   // a channel count, rate or encoder setting outside limits.h
    PartialFrame,    // interleaved samples that do not make whole frames
    InvalidCall,     // a call the object's state does not allow (see encoder.h)
    FailedEarlier,   // a call on an encoder that an earlier failure ended
};

class Failure : public std::exception {
  public:
    explicit Failure(FailureKind kind, int errorNumber = 0);
    // A failure whose what() is `message` rather than the kind's fixed text.
    Failure(FailureKind kind, std::string message);

    FailureKind kind() const noexcept { return kind_; }
    int errorNumber() const noexcept { return errorNumber_; }
    const char* what() const noexcept override { return message_.c_str(); }

  private:
    FailureKind kind_;
    int errorNumber_;
    std::string message_;
};

struct OpenOptions {
    // Whether the stream may unpack ahead on a second thread, where the
    // machine and the stream make that pay.
    bool secondThread = true;
};

class AcmStream {
  public:
    // Reads the stream's header; the file stays open, read-only, until the
    // stream is destroyed.
    static AcmStream openFile(const std::string& path, const OpenOptions& options = {});
    // Decodes bytes already in memory. The bytes are copied; the caller's
    // buffer may go away.
    static AcmStream openMemory(std::span<const std::uint8_t> bytes,
                                const OpenOptions& options = {});
    static AcmStream openMemory(std::vector<std::uint8_t>&& bytes, const OpenOptions& options = {});
    // Decodes the bytes `readSome` delivers: it stores up to buffer.size()
    // bytes at the start of buffer and returns how many, 0 at the end, and
    // may raise a Failure. It is called only from this stream's own calls,
    // on their thread, and never ahead on a second thread.
    using Reader = std::function<std::size_t(std::span<std::uint8_t> buffer)>;
    static AcmStream openReader(Reader readSome);

    AcmStream(AcmStream&&) noexcept;
    AcmStream& operator=(AcmStream&&) noexcept;
    ~AcmStream();

    // As the header states them. The samples of all channels are interleaved.
    unsigned channels() const noexcept;
    unsigned sampleRate() const noexcept;
    std::uint32_t sampleCount() const noexcept;
    // The block geometry: transform levels and rows per block.
    unsigned levels() const noexcept;
    unsigned rows() const noexcept;

    // Decodes the next samples into `out` and returns how many were stored:
    // out.size() until the end of the stream, whatever the size of out. A
    // damaged block is skipped and decoding goes on behind it. Returns 0
    // (and fewer than out.size() before that) only at the end: after the
    // samples the header announced, or at two damaged blocks with nothing
    // decodable between them, after which every read returns 0. A failure to
    // read the input is raised again by every later call.
    std::size_t read(std::span<std::int16_t> out);

    // Blocks that could not be decoded (a column code that selects no
    // method), counted as read() met them.
    std::uint64_t damagedBlocks() const noexcept;

    // Samples read so far that were not in the input: a truncated stream
    // goes on with zero bits, which decode as near silence, from the first
    // block that needed bits beyond the input's end.
    std::uint64_t samplesPastEndOfInput() const noexcept;

  private:
    struct State;
    explicit AcmStream(std::unique_ptr<State> state);

    std::unique_ptr<State> state_;
};

}  // namespace talveco
