#include "cli/work_list.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

#include "image/exceptions.hpp"
#include "image/stream.hpp"

namespace tamberlit {

void ReadWorkList(const std::string& path, TEntrySeparator separator, const std::function<void(std::string&&)>& take) {
    const bool standardInput = path == "-";
    // A FIFO or a terminal is a list too: standard input is one.
    const int fd = standardInput ? STDIN_FILENO : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw EFOpenError("Cannot open file \"" + AbsolutePath(path) + "\". " + SystemErrorText(errno));
    const char end = separator == TEntrySeparator::Nul ? '\0' : '\n';
    std::string entry;
    char buffer[1 << 16];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            const int error = errno;
            if (!standardInput) ::close(fd);
            throw EReadError("Cannot read file \"" + AbsolutePath(path) + "\". " + SystemErrorText(error));
        }
        if (got == 0) break;
        std::string_view block(buffer, static_cast<size_t>(got));
        for (size_t separatorAt; (separatorAt = block.find(end)) != std::string_view::npos;) {
            entry.append(block.substr(0, separatorAt));
            if (!entry.empty()) take(std::move(entry));
            entry.clear();
            block.remove_prefix(separatorAt + 1);
        }
        entry.append(block);
    }
    if (!standardInput) ::close(fd);
    if (!entry.empty()) take(std::move(entry));
}

}  // namespace tamberlit
