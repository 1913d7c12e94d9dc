#include "platform/Console.h"

#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace talveco {

void Console::write(std::string_view text) {
    while (!text.empty()) {
        const ssize_t put = ::write(fd_, text.data(), text.size());
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return;  // nobody is listening any more
        text.remove_prefix(static_cast<std::size_t>(put));
    }
}

void Console::line(std::string_view text) {
    write(text);
    endLine();
}

void ignoreFatalWriteSignals() {
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
}

}  // namespace talveco
