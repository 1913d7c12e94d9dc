#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <tuple>

#include "encoder/AnalysisBank.h"
#include "encoder/BlockCoder.h"
#include "encoder/ColumnCoder.h"
#include "encoder/Loudness.h"
#include "encoder/PreviousStream.h"
#include "encoder/RateControl.h"
#include "encoder/ScratchSpace.h"
#include "platform/Failure.h"
#include "platform/OutputFile.h"
#include "talveco/encoder.h"

namespace talveco {
namespace {

constexpr std::size_t headerBytes = 14;

// Input taken in at a time, so that one huge write() keeps memory bounded.
constexpr std::size_t writePiece = 1 << 16;

// Values at the start of the input that are always analysed when the levels
// are checked (24 s of 22050 Hz mono); later segments only where they are
// louder than the start (see fitsLevels).
constexpr std::size_t levelsStart = 1 << 19;

// Blocks of 512 values and at most 5 levels coded best on all material
// measured: 5 (16 rows) on speech, 4 (32 rows) on chords; fewer levels on
// loud waveforms with hard edges and on short sounds (see chooseGeometry).
constexpr unsigned mostLevels = 5;
constexpr std::size_t preferredBlockSize = 512;

// The shares of finish()'s work in bitrate mode, as measured on 20 minutes of
// sound: the geometry, the analysis, the choice of steps (in about this many
// rounds over the blocks), and coding the rest.
constexpr double analysedShare = 0.1;
constexpr double analysisShare = 0.15;
constexpr double stepsShare = 0.5;
constexpr double roundsExpected = 2.0;
// In constant quality, the share of choosing the geometry; the rest is coding.
constexpr double geometryShare = 0.1;

// Values the trial encodings that choose the geometry look at.
constexpr std::size_t trialValues = 1 << 16;

// Blocks are coded in segments of at least this many values, each analysed
// as one window with margins on either side.
constexpr std::size_t segmentFloor = 1 << 16;

// The share of the stage-1 values' energy that may be clipped (-50 dB).
constexpr double clippedShare = 1e-5;

// Stage-1 values beyond this share of the 16-bit range make wrapping, and
// blocks coded again, likely.
constexpr double loudShare = 0.8;

// A block of an edit coded to give the earlier stream's samples back may
// cost this much more than coded as new: past that (a block whose values
// come from two earlier blocks of unrelated steps, or a shift of the rows
// that only fine steps follow) the bits outweigh the exact samples.
constexpr double likeBitsFactor = 1.5;

unsigned defaultRows(unsigned levels) {
    return static_cast<unsigned>(std::max<std::size_t>(1, preferredBlockSize >> levels));
}

// The targets of values first .. first + out.size() - 1, the input held at its
// last sample past its end.
void fillTargets(std::span<double> out, std::uint64_t first, std::span<const std::int16_t> input,
                 std::uint64_t inputFirst, std::uint64_t inputEnd, unsigned levels) {
    // Before the output shift by `levels`, the middle of the interval that
    // shifts down to the sample.
    const double gain = std::ldexp(1.0, int(levels));
    const double middle = levels == 0 ? 0.0 : gain / 2;
    // Without a transform, silence is what costs least past the end; with
    // one, the last sample held, which leaves no edge to ring.
    const std::size_t known =
        first >= inputEnd ? 0 : std::min<std::size_t>(out.size(), inputEnd - first);
    for (std::size_t i = 0; i < known; ++i)
        out[i] = input[first - inputFirst + i] * gain + middle;
    if (known == out.size()) return;  // `input` need not reach the end then
    const std::int16_t last =
        levels > 0 && inputEnd > inputFirst ? input[inputEnd - 1 - inputFirst] : 0;
    for (std::size_t i = known; i < out.size(); ++i)
        out[i] = last * gain + middle;
}

// The samples of an input from first on, into `out`: held in memory, or in
// a scratch file.
using SampleReader = std::function<void(std::uint64_t first, std::span<std::int16_t> out)>;

struct InputView {
    std::uint64_t size;
    SampleReader read;

    std::vector<std::int16_t> piece(std::uint64_t first, std::uint64_t end) const {
        std::vector<std::int16_t> out(static_cast<std::size_t>(end - first));
        read(first, out);
        return out;
    }
};

InputView viewOf(std::span<const std::int16_t> samples) {
    return {samples.size(), [samples](std::uint64_t first, std::span<std::int16_t> out) {
                std::copy_n(samples.begin() + static_cast<std::ptrdiff_t>(first), out.size(),
                            out.begin());
            }};
}

// Whether `samples`, as a whole stream, fit the 16-bit stage-1 values at
// these levels: where the analysis goes past them the values are clipped,
// and the clipped share of the energy must stay far below the quantisation
// noise (at most `share`). The analysis is what costs, so past the start
// only segments that are louder than every segment of the start (in peak or
// in energy) are analysed; the others are taken to clip no more than the
// start did, and their energy to grow by the transform as the start's did.
bool fitsLevels(const InputView& samples, unsigned levels, double share = clippedShare) {
    constexpr double largest = std::numeric_limits<std::int16_t>::max();
    const std::size_t columns = std::size_t{1} << levels;
    const std::size_t margin = analysisMargin(levels);
    const std::size_t total = (samples.size + columns - 1) / columns * columns;
    double energy = 0.0;
    double clipped = 0.0;
    Loudness loudestStart;  // the loudest segment of the start, in each measure
    double startInput = 0.0;
    double startValues = 0.0;
    std::vector<double> window;
    // In windows, as the encoder analyses, to keep memory small.
    for (std::size_t first = 0; first < total; first += segmentFloor) {
        const std::size_t count = std::min(segmentFloor, total - first);
        const std::size_t start = first >= margin ? first - margin : 0;
        const std::size_t end = std::min<std::size_t>(samples.size, first + count + margin);
        const std::vector<std::int16_t> piece = samples.piece(start, end);
        const std::size_t own = std::min<std::size_t>(samples.size, first + count) - first;
        const Loudness loudness =
            loudnessOf(std::span<const std::int16_t>(piece).subspan(first - start, own));
        const bool inStart = first < levelsStart;
        if (!inStart && loudness.peak <= loudestStart.peak &&
            loudness.energy <= loudestStart.energy) {
            energy += startInput > 0 ? loudness.energy * startValues / startInput : 0.0;
            continue;
        }
        window.resize(first + count + margin - start);
        fillTargets(window, start, piece, start, samples.size, levels);
        analyse(window, levels);
        double segmentEnergy = 0.0;
        for (const double v : std::span<const double>(window).subspan(first - start, count)) {
            segmentEnergy += v * v;
            // Only a clipped value adds: most are not, and a sum of zeros
            // would make every value wait for the sum before it.
            const double excess = std::abs(v) - largest;
            if (excess > 0.0) clipped += excess * excess;
        }
        energy += segmentEnergy;
        if (inStart) {
            loudestStart.peak = std::max(loudestStart.peak, loudness.peak);
            loudestStart.energy = std::max(loudestStart.energy, loudness.energy);
            startInput += loudness.energy;
            startValues += segmentEnergy;
        }
        // Hopeless already, unless the rest were a hundred times as loud
        // as what came so far: long loud inputs need not be analysed whole
        // at every level.
        const double rest = double(total - first - count) / double(first + count);
        if (clipped > share * energy * (1.0 + 100.0 * rest)) return false;
    }
    return clipped <= share * energy;
}

// The noise a quality asks for, as a share of the energy.
double noiseShare(double quality) {
    return std::pow(10.0, -qualityAimSnrDb(quality) / 10);
}

// The rows `values` fill at these levels.
unsigned rowsFilling(unsigned levels, std::size_t values) {
    const std::size_t columns = std::size_t{1} << levels;
    const std::size_t filled = std::max<std::size_t>(1, (values + columns - 1) / columns);
    return static_cast<unsigned>(std::min<std::size_t>(limits::maxRows, filled));
}

// The rows of a block at these levels: blocks of the preferred size, but no
// more rows than the input fills, so that short sounds pay for no padding.
unsigned rowsFor(unsigned levels, std::size_t values) {
    return std::min(defaultRows(levels), rowsFilling(levels, values));
}

// How the trials that choose the geometry code: at a quality, or at a rate.
// Which rows code best changes with the rate (recordings with quiet
// stretches: 64 rows gain 2 dB over 256 at 3 bits a value, but spend more
// bits at a middle quality than they are worth there), so that in bitrate
// mode the levels and rows are chosen by trials at the rate asked. Trials code all
// channels' values as one; at a rate, at the highest sample rate, so that
// the bitrate of any bits per value stays inside the limits.
struct TrialSettings {
    double quality = 5.0;
    std::optional<double> bitrateKbps;
    unsigned sampleRate = 1;
};

TrialSettings trialsAtRate(double bitrateKbps, unsigned channels, unsigned sampleRate) {
    const double bitsPerValue = bitrateKbps * 1000.0 / (double(channels) * double(sampleRate));
    TrialSettings out;
    out.bitrateKbps =
        std::clamp(bitsPerValue * limits::maxSampleRate / 1000.0, limits::minBitrateKbps,
                   limits::maxBitrateKbps(1, limits::maxSampleRate));
    out.sampleRate = limits::maxSampleRate;
    return out;
}

// What a trial coding of some samples gives: their energy, that of the
// error, and the bits.
struct TrialOutcome {
    double signal = 0;
    double error = 0;
    double bits = 0;
    double values = 0;
    bool startClicks = false;  // of a piece that is the input's start

    void add(const TrialOutcome& other) {
        signal += other.signal;
        error += other.error;
        bits += other.bits;
        values += other.values;
    }
    // How well a geometry codes the samples: the SNR less 6.02 dB per bit
    // per sample, the exchange rate of a uniform quantiser.
    double merit() const { return snrDb() - 6.02 * bits / std::max(1.0, values); }
    double snrDb() const {
        return error > 0 ? std::min(10 * std::log10(signal / error), 200.0) : 200.0;
    }
};

// All pieces' outcomes as one.
TrialOutcome pooled(const std::vector<TrialOutcome>& outcomes) {
    TrialOutcome sum;
    for (const TrialOutcome& o : outcomes)
        sum.add(o);
    return sum;
}

double pooledMerit(const std::vector<TrialOutcome>& outcomes) {
    return pooled(outcomes).merit();
}

// At a rate the bits are those asked for, and a geometry that leaves some unspent saves the
// user nothing: the SNR of all pieces together.
double pooledSnrDb(const std::vector<TrialOutcome>& outcomes) {
    return pooled(outcomes).snrDb();
}

double meanMerit(const std::vector<TrialOutcome>& outcomes) {
    double sum = 0.0;
    for (const TrialOutcome& o : outcomes)
        sum += o.merit();
    return sum / double(std::max<std::size_t>(1, outcomes.size()));
}

// Whether the first piece, the input's start, clicks.
bool startClicks(const std::vector<TrialOutcome>& outcomes) {
    return !outcomes.empty() && outcomes.front().startClicks;
}

// What a click at the start is worth avoiding, in merit (6.02 dB a bit a value), over the
// first 2^15 values (1.5 s of 22050 Hz mono) and spread thinner over longer inputs, so that
// longer sounds that start abruptly keep the geometry that codes the rest best. At a
// quality, bits are what pays: up to 5 bits a value, so that a short sound gets the levels
// that reproduce its start (200 slices of cut speech of 0.5 to 2 s at -q 5: 109 clicks at
// 3.13 bits a value before, none at 3.50 after; 200 drum hits of 0.1 to 0.4 s, most of them
// coded without a transform after: 110 at 3.58, then 2 at 5.58), while 4 s of tones from
// phase 0 keep 5 levels at 3.1 bits rather than take 6.0 without a transform. At a rate the
// rest of the sound pays in noise instead: up to 16 dB. No choice of the first block's values
// or of its step makes the start of a transform much cleaner (its error comes from the
// transform starting from rest, not from the quantiser: the first 2^levels samples rise from
// silence in a straight line, the same at every step), so the starts that click at a rate are
// those that only coding without a transform reproduces. Drum hits that start loud lose 10 to
// 16 dB so at 3 bits a value, against levels chosen at that rate: 200 of them (two seeds) had
// 42 clicks at 8 dB, 16 at 12 and 4 at 16, with the mean SNR of the 200 0.1 dB lower than
// with 8 dB and levels chosen at a middle quality (9 clicks); cut speech keeps its figures.
// A beep that the transform codes 18 dB better keeps its levels and the click.
double clickPenaltyDb(std::uint64_t values, bool atRate) {
    constexpr double spanValues = 1 << 15;
    const double worthDb = atRate ? 16.0 : 6.02 * 5.0;
    const double share = spanValues / double(std::max<std::uint64_t>(1, values));
    return worthDb * std::min(1.0, share);
}

TrialOutcome trialOutcome(std::span<const std::int16_t> samples, unsigned levels, unsigned rows,
                          const TrialSettings& how) {
    EncoderSettings settings;
    settings.levels = levels;
    settings.rows = rows;
    settings.quality = how.quality;
    settings.bitrateKbps = how.bitrateKbps;
    AcmEncoder trial = AcmEncoder::toMemory(1, how.sampleRate, settings);
    trial.write(samples);
    const EncoderReport report = trial.finish();
    TrialOutcome out;
    for (const std::int16_t s : samples)
        out.signal += double(s) * double(s);
    out.error = std::isfinite(report.snrDb) ? out.signal / std::pow(10.0, report.snrDb / 10) : 0;
    out.values = double(samples.size());
    out.bits = report.bitsPerSample * out.values;
    // A trial codes pieces, not the stream, and its error after the start differs from the
    // stream's: a start off by more than half of full scale is taken to click whatever comes
    // after it (a clipped sawtooth from full scale at -q 5: its trial at 5 levels, off by
    // 31,588 at the start and by over half that after it, passed, and the stream clicked).
    constexpr unsigned halfScale = 16384;
    out.startClicks = report.startClicks() || report.onsetError > halfScale;
    return out;
}

// Pieces of the input the trials code: all of a short input; of a long one,
// its start and pieces spread over the rest, faded in so that only the true
// start of the sound counts as an onset.
std::vector<std::vector<std::int16_t>> trialPieces(const InputView& samples) {
    if (samples.size <= trialValues) return {samples.piece(0, samples.size)};
    constexpr std::size_t pieces = 4;
    constexpr std::size_t fadeValues = 256;
    const std::size_t length = trialValues / pieces;
    // Pieces start on the block grid of every geometry the trials try, so
    // that a decoded file coded again finds its own blocks in them.
    constexpr std::size_t grid = 4096;
    std::vector<std::vector<std::int16_t>> out;
    for (std::size_t i = 0; i < pieces; ++i) {
        const std::size_t first =
            static_cast<std::size_t>((samples.size - length) / (pieces - 1) * i) / grid * grid;
        std::vector<std::int16_t> piece = samples.piece(first, first + length);
        for (std::size_t k = 0; i > 0 && k < fadeValues; ++k)
            piece[k] = static_cast<std::int16_t>(piece[k] * double(k) / fadeValues);
        out.push_back(std::move(piece));
    }
    return out;
}

// Of the levels below `chosen`, whose start clicks, the one whose start does not and whose
// trials (`asCoded`) code best, fewer levels winning only by `margin` as in chooseGeometry;
// it replaces `chosen` where it codes no worse by more than `penaltyDb`.
unsigned levelsKeepingTheStart(unsigned chosen,
                               const std::function<std::vector<TrialOutcome>(unsigned)>& asCoded,
                               double penaltyDb, double margin, bool atRate) {
    const auto meritOf = atRate ? pooledSnrDb : pooledMerit;
    const std::vector<TrialOutcome> clicking = asCoded(chosen);
    if (!startClicks(clicking)) return chosen;
    unsigned best = chosen;
    double bestMerit = meritOf(clicking) - penaltyDb;
    for (unsigned levels = chosen; levels-- > 0;) {
        const std::vector<TrialOutcome> tried = asCoded(levels);
        if (startClicks(tried) || meritOf(tried) <= bestMerit + (best < chosen ? margin : 0.0))
            continue;
        best = levels;
        bestMerit = meritOf(tried);
    }
    return best;
}

// The trials of an input's pieces at one setting, each geometry coded once: the
// searches of the levels, of the rows and of a clean start ask again for many of the
// same (a short sound at a rate: the rows of each level a clean start tries first are
// those its levels were judged by).
class PieceTrials {
  public:
    PieceTrials(const InputView& samples, const TrialSettings& how)
        : pieces_(trialPieces(samples)), how_(how) {}

    const std::vector<std::vector<std::int16_t>>& pieces() const { return pieces_; }
    const TrialSettings& settings() const { return how_; }

    // Every piece at these levels, each with the rows `rowsOf(its values)`.
    template <typename RowsOf>
    const std::vector<TrialOutcome>& at(unsigned levels, RowsOf rowsOf) {
        Geometries key{levels, {}};
        for (const auto& piece : pieces_)
            key.second.push_back(rowsOf(piece.size()));
        const auto found = done_.find(key);
        if (found != done_.end()) return found->second;
        std::vector<TrialOutcome> out;
        for (std::size_t i = 0; i < pieces_.size(); ++i)
            out.push_back(trialOutcome(pieces_[i], levels, key.second[i], how_));
        return done_.emplace(std::move(key), std::move(out)).first->second;
    }

  private:
    using Geometries = std::pair<unsigned, std::vector<unsigned>>;  // levels, rows of each piece
    std::vector<std::vector<std::int16_t>> pieces_;
    TrialSettings how_;
    std::map<Geometries, std::vector<TrialOutcome>> done_;
};

// At a rate, the outcomes of trials at these levels whose start is clean, with the rows
// (into `rows`) that code them best: blocks of the preferred size and up to eight times
// fewer rows. The rows matter most where a start needs few levels (cut speech without a
// transform at 3 bits a value: up to 2.8 dB between 512 rows and 64), and a start that
// clicks at the preferred size is left as it is, `rows` 0.
std::vector<TrialOutcome> startRowsAtRate(PieceTrials& trials, unsigned levels, unsigned& rows) {
    constexpr unsigned mostDivisor = 8;
    constexpr double rateTolerance = 0.02;  // as talveco-encode's warning has it
    const TrialSettings& atRate = trials.settings();
    const auto tried = [&](unsigned divisor) {
        return trials.at(levels, [&](std::size_t values) {
            return std::max(1u, rowsFor(levels, values) / divisor);
        });
    };
    // Bits a value beyond those asked: smaller blocks whose codes cost more than the rate
    // allows (short decaying hits) would gain their SNR by missing the rate.
    const double asked = *atRate.bitrateKbps * 1000.0 / double(atRate.sampleRate);
    const auto excess = [asked](const std::vector<TrialOutcome>& outcomes) {
        const TrialOutcome sum = pooled(outcomes);
        return sum.bits / std::max(1.0, sum.values) - asked;
    };
    std::vector<TrialOutcome> best = tried(1);
    rows = 0;
    if (startClicks(best)) return best;
    const double allowedExcess = std::max(rateTolerance * asked, excess(best));
    const unsigned preferred = rowsFor(levels, trials.pieces().front().size());
    rows = preferred;
    for (unsigned divisor = 2; divisor <= mostDivisor && preferred / divisor >= 1; divisor *= 2) {
        std::vector<TrialOutcome> out = tried(divisor);
        // Fewer rows code better up to a point and then worse: the first that does not gain
        // ends the search.
        if (startClicks(out) || excess(out) > allowedExcess ||
            pooledSnrDb(out) <= pooledSnrDb(best))
            break;
        best = std::move(out);
        rows = preferred / divisor;
    }
    return best;
}

// The rows of `levels` at a rate: of the preferred rows, twice them (where the input has
// room) and a half, a quarter and an eighth of them, the ones whose trials at the rate code
// best, another winning only by `margin`, so that the choice stays put when a decoded file is
// coded again; fewer rows change the first block, and so the start: a start that came out
// clean stays so. All are tried, since the SNR does not rise and fall once along the rows (a
// band-limited square at 3 bits a value: 33.2, 31.1, 31.6, 32.0 and 29.5 dB from 16 to 256
// rows), while the trials at a middle quality favour more rows than a rate does.
unsigned rowsAtRate(PieceTrials& trials, unsigned levels, unsigned preferred, bool roomForTwice,
                    double margin) {
    const auto tried = [&](unsigned blockRows) {
        return trials.at(levels, [&](std::size_t values) {
            return std::min(blockRows, rowsFilling(levels, values));
        });
    };
    unsigned rows = preferred;
    std::vector<TrialOutcome> now = tried(rows);
    std::vector<unsigned> others;
    if (roomForTwice) others.push_back(2 * preferred);
    for (unsigned fewer = preferred / 2; fewer >= 1 && fewer * 8 >= preferred; fewer /= 2)
        others.push_back(fewer);
    for (const unsigned candidate : others) {
        std::vector<TrialOutcome> other = tried(candidate);
        if (meanMerit(other) <= meanMerit(now) + margin) continue;
        if (startClicks(other) && !startClicks(now)) continue;
        rows = candidate;
        now = std::move(other);
    }
    return rows;
}

// The geometry for `samples`: of the levels that fit them, the one whose
// trials code them best, then blocks of twice the rows where those code
// them better (noise-like sound: up to 0.3 dB). Fewer levels and more rows
// must win by a margin, so that the choice stays put when a decoded file is
// coded again. The start counts as it should: from rest, more levels
// reproduce a loud onset less well, and levels whose start clicks give way
// to fewer where those are worth it (see clickPenaltyDb). At a rate (`how`
// asks for one), the rows are chosen by trials at that rate (see rowsAtRate), each
// other choice winning by the margin of the levels: with a smaller one,
// five generations of a tone mixture at 3 bits a value lost 0.53 dB.
std::pair<unsigned, unsigned> chooseGeometry(const InputView& samples, const TrialSettings& how) {
    const TrialSettings* atRate = how.bitrateKbps ? &how : nullptr;
    constexpr double margin = 0.25;
    constexpr double rowsMargin = 0.05;
    unsigned most = mostLevels;
    while (most > 1 && !fitsLevels(samples, most))
        --most;
    // One level is kept however much it clips, as no transform costs more bits; but at a
    // quality whose noise lies below what its clipping adds (a square at full scale), one level
    // gives less than the quality asks for, and it may give less than no transform gave at the
    // point below (a 330 Hz square: 27.6 dB without a transform at -q 4, 26.4 with one level
    // at -q 5, where no transform gives 33.2).
    if (!atRate && most == 1 && !fitsLevels(samples, 1, noiseShare(how.quality))) most = 0;
    if (samples.size == 0) return {most, defaultRows(most)};
    PieceTrials trials(samples, how);
    const auto outcomes = [&](unsigned levels, unsigned rowFactor) {
        return trials.at(levels,
                         [&](std::size_t values) { return rowFactor * rowsFor(levels, values); });
    };
    // The levels by the merit of all pieces together: a piece of near
    // silence that one geometry codes exactly must not decide them (fewer
    // levels took twice the bits on speech at -q 7 so). The rows, whose
    // margins are finer, by the mean merit of the pieces, as measured. At a
    // rate, by the SNR of trials at that rate: a middle quality spends other
    // bits than the rate does and favours other levels (100 drum hits at 3
    // bits a value, often 3 levels by the quality's trials and 1 or 2 by the
    // rate's: median SNR 26.5 dB, then 30.7 with the same click penalty).
    const auto levelsMerit = atRate ? pooledSnrDb : pooledMerit;
    std::vector<std::vector<TrialOutcome>> byLevels(most + 1);
    unsigned best = most;
    byLevels[most] = outcomes(most, 1);
    for (unsigned levels = most; levels-- > 0;) {
        byLevels[levels] = outcomes(levels, 1);
        if (levelsMerit(byLevels[levels]) > levelsMerit(byLevels[best]) + margin) best = levels;
    }
    // Where the start clicks, fewer levels whose start does not, judged as the stream will be
    // coded: at the rate asked, or at the quality of the trials above. At a rate, fewer levels
    // whose start is clean take the rows that code them best (see startRowsAtRate), and keep
    // them: that choice is the rows' too.
    if (atRate || startClicks(byLevels[best])) {
        const unsigned clicking = best;
        std::vector<unsigned> cleanRows(most + 1, 0);
        const auto asCoded = [&](unsigned levels) {
            if (!atRate || levels == clicking) return byLevels[levels];
            return startRowsAtRate(trials, levels, cleanRows[levels]);
        };
        best = levelsKeepingTheStart(best, asCoded, clickPenaltyDb(samples.size, atRate), margin,
                                     atRate != nullptr);
        if (best != clicking && cleanRows[best] > 0)
            return {best, std::min(cleanRows[best], rowsFor(best, samples.size))};
    }
    unsigned rows = rowsFor(best, samples.size);
    const bool roomForTwice = std::uint64_t{2 * rows} << best <= samples.size;
    if (atRate) return {best, rowsAtRate(trials, best, rows, roomForTwice, margin)};
    if (roomForTwice && meanMerit(outcomes(best, 2)) > meanMerit(byLevels[best]) + rowsMargin)
        rows *= 2;
    return {best, rows};
}

std::string number(double value) {
    std::string text = std::to_string(value);
    text.erase(text.find_last_not_of('0') + 1);
    if (text.back() == '.') text.pop_back();
    return text;
}

[[noreturn]] void refuse(const std::string& message) {
    throw Failure(FailureKind::OutsideLimits, message);
}

// "what must be from low to high, not value", the bounds as the table has them.
template <typename Number>
void refuseOutside(const char* what, Number value, Number low, Number high,
                   const std::string& unit = {}) {
    if (value >= low && value <= high) return;  // NaN fails both
    refuse(std::string(what) + " must be from " + number(double(low)) + " to " +
           number(double(high)) + unit + ", not " + number(double(value)));
}

// Refuses, with what would do instead, what the format cannot state or the encoder will not
// make; nothing has been created yet.
void checkSettings(unsigned channels, unsigned sampleRate, const EncoderSettings& settings) {
    using namespace limits;
    refuseOutside("channels", channels, minChannels, maxChannels);
    refuseOutside("the rate", sampleRate, minSampleRate, maxSampleRate, " Hz (resample first)");
    refuseOutside("the quality", settings.quality, minQuality, maxQuality);
    if (settings.bitrateKbps) {
        refuseOutside("the bitrate", *settings.bitrateKbps, minBitrateKbps,
                      maxBitrateKbps(channels, sampleRate),
                      " kbit/s (" + std::to_string(maxBitsPerValue) + " bits a value) for " +
                          std::to_string(channels) + " channel(s) at " +
                          std::to_string(sampleRate) + " Hz");
    }
    if (settings.levels) refuseOutside("levels", *settings.levels, 0U, maxLevels);
    if (settings.rows) refuseOutside("rows", *settings.rows, minRows, maxRows);
    if (settings.levels && settings.rows && *settings.rows > maxEncoderRows(*settings.levels)) {
        refuse("levels " + std::to_string(*settings.levels) + " with " +
               std::to_string(*settings.rows) + " rows make blocks larger than the " +
               std::to_string(maxEncoderBlockValues) + " values the encoder makes; with levels " +
               std::to_string(*settings.levels) + " use at most " +
               std::to_string(maxEncoderRows(*settings.levels)) + " rows");
    }
}

// The values of the first 5 ms, all channels together.
std::uint64_t attackValues(unsigned channels, unsigned sampleRate) {
    return std::uint64_t{channels} * ((sampleRate + 199) / 200);
}

// What the report says about the decoded samples against the input.
struct Fidelity {
    double signalEnergy = 0;
    double errorEnergy = 0;
    unsigned onsetError = 0;
    unsigned onsetStray = 0;
    unsigned onsetPeak = 0;
    unsigned afterOnsetError = 0;
    std::uint64_t exactSamples = 0;

    void add(std::int16_t input, std::int16_t decoded, bool inOnset) {
        const double x = input;
        const double e = double(decoded) - x;
        signalEnergy += x * x;
        errorEnergy += e * e;
        exactSamples += e == 0 ? 1 : 0;
        if (inOnset) {
            addOnset(input, decoded);
        } else {
            afterOnsetError = std::max(afterOnsetError, unsigned(std::abs(e)));
        }
    }
    // The level a listener hears the start at: the ear takes in a few milliseconds at once.
    void addAttack(int input) { onsetPeak = std::max(onsetPeak, unsigned(std::abs(input))); }
    void addOnset(int input, int decoded) {
        onsetError = std::max(onsetError, unsigned(std::abs(decoded - input)));
        // How far the sample lies outside the span from silence to the input.
        const int low = std::min(0, input);
        const int high = std::max(0, input);
        onsetStray = std::max(onsetStray, unsigned(std::max({low - decoded, decoded - high, 0})));
    }
    double snrDb() const {
        if (errorEnergy == 0) return std::numeric_limits<double>::infinity();
        return 10 * std::log10(signalEnergy / errorEnergy);
    }
};

}  // namespace

bool EncoderReport::startClicks() const {
    constexpr unsigned loudError = 1024;
    constexpr unsigned errorFactor = 2;
    return onsetError > std::max(loudError, errorFactor * afterOnsetError);
}

struct AcmEncoder::State {
    State(unsigned channelCount, unsigned rate, const EncoderSettings& encoderSettings)
        : settings(encoderSettings),
          channels(channelCount),
          sampleRate(rate),
          quality(encoderSettings.quality) {
        if (!settings.likeStream.empty()) previous.emplace(settings.likeStream);
        settings.likeStream = {};  // read once; the trials need no copy
    }

    void write(std::span<const std::int16_t> samples);
    EncoderReport finish();

    void refuseIfFailed() const;
    void refuseIfFinished(const char* call) const;
    template <typename Action>
    auto failingOnException(Action action);
    void fail(std::string why) noexcept;

    void decideGeometry();
    std::size_t segmentValues() const;
    std::span<const double> analyseSegment(std::uint64_t first, std::size_t count);
    void codeSegment(std::uint64_t first, std::size_t count);
    void codeBlock(std::span<const double> values, double step);
    double stepOf(std::span<const double> block, std::size_t index);
    std::uint64_t mostBlockBits(std::uint64_t first) const;
    std::uint64_t unspentBits() const;
    std::size_t carriedValues(std::uint64_t first) const;
    bool codeAsBefore(std::span<const double> values, double step);
    void deliver(std::uint64_t first, std::span<const std::int16_t> decodedBlock);
    void codeWholeInputToBudget();
    // A coding pass of the whole stream in bitrate mode, held aside until
    // its bits are known to meet the budget: the coding state it ended in,
    // the bytes it wrote and, where someone takes them, its decoded samples.
    struct CodingPass {
        CodingPass(std::vector<double> stepsUsed, BlockCoder fresh)
            : steps(std::move(stepsUsed)), coder(std::move(fresh)) {}
        std::vector<double> steps;
        BlockCoder coder;
        BitWriter bits;
        Fidelity fidelity;
        std::uint64_t coded = 0;
        ScratchSpace bytes;
        std::uint64_t byteCount = 0;
        ScratchSpace samples;
        std::uint64_t sampleCount = 0;
    };
    using BlockValues = std::function<std::span<const double>(std::uint64_t)>;
    void codeInTurn(const std::vector<double>& steps, const BlockValues& blockValues,
                    double progressFrom);
    void exchangeCoding(CodingPass& pass);
    std::unique_ptr<CodingPass> rehearse(const std::vector<double>& steps,
                                         const BlockValues& blockValues);
    void keep(CodingPass& pass);
    void codeWholeInputAtQuality();
    void holdForFinish();
    void reportProgress(double done);
    InputView heldView() const;
    void holdInput(std::uint64_t first, std::uint64_t end);
    std::span<const double> heldValues(std::uint64_t first, std::size_t count);
    void dropInputBefore(std::uint64_t position);
    void emitBytes(std::span<const std::uint8_t> bytes);

    EncoderSettings settings;
    unsigned channels;
    unsigned sampleRate;
    std::function<void(std::span<const std::int16_t>)> sink;
    std::function<void(double)> progressSink;
    double progressShown = -1;

    std::unique_ptr<OutputFile> file;  // or, without one, the stream in `memory`
    std::vector<std::uint8_t> memory;
    std::vector<std::uint8_t> outgoing;
    std::uint64_t streamBytes = 0;
    BitWriter bits;

    std::vector<std::int16_t> input;  // input from inputFirst on
    // Everything waits for finish(): the input, and in bitrate mode then its
    // stage-1 values as floats, wait in scratch files rather than in memory,
    // and only windows of them are read back in (`input`, `valueWindow`).
    std::unique_ptr<ScratchSpace> inputScratch;
    std::unique_ptr<ScratchSpace> valueScratch;
    std::vector<float> valueWindow;
    std::uint64_t valueWindowFirst = 0;
    std::uint64_t valuesHeld = 0;  // in valueScratch
    std::vector<double> heldBlock;
    std::uint64_t inputFirst = 0;
    std::uint64_t received = 0;

    std::optional<BlockCoder> coder;
    std::uint64_t coded = 0;  // values in blocks written
    std::vector<double> window;
    std::vector<std::int16_t> decoded;
    QualityControl quality;
    double levelBits = 0;  // bits and values of the blocks coded at the level's step
    double levelValues = 0;
    Fidelity fidelity;
    std::optional<PreviousStream> previous;
    bool finished = false;
    std::optional<std::string> failure;  // the first failure, which ended the encoder
    CodingPass* aside = nullptr;  // where bytes and decoded samples go instead, while rehearsed
};

void AcmEncoder::State::refuseIfFailed() const {
    if (failure) {
        throw Failure(FailureKind::FailedEarlier,
                      "the encoder failed earlier (" + *failure + ") and takes no more calls");
    }
}

void AcmEncoder::State::refuseIfFinished(const char* call) const {
    if (finished) throw Failure(FailureKind::InvalidCall, std::string(call) + " after finish()");
}

// Runs a call that may leave the stream half made: any exception out of it ends the encoder
// for good, so that nothing of a damaged stream can be committed later.
template <typename Action>
auto AcmEncoder::State::failingOnException(Action action) {
    try {
        return action();
    } catch (const std::exception& error) {
        fail(error.what());
        throw;
    } catch (...) {
        fail("an exception of an unknown type");
        throw;
    }
}

void AcmEncoder::State::fail(std::string why) noexcept {
    try {
        failure = std::move(why);
    } catch (...) {
        failure.emplace();  // the reason is lost, not the failed state
    }
    file.reset();  // removes the temporary file at once
    inputScratch.reset();
    valueScratch.reset();
    std::vector<std::uint8_t>().swap(memory);
    std::vector<std::int16_t>().swap(input);
}

void AcmEncoder::State::emitBytes(std::span<const std::uint8_t> bytes) {
    if (aside) {
        aside->bytes.append(std::as_bytes(bytes));
        aside->byteCount += bytes.size();
        return;
    }
    if (file) {
        file->write(bytes);
    } else {
        memory.insert(memory.end(), bytes.begin(), bytes.end());
    }
    streamBytes += bytes.size();
}

void AcmEncoder::State::decideGeometry() {
    const InputView known = heldView();
    unsigned levels = settings.levels.value_or(0);
    unsigned rows = 0;
    if (previous) {
        levels = previous->levels();
        rows = previous->rows();
    } else if (!settings.levels) {
        const TrialSettings trials =
            settings.bitrateKbps ? trialsAtRate(*settings.bitrateKbps, channels, sampleRate)
                                 : TrialSettings{std::clamp(settings.quality, 0.0, 10.0), {}, 1};
        std::tie(levels, rows) = chooseGeometry(known, trials);
    }
    if (settings.rows && !previous) rows = *settings.rows;
    if (rows == 0) rows = rowsFor(levels, received);
    coder.emplace(levels, rows);
    coder->allowCoarserOnWrap(!settings.bitrateKbps);
    coder->allowEasedWraps(!settings.bitrateKbps);
    decoded.resize(coder->geometry().blockSize);
}

std::size_t AcmEncoder::State::segmentValues() const {
    const std::size_t blockSize = coder->geometry().blockSize;
    const std::size_t wanted = std::max(segmentFloor, 8 * analysisMargin(coder->geometry().levels));
    return (wanted + blockSize - 1) / blockSize * blockSize;
}

// The stage-1 values of the `count` values from `first` on (whole blocks),
// analysed in a window reaching a margin beyond them on both sides.
std::span<const double> AcmEncoder::State::analyseSegment(std::uint64_t first, std::size_t count) {
    const unsigned levels = coder->geometry().levels;
    const std::size_t margin = analysisMargin(levels);
    const std::uint64_t start = first >= margin ? first - margin : 0;
    window.resize(static_cast<std::size_t>(first + count + margin - start));
    fillTargets(window, start, input, inputFirst, received, levels);
    analyse(window, levels);
    return std::span<const double>(window).subspan(static_cast<std::size_t>(first - start), count);
}

void AcmEncoder::State::deliver(std::uint64_t first, std::span<const std::int16_t> decodedBlock) {
    const std::size_t real =
        static_cast<std::size_t>(std::min<std::uint64_t>(decodedBlock.size(), received - first));
    const std::uint64_t onsetEnd = std::uint64_t{2} << coder->geometry().levels;
    const std::int16_t* samples = input.data() + (first - inputFirst);
    const std::size_t onset =
        first < onsetEnd ? static_cast<std::size_t>(std::min<std::uint64_t>(real, onsetEnd - first))
                         : 0;
    for (std::size_t i = 0; i < onset; ++i)
        fidelity.add(samples[i], decodedBlock[i], true);
    const std::uint64_t attackEnd =
        std::max<std::uint64_t>(onsetEnd, attackValues(channels, sampleRate));
    for (std::uint64_t i = first; i < std::min<std::uint64_t>(first + real, attackEnd); ++i)
        fidelity.addAttack(samples[i - first]);
    for (std::size_t i = onset; i < real; ++i)
        fidelity.add(samples[i], decodedBlock[i], false);
    if (!sink || real == 0) return;
    if (aside) {
        aside->samples.append(std::as_bytes(decodedBlock.first(real)));
        aside->sampleCount += real;
    } else {
        sink(decodedBlock.first(real));
    }
}

void AcmEncoder::State::codeBlock(std::span<const double> values, double step) {
    if (!codeAsBefore(values, step))
        coder->code(values, step, bits, decoded, mostBlockBits(coded) + unspentBits(),
                    carriedValues(coded));
    deliver(coded, decoded);
    coded += decoded.size();
}

// The block from `coded` on as the previous stream held it, where its
// samples are those of one of that stream's blocks; else, where it holds
// a row or more of that stream's samples anywhere, coded to give back as
// many of them as a few trials find within the bits allowed.
bool AcmEncoder::State::codeAsBefore(std::span<const double> values, double step) {
    if (!previous) return false;
    const std::size_t blockSize = coder->geometry().blockSize;
    const auto real =
        static_cast<std::size_t>(std::min<std::uint64_t>(blockSize, received - coded));
    const std::span<const std::int16_t> samples(input.data() + (coded - inputFirst), real);
    const auto position = static_cast<std::size_t>(coded);
    const auto block = previous->blockDecodingTo(samples, position);
    if (block && coder->codeUnpacked(previous->unpacked(*block), previous->step(*block), samples,
                                     bits, decoded))
        return true;
    const auto guide = previous->guide(samples, position, values);
    if (!guide) return false;
    const BlockCoder::LikeTarget target{samples, guide->kept, guide->reference,
                                        guide->earlierValues, guide->steps};
    const std::uint64_t most = mostBlockBits(coded);
    const auto plain = static_cast<double>(coder->bitsOf(values, step, most, carriedValues(coded)));
    return coder->codeLike(target, bits, decoded,
                           std::min(most, static_cast<std::uint64_t>(likeBitsFactor * plain)));
}

// No block may cost more than its samples as 16-bit PCM; the last one may
// take the bits of an empty block besides, so that no stream is larger than
// its input as PCM with a WAV header. Blocks so small that their codes
// alone cost half of that (only ever asked for) may all take them.
std::uint64_t AcmEncoder::State::mostBlockBits(std::uint64_t first) const {
    const BlockGeometry& geometry = coder->geometry();
    const std::uint64_t real = std::min<std::uint64_t>(geometry.blockSize, received - first);
    const std::uint64_t emptyBlock = 4 + 16 + 5 * std::uint64_t{geometry.columns};
    const bool tiny = 2 * emptyBlock > 16 * std::uint64_t{geometry.blockSize};
    return 16 * real + (tiny || first + geometry.blockSize >= received ? emptyBlock : 0);
}

// What the blocks before the last one left unspent of their samples' 16
// bits, which the last one may spend besides its own: it is mostly padding
// where the input ends soon after it begins, and without a transform the
// padding costs what the samples cost, so that its own share held the end of
// a loud file to steps 30 times coarser than those asked (the last 102 values
// of a clipped tone mixture at -q 9: 1e9 of squared error, the whole file 4 dB
// worse a point finer; the last 16 samples of a square burst at a rate
// decoded as silence, whatever the rate). The stream stays no larger than
// its input as PCM; at a rate the budget counted those bits already.
std::uint64_t AcmEncoder::State::unspentBits() const {
    if (coded + coder->geometry().blockSize < received) return 0;
    const std::uint64_t allowed = 16 * coded;
    return allowed > bits.bitCount() ? allowed - bits.bitCount() : 0;
}

// The values of input in the block from `first` on; the rest is padding.
std::size_t AcmEncoder::State::carriedValues(std::uint64_t first) const {
    return static_cast<std::size_t>(
        std::min<std::uint64_t>(coder->geometry().blockSize, received - first));
}

void AcmEncoder::State::dropInputBefore(std::uint64_t position) {
    if (position <= inputFirst) return;
    const auto drop =
        static_cast<std::ptrdiff_t>(std::min<std::uint64_t>(position - inputFirst, input.size()));
    input.erase(input.begin(), input.begin() + drop);
    inputFirst += static_cast<std::uint64_t>(drop);
}

// The step of a block in constant quality: the finest, from that of its own
// level up to the slow level's, that the block can afford. Where the sound
// around masks it (see QualityControl::step), a step finer than the level's
// is kept while the block costs no more a value than the blocks at the
// level's step have cost so far (before any, what the quality lets a quiet
// block spend): a quiet passage that costs what the loud ones cost keeps its
// sound; dense noise far under the level (a recording's hiss between sounds)
// is coded coarser, and its bits go where they lower the noise most. Any step
// is kept where the block costs clearly less than noise as loud would (a bit
// and a half a value): a quiet tone after speech keeps its sound at every
// quality, while hiss, which costs what noise costs at every step, does not.
double AcmEncoder::State::stepOf(std::span<const double> block, std::size_t index) {
    constexpr double belowNoiseBits = 1.5;
    const double ceiling = quality.levelStep();
    const double perValue =
        levelValues > 0 ? levelBits / levelValues : quality.mostQuietBitsPerValue();
    const double values = double(block.size());
    int k = gridIndexOf(quality.openStep(index));
    double step = gridStep(k);
    for (; step < ceiling; step = std::min(ceiling, gridStep(++k))) {
        const auto cost = static_cast<double>(coder->roundedBits(block, step));
        if (cost <= perValue * values) break;
        if (cost <= (quality.noiseBitsPerValue(index, step) - belowNoiseBits) * values) break;
    }
    return step;
}

// Constant quality: each block's step from its own level.
void AcmEncoder::State::codeSegment(std::uint64_t first, std::size_t count) {
    const std::span<const double> values = analyseSegment(first, count);
    const std::size_t blockSize = coder->geometry().blockSize;
    quality.observe(values, blockSize);
    for (std::size_t b = 0; b < count; b += blockSize) {
        const std::span<const double> block = values.subspan(b, blockSize);
        const double step = stepOf(block, b / blockSize);
        const std::uint64_t before = bits.bitCount();
        codeBlock(block, step);
        if (step < quality.levelStep()) continue;
        levelBits += double(bits.bitCount() - before);
        levelValues += double(blockSize);
    }
    const std::size_t margin = analysisMargin(coder->geometry().levels);
    dropInputBefore(coded >= margin ? coded - margin : 0);
    bits.takeCompleteBytes(outgoing);
    emitBytes(outgoing);
    outgoing.clear();
}

void AcmEncoder::State::write(std::span<const std::int16_t> samples) {
    if (samples.size() % channels != 0) {
        throw Failure(FailureKind::PartialFrame, std::to_string(samples.size()) +
                                                     " samples do not make whole frames of " +
                                                     std::to_string(channels) + " channels");
    }
    if (received + samples.size() > limits::maxSamples) throw Failure(FailureKind::TooManySamples);
    while (!samples.empty()) {
        const std::size_t take = std::min(samples.size(), writePiece);
        input.insert(input.end(), samples.begin(),
                     samples.begin() + static_cast<std::ptrdiff_t>(take));
        received += take;
        samples = samples.subspan(take);
        holdForFinish();
    }
}

// Average bitrate: the whole input analysed, then one step for all blocks,
// the coarsest that spends the budget. One step everywhere gives the same
// noise everywhere, which is what the least total noise for the bits takes.
void AcmEncoder::State::codeWholeInputToBudget() {
    const std::size_t blockSize = coder->geometry().blockSize;
    const std::uint64_t total = (received + blockSize - 1) / blockSize * blockSize;
    const std::size_t margin = analysisMargin(coder->geometry().levels);
    valueScratch = std::make_unique<ScratchSpace>();
    const std::size_t blocks = static_cast<std::size_t>(total / blockSize);
    std::vector<float> stageOne;
    double peak = 0.0;
    for (std::uint64_t first = 0; first < total;) {
        reportProgress(analysedShare + analysisShare * double(first) / double(total));
        const std::size_t count =
            static_cast<std::size_t>(std::min<std::uint64_t>(segmentValues(), total - first));
        holdInput(first >= margin ? first - margin : 0, first + count + margin);
        const std::span<const double> values = analyseSegment(first, count);
        stageOne.assign(values.begin(), values.end());
        valueScratch->append(std::as_bytes(std::span<const float>(stageOne)));
        valuesHeld += count;
        peak = std::max(peak, largestMagnitude(values));
        first += count;
    }
    // The steps are chosen in rounds over the blocks, as many as the material asks: the
    // share done is estimated from the blocks visited, rising ever slower.
    double visits = 0.0;
    const auto blockValues = [&](std::uint64_t first) {
        visits += 1.0;
        reportProgress(analysedShare + analysisShare +
                       stepsShare * (1.0 - std::exp(-visits / (roundsExpected * double(blocks)))));
        return heldValues(first, blockSize);
    };
    const double seconds = double(received) / (double(channels) * double(sampleRate));
    const double budget = *settings.bitrateKbps * 1000.0 * seconds - 8.0 * headerBytes;
    const unsigned levels = coder->geometry().levels;
    const auto rows = static_cast<unsigned>(coder->geometry().rows);
    BlockCoder counter(levels, rows);
    const auto blockBits = [&](std::size_t index, double step) {
        return counter.countBits(blockValues(index * blockSize), step);
    };
    const auto blockCost = [&](std::size_t index, double step) {
        const auto [bitCount, error] =
            counter.countBitsAndError(blockValues(index * blockSize), step);
        return BlockCost{double(bitCount), error};
    };
    // Near full scale, blocks that would wrap are coded again, at a cost in
    // bits that counting alone does not see: there the stream's own bits are
    // counted, every block coded in turn. Each such count codes the stream
    // itself, held aside (an edit's blocks, coded as before, are not counted
    // so), and the steps it is accepted for are not coded a second time.
    const bool nearFullScale = peak > loudShare * std::numeric_limits<std::int16_t>::max();
    std::unique_ptr<CodingPass> lastPass;
    const auto codedBits = [&](const std::vector<double>& steps) {
        if (!nearFullScale) return -1.0;
        if (!previous) {
            lastPass.reset();  // its scratch space before the next one's
            lastPass = rehearse(steps, blockValues);
            return double(lastPass->bits.bitCount());
        }
        BlockCoder trial(levels, rows);
        double sum = 0.0;
        for (std::size_t b = 0; b < blocks; ++b)
            sum +=
                double(trial.codedBits(blockValues(b * blockSize), steps[b],
                                       mostBlockBits(b * blockSize), carriedValues(b * blockSize)));
        return sum;
    };
    const std::vector<double> steps =
        stepsForBudget(blocks, budget, blockBits, blockCost, codedBits);
    if (lastPass && lastPass->steps == steps) {
        keep(*lastPass);
        return;
    }
    codeInTurn(steps, blockValues, analysedShare + analysisShare + stepsShare);
}

// Every block in turn with its step, from the first on, into the stream (or the
// pass held aside), reporting progress from `progressFrom` on unless aside.
void AcmEncoder::State::codeInTurn(const std::vector<double>& steps, const BlockValues& blockValues,
                                   double progressFrom) {
    const std::size_t blockSize = coder->geometry().blockSize;
    for (std::size_t b = 0; b < steps.size(); ++b) {
        if (!aside)
            reportProgress(progressFrom + (1.0 - progressFrom) * double(b) / double(steps.size()));
        holdInput(coded, coded + blockSize);
        codeBlock(blockValues(b * blockSize), steps[b]);
        bits.takeCompleteBytes(outgoing);
        if (outgoing.size() >= writePiece) {
            emitBytes(outgoing);
            outgoing.clear();
        }
    }
}

// The coding state a pass changes, exchanged with the pass's own.
void AcmEncoder::State::exchangeCoding(CodingPass& pass) {
    std::swap(*coder, pass.coder);
    std::swap(bits, pass.bits);
    std::swap(fidelity, pass.fidelity);
    std::swap(coded, pass.coded);
}

// Codes the whole stream with `steps` from fresh coding state, aside: its
// bytes and decoded samples into the pass's scratch space, not out.
std::unique_ptr<AcmEncoder::State::CodingPass> AcmEncoder::State::rehearse(
    const std::vector<double>& steps, const BlockValues& blockValues) {
    // A copy of the stream's coder, which nothing has coded with before the steps are chosen:
    // its settings, and the state the stream starts from.
    auto pass = std::make_unique<CodingPass>(steps, *coder);
    exchangeCoding(*pass);
    aside = pass.get();
    // Whatever ends the pass, the stream's own state comes back (a failure
    // ends the encoder, but leaves nothing pointing into the pass).
    const auto restore = [this, &pass](State*) {
        aside = nullptr;
        exchangeCoding(*pass);
    };
    const std::unique_ptr<State, decltype(restore)> restoring(this, restore);
    codeInTurn(steps, blockValues, 0.0);
    emitBytes(outgoing);
    outgoing.clear();
    return pass;
}

// Takes a pass coded aside as the stream: its coding state, then its bytes
// and decoded samples sent out as a pass coded in turn would have sent them.
void AcmEncoder::State::keep(CodingPass& pass) {
    exchangeCoding(pass);
    std::vector<std::uint8_t> piece;
    for (std::uint64_t at = 0; at < pass.byteCount; at += writePiece) {
        piece.resize(
            static_cast<std::size_t>(std::min<std::uint64_t>(writePiece, pass.byteCount - at)));
        pass.bytes.read(at, std::as_writable_bytes(std::span(piece)));
        emitBytes(piece);
    }
    std::vector<std::int16_t> samples;
    for (std::uint64_t at = 0; at < pass.sampleCount; at += writePiece) {
        samples.resize(
            static_cast<std::size_t>(std::min<std::uint64_t>(writePiece, pass.sampleCount - at)));
        pass.samples.read(at * sizeof(std::int16_t), std::as_writable_bytes(std::span(samples)));
        sink(samples);
    }
}

// Constant quality: segment after segment, each block's step from the level
// of the material around it.
void AcmEncoder::State::codeWholeInputAtQuality() {
    const std::size_t blockSize = coder->geometry().blockSize;
    const std::size_t margin = analysisMargin(coder->geometry().levels);
    const std::uint64_t total = (received + blockSize - 1) / blockSize * blockSize;
    while (coded < total) {
        reportProgress(geometryShare + (1.0 - geometryShare) * double(coded) / double(total));
        const auto count =
            static_cast<std::size_t>(std::min<std::uint64_t>(segmentValues(), total - coded));
        holdInput(coded >= margin ? coded - margin : 0, coded + count + margin);
        codeSegment(coded, count);
    }
}

void AcmEncoder::State::reportProgress(double done) {
    // Only steps of a thousandth: the caller may redraw a line each time.
    if (!progressSink || (done < progressShown + 1e-3 && done < 1.0)) return;
    progressShown = done;
    progressSink(done);
}

// The input written so far goes to the scratch file: both modes code in
// finish(), once the whole input is known.
void AcmEncoder::State::holdForFinish() {
    if (!inputScratch) inputScratch = std::make_unique<ScratchSpace>();
    inputScratch->append(std::as_bytes(std::span<const std::int16_t>(input)));
    input.clear();
    inputFirst = received;
}

InputView AcmEncoder::State::heldView() const {
    if (!inputScratch) return viewOf({});
    return {received, [this](std::uint64_t first, std::span<std::int16_t> out) {
                inputScratch->read(first * sizeof(std::int16_t), std::as_writable_bytes(out));
            }};
}

// `input` holds at least the held input from `first` to `end`
// (or its end), and what follows up to a piece of input, read ahead.
void AcmEncoder::State::holdInput(std::uint64_t first, std::uint64_t end) {
    end = std::min(end, received);
    if (first >= inputFirst && end <= inputFirst + input.size()) return;
    const std::uint64_t readEnd = std::min(received, std::max(end, first + writePiece));
    input = heldView().piece(first, readEnd);
    inputFirst = first;
}

// Bitrate mode: the stage-1 values from `first` on, read from the scratch
// file in windows of about a segment, since they are asked for in order.
std::span<const double> AcmEncoder::State::heldValues(std::uint64_t first, std::size_t count) {
    if (first < valueWindowFirst || first + count > valueWindowFirst + valueWindow.size()) {
        const std::size_t wanted = std::max(count, segmentValues());
        valueWindow.resize(
            static_cast<std::size_t>(std::min<std::uint64_t>(wanted, valuesHeld - first)));
        valueScratch->read(first * sizeof(float), std::as_writable_bytes(std::span(valueWindow)));
        valueWindowFirst = first;
    }
    const auto from = valueWindow.begin() + static_cast<std::ptrdiff_t>(first - valueWindowFirst);
    heldBlock.assign(from, from + static_cast<std::ptrdiff_t>(count));
    return heldBlock;
}

EncoderReport AcmEncoder::State::finish() {
    finished = true;
    if (!coder) decideGeometry();
    if (settings.bitrateKbps) {
        codeWholeInputToBudget();
    } else {
        codeWholeInputAtQuality();
    }
    reportProgress(1.0);
    bits.takeCompleteBytes(outgoing);
    outgoing.insert(outgoing.end(), bits.bytes().begin(), bits.bytes().end());
    emitBytes(outgoing);
    outgoing.clear();

    const BlockGeometry& geometry = coder->geometry();
    const auto header = acmHeaderBytes(
        static_cast<std::uint32_t>(received), geometry.levels, static_cast<unsigned>(geometry.rows),
        static_cast<std::uint16_t>(channels), static_cast<std::uint16_t>(sampleRate));
    if (file) {
        file->writeAt(0, header);
        file->commit();
    } else {
        std::copy(header.begin(), header.end(), memory.begin());
    }

    EncoderReport report;
    report.sampleCount = received;
    report.streamBytes = streamBytes;
    report.bitsPerSample = received == 0 ? 0.0 : double(streamBytes) * 8.0 / double(received);
    report.snrDb = fidelity.snrDb();
    report.levels = geometry.levels;
    report.rows = static_cast<unsigned>(geometry.rows);
    report.onsetError = fidelity.onsetError;
    report.onsetStray = fidelity.onsetStray;
    report.onsetPeak = fidelity.onsetPeak;
    report.afterOnsetError = fidelity.afterOnsetError;
    report.exactSamples = fidelity.exactSamples;
    return report;
}

AcmEncoder AcmEncoder::toFile(const std::string& path, unsigned channels, unsigned sampleRate,
                              const EncoderSettings& settings) {
    checkSettings(channels, sampleRate, settings);
    auto state = std::make_unique<State>(channels, sampleRate, settings);
    state->file = std::make_unique<OutputFile>(path, std::nullopt);
    state->emitBytes(std::vector<std::uint8_t>(headerBytes, 0));  // completed by finish()
    return AcmEncoder(std::move(state));
}

AcmEncoder AcmEncoder::toMemory(unsigned channels, unsigned sampleRate,
                                const EncoderSettings& settings) {
    checkSettings(channels, sampleRate, settings);
    auto state = std::make_unique<State>(channels, sampleRate, settings);
    state->emitBytes(std::vector<std::uint8_t>(headerBytes, 0));  // completed by finish()
    return AcmEncoder(std::move(state));
}

AcmEncoder::AcmEncoder(std::unique_ptr<State> state) : state_(std::move(state)) {}
AcmEncoder::AcmEncoder(AcmEncoder&&) noexcept = default;
AcmEncoder& AcmEncoder::operator=(AcmEncoder&&) noexcept = default;
AcmEncoder::~AcmEncoder() = default;

AcmEncoder::State& AcmEncoder::usable() const {
    if (!state_) throw Failure(FailureKind::InvalidCall, "call on a moved-from encoder");
    state_->refuseIfFailed();
    return *state_;
}

void AcmEncoder::onDecoded(std::function<void(std::span<const std::int16_t>)> sink) {
    State& state = usable();
    if (state.received > 0 || state.finished) {
        throw Failure(FailureKind::InvalidCall, "onDecoded() after writing began");
    }
    state.sink = std::move(sink);
}

void AcmEncoder::onProgress(std::function<void(double done)> sink) {
    State& state = usable();
    state.refuseIfFinished("onProgress()");
    state.progressSink = std::move(sink);
}

void AcmEncoder::write(std::span<const std::int16_t> samples) {
    State& state = usable();
    state.refuseIfFinished("write()");
    state.failingOnException([&] { state.write(samples); });
}

EncoderReport AcmEncoder::finish() {
    State& state = usable();
    state.refuseIfFinished("finish()");
    return state.failingOnException([&] { return state.finish(); });
}

const std::vector<std::uint8_t>& AcmEncoder::bytes() const {
    const State& state = usable();
    if (state.file) {
        throw Failure(FailureKind::InvalidCall, "bytes() of an encoder that writes a file");
    }
    if (!state.finished) throw Failure(FailureKind::InvalidCall, "bytes() before finish()");
    return state.memory;
}

}  // namespace talveco
