// Decoding of one ACM stream into 16-bit samples.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <thread>
#include <vector>

#include "acm/BitReader.h"
#include "acm/TransformKernels.h"
#include "platform/ByteSource.h"

namespace talveco {

// The fields of the 14-byte file header.
struct AcmHeader {
    std::uint32_t sampleCount = 0;  // 16-bit values in the stream, all channels together
    std::uint16_t channels = 0;
    std::uint16_t sampleRate = 0;
    std::uint32_t levels = 0;  // transform levels, 0 to 15
    std::uint32_t rows = 0;    // rows per block, 0 to 4095
};

// The shape of a block and of the transform passes over it, all derived from
// the header's levels and rows.
struct BlockGeometry {
    unsigned levels = 0;
    std::size_t columns = 0;     // 2^levels values per row, one column code each
    std::size_t rows = 0;        // values per column
    std::size_t blockSize = 0;   // columns * rows
    std::size_t stripeRows = 0;  // block rows per transform pass, at least 1
    std::size_t stripeSize = 0;  // stripeRows * columns
    std::size_t carryCount = 0;  // 32-bit carry slots of the transform, 0 without levels
};

BlockGeometry blockGeometry(unsigned levels, unsigned rows);

class AcmDecoder;
class BlockPipeline;
class BlockProducer;
class StoppableInput;

// Starts the thread of a pipelined decoder (a stand-in lets tests make it fail).
using ThreadStarter = std::function<std::thread(std::function<void()>)>;

// Where blocks are unpacked. Pipelined decoding unpacks ahead on a second
// thread while the reader's thread transforms and hands out samples; the
// samples, the short reads and the failures are those of sequential
// decoding. Automatic pipelines where that was measured to pay: more than
// one core, at least 4 levels, blocks of at most 1 Mi values, and more than
// a few blocks.
enum class DecodeThreads { automatic, sequential, pipelined };

// Reads and checks the header from `input` (which must outlive the decoder)
// and allocates every buffer decoding needs. Raises "File does not appear to
// be a valid ACM file" for a bad signature, for a stream that announces
// samples but has no rows, and for a sample count of 2^30 or more (its byte
// size does not fit a WAV length); "Out of memory" when the buffers cannot be
// had. The input is read `readSize` bytes at a time; with a pipelined
// decoder from its second thread, which blocks SIGINT, SIGTERM and SIGHUP,
// never reads further than sequential decoding would, and ends when the
// decoder is destroyed, after the input read it is waiting for. When that
// thread cannot be started, the decoder unpacks on the caller's thread.
std::unique_ptr<AcmDecoder> createAcmDecoder(ByteSource& input,
                                             std::size_t readSize = BitReader::defaultReadSize,
                                             DecodeThreads threads = DecodeThreads::automatic,
                                             ThreadStarter startThread = {});

// All state of decoding one stream: the unpacking side (bits, amplitude
// table), the geometry, the carries of the transform, the current block and
// the position in it. Decoders are independent of each other; one decoder is
// used from one thread at a time.
class AcmDecoder {
  public:
    AcmDecoder(const AcmDecoder&) = delete;
    AcmDecoder& operator=(const AcmDecoder&) = delete;
    ~AcmDecoder();

    const AcmHeader& header() const { return header_; }
    const BlockGeometry& geometry() const { return geometry_; }
    // Whether blocks are unpacked on a second thread.
    bool unpacksAhead() const { return pipeline_ != nullptr; }

    // Writes up to out.size() samples in stream order and returns how many.
    // Fewer only at the end of the stream or when the next block cannot be
    // unpacked; the call after such a block tries again from where the
    // failed block left the bit stream. A failure to read the input is
    // final: every later call raises it again.
    std::size_t readSamples(std::span<std::int16_t> out);

    // The same samples as 16-bit little-endian bytes. Returns the bytes
    // written; an odd capacity leaves its last byte alone.
    std::size_t readSampleBytes(std::span<std::uint8_t> out);

    // Every sample the header announced has been handed out.
    bool ended() const { return samplesLeft_ == 0 && outLeft_ == 0; }

    // Samples handed out so far that were decoded from beyond the end of the
    // input (zero bits standing in for data a truncated file lacks), counted
    // from the first block that needed such bits.
    std::uint64_t samplesPastEndOfInput() const;

  private:
    friend std::unique_ptr<AcmDecoder> createAcmDecoder(ByteSource&, std::size_t, DecodeThreads,
                                                        ThreadStarter);

    AcmDecoder(const AcmHeader& header, BitReader&& bits, std::unique_ptr<StoppableInput> input,
               DecodeThreads threads, ThreadStarter startThread);

    template <typename StoreSamples>
    std::size_t deliverSamples(std::size_t count, StoreSamples store);
    bool refillBlock();
    std::size_t takePipelinedBlock();
    std::size_t unpackBlockRun();
    std::size_t takeSamples(std::size_t blocks);

    AcmHeader header_;
    BlockGeometry geometry_;
    std::vector<std::uint32_t> wrapBuffer_;            // carries of the transform stages
    std::vector<std::int32_t> blockBuffer_;            // the blocks of sequential decoding
    std::size_t blocksPerRefill_ = 1;                  // blocks blockBuffer_ holds
    bool badBlockNext_ = false;                        // a run of blocks stopped at a bad one
    std::span<std::int32_t> block_;                    // the current blocks, row after row
    std::uint32_t samplesLeft_;                        // samples not yet taken into a block
    std::size_t outPos_ = 0;                           // next value of block_ to hand out
    std::size_t outLeft_ = 0;                          // values of the current block still owed
    std::optional<std::uint32_t> pastEndFrom_;         // samples handed out before made-up ones
    std::exception_ptr failure_;                       // a read failure, raised by every later call
    const TransformKernels& kernels_ = bestKernels();  // the transform and the narrowing
    // What the bits are read from; declared before the unpackers, which read it.
    std::unique_ptr<StoppableInput> input_;
    // Exactly one of the two unpacks: on this thread, or on the pipeline's.
    std::unique_ptr<BlockProducer> producer_;
    std::unique_ptr<BlockPipeline> pipeline_;
};

}  // namespace talveco
