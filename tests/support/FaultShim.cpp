// A preload library for the end-to-end tests (LD_PRELOAD): it stands between
// the program and the C library's file calls and makes them fail the way a
// failing system does, as the environment asks. Without any of these
// variables it passes every call through unchanged.
//
//   TALVECO_FAULT_READ_FAIL_AT=N   reads of regular files fail once N bytes
//                                  were read (the read that reaches N is cut)
//   TALVECO_FAULT_READ_ERRNO=E     ... with error E (default EIO)
//   TALVECO_FAULT_WRITE_FAIL_AT=N  regular files take N bytes in all: the write
//                                  that crosses N stores what still fits,
//                                  later ones fail
//   TALVECO_FAULT_WRITE_ERRNO=E    ... with error E (default ENOSPC)
//   TALVECO_FAULT_RENAME_ERRNO=E   every rename fails with E
//   TALVECO_FAULT_CLOSE_ERRNO=E    closing a file that was written to fails
//                                  with E (it is closed all the same, as Linux
//                                  does)
//   TALVECO_FAULT_NO_TMPFILE=1     opening a nameless file (O_TMPFILE) fails
//                                  with EOPNOTSUPP, as on a file system
//                                  without them, and says so on standard
//                                  error ("fault shim: no O_TMPFILE")
//   TALVECO_FAULT_ACTION_AT=N      once N bytes were written to regular files,
//   TALVECO_FAULT_ACTION=ACTION    do ACTION: "move:FROM:TO" renames a path,
//                                  "lock:DIR" makes a directory read-only
//
// Only regular files count, so the console (a pipe or a terminal) is never
// touched; nor is standard error when it is a file (a test's memfd), since it
// carries the messages that say what failed. The counters are process-wide,
// as every call of the process passes through here.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using ReadFn = ssize_t (*)(int, void*, size_t);
using WriteFn = ssize_t (*)(int, const void*, size_t);
using PwriteFn = ssize_t (*)(int, const void*, size_t, off_t);
using RenameFn = int (*)(const char*, const char*);
using CloseFn = int (*)(int);

template <typename Fn>
Fn nextDefinition(const char* name) {
    return reinterpret_cast<Fn>(::dlsym(RTLD_NEXT, name));
}

long long setting(const char* name, long long fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? std::strtoll(value, nullptr, 10) : fallback;
}

bool isRegularFile(int fd) {
    struct stat info {};
    return ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
}

constexpr int kTrackedDescriptors = 1024;

struct Counters {
    long long bytesRead = 0;
    long long bytesWritten = 0;
    bool actionDone = false;
    bool written[kTrackedDescriptors] = {};  // descriptors that were written to
};

Counters& counters() {
    static Counters instance;
    return instance;
}

void markWritten(int fd, bool written) {
    if (fd >= 0 && fd < kTrackedDescriptors) counters().written[fd] = written;
}

bool wasWritten(int fd) {
    return fd >= 0 && fd < kTrackedDescriptors && counters().written[fd];
}

// The mid-run event, once the written bytes reach TALVECO_FAULT_ACTION_AT.
void performAction() {
    Counters& c = counters();
    const long long at = setting("TALVECO_FAULT_ACTION_AT", -1);
    if (c.actionDone || at < 0 || c.bytesWritten < at) return;
    c.actionDone = true;
    const char* action = std::getenv("TALVECO_FAULT_ACTION");
    const std::string text = action != nullptr ? action : "";
    if (text.rfind("move:", 0) == 0) {
        const auto colon = text.find(':', 5);
        const std::string from = text.substr(5, colon - 5);
        const std::string to = text.substr(colon + 1);
        static const auto realRename = nextDefinition<RenameFn>("rename");
        if (realRename(from.c_str(), to.c_str()) != 0) std::perror("fault shim: move");
    } else if (text.rfind("lock:", 0) == 0) {
        if (::chmod(text.c_str() + 5, 0555) != 0) std::perror("fault shim: lock");
    }
}

// Applies the write limit to one write of `count` bytes; `put` writes as many
// of them as it is given for real.
template <typename Put>
ssize_t limitedWrite(int fd, size_t count, Put put) {
    if (fd == STDERR_FILENO || !isRegularFile(fd)) return put(count);
    Counters& c = counters();
    const long long failAt = setting("TALVECO_FAULT_WRITE_FAIL_AT", -1);
    if (failAt >= 0) {
        const long long room = failAt - c.bytesWritten;
        if (room <= 0 && count > 0) {
            errno = static_cast<int>(setting("TALVECO_FAULT_WRITE_ERRNO", ENOSPC));
            return -1;
        }
        count = std::min(count, static_cast<size_t>(std::max(room, 0LL)));
    }
    const ssize_t stored = put(count);
    if (stored > 0) {
        c.bytesWritten += stored;
        markWritten(fd, true);
        performAction();
    }
    return stored;
}

}  // namespace

extern "C" {

int open(const char* path, int flags, ...) {
    using OpenFn = int (*)(const char*, int, ...);
    static const auto realOpen = nextDefinition<OpenFn>("open");
    static bool said = false;
    mode_t mode = 0;
    if ((flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE) {
        va_list arguments;
        va_start(arguments, flags);
        mode = static_cast<mode_t>(va_arg(arguments, int));
        va_end(arguments);
    }
    if ((flags & O_TMPFILE) == O_TMPFILE && setting("TALVECO_FAULT_NO_TMPFILE", 0) != 0) {
        if (!said) std::fputs("fault shim: no O_TMPFILE\n", stderr);
        said = true;
        errno = EOPNOTSUPP;
        return -1;
    }
    return realOpen(path, flags, mode);
}

ssize_t read(int fd, void* buffer, size_t count) {
    static const auto realRead = nextDefinition<ReadFn>("read");
    const long long failAt = setting("TALVECO_FAULT_READ_FAIL_AT", -1);
    if (failAt < 0 || !isRegularFile(fd)) return realRead(fd, buffer, count);
    Counters& c = counters();
    if (c.bytesRead >= failAt && count > 0) {
        errno = static_cast<int>(setting("TALVECO_FAULT_READ_ERRNO", EIO));
        return -1;
    }
    const ssize_t got =
        realRead(fd, buffer, std::min(count, static_cast<size_t>(failAt - c.bytesRead)));
    if (got > 0) c.bytesRead += got;
    return got;
}

ssize_t write(int fd, const void* buffer, size_t count) {
    static const auto realWrite = nextDefinition<WriteFn>("write");
    return limitedWrite(fd, count, [&](size_t n) { return realWrite(fd, buffer, n); });
}

ssize_t pwrite(int fd, const void* buffer, size_t count, off_t offset) {
    static const auto realPwrite = nextDefinition<PwriteFn>("pwrite");
    return limitedWrite(fd, count, [&](size_t n) { return realPwrite(fd, buffer, n, offset); });
}

ssize_t pwrite64(int fd, const void* buffer, size_t count, off_t offset) {
    return pwrite(fd, buffer, count, offset);
}

int rename(const char* from, const char* to) {
    static const auto realRename = nextDefinition<RenameFn>("rename");
    const long long error = setting("TALVECO_FAULT_RENAME_ERRNO", 0);
    if (error != 0) {
        errno = static_cast<int>(error);
        return -1;
    }
    return realRename(from, to);
}

int close(int fd) {
    static const auto realClose = nextDefinition<CloseFn>("close");
    const bool written = wasWritten(fd);
    markWritten(fd, false);
    const int result = realClose(fd);
    const long long error = setting("TALVECO_FAULT_CLOSE_ERRNO", 0);
    if (result == 0 && written && error != 0) {
        errno = static_cast<int>(error);
        return -1;
    }
    return result;
}

}  // extern "C"
