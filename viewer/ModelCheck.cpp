#include "ModelCheck.h"

#include <SmallFile.h>
#include <unistd.h>

#include <cerrno>
#include <osgDB/FileNameUtils>

namespace quorv::viewer {
namespace {

bool refuse(std::string* reason, const std::string& why) {
    if (reason) *reason = why;
    return false;
}

/// The brace count of a .osg text read in pieces: the state carried from one piece to the next.
struct DepthCounter {
    int depth = 0;
    bool quoted = false, escaped = false;

    /// Counts one piece; false once the nesting passes `limit`.
    bool add(const char* data, size_t size, int limit) {
        for (size_t i = 0; i < size; ++i) {
            const char c = data[i];
            if (quoted) {
                if (escaped)
                    escaped = false;
                else if (c == '\\')
                    escaped = true;
                else if (c == '"')
                    quoted = false;
            } else if (c == '"') {
                quoted = true;
            } else if (c == '{') {
                if (++depth > limit) return false;
            } else if (c == '}' && depth > 0) {
                --depth;
            }
        }
        return true;
    }
};

std::string tooDeep(int limit) {
    return "nested more than " + std::to_string(limit) + " levels deep (the limit for a model)";
}

/// Reads the open file `fd` to its end in blocks, giving each to `piece`, which may stop the
/// reading by returning false. False when reading failed.
template <class Piece>
bool readBlocks(int fd, Piece piece) {
    char block[1 << 16];
    for (ssize_t n; (n = ::read(fd, block, sizeof block)) != 0;) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (!piece(block, static_cast<size_t>(n))) break;
    }
    return true;
}

}  // namespace

bool checkModelDepth(const char* data, size_t size, int limit, std::string* reason) {
    return DepthCounter().add(data, size, limit) || refuse(reason, tooDeep(limit));
}

bool checkModelDepth(const std::string& path, int limit, std::string* reason) {
    std::string why;
    const int fd = quorv::markers::openRegularFile(path, "a model", &why);
    if (fd < 0) return refuse(reason, why);
    DepthCounter counter;
    bool deep = false;
    const bool read = readBlocks(
        fd, [&](const char* data, size_t n) { return !(deep = !counter.add(data, n, limit)); });
    ::close(fd);
    if (!read) return refuse(reason, path + ": cannot read");
    return !deep || refuse(reason, path + ": " + tooDeep(limit));
}

bool checkModelFile(const std::string& path, std::string* reason) {
    const int fd = quorv::markers::openRegularFile(path, "a model", reason);
    if (fd < 0) return false;
    unsigned char head[2] = {0, 0};
    const ssize_t got = ::read(fd, head, 2);
    ::close(fd);
    if (got < 2) return refuse(reason, path + ": empty");
    const std::string extension = osgDB::getLowerCaseFileExtension(path);
    if (extension == "3ds" && (head[0] != 0x4D || head[1] != 0x4D))
        return refuse(reason, path + ": not a 3DS file (no main chunk)");
    if (extension == "osg" || extension == "osgt")
        return checkModelDepth(path, kMaxModelDepth, reason);
    return true;
}

}  // namespace quorv::viewer
