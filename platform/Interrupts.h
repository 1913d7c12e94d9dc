// Removal of unfinished outputs when the run is interrupted (Ctrl-C, a
// terminal hang-up, kill): no temporary file may outlive the process. Several
// files may be pending at once, written by different threads (a program that
// converts several files in parallel, or a library user with two encoders).
#pragma once

#include <string>

#ifndef _WIN32
#include <signal.h>
#endif

namespace talveco {

// Installs handlers for SIGINT, SIGTERM and SIGHUP that remove every file
// registered through PendingRemoval and then end the process as the signal
// would have.
void installInterruptCleanup();

// The most jobs a program may run side by side with the clean-up of every
// file they have pending guaranteed (talveco-decode's -j stays within it).
constexpr int kMostJobsCleanedUp = 1024;
// The files one job can have pending at once: its output's temporary file,
// and for a moment each of the two scratch files an encoder names.
constexpr int kPendingFilesPerJob = 3;

// What an interrupt removes: a file, or a folder only while it is empty
// (after the files, so that a folder emptied by their removal goes too).
enum class Removal { File, EmptyFolder };

// Where a pending file lies. POSIX systems remove it through a descriptor of
// its directory, so that it goes even if the directory was moved meanwhile;
// Windows has no such removal, and names the directory by its path.
#ifdef _WIN32
using PendingDirectory = const std::string&;
using SignalSet = int;  // no signals there: a control handler runs on a thread of its own
#else
using PendingDirectory = int;
using SignalSet = sigset_t;
#endif

// While it is armed, the file `name` in `directory` is removed if one of
// those signals (on Windows: Ctrl-C, Ctrl-Break, the console closing) arrives, so that it goes even
// if the directory was moved meanwhile. Registration and release are safe from any thread. The
// registry holds a fixed number of files (a signal handler cannot allocate); past that, and for a
// name longer than a file name can be, the registration is not armed, and the caller must not make
// the file.
class PendingRemoval {
  public:
    PendingRemoval() = default;
    PendingRemoval(PendingDirectory directory, const std::string& name,
                   Removal removal = Removal::File) noexcept;
    ~PendingRemoval() { release(); }
    PendingRemoval(PendingRemoval&& other) noexcept : slot_(other.slot_) { other.slot_ = -1; }
    PendingRemoval& operator=(PendingRemoval&& other) noexcept;
    PendingRemoval(const PendingRemoval&) = delete;
    PendingRemoval& operator=(const PendingRemoval&) = delete;

    // The file is no longer removed on an interrupt (it was put in place or
    // removed already). Must happen before its directory handle is closed.
    void release() noexcept;
    bool armed() const noexcept { return slot_ >= 0; }

    // How many files the registry can hold at once: every file the largest
    // run can have pending, and room for a library user's own threads.
    static constexpr int kCapacity = kMostJobsCleanedUp * kPendingFilesPerJob + 256;

  private:
    int slot_ = -1;
};

// While one exists, this thread has SIGINT, SIGTERM and SIGHUP blocked, and
// so has every thread it starts: such threads never run the cleanup, which
// is left to the threads that register files.
class InterruptsBlocked {
  public:
    InterruptsBlocked();
    ~InterruptsBlocked();
    InterruptsBlocked(const InterruptsBlocked&) = delete;
    InterruptsBlocked& operator=(const InterruptsBlocked&) = delete;

  private:
    SignalSet previous_;
};

}  // namespace talveco
