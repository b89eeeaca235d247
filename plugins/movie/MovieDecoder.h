#pragma once

#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>
#include <string>

/// Reads a movie file picture by picture through OpenCV's FFmpeg back end. Every picture comes
/// out as 8-bit BGR, top row first, at the size of the movie's first picture.
///
/// Not thread safe: one thread at a time uses a decoder.
class MovieDecoder {
  public:
    /// Largest picture side played: 4K movies (4096x2160) are, anything larger is refused.
    static constexpr int kMaxSide = 4096;
    /// Frame rate assumed when the file does not state a usable one.
    static constexpr double kFallbackFramesPerSecond = 25.0;

    /// Opens `path` and decodes its first picture into `first`. False, with the reason in
    /// `why`, when FFmpeg cannot open the file, its pictures are larger than kMaxSide on a side
    /// or it holds no picture.
    bool open(const std::string& path, cv::Mat& first, std::string* why);

    /// The next picture into `picture`; false at the end of the movie.
    bool read(cv::Mat& picture);

    /// Goes back to the start: the next `read` gives the first picture again.
    bool restart();

    const std::string& path() const { return _path; }
    cv::Size size() const { return _size; }
    double framesPerSecond() const { return _framesPerSecond; }

  private:
    /// Makes a decoded picture 3-channel BGR at `_size`, in place; false for pictures of
    /// another depth or channel count.
    bool normalise(cv::Mat& picture);

    std::string _path;
    cv::VideoCapture _capture;
    cv::Mat _scratch;  ///< conversion buffer, kept to spare an allocation per picture
    cv::Size _size;
    double _framesPerSecond = kFallbackFramesPerSecond;
};
