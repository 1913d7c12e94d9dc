#include "platform/Interrupts.h"

#include <limits.h>
#include <pthread.h>
#include <unistd.h>

#include <csignal>
#include <cstring>

namespace talveco {
namespace {

// A signal handler can only reach static storage. The name is written with
// signals blocked, so the handler never sees half of it.
char pendingName[NAME_MAX + 1];
int pendingDirectoryFd = -1;

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void removePendingAndDie(int signalNumber) {
    if (pendingName[0] != '\0') ::unlinkat(pendingDirectoryFd, pendingName, 0);
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);
}

sigset_t handledSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (const int signalNumber : kSignals)
        sigaddset(&set, signalNumber);
    return set;
}

}  // namespace

void installInterruptCleanup() {
    struct sigaction action {};
    action.sa_handler = removePendingAndDie;
    action.sa_mask = handledSignals();
    for (const int signalNumber : kSignals)
        ::sigaction(signalNumber, &action, nullptr);
}

void removeOnInterrupt(int directoryFd, const std::string& name) {
    const sigset_t blocked = handledSignals();
    sigset_t previous;
    ::sigprocmask(SIG_BLOCK, &blocked, &previous);
    const std::size_t length = name.size() <= NAME_MAX ? name.size() : 0;
    std::memcpy(pendingName, name.data(), length);
    pendingName[length] = '\0';
    pendingDirectoryFd = directoryFd;
    ::sigprocmask(SIG_SETMASK, &previous, nullptr);
}

InterruptsBlocked::InterruptsBlocked() {
    const sigset_t blocked = handledSignals();
    ::pthread_sigmask(SIG_BLOCK, &blocked, &previous_);
}

InterruptsBlocked::~InterruptsBlocked() {
    ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

}  // namespace talveco
