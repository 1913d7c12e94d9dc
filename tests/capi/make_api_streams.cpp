// Writes the streams the C and Python interface tests check against, with
// their expected results, and a table of them (streams.tsv):
//   decode NAME DAMAGED PAST_END
//                            NAME.acm, made with the stream builder or by
//                            talveco-encode, and NAME.pcm, what the C++
//                            library decodes from it, with the damaged blocks
//                            and the samples past the end of the input it
//                            counts on the way
//   encode NAME CHANNELS RATE FORMAT QUALITY BITRATE LEVELS ROWS
//                            NAME.wav (16-bit or float), its samples as
//                            NAME.pcm (int16) or NAME.f32 (float), and
//                            NAME.acm, what talveco-encode makes of NAME.wav
//                            with those settings ('-' for the default)
//   fit NAME CHANNELS RATE FORMAT TO_CHANNELS TO_RATE
//                            as encode, with the default settings, and
//                            NAME.acm what talveco-encode makes of NAME.wav
//                            with --channels TO_CHANNELS --resample TO_RATE
//   make_api_streams DIR TALVECO_ENCODE
#include <sndfile.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "talveco/talveco.h"
#include "tests/encode_app/SoundFiles.h"
#include "tests/support/RandomStreams.h"

namespace {

namespace fs = std::filesystem;
using namespace talveco::testing;

struct DecodeCase {
    const char* name;
    std::vector<std::uint8_t> (*make)();
};

std::vector<std::uint8_t> withHeader(std::vector<std::uint8_t> stream, std::uint32_t samples,
                                     unsigned levels, unsigned rows, std::uint16_t channels,
                                     std::uint16_t rate) {
    const auto header = talveco::acmHeaderBytes(samples, levels, rows, channels, rate);
    std::copy(header.begin(), header.end(), stream.begin());
    return stream;
}

const DecodeCase decodeCases[] = {
    {"stereo-7x16", [] { return randomStream(2 * 16 * 128 * 5 - 300, 7, 16, 5, 1); }},
    {"mono-0x1", [] { return withHeader(randomStream(999, 0, 1, 999, 2), 999, 0, 1, 1, 8000); }},
    {"wide-15x2", [] { return randomStream(3 * 2 * 32768, 15, 2, 3, 3); }},
    {"three-channels",  // a sample count that is no whole number of frames
     [] { return withHeader(randomStream(4000, 4, 64, 4, 4), 4000, 4, 64, 3, 44100); }},
    {"damaged", [] { return layoutStream("ggbgg", 5, 8, 5); }},
    {"damaged-twice", [] { return layoutStream("ggbbg", 5, 8, 6); }},
    {"truncated",
     [] {
         auto stream = randomStream(2 * 8 * 64 * 6, 6, 8, 6, 7);
         stream.resize(stream.size() * 3 / 5);
         return stream;
     }},
    {"empty", [] { return withHeader(std::vector<std::uint8_t>(14), 0, 0, 0, 2, 22050); }},
};

struct EncodeCase {
    const char* name;
    unsigned channels, rate, frames;
    bool floating;  // a float WAV with peaks beyond full scale
    const char *quality, *bitrate, *levels, *rows;
    unsigned toChannels = 0, toRate = 0;  // fitted to these (0: as the input)
};

const EncodeCase encodeCases[] = {
    {"speech-default", 1, 22050, 30000, false, "-", "-", "-", "-"},
    {"stereo-q9", 2, 44100, 40000, false, "9", "-", "-", "-"},
    {"mono-bitrate", 1, 16000, 25000, false, "-", "48", "-", "-"},
    {"fixed-geometry", 2, 22050, 9000, false, "2", "-", "3", "20"},
    {"float-clipped", 2, 22050, 20000, true, "-", "-", "-", "-"},
    {"short", 1, 8000, 37, false, "-", "-", "-", "-"},
};

// Inputs fitted to the stream: downsampled and folded, folded alone (5.1, beyond full
// scale), upsampled and copied to both sides.
const EncodeCase fitCases[] = {
    {"fit-48k-stereo-to-22k-mono", 2, 48000, 30011, false, "-", "-", "-", "-", 1, 22050},
    {"fit-5.1-float-to-stereo", 6, 32000, 12000, true, "-", "-", "-", "-", 2, 32000},
    {"fit-8k-mono-to-22k-stereo", 1, 8000, 5000, false, "-", "-", "-", "-", 2, 22050},
};

template <typename T>
void writeRaw(const fs::path& path, const std::vector<T>& values) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(values.data()),
              static_cast<std::streamsize>(values.size() * sizeof(T)));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

void writeDecodeCase(const fs::path& dir, const std::string& name,
                     const std::vector<std::uint8_t>& stream, std::ostream& table) {
    auto acm = talveco::AcmStream::openMemory(stream, {.secondThread = false});
    std::vector<std::int16_t> samples;
    std::vector<std::int16_t> chunk(777);
    while (const std::size_t got = acm.read(chunk))
        samples.insert(samples.end(), chunk.begin(), chunk.begin() + static_cast<long>(got));
    writeRaw(dir / (name + ".acm"), stream);
    writeRaw(dir / (name + ".pcm"), samples);
    table << "decode\t" << name << "\t" << acm.damagedBlocks() << "\t"
          << acm.samplesPastEndOfInput() << "\n";
}

std::vector<std::uint8_t> readRaw(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path.string());
    return {std::istreambuf_iterator<char>(in), {}};
}

std::string option(const char* flag, const char* value) {
    return std::string(value) == "-" ? "" : std::string(" ") + flag + " " + value;
}

std::string fitOptions(const EncodeCase& c) {
    if (c.toChannels == 0) return "";
    return " --channels " + std::to_string(c.toChannels) + " --resample " +
           std::to_string(c.toRate);
}

void writeEncodeCase(const fs::path& dir, const std::string& encoder, const EncodeCase& c,
                     std::ostream& table) {
    const fs::path wav = dir / (std::string(c.name) + ".wav");
    const std::vector<std::int16_t> samples = testSignal(c.frames, c.channels, c.frames);
    if (c.floating) {
        // Louder than full scale by a half: the encoder clips and counts.
        std::vector<float> values(samples.size());
        for (std::size_t i = 0; i < samples.size(); ++i)
            values[i] = float(samples[i]) / 32768.0f * 4.5f + 1e-5f * float(i % 7);
        writeSoundFile(wav, SF_FORMAT_WAV | SF_FORMAT_FLOAT, int(c.channels), int(c.rate), values);
        writeRaw(dir / (std::string(c.name) + ".f32"), values);
    } else {
        writeWav16(wav, int(c.channels), int(c.rate), samples);
        writeRaw(dir / (std::string(c.name) + ".pcm"), samples);
    }
    const std::string command = "'" + encoder + "' -s -f -o '" + (dir / c.name).string() + ".acm'" +
                                option("-q", c.quality) + option("-b", c.bitrate) +
                                option("--levels", c.levels) + option("--rows", c.rows) +
                                fitOptions(c) + " '" + wav.string() + "'";
    if (std::system(command.c_str()) != 0) throw std::runtime_error("failed: " + command);
    // What the program made is one more stream to decode.
    writeDecodeCase(dir, std::string(c.name) + "-encoded",
                    readRaw(dir / (std::string(c.name) + ".acm")), table);
    const char* format = c.floating ? "float32" : "int16";
    if (c.toChannels != 0) {
        table << "fit\t" << c.name << "\t" << c.channels << "\t" << c.rate << "\t" << format << "\t"
              << c.toChannels << "\t" << c.toRate << "\n";
        return;
    }
    table << "encode\t" << c.name << "\t" << c.channels << "\t" << c.rate << "\t" << format << "\t"
          << c.quality << "\t" << c.bitrate << "\t" << c.levels << "\t" << c.rows << "\n";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: make_api_streams DIR TALVECO_ENCODE\n";
        return 2;
    }
    try {
        const fs::path dir = argv[1];
        fs::remove_all(dir);
        fs::create_directories(dir);
        std::ofstream table(dir / "streams.tsv");
        for (const DecodeCase& c : decodeCases)
            writeDecodeCase(dir, c.name, c.make(), table);
        for (const EncodeCase& c : encodeCases)
            writeEncodeCase(dir, argv[2], c, table);
        for (const EncodeCase& c : fitCases)
            writeEncodeCase(dir, argv[2], c, table);
        if (!table.flush()) throw std::runtime_error("cannot write the table");
    } catch (const std::exception& failure) {
        std::cerr << "make_api_streams: " << failure.what() << "\n";
        return 1;
    }
}
