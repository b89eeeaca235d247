#include "PatternSampler.h"

#include <algorithm>
#include <cmath>
#include <opencv2/imgproc.hpp>

namespace quorv {
namespace {

/// Weights (kPatternSize × pixels) giving each cell's share of every pixel along one axis when the
/// region [from, to] (continuous coordinates, pixel edges at half integers) is cut in 16 equal
/// cells. Each row sums to one.
cv::Mat cellWeights(int pixels, double from, double to) {
    const int n = markers::kPatternSize;
    cv::Mat weights(n, pixels, CV_64F, cv::Scalar(0));
    const double cell = (to - from) / n;
    for (int i = 0; i < n; ++i) {
        const double a = from + i * cell, b = a + cell;
        const int p0 = std::max(0, static_cast<int>(std::floor(a + 0.5)));
        const int p1 = std::min(pixels - 1, static_cast<int>(std::floor(b + 0.5)));
        for (int p = p0; p <= p1; ++p) {
            const double overlap = std::min(b, p + 0.5) - std::max(a, p - 0.5);
            if (overlap > 0) weights.at<double>(i, p) = overlap / cell;
        }
    }
    return weights;
}

}  // namespace

PatternSampler::PatternSampler() : _options() {}

markers::PatternImage PatternSampler::sample(const cv::Mat& image) const {
    cv::Mat bgr;
    if (image.channels() == 1)
        cv::cvtColor(image, bgr, cv::COLOR_GRAY2BGR);
    else if (image.channels() == 4)
        cv::cvtColor(image, bgr, cv::COLOR_BGRA2BGR);
    else
        bgr = image;
    const bool whole = _options.region == Options::Region::WholeMarker;
    // The image spans [−0.5, size − 0.5]; the pattern area is its central half for a whole marker.
    auto region = [whole](int size) {
        return whole ? std::array<double, 2>{size * 0.25 - 0.5, size * 0.75 - 0.5}
                     : std::array<double, 2>{-0.5, size - 0.5};
    };
    const auto rx = region(bgr.cols), ry = region(bgr.rows);
    const cv::Mat wx = cellWeights(bgr.cols, rx[0], rx[1]);
    const cv::Mat wy = cellWeights(bgr.rows, ry[0], ry[1]);

    std::vector<cv::Mat> planes;
    cv::split(bgr, planes);
    markers::PatternImage out;
    for (int c = 0; c < markers::kPatternPlanes; ++c) {
        cv::Mat plane;
        planes[c].convertTo(plane, CV_64F);
        const cv::Mat cells = wy * plane * wx.t();
        for (int r = 0; r < markers::kPatternSize; ++r)
            for (int col = 0; col < markers::kPatternSize; ++col)
                out.at(c, r, col) = cv::saturate_cast<uchar>(std::lround(cells.at<double>(r, col)));
    }
    return out;
}

}  // namespace quorv
