#include "FrameSource.h"

#include <sys/stat.h>

#include <cctype>
#include <thread>

namespace {

bool isCharacterDevice(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
}

bool isRegularFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

FrameSource::FrameSource(Options options) : _options(std::move(options)) {}

bool FrameSource::open(std::string* why) {
    _capture.release();
    _still = false;
    _readSinceStart = 0;
    const std::string& where = _options.location;
    _camera = where.empty() || where.rfind("/dev/", 0) == 0 || isCharacterDevice(where);
    if (_camera) {
        const std::string device = where.empty() ? std::string("/dev/video0") : where;
        _description = "camera " + device;
        if (!isCharacterDevice(device)) {
            if (why) *why = "no camera at " + device;
            return false;
        }
        if (!_capture.open(device, cv::CAP_V4L2)) {
            if (why) *why = "cannot open camera " + device;
            return false;
        }
        _capture.set(cv::CAP_PROP_FRAME_WIDTH, _options.width);
        _capture.set(cv::CAP_PROP_FRAME_HEIGHT, _options.height);
        // One buffered frame at most: the newest picture, not a queue of old ones.
        _capture.set(cv::CAP_PROP_BUFFERSIZE, 1);
    } else {
        _description = "video file " + where;
        // A '%' names an image sequence, unless a file of that very name exists.
        _sequence = where.find('%') != std::string::npos && !isRegularFile(where);
        const bool opened =
            _sequence ? _capture.open(where, cv::CAP_IMAGES) : _capture.open(where, cv::CAP_FFMPEG);
        if (!opened) {
            if (why) *why = "cannot read " + where;
            return false;
        }
    }
    // Image sequences have no frame rate of their own (the reader reports 1).
    _fps = (_camera || _sequence) ? 0.0 : _capture.get(cv::CAP_PROP_FPS);
    if (!(_fps > 0.5 && _fps < 1000.0)) _fps = _options.fallbackFps;
    _size = cv::Size(static_cast<int>(_capture.get(cv::CAP_PROP_FRAME_WIDTH)),
                     static_cast<int>(_capture.get(cv::CAP_PROP_FRAME_HEIGHT)));
    // The size is known from the header, before a picture is decoded.
    if (_size.width > kMaxSide || _size.height > kMaxSide ||
        (_size.area() > 0 && (_size.width < kMinSide || _size.height < kMinSide))) {
        if (why)
            *why = _description + ": pictures of " + std::to_string(_size.width) + "x" +
                   std::to_string(_size.height) + " are refused (" + std::to_string(kMinSide) +
                   " to " + std::to_string(kMaxSide) + " pixels a side)";
        _capture.release();
        return false;
    }
    _nextFrame = std::chrono::steady_clock::now();
    return true;
}

bool FrameSource::rewind() {
    _readSinceStart = 0;
    if (_sequence || !_capture.set(cv::CAP_PROP_POS_FRAMES, 0)) {
        // Image sequences (and files that cannot seek) are simply opened again.
        std::string why;
        return open(&why);
    }
    return true;
}

bool FrameSource::read(cv::Mat& frame) {
    if (!isOpen()) return false;
    if (!_camera) {
        // Files play at their own rate: wait for this frame's slot, and drop the backlog if we
        // fell behind rather than hurrying through old frames.
        const auto now = std::chrono::steady_clock::now();
        if (_nextFrame > now) std::this_thread::sleep_until(_nextFrame);
        const auto period = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
            std::chrono::duration<double>(1.0 / _fps));
        _nextFrame = std::max(_nextFrame + period, now);
    }
    if (_still) {
        _first.copyTo(frame);
        return true;
    }
    if (_capture.read(frame) && !frame.empty()) {
        if (!_camera && ++_readSinceStart == 1) frame.copyTo(_first);
        return true;
    }
    if (_camera) return false;
    if (_readSinceStart == 1) {
        // It ended after one picture. If it opens again and gives that picture, it is a still,
        // shown from now on without touching the file; if not, it has gone away.
        std::string why;
        if (!open(&why) || !_capture.read(frame) || frame.empty()) return false;
        _still = true;
        _capture.release();
        frame.copyTo(_first);
        return true;
    }
    // End of file: start over. A file that gives no frame even from its start has failed.
    if (!rewind() || !_capture.read(frame) || frame.empty()) return false;
    _readSinceStart = 1;
    frame.copyTo(_first);
    return true;
}
