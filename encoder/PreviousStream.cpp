#include "encoder/PreviousStream.h"

#include <algorithm>
#include <functional>
#include <numeric>
#include <string>

#include "acm/AmplitudeTable.h"
#include "acm/BitReader.h"
#include "acm/BlockUnpacker.h"
#include "acm/InverseTransform.h"
#include "acm/SampleOutput.h"
#include "platform/ByteSource.h"
#include "platform/Failure.h"
#include "talveco/limits.h"

namespace talveco {
namespace {

// FNV-1a over the samples' bits.
std::uint64_t contentKey(std::span<const std::int16_t> samples) {
    std::uint64_t key = 14695981039346656037u;
    for (const std::int16_t s : samples) {
        key ^= static_cast<std::uint16_t>(s);
        key *= 1099511628211u;
    }
    return key;
}

// Samples a found run holds at least; the earlier stream's runs of this
// length that start at its multiples are indexed, so that any run of twice
// as many samples is found wherever it lies.
constexpr std::size_t anchorLength = 32;
constexpr std::uint64_t runBase = 0x100000001b3u;

// A polynomial hash of a run that moves along the samples one at a time.
class RunHash {
  public:
    explicit RunHash(std::size_t length) {
        for (std::size_t i = 1; i < length; ++i)
            highest_ *= runBase;
    }
    std::uint64_t of(std::span<const std::int16_t> run) const {
        std::uint64_t h = 0;
        for (const std::int16_t s : run)
            h = h * runBase + static_cast<std::uint16_t>(s);
        return h;
    }
    std::uint64_t moved(std::uint64_t h, std::int16_t leaving, std::int16_t entering) const {
        return (h - static_cast<std::uint16_t>(leaving) * highest_) * runBase +
               static_cast<std::uint16_t>(entering);
    }

  private:
    std::uint64_t highest_ = 1;
};

// Offsets of the earlier stream against the new one that a block is looked
// for at, besides its own place.
constexpr std::size_t mostOffsets = 2;

// Samples in a row that must match at an offset for a run to begin there.
constexpr std::size_t runStart = 8;

}  // namespace

PreviousStream::PreviousStream(std::span<const std::uint8_t> bytes) {
    BytesInView source(bytes);
    BitReader bits(source);
    if (bits.readBits(24) != 0x032897 || bits.readBits(8) != 1)
        throw Failure(FailureKind::NotAcmFile);
    sampleCount_ = bits.readBits(16);
    sampleCount_ += std::size_t{bits.readBits(16)} << 16;
    bits.readBits(32);  // channels and rate: the new stream has its own
    const unsigned levels = bits.readBits(4);
    const unsigned rows = bits.readBits(12);
    if (rows == 0) throw Failure(FailureKind::NotAcmFile);
    if (rows > limits::maxEncoderRows(levels)) {
        throw Failure(FailureKind::OutsideLimits, "the earlier stream's blocks of " +
                                                      std::to_string(rows) + " rows at levels " +
                                                      std::to_string(levels) +
                                                      " are larger than the encoder makes");
    }
    geometry_ = blockGeometry(levels, rows);
    const std::size_t blockSize = geometry_.blockSize;
    const std::size_t blocks = (sampleCount_ + blockSize - 1) / blockSize;
    AmplitudeTable amplitudes;
    std::vector<std::uint32_t> carries(geometry_.carryCount, 0);
    std::vector<std::int32_t> block(blockSize);
    for (std::size_t b = 0; b < blocks; ++b) {
        bits.ensureBits(20);
        const auto step = static_cast<std::uint16_t>(bits.peek(20) >> 4);
        // A block made of bits past the end holds nothing of the earlier
        // sound; a header that promises more than the bytes hold must not
        // make the encoder fill memory with such blocks.
        if (!unpackBlock(bits, amplitudes, geometry_, block) || bits.pastEndOfInput()) break;
        unpacked_.insert(unpacked_.end(), block.begin(), block.end());
        steps_.push_back(step);
        inverseTransform(geometry_, block, carries);
        decoded_.resize(decoded_.size() + blockSize);
        storeSamples(block, levels, decoded_.data() + decoded_.size() - blockSize);
        if ((b + 1) * blockSize <= sampleCount_)
            wholeBlocks_.emplace(
                contentKey(std::span<const std::int16_t>(decoded_).last(blockSize)), b);
    }
    const RunHash hash(anchorLength);
    const std::size_t known = std::min(sampleCount_, decoded_.size());
    for (std::size_t a = 0; a + anchorLength <= known; a += anchorLength)
        anchors_.emplace(hash.of(std::span<const std::int16_t>(decoded_).subspan(a, anchorLength)),
                         a);
}

bool PreviousStream::decodesTo(std::size_t block, std::span<const std::int16_t> samples) const {
    const std::size_t first = block * geometry_.blockSize;
    return first + samples.size() <= decoded_.size() &&
           std::equal(samples.begin(), samples.end(),
                      decoded_.begin() + static_cast<std::ptrdiff_t>(first));
}

std::optional<std::size_t> PreviousStream::blockDecodingTo(std::span<const std::int16_t> samples,
                                                           std::size_t position) const {
    const std::size_t block = position / geometry_.blockSize;
    if (block < steps_.size() && decodesTo(block, samples)) return block;
    if (samples.size() != geometry_.blockSize) {
        // The end of the sound, moved: the real part of the last block.
        const std::size_t last = steps_.size() - 1;
        const bool endsAlike = !steps_.empty() &&
                               last * geometry_.blockSize + samples.size() == sampleCount_ &&
                               decodesTo(last, samples);
        return endsAlike ? std::optional<std::size_t>(last) : std::nullopt;
    }
    const auto [first, last] = wholeBlocks_.equal_range(contentKey(samples));
    for (auto it = first; it != last; ++it)
        if (decodesTo(it->second, samples)) return it->second;
    return std::nullopt;
}

// Where runs of `samples` (from `position` of the new stream on) lie in the
// earlier stream, as its position minus theirs: the first few found.
std::vector<std::ptrdiff_t> PreviousStream::offsetsOf(std::span<const std::int16_t> samples,
                                                      std::size_t position) const {
    std::vector<std::ptrdiff_t> offsets;
    if (samples.size() < anchorLength) return offsets;
    const RunHash hash(anchorLength);
    std::uint64_t h = hash.of(samples.first(anchorLength));
    for (std::size_t i = 0;; ++i) {
        const auto found = anchors_.find(h);
        if (found != anchors_.end()) {
            const auto run = samples.subspan(i, anchorLength);
            const auto offset = static_cast<std::ptrdiff_t>(found->second) -
                                static_cast<std::ptrdiff_t>(position + i);
            if (offset != 0 && std::find(offsets.begin(), offsets.end(), offset) == offsets.end() &&
                std::equal(run.begin(), run.end(),
                           decoded_.begin() + static_cast<std::ptrdiff_t>(found->second))) {
                offsets.push_back(offset);
                if (offsets.size() == mostOffsets) break;
            }
        }
        if (i + anchorLength >= samples.size()) break;
        h = hash.moved(h, samples[i], samples[i + anchorLength]);
    }
    return offsets;
}

bool PreviousStream::holdsAt(std::span<const std::int16_t> samples, std::size_t position,
                             std::ptrdiff_t offset) const {
    const std::ptrdiff_t at = static_cast<std::ptrdiff_t>(position) + offset;
    const std::size_t known = std::min(sampleCount_, decoded_.size());
    return at >= 0 && static_cast<std::size_t>(at) + samples.size() <= known &&
           std::equal(samples.begin(), samples.end(),
                      decoded_.begin() + static_cast<std::ptrdiff_t>(at));
}

std::optional<PreviousStream::Guide> PreviousStream::guide(std::span<const std::int16_t> samples,
                                                           std::size_t position,
                                                           std::span<const double> analysis) const {
    std::vector<std::ptrdiff_t> offsets{0};
    const std::vector<std::ptrdiff_t> moved = offsetsOf(samples, position);
    offsets.insert(offsets.end(), moved.begin(), moved.end());
    const auto columns = static_cast<std::ptrdiff_t>(geometry_.columns);
    Guide guide;
    guide.reference.assign(analysis.begin(), analysis.end());
    guide.kept.assign(samples.size(), 0);
    std::size_t found = 0;
    std::map<std::uint16_t, std::size_t> stepUses;  // of the earlier values taken
    // A run goes on at one offset while the samples match there; another
    // begins only where a few samples in a row match at its offset, so
    // that a sample equal by chance does not lend its value.
    std::optional<std::ptrdiff_t> run;
    for (std::size_t p = 0; p < samples.size(); ++p) {
        if (!run || !holdsAt(samples.subspan(p, 1), position + p, *run)) {
            const auto ahead = samples.subspan(p, std::min(runStart, samples.size() - p));
            run.reset();
            for (const std::ptrdiff_t offset : offsets)
                if (holdsAt(ahead, position + p, offset)) {
                    run = offset;
                    break;
                }
            if (!run) continue;
        }
        ++found;
        guide.kept[p] = 1;
        // The earlier value means the same only in the same column.
        if (*run % columns == 0) {
            const auto at =
                static_cast<std::size_t>(static_cast<std::ptrdiff_t>(position + p) + *run);
            guide.reference[p] = unpacked_[at];
            ++stepUses[steps_[at / geometry_.blockSize]];
        }
    }
    if (found < geometry_.columns) return std::nullopt;
    guide.steps = stepsToTry(stepUses);
    guide.earlierValues = !stepUses.empty();
    return guide;
}

// The steps a block of an edit is tried with, given the steps of the earlier
// values it takes and how many of each: first one they all are multiples of,
// then each of them, the most used first (the values of the others rounded
// to it), and last one of at most the values of one sample, which always
// fits each sample.
std::vector<std::uint16_t> PreviousStream::stepsToTry(
    const std::map<std::uint16_t, std::size_t>& stepUses) const {
    std::vector<std::pair<std::size_t, std::uint16_t>> byUse;
    unsigned common = 0;
    for (const auto& [step, uses] : stepUses) {
        byUse.emplace_back(uses, step);
        common = std::gcd(common, unsigned{step});
    }
    std::sort(byUse.begin(), byUse.end(), std::greater<>());
    std::vector<std::uint16_t> steps;
    const auto add = [&steps](unsigned step) {
        if (step != 0 && std::find(steps.begin(), steps.end(), step) == steps.end())
            steps.push_back(static_cast<std::uint16_t>(step));
    };
    add(common);
    for (const auto& use : byUse)
        add(use.second);
    const unsigned bucket = 1u << geometry_.levels;
    add(common != 0 ? std::gcd(common, bucket) : bucket);
    return steps;
}

std::span<const std::int32_t> PreviousStream::unpacked(std::size_t block) const {
    return std::span<const std::int32_t>(unpacked_).subspan(block * geometry_.blockSize,
                                                            geometry_.blockSize);
}

}  // namespace talveco
