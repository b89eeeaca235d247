#pragma once

#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

#include <chrono>
#include <string>

/// Where the frames come from: a V4L2 camera, or a video file / image sequence played in a loop
/// at its own frame rate. Used only by the capture thread.
class FrameSource {
public:
    struct Options {
        /// Device path ("/dev/video0"), a video file, or an image sequence pattern
        /// ("frames/img_%05d.png"). Empty: the first camera.
        std::string location;
        /// Size asked of a camera. Files keep their own size (frames are scaled to the video's
        /// size by the caller when they differ).
        int width = 640;
        int height = 480;
        /// Frame rate for image sequences and files that do not state one.
        double fallbackFps = 30.0;
    };

    explicit FrameSource(Options options);

    /// Opens the source; false when it is not there or not readable.
    bool open(std::string* why);
    bool isOpen() const { return _capture.isOpened(); }
    void close() { _capture.release(); }

    /// Reads the next frame, pacing files at their frame rate (a camera paces itself). A file
    /// starts over at its end. Returns false when the source failed (unplugged, unreadable).
    bool read(cv::Mat& frame);

    bool isCamera() const { return _camera; }
    double fps() const { return _fps; }
    /// The source's frame size once open.
    cv::Size size() const { return _size; }
    const std::string& description() const { return _description; }

private:
    bool rewind();

    Options _options;
    cv::VideoCapture _capture;
    bool _camera = false;
    double _fps = 30.0;
    cv::Size _size;
    std::string _description;
    std::chrono::steady_clock::time_point _nextFrame;
};
