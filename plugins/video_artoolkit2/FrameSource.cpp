#include "FrameSource.h"

#include <sys/stat.h>

#include <cctype>
#include <thread>

namespace {

bool isCharacterDevice(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
}

}  // namespace

FrameSource::FrameSource(Options options) : _options(std::move(options)) {}

bool FrameSource::open(std::string* why) {
    _capture.release();
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
        const bool opened = where.find('%') != std::string::npos ? _capture.open(where, cv::CAP_IMAGES)
                                     : _capture.open(where, cv::CAP_FFMPEG);
        if (!opened) {
            if (why) *why = "cannot read " + where;
            return false;
        }
    }
    // Image sequences have no frame rate of their own (the reader reports 1).
    const bool sequence = where.find('%') != std::string::npos;
    _fps = (_camera || sequence) ? 0.0 : _capture.get(cv::CAP_PROP_FPS);
    if (!(_fps > 0.5 && _fps < 1000.0)) _fps = _options.fallbackFps;
    _size = cv::Size(static_cast<int>(_capture.get(cv::CAP_PROP_FRAME_WIDTH)),
                     static_cast<int>(_capture.get(cv::CAP_PROP_FRAME_HEIGHT)));
    _nextFrame = std::chrono::steady_clock::now();
    return true;
}

bool FrameSource::rewind() {
    if (_options.location.find('%') != std::string::npos || !_capture.set(cv::CAP_PROP_POS_FRAMES, 0)) {
        // Image sequences (and files that cannot seek) are simply opened again.
        std::string why;
        return open(&why);
    }
    return true;
}

bool FrameSource::read(cv::Mat& frame) {
    if (!_capture.isOpened()) return false;
    if (!_camera) {
        // Files play at their own rate: wait for this frame's slot, and drop the backlog if we
        // fell behind rather than hurrying through old frames.
        const auto now = std::chrono::steady_clock::now();
        if (_nextFrame > now) std::this_thread::sleep_until(_nextFrame);
        const auto period = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
            std::chrono::duration<double>(1.0 / _fps));
        _nextFrame = std::max(_nextFrame + period, now);
    }
    if (_capture.read(frame) && !frame.empty()) return true;
    if (_camera) return false;
    // End of file: start over. A file that gives no frame even from its start has failed.
    return rewind() && _capture.read(frame) && !frame.empty();
}
