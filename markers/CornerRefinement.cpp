#include "CornerRefinement.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace quorv::markers {
namespace {

/// Bilinear grey values at `n` points from `start` in steps of `step`; the caller keeps the
/// first and last points inside [0, cols-1) x [0, rows-1), and with them every point between.
/// Single precision is ample here (1e-4 px at 1280 px) and twice as fast as double.
inline void sampleLine(const cv::Mat& grey, const cv::Point2d& start, const cv::Point2d& step,
                       int n, float* out) {
    const uchar* data = grey.data;
    const size_t stride = grey.step;
    const float x0 = static_cast<float>(start.x), y0 = static_cast<float>(start.y);
    const float dx = static_cast<float>(step.x), dy = static_cast<float>(step.y);
    for (int i = 0; i < n; ++i) {
        const float x = x0 + dx * i, y = y0 + dy * i;
        const int ix = static_cast<int>(x), iy = static_cast<int>(y);
        const float fx = x - ix, fy = y - iy;
        const uchar* r0 = data + iy * stride + ix;
        const uchar* r1 = r0 + stride;
        const float top = r0[0] + fx * (r0[1] - r0[0]);
        const float bottom = r1[0] + fx * (r1[1] - r1[0]);
        out[i] = top + fy * (bottom - top);
    }
}

struct Line {
    cv::Point2d point;   ///< a point on the line (the centroid of its edge points)
    cv::Point2d normal;  ///< unit normal
};

/// Buffers reused from side to side and candidate to candidate, so that refinement allocates
/// nothing once they have grown; one set per thread, as detectors may run on several.
struct Scratch {
    std::vector<float> profile, dark, light;
    std::vector<cv::Point2d> points, kept;
    std::vector<double> blurs, residuals, sorted, own;
    std::vector<std::array<float, 2>> levels;  // dark and light level of each edge point
};

Scratch& scratch() {
    thread_local Scratch s;
    return s;
}

/// Total-least-squares line through `n` points.
void fitOnce(const cv::Point2d* points, size_t n, Line& line) {
    cv::Point2d c(0, 0);
    for (size_t i = 0; i < n; ++i) c += points[i];
    c *= 1.0 / n;
    double sxx = 0, sxy = 0, syy = 0;
    for (size_t i = 0; i < n; ++i) {
        const cv::Point2d d = points[i] - c;
        sxx += d.x * d.x;
        sxy += d.x * d.y;
        syy += d.y * d.y;
    }
    // The normal is the eigenvector of the smaller eigenvalue of the scatter matrix.
    const double angle = 0.5 * std::atan2(2.0 * sxy, sxx - syy);
    line.point = c;
    line.normal = cv::Point2d(-std::sin(angle), std::cos(angle));
}

/// Total-least-squares line through `s.points`, dropping outliers and fitting again until none
/// is dropped (at most three times): a finger across part of a side gives a run of points on
/// its own outline, which pull the first fit. Returns false when too few points remain.
constexpr int kRounds = 4;
bool fitLine(Scratch& s, Line& line, double& sumSquares) {
    std::vector<cv::Point2d>& points = s.points;
    for (int round = 0; round < kRounds; ++round) {
        if (points.size() < 3) return false;
        fitOnce(points.data(), points.size(), line);
        if (round == kRounds - 1) break;
        s.residuals.clear();
        double largest = 0;
        for (const auto& p : points) {
            s.residuals.push_back(std::abs((p - line.point).dot(line.normal)));
            largest = std::max(largest, s.residuals.back());
        }
        // The limit below is never under 0.25 px: points all that close keep every one.
        if (largest <= 0.25) break;
        s.sorted.assign(s.residuals.begin(), s.residuals.end());
        std::nth_element(s.sorted.begin(), s.sorted.begin() + s.sorted.size() / 2, s.sorted.end());
        const double limit = std::max(0.25, 3.0 * 1.4826 * s.sorted[s.sorted.size() / 2]);
        s.kept.clear();
        for (size_t i = 0; i < points.size(); ++i)
            if (s.residuals[i] <= limit) s.kept.push_back(points[i]);
        if (s.kept.size() == points.size()) break;
        points.swap(s.kept);
    }
    sumSquares = 0;
    for (const auto& p : points) {
        const double r = (p - line.point).dot(line.normal);
        sumSquares += r * r;
    }
    return true;
}

bool intersect(const Line& a, const Line& b, cv::Point2d& out) {
    // n_a . x = n_a . p_a and n_b . x = n_b . p_b
    const double det = a.normal.x * b.normal.y - a.normal.y * b.normal.x;
    if (std::abs(det) < 1e-6) return false;
    const double ca = a.normal.dot(a.point), cb = b.normal.dot(b.point);
    out.x = (ca * b.normal.y - cb * a.normal.y) / det;
    out.y = (a.normal.x * cb - b.normal.x * ca) / det;
    return true;
}

/// Finds the dark-to-light step along `profile` (sampled every `step` px from `start`).
///
/// Without `levelsFromEnds` (the first pass, whose search is not yet centred on the edge) the
/// levels are the darkest and lightest values on either side of the steepest point and the
/// position is where the grey value crosses the middle of the two.
///
/// With `levelsFromEnds` the levels are the means of the two samples at each end (less noisy
/// than the extremes; right once the search is centred on the edge) and the position is where
/// the areas balance: the profile's length minus the integral of the step scaled to 0..1. A
/// camera pixel averages the light over its area, so for an edge along a pixel row or column
/// this is exact, sharp or blurred, as long as the search reaches past the blur. The middle
/// crossing of linearly interpolated pixels is off by up to about 0.08 px depending on where
/// the edge falls within its pixel; along a side that runs with the pixel grid that offset is
/// the same at every point and does not average out: it tilted a face-on marker 78 px wide by
/// 1.2 degrees.
bool locateEdge(const float* profile, int n, double start, double step, double minContrast,
                bool levelsFromEnds, double& position, double& blur, float levels[2]) {
    int peak = -1;
    float best = 0;
    for (int i = 1; i + 1 < n; ++i) {
        const float g = profile[i + 1] - profile[i - 1];
        if (g > best) {
            best = g;
            peak = i;
        }
    }
    if (peak < 0) return false;
    float dark = profile[peak], light = profile[peak];
    const bool balance = levelsFromEnds && n >= 6;
    if (balance) {
        dark = 0.5f * (profile[0] + profile[1]);
        light = 0.5f * (profile[n - 1] + profile[n - 2]);
    } else {
        for (int i = 0; i <= peak; ++i) dark = std::min(dark, profile[i]);
        for (int i = peak; i < n; ++i) light = std::max(light, profile[i]);
    }
    if (light - dark < minContrast) return false;
    // A step blurred by a Gaussian of sigma s has its steepest slope contrast / (s sqrt(2 pi)).
    blur = (light - dark) * 2.0 * step / (best * 2.5066);
    levels[0] = dark;
    levels[1] = light;
    const float mid = 0.5f * (dark + light);
    // Walk from the steepest point to the crossing of the middle level.
    int i = peak;
    while (i > 0 && profile[i] > mid) --i;
    while (i + 1 < n && profile[i + 1] <= mid) ++i;
    if (i + 1 >= n) return false;
    const float a = profile[i], b = profile[i + 1];
    const double f = b > a ? (mid - a) / (b - a) : 0.5;
    const double crossing = start + step * (i + std::clamp(f, 0.0, 1.0));
    if (!balance) {
        position = crossing;
        return true;
    }
    // Trapezoidal integral of the step scaled to 0..1.
    double area = 0.5 * (profile[0] + profile[n - 1]) - dark;
    for (int j = 1; j + 1 < n; ++j) area += profile[j] - dark;
    area *= step / (light - dark);
    position = start + step * (n - 1) - area;
    // A second edge or a smudge in the window unbalances the areas: not this edge's point.
    return std::abs(position - crossing) <= 2.0 * step;
}

}  // namespace

RefinedQuad refineCorners(const cv::Mat& grey, const Quad& quad,
                          const osgART::CameraParameters& camera, const CornerParameters& params) {
    RefinedQuad out;
    std::array<cv::Point2d, 4> corners;
    for (int k = 0; k < 4; ++k) corners[k] = cv::Point2d(quad.corners[k].x, quad.corners[k].y);

    double shortest = 1e30;
    for (int k = 0; k < 4; ++k)
        shortest = std::min(shortest, cv::norm(corners[(k + 1) % 4] - corners[k]));
    // The search must not reach through the black border into the pattern inside it.
    const double border = 0.25 * shortest;
    const double maxX = grey.cols - 1.001, maxY = grey.rows - 1.001;
    constexpr double kStep = 0.5;
    const int passes = std::max(1, params.passes) + (shortest < params.extraPassBelowPx ? 1 : 0);
    Scratch& s = scratch();
    std::vector<float>& profile = s.profile;
    std::vector<cv::Point2d>& points = s.points;
    std::vector<double>& blurs = s.blurs;
    std::vector<std::array<float, 2>>& levels = s.levels;
    blurs.clear();

    for (int pass = 0; pass < passes; ++pass) {
        const bool last = pass == passes - 1;
        const double radius = pass == 0 ? params.searchRadius : params.finalSearchRadius;
        const double inward = std::min(radius, 0.6 * border);
        const double outward = radius;
        const int samples = static_cast<int>((inward + outward) / kStep) + 1;
        profile.resize(samples);

        std::array<Line, 4> lines;
        double sumSquares = 0;
        int used = 0;
        for (int side = 0; side < 4; ++side) {
            const cv::Point2d a = corners[side], b = corners[(side + 1) % 4];
            const double length = cv::norm(b - a);
            if (length < 1.0) return out;
            const cv::Point2d dir = (b - a) * (1.0 / length);
            // Corners run clockwise on screen, so (dy, -dx) points out of the quad.
            const cv::Point2d normal(dir.y, -dir.x);
            // The first pass only centres the later searches on the edge, to well within
            // their radius: half as many points do that.
            const int spread = pass == 0 ? 2 : 1;
            const int count = std::clamp(static_cast<int>(length / params.pointSpacing) / spread,
                                         params.minPoints, params.maxPoints / spread);
            points.clear();
            levels.clear();
            const size_t blursBefore = blurs.size();
            for (int j = 0; j < count; ++j) {
                const double t =
                    params.endMargin + (1.0 - 2.0 * params.endMargin) * (j + 0.5) / count;
                const cv::Point2d base = a + (b - a) * t;
                const cv::Point2d first = base - normal * inward;
                const cv::Point2d end = base + normal * outward;
                if (first.x < 0 || first.y < 0 || first.x > maxX || first.y > maxY || end.x < 0 ||
                    end.y < 0 || end.x > maxX || end.y > maxY)
                    continue;
                sampleLine(grey, first, normal * kStep, samples, profile.data());
                double position, blur;
                float level[2];
                if (!locateEdge(profile.data(), samples, -inward, kStep, params.minEdgeContrast,
                                pass > 0, position, blur, level))
                    continue;
                levels.push_back({level[0], level[1]});
                if (last) blurs.push_back(blur);
                cv::Point2d edge = base + normal * position;
                if (last) camera.idealFromObserved(edge.x, edge.y, edge.x, edge.y);
                points.push_back(edge);
            }
            // The border is dark and the paper light all along a side; a stretch where either
            // level is off is not this edge (a thumb on it, or another marker beside it), and
            // its points, shifted by the other levels, would pull the line.
            float darkLow = 255, darkHigh = 0, lightLow = 255, lightHigh = 0;
            for (const auto& l : levels) {
                darkLow = std::min(darkLow, l[0]), darkHigh = std::max(darkHigh, l[0]);
                lightLow = std::min(lightLow, l[1]), lightHigh = std::max(lightHigh, l[1]);
            }
            // Every level lies within the spread of its kind from the median, and the slack is
            // never under 12: levels spread less than that keep every point.
            const bool even = darkHigh - darkLow <= 12.0f && lightHigh - lightLow <= 12.0f;
            if (!points.empty() && !even) {
                std::vector<float>&dark = s.dark, &light = s.light;
                dark.clear();
                light.clear();
                for (const auto& l : levels) dark.push_back(l[0]), light.push_back(l[1]);
                std::nth_element(dark.begin(), dark.begin() + dark.size() / 2, dark.end());
                std::nth_element(light.begin(), light.begin() + light.size() / 2, light.end());
                const float d = dark[dark.size() / 2], l = light[light.size() / 2];
                const float slack = std::max(12.0f, 0.2f * (l - d));
                size_t kept = 0;
                for (size_t i = 0; i < points.size(); ++i)
                    if (std::abs(levels[i][0] - d) <= slack && std::abs(levels[i][1] - l) <= slack)
                        points[kept++] = points[i];
                points.resize(kept);
            }
            if (static_cast<int>(points.size()) < std::max(3, count / 3)) return out;
            double ss = 0;
            if (!fitLine(s, lines[side], ss)) return out;
            // On the last pass the side must be backed along most of its length: a line held
            // by a short stretch (a finger over the rest, or another marker's edge) may be
            // pulled off the true side.
            if (last && static_cast<int>(points.size()) < params.minSupport * count) return out;
            // Both halves of the side must lie on the same line: where another marker's paper
            // covers part of it, that part's points run along the other paper's edge instead,
            // and the side bends.
            if (last && points.size() >= 8) {
                const size_t half = points.size() / 2;
                Line la, lb;
                fitOnce(points.data(), half, la);
                fitOnce(points.data() + half, points.size() - half, lb);
                const double gap = std::max(std::abs((lb.point - la.point).dot(la.normal)),
                                            std::abs((la.point - lb.point).dot(lb.normal)));
                if (gap > params.maxBend) return out;
            }
            if (last) {
                std::vector<double>& own = s.own;
                own.assign(blurs.begin() + blursBefore, blurs.end());
                std::nth_element(own.begin(), own.begin() + own.size() / 2, own.end());
                out.sideBlur[side] = own.empty() ? 0.0 : own[own.size() / 2];
            }
            sumSquares += ss;
            used += static_cast<int>(points.size());
        }

        std::array<cv::Point2d, 4> next;
        for (int k = 0; k < 4; ++k)
            if (!intersect(lines[(k + 3) % 4], lines[k], next[k])) return out;
        if (last) {
            out.ideal = next;
            for (int k = 0; k < 4; ++k)
                camera.observedFromIdeal(next[k].x, next[k].y, next[k].x, next[k].y);
            out.lineResidual = std::sqrt(sumSquares / std::max(used, 1));
            std::nth_element(blurs.begin(), blurs.begin() + blurs.size() / 2, blurs.end());
            out.edgeBlur = blurs.empty() ? 0.0 : blurs[blurs.size() / 2];
        }
        // A corner that moves further than the search reached is not the same corner.
        for (int k = 0; k < 4; ++k)
            if (cv::norm(next[k] - corners[k]) > 2.0 * radius + 1.0) return out;
        corners = next;
    }
    out.observed = corners;
    out.ok = true;
    return out;
}

}  // namespace quorv::markers
