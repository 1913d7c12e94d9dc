#include "platform/Interrupts.h"

#include <mutex>
#include <vector>

#include "platform/windows/Win32.h"

namespace talveco {
namespace {

// Windows runs a console control handler on a thread of its own rather than
// interrupting one, so the registry can be an ordinary one under a lock: the
// handler takes the lock and keeps it, and no file is registered or
// released after it has begun.
struct Entry {
    bool used = false;
    Removal removal = Removal::File;
    std::wstring path;
};

std::mutex& registryLock() {
    static std::mutex lock;
    return lock;
}

std::vector<Entry>& registry() {
    static std::vector<Entry> entries(PendingRemoval::kCapacity);
    return entries;
}

void removeAll(const std::vector<Entry>& entries) {
    for (const Entry& entry : entries) {
        // A file still open in another thread goes once that handle closes:
        // every file registered here is opened with FILE_SHARE_DELETE.
        if (entry.used && entry.removal == Removal::File) ::DeleteFileW(entry.path.c_str());
    }
    for (bool removed = true; removed;) {
        removed = false;
        for (const Entry& entry : entries) {
            if (entry.used && entry.removal == Removal::EmptyFolder) {
                removed |= ::RemoveDirectoryW(entry.path.c_str()) != 0;
            }
        }
    }
}

// What Windows itself gives a process ended by Ctrl-C.
constexpr UINT kInterruptedExitCode = 0xC000013A;

BOOL WINAPI removePendingAndEnd(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            break;
        default:
            return FALSE;
    }
    registryLock().lock();  // held until the process has gone
    removeAll(registry());
    // The other threads may be in the middle of writing; ending the process
    // at once keeps them from making anything new.
    ::TerminateProcess(::GetCurrentProcess(), kInterruptedExitCode);
    return TRUE;
}

std::wstring joined(const std::string& directory, const std::string& name) {
    if (directory.empty() || directory == ".") return win32::wide(name);
    const char last = directory.back();
    return win32::wide(last == '/' || last == '\\' || last == ':' ? directory + name
                                                                  : directory + "\\" + name);
}

}  // namespace

void installInterruptCleanup() {
    registry();  // made before any handler can want it
    ::SetConsoleCtrlHandler(removePendingAndEnd, TRUE);
}

PendingRemoval::PendingRemoval(PendingDirectory directory, const std::string& name,
                               Removal removal) noexcept {
    if (name.empty()) return;
    try {
        std::wstring path = joined(directory, name);
        const std::lock_guard hold(registryLock());
        auto& entries = registry();
        for (int index = 0; index < kCapacity; ++index) {
            Entry& entry = entries[static_cast<std::size_t>(index)];
            if (!entry.used) {
                entry = Entry{true, removal, std::move(path)};
                slot_ = index;
                return;
            }
        }
    } catch (...) {
        slot_ = -1;  // no memory for the name: not armed, so the file is not made
    }
}

void PendingRemoval::release() noexcept {
    if (slot_ < 0) return;
    const std::lock_guard hold(registryLock());
    Entry& entry = registry()[static_cast<std::size_t>(slot_)];
    entry.used = false;
    entry.path.clear();
    slot_ = -1;
}

// The control handler never runs on the program's own threads, so there is
// nothing to block.
InterruptsBlocked::InterruptsBlocked() : previous_{} {}

InterruptsBlocked::~InterruptsBlocked() = default;

}  // namespace talveco
