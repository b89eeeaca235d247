#include "PatternMatcher.h"

#include <algorithm>
#include <cmath>
#include <opencv2/imgproc.hpp>

namespace quorv::markers {
namespace {

constexpr int kCells = kPatternSize * kPatternSize;

/// Removes the mean and scales to unit length; returns the length before scaling.
template <size_t N>
double normalise(std::array<float, N>& v) {
    double mean = 0;
    for (float x : v) mean += x;
    mean /= N;
    double sum = 0;
    for (float& x : v) {
        x = static_cast<float>(x - mean);
        sum += double(x) * x;
    }
    const double length = std::sqrt(sum);
    if (length > 0)
        for (float& x : v) x = static_cast<float>(x / length);
    return length;
}

std::array<float, kCells> greyOf(const PatternImage& image) {
    std::array<float, kCells> grey;
    for (int i = 0; i < kCells; ++i)
        grey[i] =
            (float(image.values[i]) + image.values[kCells + i] + image.values[2 * kCells + i]) /
            3.0f;
    return grey;
}

template <size_t N>
float dot(const std::array<float, N>& a, const std::array<float, N>& b) {
    float s = 0;
    for (size_t i = 0; i < N; ++i) s += a[i] * b[i];
    return s;
}

/// Maps unit-square coordinates (u along corner 0 -> 1, v along corner 0 -> 3) to the image.
struct SquareToImage {
    double h[9];
    explicit SquareToImage(const QuadCorners& c) {
        const cv::Point2f from[4] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
        const cv::Point2f to[4] = {cv::Point2f(c[0]), cv::Point2f(c[1]), cv::Point2f(c[2]),
                                   cv::Point2f(c[3])};
        const cv::Mat m = cv::getPerspectiveTransform(from, to);
        for (int i = 0; i < 9; ++i) h[i] = m.at<double>(i / 3, i % 3);
    }
    /// Nearest pixel (pixel centres at integers); false outside the image.
    bool pixel(double u, double v, int cols, int rows, int& x, int& y) const {
        const double w = h[6] * u + h[7] * v + h[8];
        const double fx = (h[0] * u + h[1] * v + h[2]) / w;
        const double fy = (h[3] * u + h[4] * v + h[5]) / w;
        x = static_cast<int>(std::lround(fx));
        y = static_cast<int>(std::lround(fy));
        return x >= 0 && y >= 0 && x < cols && y < rows;
    }
};

/// Grey value and (B, G, R) of one pixel.
inline void readPixel(const cv::Mat& image, bool rgb, int x, int y, int bgr[3]) {
    const uchar* p = image.ptr<uchar>(y) + x * image.channels();
    if (image.channels() == 1) {
        bgr[0] = bgr[1] = bgr[2] = p[0];
    } else if (rgb) {
        bgr[0] = p[2];
        bgr[1] = p[1];
        bgr[2] = p[0];
    } else {
        bgr[0] = p[0];
        bgr[1] = p[1];
        bgr[2] = p[2];
    }
}

}  // namespace

PatternSample samplePattern(const cv::Mat& image, bool rgb, const QuadCorners& corners,
                            const MatchParameters& params) {
    PatternSample out;
    const SquareToImage map(corners);
    double longest = 0;
    for (int k = 0; k < 4; ++k)
        longest = std::max(longest, cv::norm(corners[(k + 1) % 4] - corners[k]));
    // Samples per cell and axis: enough to see every pixel of the pattern area (half the
    // marker's side), at most 4.
    const int n = std::clamp(static_cast<int>(std::ceil(0.5 * longest / kPatternSize)), 1, 4);
    const int perAxis = n * kPatternSize;
    int bgr[3];
    for (int row = 0; row < kPatternSize; ++row)
        for (int col = 0; col < kPatternSize; ++col) {
            int sum[3] = {0, 0, 0};
            int count = 0;
            for (int j = 0; j < n; ++j)
                for (int i = 0; i < n; ++i) {
                    const double u = 0.25 + 0.5 * (col * n + i + 0.5) / perAxis;
                    const double v = 0.25 + 0.5 * (row * n + j + 0.5) / perAxis;
                    int x, y;
                    if (!map.pixel(u, v, image.cols, image.rows, x, y)) continue;
                    readPixel(image, rgb, x, y, bgr);
                    for (int p = 0; p < 3; ++p) sum[p] += bgr[p];
                    ++count;
                }
            for (int p = 0; p < 3; ++p)
                out.image.at(p, row, col) = static_cast<uint8_t>(count ? sum[p] / count : 0);
        }

    // Border check: 8 x 8 grid over the whole marker, its two outer rings lie in the border.
    int dark[48];
    int nDark = 0;
    for (int j = 0; j < 8; ++j)
        for (int i = 0; i < 8; ++i) {
            if (std::min(std::min(i, j), std::min(7 - i, 7 - j)) > 1) continue;
            int x, y;
            if (!map.pixel((i + 0.5) / 8.0, (j + 0.5) / 8.0, image.cols, image.rows, x, y))
                continue;
            readPixel(image, rgb, x, y, bgr);
            dark[nDark++] = (bgr[0] + bgr[1] + bgr[2]) / 3;
        }
    std::array<int, kCells> inner;
    for (int c = 0; c < kCells; ++c)
        inner[c] = (int(out.image.values[c]) + out.image.values[kCells + c] +
                    out.image.values[2 * kCells + c]) /
                   3;
    if (nDark < 40) return out;
    std::nth_element(dark, dark + nDark / 2, dark + nDark);
    const int black = dark[nDark / 2];
    std::nth_element(inner.begin(), inner.begin() + kCells * 9 / 10, inner.end());
    const int white = inner[kCells * 9 / 10];
    if (white - black < params.minBorderContrast) return out;
    const double middle = 0.5 * (black + white);
    const int below =
        static_cast<int>(std::count_if(dark, dark + nDark, [&](int v) { return v < middle; }));
    out.borderOk = below >= params.minBorderDarkFraction * nDark;
    return out;
}

int PatternMatcher::add(const Pattern& pattern) {
    for (int k = 0; k < 4; ++k) {
        std::array<float, kPatternValues> v;
        for (int i = 0; i < kPatternValues; ++i) v[i] = pattern.block(k).values[i];
        normalise(v);
        _blocks.push_back(v);
        std::array<float, kCells> g = greyOf(pattern.block(k));
        normalise(g);
        _greyBlocks.push_back(g);
    }
    return size() - 1;
}

Match PatternMatcher::match(const PatternImage& sample, const MatchParameters& params) const {
    Match best;
    const int blocks = static_cast<int>(_blocks.size());
    if (params.colour) {
        std::array<float, kPatternValues> x;
        for (int i = 0; i < kPatternValues; ++i) x[i] = sample.values[i];
        const double length = normalise(x);
        if (length / std::sqrt(double(kPatternValues)) < params.minSampleDeviation) return best;
        for (int b = 0; b < blocks; ++b) {
            const float cf = dot(x, _blocks[b]);
            if (cf > best.confidence) best = Match{b / 4, b % 4, cf};
        }
    } else {
        std::array<float, kCells> x = greyOf(sample);
        const double length = normalise(x);
        if (length / std::sqrt(double(kCells)) < params.minSampleDeviation) return best;
        for (int b = 0; b < blocks; ++b) {
            const float cf = dot(x, _greyBlocks[b]);
            if (cf > best.confidence) best = Match{b / 4, b % 4, cf};
        }
    }
    return best;
}

}  // namespace quorv::markers
