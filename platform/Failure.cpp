#include "platform/Failure.h"

#include <cerrno>
#include <utility>

namespace talveco {

Failure::Failure(FailureKind kind, int errorNumber)
    : kind_(kind), errorNumber_(errorNumber), message_(failureMessage(kind, errorNumber)) {}

Failure::Failure(FailureKind kind, std::string message)
    : kind_(kind), errorNumber_(0), message_(std::move(message)) {}

std::string failureMessage(FailureKind kind, int errorNumber) {
    switch (kind) {
        case FailureKind::NotAcmFile:
            return "File does not appear to be a valid ACM file";
        case FailureKind::FileNotFound:
            return "File not found";
        case FailureKind::InvalidFilename:
            return "Invalid filename";
        case FailureKind::TooManyOpenFiles:
            return "Too many open files";
        case FailureKind::AccessDenied:
            return "File access denied";
        case FailureKind::DiskFull:
            return "Disk full";
        case FailureKind::OutOfMemory:
            return "Out of memory";
        case FailureKind::TooManySamples:
            return "Too many samples for an ACM file";
        case FailureKind::OutsideLimits:
            return "Outside the limits of the ACM format";
        case FailureKind::PartialFrame:
            return "Samples that do not make whole frames";
        case FailureKind::InvalidCall:
            return "Call not allowed in this state";
        case FailureKind::FailedEarlier:
            return "An earlier call failed";
        case FailureKind::IoError:
            break;
    }
    return "I/O error " + std::to_string(errorNumber);
}

FailureKind failureKindForErrno(int errorNumber) noexcept {
    switch (errorNumber) {
        case ENOENT:
            return FailureKind::FileNotFound;
        case ENOTDIR:
            return FailureKind::InvalidFilename;
        case EMFILE:
        case ENFILE:
            return FailureKind::TooManyOpenFiles;
        case EACCES:
        case EPERM:
        case EISDIR:
        case EROFS:
        case ETXTBSY:
            return FailureKind::AccessDenied;
        case ENOSPC:
#ifdef EDQUOT  // no quotas in the Windows C runtime's numbers
        case EDQUOT:
#endif
        case EFBIG:  // a file size limit (ulimit -f) is a full disk to the writer
            return FailureKind::DiskFull;
        case ENOMEM:
            return FailureKind::OutOfMemory;
        default:
            return FailureKind::IoError;
    }
}

void throwErrno(int errorNumber) {
    throw Failure(failureKindForErrno(errorNumber), errorNumber);
}

}  // namespace talveco
