// The one exception type of the converter. Every failure that ends a run is a
// Failure: its kind selects the fixed text the user sees, and the generic I/O
// kind carries the operating system's error number as well.
#pragma once

#include <exception>
#include <string>

namespace talveco {

enum class FailureKind {
    NotAcmFile,
    FileNotFound,
    InvalidFilename,
    TooManyOpenFiles,
    AccessDenied,
    DiskFull,
    OutOfMemory,
    IoError,
};

class Failure : public std::exception {
  public:
    explicit Failure(FailureKind kind, int errorNumber = 0);

    FailureKind kind() const noexcept { return kind_; }
    int errorNumber() const noexcept { return errorNumber_; }
    const char* what() const noexcept override { return message_.c_str(); }

  private:
    FailureKind kind_;
    int errorNumber_;
    std::string message_;
};

// The text shown after "Error: " for a failure of this kind.
std::string failureMessage(FailureKind kind, int errorNumber);

// Maps an errno value to the failure the user is told about. ENOENT is always
// "File not found" here; telling a missing directory apart needs the path,
// which only the file operations have.
FailureKind failureKindForErrno(int errorNumber) noexcept;

[[noreturn]] void throwErrno(int errorNumber);

}  // namespace talveco
