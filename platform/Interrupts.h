// Removal of the unfinished output when the run is interrupted (Ctrl-C, a
// terminal hang-up, kill): the temporary file must not outlive the process.
#pragma once

#include <signal.h>

#include <string>

namespace talveco {

// Installs handlers for SIGINT, SIGTERM and SIGHUP that remove the file
// registered below and then end the process as the signal would have.
void installInterruptCleanup();

// The file to remove if a signal arrives: `name` in the directory open as
// `directoryFd`, so that it goes even if the directory was moved meanwhile.
// An empty name registers nothing.
void removeOnInterrupt(int directoryFd, const std::string& name);

// While one exists, this thread has SIGINT, SIGTERM and SIGHUP blocked, and
// so has every thread it starts: such threads never run the cleanup, which
// is left to the thread that registers the file.
class InterruptsBlocked {
  public:
    InterruptsBlocked();
    ~InterruptsBlocked();
    InterruptsBlocked(const InterruptsBlocked&) = delete;
    InterruptsBlocked& operator=(const InterruptsBlocked&) = delete;

  private:
    sigset_t previous_;
};

}  // namespace talveco
