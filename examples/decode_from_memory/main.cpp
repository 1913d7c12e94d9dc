// Reads an ACM file into memory, decodes the bytes from there with talveco (as
// a program does with sounds it already holds) and writes the raw 16-bit
// little-endian samples to a file.
//
//     decode_from_memory in.acm out.raw
#include <talveco/talveco.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <vector>

namespace {

std::vector<std::uint8_t> readWholeFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error(std::string("cannot read ") + path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeLittleEndian(std::ofstream& out, std::span<const std::int16_t> samples) {
    for (const std::int16_t sample : samples) {
        const auto bits = static_cast<std::uint16_t>(sample);
        const char bytes[2] = {static_cast<char>(bits & 0xFF), static_cast<char>(bits >> 8)};
        out.write(bytes, 2);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: decode_from_memory in.acm out.raw\n";
        return 2;
    }
    try {
        talveco::AcmStream stream = talveco::AcmStream::openMemory(readWholeFile(argv[1]));
        std::cout << stream.channels() << " channels, " << stream.sampleRate() << " Hz, "
                  << stream.sampleCount() << " samples\n";

        std::ofstream out(argv[2], std::ios::binary);
        std::vector<std::int16_t> chunk(4096);
        while (const std::size_t got = stream.read(chunk)) {
            writeLittleEndian(out, std::span(chunk).first(got));
        }
        if (!out.flush()) throw std::runtime_error("cannot write the output");
    } catch (const talveco::Failure& failure) {
        std::cerr << "Error: " << failure.what() << '\n';
        return 1;
    } catch (const std::exception& error) {
        std::cerr << error.what() << '\n';
        return 1;
    }
    return 0;
}
