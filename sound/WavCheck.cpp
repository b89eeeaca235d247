#include "WavCheck.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>

namespace quorv::sound {
namespace {

/// Copies up to `n` bytes at `offset` into `out`; how many it copied.
using ReadAt = std::function<size_t(uint64_t offset, unsigned char* out, size_t n)>;

uint32_t le32(const unsigned char* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint16_t le16(const unsigned char* p) { return uint16_t(p[0] | p[1] << 8); }

bool refuse(std::string* reason, const std::string& why) {
    if (reason) *reason = why;
    return false;
}

std::string hex4(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04x", value);
    return text;
}

/// Why SDL 1.2 cannot read samples of this format tag and width; empty when it can.
std::string unreadableFormat(unsigned tag, unsigned bits) {
    switch (tag) {
        case 1:
            return bits == 8 || bits == 16 ? "" : std::to_string(bits) + "-bit PCM samples";
        case 2:
        case 0x11:
            return bits == 4 ? "" : std::to_string(bits) + "-bit ADPCM samples";
        case 3:
            return std::to_string(bits) + "-bit floating-point samples";
        case 6:
            return "A-law samples";
        case 7:
            return "mu-law samples";
        case 0xFFFE:
            return "a WAVE_FORMAT_EXTENSIBLE header";
        default:
            return "sample format " + hex4(tag);
    }
}

bool check(const ReadAt& readAt, uint64_t total, std::string* reason) {
    unsigned char head[12];
    if (total < 12 || readAt(0, head, 12) != 12 || std::memcmp(head, "RIFF", 4) != 0 ||
        std::memcmp(head + 8, "WAVE", 4) != 0)
        return refuse(reason, "not a WAV file (no RIFF WAVE header)");
    unsigned char fmt[16] = {};
    bool haveFormat = false;
    // The chunks are walked as SDL's reader walks them, since it is SDL that reads the file
    // afterwards: back to back (no pad byte after an odd length), only "fact" and "LIST"
    // chunks before the format, the first format chunk the one that counts.
    for (uint64_t at = 12; at + 8 <= total;) {
        unsigned char chunk[8];
        if (readAt(at, chunk, 8) != 8) break;
        const uint64_t length = le32(chunk + 4), body = at + 8;
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            if (!haveFormat && (length < 16 || readAt(body, fmt, 16) != 16))
                return refuse(reason, "its format chunk is cut short");
            haveFormat = true;
        } else if (!haveFormat && std::memcmp(chunk, "fact", 4) != 0 &&
                   std::memcmp(chunk, "LIST", 4) != 0) {
            return refuse(reason, "its format chunk does not come first (SDL reads no other)");
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (!haveFormat) return refuse(reason, "its sound data comes before its format");
            const unsigned tag = le16(fmt), channels = le16(fmt + 2), bits = le16(fmt + 14);
            const unsigned rate = le32(fmt + 4), blockAlign = le16(fmt + 12);
            const std::string unreadable = unreadableFormat(tag, bits);
            if (!unreadable.empty())
                return refuse(reason, unreadable + ": SDL_mixer plays 8- or 16-bit PCM and ADPCM");
            if (channels != 1 && channels != 2 && channels != 4 && channels != 6)
                return refuse(reason,
                              std::to_string(channels) + " channels (1, 2, 4 or 6 can be played)");
            if (rate < 2000 || rate > 192000)
                return refuse(reason, std::to_string(rate) +
                                          " samples a second (2000 to 192000 can be played)");
            if (tag != 1 && blockAlign == 0) return refuse(reason, "its block size is 0");
            // SDL takes memory for as many bytes as the chunk claims, whether or not the file
            // holds them (it then refuses a cut file).
            const uint64_t bytes = length;
            const double frames =
                tag == 1 ? double(bytes) / (channels * bits / 8) : bytes * 2.0 / channels;
            const double mixerBytes = frames / rate * kMixerBytesPerSecond;
            if (mixerBytes > double(kMaxMixerBytes))
                return refuse(reason, "it would take " + std::to_string(long(mixerBytes) >> 20) +
                                          " MiB to play, more than the limit of " +
                                          std::to_string(kMaxMixerBytes >> 20) +
                                          " MiB (about 12 minutes)");
            return true;
        }
        at = body + length;
    }
    return refuse(reason, haveFormat ? "it holds no sound data" : "it has no format chunk");
}

}  // namespace

bool checkWav(const unsigned char* data, size_t size, std::string* reason) {
    const ReadAt readAt = [&](uint64_t offset, unsigned char* out, size_t n) -> size_t {
        if (offset >= size) return 0;
        n = std::min<uint64_t>(n, size - offset);
        std::memcpy(out, data + offset, n);
        return n;
    };
    return check(readAt, size, reason);
}

bool checkWav(const std::string& path, std::string* reason) {
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer forever.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return refuse(reason, path + ": cannot open (" + std::strerror(errno) + ")");
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return refuse(reason, path + ": not a regular file");
    }
    const ReadAt readAt = [fd](uint64_t offset, unsigned char* out, size_t n) -> size_t {
        const ssize_t got = ::pread(fd, out, n, static_cast<off_t>(offset));
        return got < 0 ? 0 : static_cast<size_t>(got);
    };
    std::string why;
    const bool ok = check(readAt, static_cast<uint64_t>(st.st_size), &why);
    ::close(fd);
    return ok || refuse(reason, path + ": " + why);
}

}  // namespace quorv::sound
