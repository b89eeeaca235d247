#pragma once

#include <chrono>
#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>
#include <string>

/// Where the frames come from: a V4L2 camera, or a video file / image sequence played in a loop
/// at its own frame rate. Used only by the capture thread.
///
/// A source whose pictures are smaller than kMinSide or larger than kMaxSide on a side is
/// refused: the tracker cannot work on a sliver, and a huge picture would take hundreds of
/// megabytes per copy. A file that ends after its first picture (a single PNG or JPEG, a
/// one-frame clip) is a still: that picture is given again at the frame rate, as a camera
/// looking at a still scene would, instead of reopening the file for every frame.
class FrameSource {
  public:
    static constexpr int kMinSide = 32;
    static constexpr int kMaxSide = 4096;

    struct Options {
        /// Device path ("/dev/video0"), a video file, or an image sequence pattern
        /// ("frames/img_%05d.png"): a name with '%' that is not an existing file. Empty: the
        /// first camera.
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
    bool isOpen() const { return _still || _capture.isOpened(); }
    void close() {
        _capture.release();
        _still = false;
    }

    /// Reads the next frame, pacing files at their frame rate (a camera paces itself). A file
    /// starts over at its end. Returns false when the source failed (unplugged, unreadable).
    bool read(cv::Mat& frame);

    bool isCamera() const { return _camera; }
    /// Whether the source turned out to hold a single picture (known after its second read).
    bool isStill() const { return _still; }
    double fps() const { return _fps; }
    /// The source's frame size once open.
    cv::Size size() const { return _size; }
    const std::string& description() const { return _description; }

  private:
    bool rewind();

    Options _options;
    cv::VideoCapture _capture;
    bool _camera = false;
    bool _sequence = false;
    bool _still = false;
    int _readSinceStart = 0;  ///< pictures read since the file was (re)started
    cv::Mat _first;           ///< the first picture since the start, kept to tell a still
    double _fps = 30.0;
    cv::Size _size;
    std::string _description;
    std::chrono::steady_clock::time_point _nextFrame;
};
