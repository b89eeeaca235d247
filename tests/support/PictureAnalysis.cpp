#include "PictureAnalysis.h"

#include <cmath>
#include <opencv2/imgproc.hpp>
#include <vector>

namespace quorvtest {
namespace {

/// The largest 8-connected region of a mask.
cv::Mat largestRegion(const cv::Mat& mask) {
    cv::Mat labels, stats, centres;
    const int count = cv::connectedComponentsWithStats(mask, labels, stats, centres, 8, CV_32S);
    int best = 0;
    for (int label = 1; label < count; ++label)
        if (!best || stats.at<int>(label, cv::CC_STAT_AREA) > stats.at<int>(best, cv::CC_STAT_AREA))
            best = label;
    return best ? cv::Mat(labels == best) : cv::Mat::zeros(mask.size(), CV_8U);
}

/// Points where a side of `region` from `from` to `to` crosses from set to unset pixels: one a
/// column (or a row, for steep sides), halfway between the last pixel in and the first out.
std::vector<cv::Point2f> sideCrossings(const cv::Mat& region, cv::Point2d from, cv::Point2d to) {
    const bool steep = std::abs(to.y - from.y) > std::abs(to.x - from.x);
    if (steep) {
        std::swap(from.x, from.y);
        std::swap(to.x, to.y);
    }
    if (from.x > to.x) std::swap(from, to);
    // Stay clear of the corners, where the neighbouring side interferes.
    const double margin = 4.0 + 0.1 * (to.x - from.x);
    const int along = steep ? region.rows : region.cols;
    const int across = steep ? region.cols : region.rows;
    auto set = [&](int a, int c) {
        return steep ? region.at<uchar>(a, c) != 0 : region.at<uchar>(c, a) != 0;
    };

    std::vector<cv::Point2f> crossings;
    for (int a = static_cast<int>(std::ceil(from.x + margin)); a <= to.x - margin; ++a) {
        if (a < 0 || a >= along) continue;
        const double expected = from.y + (to.y - from.y) * (a - from.x) / (to.x - from.x);
        // The crossing nearest to the rough side, within a few pixels of it.
        double best = -1.0, bestDistance = 1e9;
        for (int c = static_cast<int>(std::floor(expected)) - 4; c <= expected + 4; ++c) {
            if (c < 0 || c + 1 >= across || set(a, c) == set(a, c + 1)) continue;
            const double distance = std::abs(c + 0.5 - expected);
            if (distance < bestDistance) {
                bestDistance = distance;
                best = c + 0.5;
            }
        }
        if (best < 0.0) continue;
        crossings.push_back(steep ? cv::Point2f(float(best), float(a))
                                  : cv::Point2f(float(a), float(best)));
    }
    return crossings;
}

}  // namespace

cv::Mat drawnOver(const cv::Mat& picture, const cv::Mat& frame, int threshold) {
    cv::Mat difference;
    cv::absdiff(picture, frame, difference);
    std::vector<cv::Mat> channels;
    cv::split(difference, channels);
    cv::Mat largest = cv::max(cv::max(channels[0], channels[1]), channels[2]);
    return largest > threshold;
}

cv::Mat pixelsWhere(const cv::Mat& picture, const std::function<bool(const cv::Vec3b&)>& wanted) {
    cv::Mat mask(picture.size(), CV_8U, cv::Scalar(0));
    for (int y = 0; y < picture.rows; ++y)
        for (int x = 0; x < picture.cols; ++x)
            if (wanted(picture.at<cv::Vec3b>(y, x))) mask.at<uchar>(y, x) = 255;
    return mask;
}

cv::Mat grown(const cv::Mat& mask, int pixels) {
    if (pixels == 0) return mask.clone();
    const int r = std::abs(pixels);
    const cv::Mat disc =
        cv::getStructuringElement(cv::MORPH_ELLIPSE, cv::Size(2 * r + 1, 2 * r + 1));
    cv::Mat out;
    if (pixels > 0)
        cv::dilate(mask, out, disc);
    else
        cv::erode(mask, out, disc, cv::Point(-1, -1), 1, cv::BORDER_CONSTANT, cv::Scalar(0));
    return out;
}

double shareInside(const cv::Mat& part, const cv::Mat& whole) {
    const int total = cv::countNonZero(part);
    if (total == 0) return 1.0;
    cv::Mat both;
    cv::bitwise_and(part, whole, both);
    return double(cv::countNonZero(both)) / total;
}

cv::Point2d centroid(const cv::Mat& mask) {
    const cv::Moments m = cv::moments(mask, true);
    if (m.m00 == 0.0) return {-1.0, -1.0};
    return {m.m10 / m.m00, m.m01 / m.m00};
}

std::optional<std::array<cv::Point2d, 4>> quadCorners(const cv::Mat& mask) {
    const cv::Mat region = largestRegion(mask);
    std::vector<std::vector<cv::Point>> contours;
    cv::findContours(region.clone(), contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_NONE);
    if (contours.empty()) return std::nullopt;
    const std::vector<cv::Point>& outline = contours.front();

    std::vector<cv::Point> rough;
    const double perimeter = cv::arcLength(outline, true);
    for (double tolerance = 0.01; tolerance <= 0.05 && rough.size() != 4; tolerance += 0.01)
        cv::approxPolyDP(outline, rough, tolerance * perimeter, true);
    if (rough.size() != 4) return std::nullopt;

    // Each side as a line: a point and a unit direction.
    std::array<cv::Vec4f, 4> sides;
    for (size_t i = 0; i < 4; ++i) {
        const std::vector<cv::Point2f> crossings =
            sideCrossings(region, rough[i], rough[(i + 1) % 4]);
        if (crossings.size() < 8) return std::nullopt;
        cv::fitLine(crossings, sides[i], cv::DIST_L2, 0, 0.01, 0.01);
    }
    std::array<cv::Point2d, 4> corners;
    for (size_t i = 0; i < 4; ++i) {
        const cv::Vec4f& a = sides[(i + 3) % 4];
        const cv::Vec4f& b = sides[i];
        // a.p + s·a.d = b.p + t·b.d
        const double det = a[0] * -b[1] - a[1] * -b[0];
        if (std::abs(det) < 1e-6) return std::nullopt;
        const double dx = b[2] - a[2], dy = b[3] - a[3];
        const double s = (dx * -b[1] - dy * -b[0]) / det;
        corners[i] = {a[2] + s * a[0], a[3] + s * a[1]};
    }
    return corners;
}

}  // namespace quorvtest
