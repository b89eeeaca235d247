#pragma once

// A file the harnesses write an input to, for the readers that take a path: one per process, in
// $TMPDIR (scripts/fuzz.sh gives each run a folder in memory and removes it after, as a crash
// leaves the file behind), kept open and rewritten in place (reopening it for every input costs
// more than the check under test), removed when the fuzzer ends.

#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <string>

namespace quorv::fuzz {

class ScratchFile {
  public:
    /// `suffix` ends the file's name, e.g. ".osg" for a reader that goes by the extension.
    explicit ScratchFile(const std::string& suffix)
        : path(folder() + "/quorv-fuzz-" + std::to_string(getpid()) + suffix),
          _fd(open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600)) {}
    ~ScratchFile() {
        close(_fd);
        unlink(path.c_str());
    }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    /// Makes `data` the whole of the file; false when it could not.
    bool write(const void* data, std::size_t size) {
        return _fd >= 0 && ftruncate(_fd, 0) == 0 &&
               pwrite(_fd, data, size, 0) == static_cast<ssize_t>(size);
    }

    const std::string path;

  private:
    /// $TMPDIR, else /dev/shm (in memory: a file on disk costs ten times as much), else /tmp.
    static std::string folder() {
        if (const char* tmp = std::getenv("TMPDIR")) return tmp;
        return access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    }

    const int _fd;
};

}  // namespace quorv::fuzz
