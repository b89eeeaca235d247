#include "PatternMatcher.h"

#include <algorithm>
#include <cmath>
#include <opencv2/imgproc.hpp>
#include <utility>

namespace quorv::markers {
namespace {

constexpr int kCells = kPatternSize * kPatternSize;
/// Every template is also compared softened by these Gaussians (in cells): a small or blurred
/// marker's sample is soft, and correlates better with a template that is soft alike. 0 is the
/// template itself.
constexpr double kSoftSigmas[] = {0.0, 1.0, 2.0};

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

/// The template at 8x8 cells, each the mean of 2x2: colour planes, or their mean for grey.
template <size_t N>
std::array<float, N> coarseOf(const PatternImage& image) {
    constexpr int half = kPatternSize / 2, planes = int(N) / (half * half);
    std::array<float, N> out{};
    for (int p = 0; p < kPatternPlanes; ++p)
        for (int r = 0; r < kPatternSize; ++r)
            for (int c = 0; c < kPatternSize; ++c)
                out[((planes == 1 ? 0 : p) * half + r / 2) * half + c / 2] += image.at(p, r, c);
    return out;
}

/// Eight running sums instead of one: they do not wait on each other, and the compiler can
/// put them in one vector register.
template <size_t N>
float dot(const std::array<float, N>& a, const std::array<float, N>& b) {
    static_assert(N % 8 == 0, "templates hold a multiple of 8 values");
    float s[8] = {};
    for (size_t i = 0; i < N; i += 8)
        for (size_t l = 0; l < 8; ++l) s[l] += a[i + l] * b[i + l];
    return ((s[0] + s[1]) + (s[2] + s[3])) + ((s[4] + s[5]) + (s[6] + s[7]));
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
    /// Image position (pixel centres at integers).
    cv::Point2d point(double u, double v) const {
        const double w = h[6] * u + h[7] * v + h[8];
        return {(h[0] * u + h[1] * v + h[2]) / w, (h[3] * u + h[4] * v + h[5]) / w};
    }
    /// Nearest pixel; false outside the image.
    bool pixel(double u, double v, int cols, int rows, int& x, int& y) const {
        const cv::Point2d p = point(u, v);
        x = static_cast<int>(std::lround(p.x));
        y = static_cast<int>(std::lround(p.y));
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

/// Adds the colour at a sub-pixel position, interpolated bilinearly, to `sum` (in the image's
/// channel order) and returns true; false outside the image. `C` is the channel count.
template <int C>
inline bool addBilinear(const cv::Mat& image, double x, double y, int sum[3]) {
    if (!(x >= 0 && y >= 0 && x <= image.cols - 1 && y <= image.rows - 1)) return false;
    const int x0 = std::min(static_cast<int>(x), image.cols - 2);
    const int y0 = std::min(static_cast<int>(y), image.rows - 2);
    const int fx = static_cast<int>((x - x0) * 256), fy = static_cast<int>((y - y0) * 256);
    const uchar* a = image.ptr<uchar>(y0) + x0 * C;
    const uchar* b = a + image.step[0];
    for (int k = 0; k < 3; ++k) {
        const int ch = C == 1 ? 0 : k;
        // p (256 - f) + q f written as 256 p + f (q - p): one product instead of two.
        const int top = (a[ch] << 8) + fx * (a[C + ch] - a[ch]);
        const int bottom = (b[ch] << 8) + fx * (b[C + ch] - b[ch]);
        sum[k] += ((top << 8) + fy * (bottom - top)) >> 16;
    }
    return true;
}

/// The pattern area's cells: each the mean of n x n bilinear samples spread evenly over it.
/// The homography's numerators and denominator are linear in u, so along a row of samples
/// they are stepped rather than recomputed.
template <int C>
void sampleCells(const cv::Mat& image, bool rgb, const SquareToImage& map, int n,
                 PatternImage& out) {
    const double* h = map.h;
    const int perAxis = n * kPatternSize;
    const double du = 0.5 / perAxis, u0 = 0.25 + 0.5 * du;
    for (int row = 0; row < kPatternSize; ++row) {
        int sums[kPatternSize][3] = {};
        int counts[kPatternSize] = {};
        for (int j = 0; j < n; ++j) {
            const double v = 0.25 + 0.5 * (row * n + j + 0.5) / perAxis;
            const double bx = h[1] * v + h[2], by = h[4] * v + h[5], bw = h[7] * v + h[8];
            for (int col = 0; col < kPatternSize; ++col)
                for (int i = 0; i < n; ++i) {
                    const double u = u0 + (col * n + i) * du;
                    const double inverse = 1.0 / (h[6] * u + bw);
                    if (addBilinear<C>(image, (h[0] * u + bx) * inverse, (h[3] * u + by) * inverse,
                                       sums[col]))
                        ++counts[col];
                }
        }
        for (int col = 0; col < kPatternSize; ++col) {
            // Planes are stored B, G, R; 3- and 4-channel images in `rgb` order run R, G, B.
            const bool swap = C > 1 && rgb;
            for (int p = 0; p < 3; ++p) {
                const int v = counts[col] ? sums[col][swap ? 2 - p : p] / counts[col] : 0;
                out.at(p, row, col) = static_cast<uint8_t>(v);
            }
        }
    }
}

}  // namespace

PatternSample samplePattern(const cv::Mat& image, bool rgb, const QuadCorners& corners,
                            const MatchParameters& params) {
    PatternSample out;
    const SquareToImage map(corners);
    double longest = 0;
    out.shortestSide = 1e30;
    for (int k = 0; k < 4; ++k) {
        const double side = cv::norm(corners[(k + 1) % 4] - corners[k]);
        longest = std::max(longest, side);
        out.shortestSide = std::min(out.shortestSide, side);
    }
    // Bilinear samples per cell and axis: one for every second pixel of the pattern area (half
    // the marker's side), at least 2 so that small markers are averaged rather than aliased,
    // at most 3.
    const int n = std::clamp(static_cast<int>(std::ceil(0.25 * longest / kPatternSize)), 2, 3);
    switch (image.channels()) {
        case 1:
            sampleCells<1>(image, rgb, map, n, out.image);
            break;
        case 3:
            sampleCells<3>(image, rgb, map, n, out.image);
            break;
        default:
            sampleCells<4>(image, rgb, map, n, out.image);
            break;
    }
    int bgr[3];

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

std::array<double, 4> borderDepths(const cv::Mat& image, bool rgb, const QuadCorners& corners,
                                   const PatternImage& block) {
    (void)rgb;  // the three channels are averaged, in whatever order they run
    const SquareToImage map(corners);
    // Template grey levels, and the level halfway between its darkest and lightest cells.
    std::array<int, kCells> grey;
    int lo = 255 * 3, hi = 0;
    for (int c = 0; c < kCells; ++c) {
        grey[c] = block.values[c] + block.values[kCells + c] + block.values[2 * kCells + c];
        lo = std::min(lo, grey[c]), hi = std::max(hi, grey[c]);
    }
    const int middle = (lo + hi) / 2;
    auto light = [&](int row, int col) { return grey[row * kPatternSize + col] > middle; };
    // Grey level at unit-square position (u, v); negative outside the image.
    auto level = [&](double u, double v) {
        const cv::Point2d p = map.point(u, v);
        int sum[3] = {0, 0, 0};
        bool inside = false;
        switch (image.channels()) {
            case 1:
                inside = addBilinear<1>(image, p.x, p.y, sum);
                break;
            case 3:
                inside = addBilinear<3>(image, p.x, p.y, sum);
                break;
            default:
                inside = addBilinear<4>(image, p.x, p.y, sum);
                break;
        }
        return inside ? (sum[0] + sum[1] + sum[2]) / 3.0 : -1.0;
    };
    constexpr double kFrom = 0.125, kTo = 0.28125, kStep = 1.0 / 128;
    constexpr int kSamples = static_cast<int>((kTo - kFrom) / kStep) + 1;
    std::array<double, 4> depths{-1, -1, -1, -1};
    std::vector<double> found;
    for (int side = 0; side < 4; ++side) {
        found.clear();
        for (int i = 0; i < kPatternSize; ++i) {
            // Place k along the side's row or column of cells (side 0 runs along row 0, side 1
            // down column 15, side 2 back along row 15, side 3 up column 0), and the cell
            // `depth` cells in from the border there, as (row, column).
            const int k = side < 2 ? i : kPatternSize - 1 - i;
            auto cell = [&](int depth) -> std::pair<int, int> {
                const int far = kPatternSize - 1 - depth;
                switch (side) {
                    case 0:
                        return {depth, k};
                    case 1:
                        return {k, far};
                    case 2:
                        return {far, k};
                    default:
                        return {k, depth};
                }
            };
            const auto [r0, c0] = cell(0);
            const auto [r1, c1] = cell(1);
            if (!light(r0, c0) || !light(r1, c1)) continue;
            const double along = 0.25 + (k + 0.5) / (2.0 * kPatternSize);
            // Unit-square position at `depth` into the quad from this side.
            auto at = [&](double depth) {
                switch (side) {
                    case 0:
                        return level(along, depth);
                    case 1:
                        return level(1 - depth, along);
                    case 2:
                        return level(along, 1 - depth);
                    default:
                        return level(depth, along);
                }
            };
            double profile[kSamples];
            bool inside = true;
            for (int j = 0; j < kSamples && inside; ++j)
                inside = (profile[j] = at(kFrom + j * kStep)) >= 0;
            if (!inside || profile[kSamples - 1] - profile[0] < 20) continue;
            // The last crossing of the level halfway between the border (at kFrom) and the
            // pattern's light cell (at kTo).
            const double half = 0.5 * (profile[0] + profile[kSamples - 1]);
            int j = kSamples - 1;
            while (j > 0 && profile[j - 1] > half) --j;
            if (j == 0) continue;
            const double f = (half - profile[j - 1]) / (profile[j] - profile[j - 1]);
            found.push_back(kFrom + (j - 1 + f) * kStep);
        }
        if (found.size() < 3) continue;
        std::nth_element(found.begin(), found.begin() + found.size() / 2, found.end());
        depths[side] = found[found.size() / 2];
    }
    return depths;
}

namespace {

/// A copy of the template as a camera with a soft lens would see it: blurred by a Gaussian of
/// `sigma` cells, the black border taken in at its edges.
PatternImage softened(const PatternImage& image, double sigma, double sigmaRows = -1) {
    if (sigmaRows < 0) sigmaRows = sigma;
    if (sigma <= 0 && sigmaRows <= 0) return image;
    PatternImage out;
    for (int p = 0; p < kPatternPlanes; ++p) {
        cv::Mat plane(kPatternSize, kPatternSize, CV_32F);
        for (int r = 0; r < kPatternSize; ++r)
            for (int c = 0; c < kPatternSize; ++c) plane.at<float>(r, c) = image.at(p, r, c);
        // A sigma of 0 would make OpenCV derive one from the kernel size: 0.01 is no blur.
        cv::GaussianBlur(plane, plane, cv::Size(), std::max(sigma, 0.01), std::max(sigmaRows, 0.01),
                         cv::BORDER_CONSTANT);
        for (int r = 0; r < kPatternSize; ++r)
            for (int c = 0; c < kPatternSize; ++c)
                out.at(p, r, c) = cv::saturate_cast<uint8_t>(plane.at<float>(r, c));
    }
    return out;
}

/// The best block of `blocks` for the sample `x` (not yet normalised). The blocks run pattern
/// by pattern, orientation by orientation, then through the first `levels` softnesses of
/// kSoftSigmas; those softer than `softest` are skipped.
template <size_t N>
Match bestBlock(std::array<float, N> x, const std::vector<std::array<float, N>>& blocks,
                double minDeviation, double softest,
                int levels = static_cast<int>(std::size(kSoftSigmas))) {
    Match best;
    const double length = normalise(x);
    if (length / std::sqrt(double(N)) < minDeviation) return best;
    for (size_t b = 0; b < blocks.size(); ++b) {
        if (kSoftSigmas[b % levels] > softest) continue;
        const float cf = dot(x, blocks[b]);
        if (cf > best.confidence) best = Match{int(b) / (4 * levels), int(b) / levels % 4, cf};
    }
    return best;
}

std::array<float, kPatternValues> colourOf(const PatternImage& image) {
    std::array<float, kPatternValues> v;
    for (int i = 0; i < kPatternValues; ++i) v[i] = image.values[i];
    return v;
}

template <class T>
void addNormalised(std::vector<T>& to, T v) {
    normalise(v);
    to.push_back(v);
}

}  // namespace

const PatternImage& PatternMatcher::block(int pattern, int dir) const {
    return _sharp[4 * pattern + dir];
}

int PatternMatcher::add(const Pattern& pattern) {
    for (int k = 0; k < 4; ++k) {
        _sharp.push_back(pattern.block(k));
        for (double sigma : kSoftSigmas) {
            const PatternImage soft = softened(pattern.block(k), sigma);
            addNormalised(_blocks, colourOf(soft));
            addNormalised(_greyBlocks, greyOf(soft));
            addNormalised(_coarseBlocks, coarseOf<kPatternValues / 4>(soft));
            addNormalised(_coarseGreyBlocks, coarseOf<kCells / 4>(soft));
        }
    }
    return _patterns++;
}

Match PatternMatcher::matchSmeared(const PatternImage& sample, const MatchParameters& params,
                                   double sigmaCols, double sigmaRows) const {
    std::vector<std::array<float, kPatternValues>> blocks;
    blocks.reserve(_sharp.size());
    for (const PatternImage& block : _sharp)
        addNormalised(blocks, colourOf(softened(block, sigmaCols, sigmaRows)));
    return bestBlock(colourOf(sample), blocks, params.minSampleDeviation, 0.0, 1);
}

Match PatternMatcher::match(const PatternImage& sample, const MatchParameters& params,
                            double shortestSide, double edgeBlur) const {
    const double least = params.minSampleDeviation;
    // The edge's blur over the pattern area (half the side, 16 cells) is this many cells.
    const double softest =
        shortestSide > 0 ? params.softBlurFactor * edgeBlur * 32.0 / shortestSide : 0.0;
    if (shortestSide > 0 && shortestSide < params.coarseBelowPx)
        return params.colour
                   ? bestBlock(coarseOf<kPatternValues / 4>(sample), _coarseBlocks, least, softest)
                   : bestBlock(coarseOf<kCells / 4>(sample), _coarseGreyBlocks, least, softest);
    return params.colour ? bestBlock(colourOf(sample), _blocks, least, softest)
                         : bestBlock(greyOf(sample), _greyBlocks, least, softest);
}

}  // namespace quorv::markers
