#include "MovieDecoder.h"

#include <cmath>
#include <opencv2/imgproc.hpp>
#include <utility>

bool MovieDecoder::open(const std::string& path, cv::Mat& first, std::string* why) {
    _path = path;
    if (!_capture.open(path, cv::CAP_FFMPEG)) {
        if (why) *why = "FFmpeg cannot open " + path + " as a movie";
        return false;
    }
    // Refused before a picture is decoded: one 8192x8192 picture alone takes 200 MB.
    const int width = static_cast<int>(_capture.get(cv::CAP_PROP_FRAME_WIDTH));
    const int height = static_cast<int>(_capture.get(cv::CAP_PROP_FRAME_HEIGHT));
    if (width > kMaxSide || height > kMaxSide) {
        if (why)
            *why = path + ": pictures of " + std::to_string(width) + "x" + std::to_string(height) +
                   " are larger than " + std::to_string(kMaxSide) + "x" + std::to_string(kMaxSide);
        _capture.release();
        return false;
    }
    // The first picture sets the size; later ones are scaled to it should the stream change.
    if (!_capture.read(first) || first.empty()) {
        if (why) *why = path + " holds no picture FFmpeg can decode";
        _capture.release();
        return false;
    }
    _size = first.size();
    if (!normalise(first)) {
        if (why) *why = path + ": pictures of an unsupported pixel layout";
        _capture.release();
        return false;
    }
    const double rate = _capture.get(cv::CAP_PROP_FPS);
    _framesPerSecond =
        std::isfinite(rate) && rate >= 1.0 && rate <= 240.0 ? rate : kFallbackFramesPerSecond;
    return true;
}

bool MovieDecoder::read(cv::Mat& picture) {
    if (!_capture.isOpened() || !_capture.read(picture) || picture.empty()) return false;
    return normalise(picture);
}

bool MovieDecoder::restart() {
    // Reopening is the one way back to the first picture that every container honours exactly;
    // seeking to frame 0 can land on a later picture in MPEG program streams.
    return _capture.open(_path, cv::CAP_FFMPEG);
}

bool MovieDecoder::normalise(cv::Mat& picture) {
    if (picture.depth() != CV_8U) return false;
    if (picture.channels() == 1) {
        cv::cvtColor(picture, _scratch, cv::COLOR_GRAY2BGR);
        std::swap(picture, _scratch);
    } else if (picture.channels() == 4) {
        cv::cvtColor(picture, _scratch, cv::COLOR_BGRA2BGR);
        std::swap(picture, _scratch);
    } else if (picture.channels() != 3) {
        return false;
    }
    if (picture.size() != _size) {
        cv::resize(picture, _scratch, _size, 0, 0, cv::INTER_AREA);
        std::swap(picture, _scratch);
    }
    if (!picture.isContinuous()) picture = picture.clone();
    return true;
}
