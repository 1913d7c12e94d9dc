#include "platform/Failure.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace talveco {
namespace {

struct ErrnoCase {
    int errorNumber;
    const char* message;

    friend void PrintTo(const ErrnoCase& c, std::ostream* out) {
        *out << "errno " << c.errorNumber;
    }
};

class ErrnoMessageTest : public ::testing::TestWithParam<ErrnoCase> {};

TEST_P(ErrnoMessageTest, MapsToTheUsersMessage) {
    try {
        throwErrno(GetParam().errorNumber);
        FAIL() << "throwErrno returned";
    } catch (const Failure& failure) {
        EXPECT_STREQ(failure.what(), GetParam().message);
        EXPECT_EQ(failure.errorNumber(), GetParam().errorNumber);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Errors, ErrnoMessageTest,
    ::testing::Values(ErrnoCase{ENOENT, "File not found"}, ErrnoCase{ENOTDIR, "Invalid filename"},
                      ErrnoCase{EMFILE, "Too many open files"},
                      ErrnoCase{ENFILE, "Too many open files"},
                      ErrnoCase{EACCES, "File access denied"},
                      ErrnoCase{EPERM, "File access denied"},
                      ErrnoCase{EISDIR, "File access denied"},
                      ErrnoCase{EROFS, "File access denied"}, ErrnoCase{ENOSPC, "Disk full"},
                      ErrnoCase{EDQUOT, "Disk full"}, ErrnoCase{EFBIG, "Disk full"},
                      ErrnoCase{ENOMEM, "Out of memory"}, ErrnoCase{EIO, "I/O error 5"},
                      ErrnoCase{ENAMETOOLONG, "I/O error 36"}, ErrnoCase{ELOOP, "I/O error 40"}));

TEST(Failure, FixedMessages) {
    EXPECT_STREQ(Failure(FailureKind::NotAcmFile).what(),
                 "File does not appear to be a valid ACM file");
    EXPECT_STREQ(Failure(FailureKind::IoError, 32).what(), "I/O error 32");
    EXPECT_STREQ(Failure(FailureKind::OutOfMemory).what(), "Out of memory");
    const Failure precise(FailureKind::OutsideLimits, "levels must be 0 to 15");
    EXPECT_EQ(precise.kind(), FailureKind::OutsideLimits);
    EXPECT_STREQ(precise.what(), "levels must be 0 to 15");
}

}  // namespace
}  // namespace talveco
