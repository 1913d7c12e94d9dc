#include "platform/Interrupts.h"

#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>

namespace talveco {
namespace {

// A signal handler can only reach static storage, and only lock-free atomics
// are safe to share with it. A slot's name and directory are written while
// the slot is Claimed, which the handler skips, and published by the store of
// Armed; the handler reads them only after seeing Armed.
enum SlotState : int { Free, Claimed, Armed };

struct Slot {
    std::atomic<int> state{Free};
    int directoryFd = -1;
    int removeFlags = 0;  // for unlinkat: AT_REMOVEDIR for a folder
    char name[NAME_MAX + 1] = {};
};
static_assert(std::atomic<int>::is_always_lock_free);

Slot slots[PendingRemoval::kCapacity];

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void removePendingAndDie(int signalNumber) {
    // The signal raised again below is blocked until the handler returns, so
    // the interrupted code may run on for a moment: it gets its errno back.
    const int interruptedErrno = errno;
    for (Slot& slot : slots) {
        if (slot.state.load(std::memory_order_acquire) == Armed && slot.removeFlags == 0) {
            ::unlinkat(slot.directoryFd, slot.name, 0);
        }
    }
    // Folders last, once their files are gone; a folder empties only when the
    // one inside it has gone, so passes repeat while they remove something.
    for (bool removed = true; removed;) {
        removed = false;
        for (const Slot& slot : slots) {
            if (slot.state.load(std::memory_order_acquire) == Armed && slot.removeFlags != 0) {
                removed |= ::unlinkat(slot.directoryFd, slot.name, slot.removeFlags) == 0;
            }
        }
    }
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);
    errno = interruptedErrno;
}

sigset_t handledSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (const int signalNumber : kSignals)
        sigaddset(&set, signalNumber);
    return set;
}

int claimSlot() noexcept {
    for (int index = 0; index < PendingRemoval::kCapacity; ++index) {
        int expected = Free;
        if (slots[index].state.compare_exchange_strong(expected, Claimed,
                                                       std::memory_order_acquire)) {
            return index;
        }
    }
    return -1;
}

}  // namespace

void installInterruptCleanup() {
    struct sigaction action {};
    action.sa_handler = removePendingAndDie;
    action.sa_mask = handledSignals();
    for (const int signalNumber : kSignals)
        ::sigaction(signalNumber, &action, nullptr);
}

PendingRemoval::PendingRemoval(PendingDirectory directoryFd, const std::string& name,
                               Removal removal) noexcept {
    if (name.empty() || name.size() > NAME_MAX) return;
    slot_ = claimSlot();
    if (slot_ < 0) return;
    Slot& slot = slots[slot_];
    slot.directoryFd = directoryFd;
    slot.removeFlags = removal == Removal::EmptyFolder ? AT_REMOVEDIR : 0;
    std::memcpy(slot.name, name.data(), name.size());
    slot.name[name.size()] = '\0';
    slot.state.store(Armed, std::memory_order_release);
}

void PendingRemoval::release() noexcept {
    if (slot_ < 0) return;
    // A handler that saw Armed just before this may still be reading the
    // name while another thread claims the slot and writes a new one. The
    // process is ending then, and every name ever written here is one of its
    // own temporary files, so at worst the handler removes one that is gone.
    slots[slot_].state.store(Free, std::memory_order_release);
    slot_ = -1;
}

InterruptsBlocked::InterruptsBlocked() {
    const sigset_t blocked = handledSignals();
    ::pthread_sigmask(SIG_BLOCK, &blocked, &previous_);
}

InterruptsBlocked::~InterruptsBlocked() {
    ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

}  // namespace talveco
