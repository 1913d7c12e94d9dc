// Sample-rate conversion of interleaved full-scale samples with libsoxr (the SoX project's
// resampler library) at its high-quality setting, in pieces as they are read. The output
// holds as many frames as sox's rate effect gives for the same input, so that a stream
// resampled here lines up with one resampled by sox.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

struct soxr;

namespace talveco {

class Resampler {
  public:
    // Raises InputRefused when libsoxr cannot resample between the rates.
    Resampler(unsigned inputRate, unsigned outputRate, unsigned channels);
    ~Resampler();
    Resampler(const Resampler&) = delete;
    Resampler& operator=(const Resampler&) = delete;

    // Frames out for `inputFrames` frames in, rounded to nearest (halves up) as sox rounds.
    static std::uint64_t outputFrames(std::uint64_t inputFrames, unsigned inputRate,
                                      unsigned outputRate);

    // Takes whole frames of `in` and appends to `out` the frames that are ready. libsoxr holds
    // back its filter's length, so what is ready never runs past the length finish() sets.
    void process(std::span<const double> in, std::vector<double>& out);
    // Appends the frames still held, cut or padded with silence so that the output holds
    // outputFrames() of the frames taken in all.
    void finish(std::vector<double>& out);

  private:
    void run(const double* in, std::size_t frames, std::vector<double>& out);

    soxr* soxr_ = nullptr;
    unsigned inputRate_;
    unsigned outputRate_;
    unsigned channels_;
    std::uint64_t framesIn_ = 0;
    std::uint64_t framesOut_ = 0;
};

}  // namespace talveco
