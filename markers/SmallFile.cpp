#include "SmallFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace quorv::markers {

int openRegularFile(const std::string& path, const std::string& kind, std::string* error) {
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer forever.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (error) *error = path + ": cannot open (" + std::strerror(errno) + ")";
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        if (error) *error = path + ": not a regular file, so not usable as " + kind;
        return -1;
    }
    // Reads of a regular file never block; clear the flag all the same.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

std::optional<std::string> readSmallFile(const std::string& path, long maxBytes,
                                         const std::string& kind, std::string* error) {
    const int fd = openRegularFile(path, kind, error);
    if (fd < 0) return std::nullopt;
    // One byte more than allowed tells an oversized file without reading all of it.
    std::string text(static_cast<size_t>(maxBytes) + 1, '\0');
    size_t got = 0;
    for (ssize_t n; got < text.size() && (n = ::read(fd, &text[got], text.size() - got)) != 0;) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            if (error) *error = path + ": cannot read (" + std::strerror(errno) + ")";
            return std::nullopt;
        }
        got += static_cast<size_t>(n);
    }
    ::close(fd);
    text.resize(got);
    if (static_cast<long>(text.size()) > maxBytes) {
        if (error) *error = path + ": too large for " + kind;
        return std::nullopt;
    }
    return text;
}

}  // namespace quorv::markers
