#include "platform/Console.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "platform/Failure.h"
#include "platform/Interrupts.h"

namespace talveco {

void Console::write(std::string_view text) {
    while (!text.empty()) {
        const ssize_t put = ::write(fd_, text.data(), text.size());
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return;  // nobody is listening any more
        text.remove_prefix(static_cast<std::size_t>(put));
    }
}

std::optional<unsigned> terminalColumns(int fd) {
    winsize size{};
    if (::isatty(fd) != 1 || ::ioctl(fd, TIOCGWINSZ, &size) != 0 || size.ws_col == 0) {
        return std::nullopt;
    }
    return size.ws_col;
}

void writeAll(int fd, std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const ssize_t put = ::write(fd, bytes.data(), bytes.size());
        if (put < 0 && errno == EINTR) continue;
        if (put < 0) throwErrno(errno);
        if (put == 0) throw Failure(FailureKind::DiskFull, ENOSPC);
        bytes = bytes.subspan(static_cast<std::size_t>(put));
    }
}

void ignoreFatalWriteSignals() {
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
}

void occupyStandardDescriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
        // open() takes the lowest free number, which is this one.
        const int opened = ::open("/dev/null", O_RDWR);
        if (opened < 0) return;  // nothing to hold the place with; go on regardless
        if (opened != fd) ::close(opened);
    }
}

std::vector<std::string> startProgram(int argc, char** argv) {
    occupyStandardDescriptors();
    ignoreFatalWriteSignals();
    installInterruptCleanup();
    return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

}  // namespace talveco
