#include "QuadCandidates.h"

#include <algorithm>
#include <cmath>
#include <opencv2/imgproc.hpp>

namespace quorv::markers {
namespace {

double signedArea(const std::array<cv::Point2f, 4>& c) {
    double a = 0.0;
    for (int i = 0; i < 4; ++i) {
        const cv::Point2f& p = c[i];
        const cv::Point2f& q = c[(i + 1) % 4];
        a += double(p.x) * q.y - double(q.x) * p.y;
    }
    return 0.5 * a;
}

/// Straight line a x + b y = c through the points of `contour` from index `from` to `to`
/// (wrapping), without `trim` of the run at each end, where the outline turns the corner.
/// False when too few points remain.
bool fitSide(const std::vector<cv::Point>& contour, int from, int to, double trim,
             cv::Vec3d& line) {
    const int n = static_cast<int>(contour.size());
    const int run = (to - from + n) % n;
    const int skip = static_cast<int>(trim * run);
    if (run - 2 * skip < 2) return false;
    double sx = 0, sy = 0, sxx = 0, sxy = 0, syy = 0;
    int count = 0;
    for (int i = skip; i <= run - skip; ++i) {
        const cv::Point& p = contour[(from + i) % n];
        sx += p.x, sy += p.y, sxx += double(p.x) * p.x, sxy += double(p.x) * p.y,
            syy += double(p.y) * p.y;
        ++count;
    }
    const double mx = sx / count, my = sy / count;
    const double cxx = sxx / count - mx * mx, cxy = sxy / count - mx * my,
                 cyy = syy / count - my * my;
    // The normal is the eigenvector of the smaller eigenvalue of the scatter matrix.
    const double angle = 0.5 * std::atan2(2.0 * cxy, cxx - cyy);
    const double a = -std::sin(angle), b = std::cos(angle);
    line = cv::Vec3d(a, b, a * mx + b * my);
    return true;
}

}  // namespace

std::vector<Quad> findQuads(const BinaryImage& binary, cv::Size imageSize,
                            const CandidateParameters& params) {
    std::vector<std::vector<cv::Point>> contours;
    std::vector<cv::Vec4i> hierarchy;
    // Two-level hierarchy: the top level holds the outer outline of every dark region (also
    // regions nested in holes of others); holes come second and are not wanted.
    cv::findContours(binary.dark, contours, hierarchy, cv::RETR_CCOMP, cv::CHAIN_APPROX_SIMPLE);

    const double s = binary.scale;
    const double offset = (s - 1.0) / 2.0;
    const double minPerimeter = params.minPerimeter / s;
    const double minSide = params.minSide;
    const double edge = params.minEdgeDistance;

    std::vector<Quad> quads;
    std::vector<cv::Point> polygon;
    for (size_t i = 0; i < contours.size(); ++i) {
        if (hierarchy[i][3] >= 0) continue;
        const std::vector<cv::Point>& contour = contours[i];
        if (contour.size() < 4) continue;
        const double perimeter = cv::arcLength(contour, true);
        if (perimeter < minPerimeter) continue;
        cv::approxPolyDP(contour, polygon,
                         std::max(params.polygonTolerance * perimeter, params.minTolerance), true);
        if (polygon.size() != 4 || !cv::isContourConvex(polygon)) continue;

        // The polygon's vertices are outline points near the corners, several pixels off where
        // a corner is sharp (a steeply tilted marker). Lines fitted to the outline between
        // them and intersected give the corners to within about a working pixel.
        int at[4];
        for (int k = 0; k < 4; ++k)
            at[k] = static_cast<int>(std::find(contour.begin(), contour.end(), polygon[k]) -
                                     contour.begin());
        cv::Vec3d sides[4];
        bool fitted = true;
        for (int k = 0; k < 4 && fitted; ++k)
            fitted = fitSide(contour, at[k], at[(k + 1) % 4], 0.15, sides[k]);
        std::array<cv::Point2d, 4> corner;
        for (int k = 0; k < 4; ++k) {
            corner[k] = cv::Point2d(polygon[k].x, polygon[k].y);
            if (!fitted) continue;
            const cv::Vec3d& a = sides[(k + 3) % 4];
            const cv::Vec3d& b = sides[k];
            const double det = a[0] * b[1] - a[1] * b[0];
            if (std::abs(det) < 1e-3) continue;
            const cv::Point2d x((a[2] * b[1] - b[2] * a[1]) / det,
                                (a[0] * b[2] - b[0] * a[2]) / det);
            // Keep the vertex when the lines meet far from it (a side too short to fit).
            if (cv::norm(x - corner[k]) < 0.25 * perimeter / 4) corner[k] = x;
        }

        Quad quad;
        bool keep = true;
        for (int k = 0; k < 4; ++k) {
            // A dark region's outline runs through its outermost dark pixels; the true edge
            // lies half a working pixel further out. Refinement fixes the rest.
            const cv::Point2f p(float(corner[k].x * s + offset), float(corner[k].y * s + offset));
            if (p.x < edge || p.y < edge || p.x > imageSize.width - 1 - edge ||
                p.y > imageSize.height - 1 - edge)
                keep = false;
            quad.corners[k] = p;
        }
        if (!keep) continue;
        for (int k = 0; k < 4; ++k)
            if (cv::norm(quad.corners[k] - quad.corners[(k + 1) % 4]) < minSide) keep = false;
        if (!keep) continue;
        // Clockwise on screen (y down) means positive signed area in image coordinates.
        double area = signedArea(quad.corners);
        if (area < 0) {
            std::swap(quad.corners[1], quad.corners[3]);
            area = -area;
        }
        quad.area = area;
        quads.push_back(quad);
    }
    std::sort(quads.begin(), quads.end(),
              [](const Quad& a, const Quad& b) { return a.area > b.area; });
    if (static_cast<int>(quads.size()) > params.maxCandidates) quads.resize(params.maxCandidates);
    return quads;
}

}  // namespace quorv::markers
