// The built program against hostile headers: the widest geometry, no rows,
// sample counts at and around the limits, headers cut short and streams of
// nothing but zero bits. Each ends in its defined result or in the invalid-
// file error, and the memory it takes stays within the block buffer and the
// transfer buffer.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/AcmStreamBuilder.h"
#include "tests/support/ExpectedWav.h"
#include "tests/support/IndependentReaders.h"
#include "tests/support/ProgramRunner.h"
#include "tests/support/TempDir.h"
#include "tests/support/Transcript.h"

namespace talveco {
namespace {

using testing::acmHeaderBytes;
using testing::crlfLines;
using testing::ProgramResult;
using testing::readFileBytes;
using testing::runProgram;
using testing::TempDir;
using testing::writeFileBytes;
namespace fs = std::filesystem;

using testing::kBanner;
constexpr long kKiB = 1024;

std::vector<std::uint8_t> firstBytes(std::vector<std::uint8_t> bytes, std::size_t count) {
    bytes.resize(count);
    return bytes;
}

// The widest geometry whose first block cannot be unpacked: its first
// column code (1) selects no method, so the data ends before it begins.
std::vector<std::uint8_t> widestWithBadFirstBlock() {
    testing::AcmStreamBuilder builder(1000, 15, 4095);
    builder.blockHeader(3, 1).columnCode(1);
    return builder.bytes();
}

struct HostileCase {
    const char* name;
    std::vector<std::uint8_t> bytes;
    // The data bytes of a successful run; none for an invalid file.
    std::optional<std::size_t> dataBytes;
    std::string marks;    // the progress line of a successful run
    long blockBytes = 0;  // the decoder's block buffer for this header

    friend void PrintTo(const HostileCase& c, std::ostream* out) { *out << c.name; }
};

HostileCase invalidFile(const char* name, std::vector<std::uint8_t> bytes) {
    return HostileCase{name, std::move(bytes), std::nullopt, "", 0};
}

class HostileHeader : public ::testing::TestWithParam<HostileCase> {
  protected:
    // The peak of a run on the smallest file, which holds the program, its
    // libraries and what the test process had when it forked.
    static long baselinePeakKb() {
        TempDir dir;
        writeFileBytes(dir / "s.acm", {0x97, 0x28, 0x03, 0x01});
        return runProgram({"s.acm"}, dir.path()).peakMemoryKb;
    }

    TempDir dir;
};

TEST_P(HostileHeader, EndsAsDefinedWithinBoundedMemory) {
    const HostileCase& c = GetParam();
    writeFileBytes(dir / "h.acm", c.bytes);
    const ProgramResult result = runProgram({"h.acm"}, dir.path());
    EXPECT_EQ(result.terminatingSignal, 0);
    if (!c.dataBytes) {
        EXPECT_EQ(result.exitStatus, 1);
        EXPECT_EQ(result.output, crlfLines({kBanner, " Converting h.acm to h.wav", "",
                                            "Error: File does not appear to be a valid ACM file"}));
        EXPECT_FALSE(fs::exists(dir / "h.wav"));
    } else {
        EXPECT_EQ(result.exitStatus, 0);
        EXPECT_EQ(result.output, crlfLines({kBanner, " Converting h.acm to h.wav", c.marks,
                                            std::to_string(*c.dataBytes) + " bytes written"}));
        EXPECT_EQ(readFileBytes(dir / "h.wav"),
                  testing::expectedWav(std::vector<std::uint8_t>(*c.dataBytes), "h.acm"));
        EXPECT_EQ(testing::independentReadersComplaints(dir / "h.wav", {2, *c.dataBytes, 5}), "");
    }
    // The block buffer and a transfer buffer of at most 1 MiB, beyond what
    // the smallest run takes; the sanitizers add an eighth for their shadow
    // of every byte.
#if defined(__SANITIZE_ADDRESS__)
    const long shadowKb = c.blockBytes / kKiB / 8;
#else
    const long shadowKb = 0;
#endif
    const long boundKb = baselinePeakKb() + c.blockBytes / kKiB + shadowKb + 1024 + 4 * 1024;
    EXPECT_LE(result.peakMemoryKb, boundKb);
}

constexpr long kWidestBlock = 32768L * 4095 * 4;

INSTANTIATE_TEST_SUITE_P(
    Headers, HostileHeader,
    ::testing::Values(
        HostileCase{"signature_only", {0x97, 0x28, 0x03, 0x01}, 0, "", 0},
        // Cut after the sample count: rows read as 0, yet samples are owed.
        invalidFile("cut_after_count", firstBytes(acmHeaderBytes(1000, 3, 5), 8)),
        // Cut before the last byte: rows keep their low four bits (5).
        HostileCase{"cut_before_last_byte", firstBytes(acmHeaderBytes(1000, 3, 5), 13), 2000, "#",
                    4 * 8 * 5},
        HostileCase{"no_rows_no_samples", acmHeaderBytes(0, 9, 0), 0, "", 0},
        invalidFile("no_rows_with_samples", acmHeaderBytes(1, 9, 0)),
        // Nothing after the header: zero bits make silent blocks, three
        // chunks of them.
        HostileCase{"zero_bits_only", acmHeaderBytes(1'500'000, 3, 5), 3'000'000, "###", 4 * 8 * 5},
        HostileCase{"widest_geometry", widestWithBadFirstBlock(), 0, "", kWidestBlock},
        invalidFile("count_2_30", acmHeaderBytes(1u << 30, 0, 1)),
        invalidFile("count_2_30_plus_1", acmHeaderBytes((1u << 30) + 1, 0, 1)),
        invalidFile("count_2_31_minus_1", acmHeaderBytes(0x7FFF'FFFFu, 4, 16)),
        invalidFile("count_2_31", acmHeaderBytes(0x8000'0000u, 4, 16)),
        invalidFile("count_2_31_plus_1", acmHeaderBytes(0x8000'0001u, 15, 4095)),
        invalidFile("count_2_32_minus_1", acmHeaderBytes(0xFFFF'FFFFu, 15, 4095))),
    [](const auto& testCase) { return std::string(testCase.param.name); });

}  // namespace
}  // namespace talveco
