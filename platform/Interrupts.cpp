#include "platform/Interrupts.h"

#include <limits.h>
#include <unistd.h>

#include <csignal>
#include <cstring>

namespace talveco {
namespace {

// A signal handler can only reach static storage. The path is written with
// signals blocked, so the handler never sees half of it.
char pendingPath[PATH_MAX + 1];

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void removePendingAndDie(int signalNumber) {
    if (pendingPath[0] != '\0') ::unlink(pendingPath);
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

void removeOnInterrupt(const std::string& path) {
    const sigset_t blocked = handledSignals();
    sigset_t previous;
    ::sigprocmask(SIG_BLOCK, &blocked, &previous);
    const std::size_t length = path.size() < PATH_MAX ? path.size() : 0;
    std::memcpy(pendingPath, path.data(), length);
    pendingPath[length] = '\0';
    ::sigprocmask(SIG_SETMASK, &previous, nullptr);
}

}  // namespace talveco
