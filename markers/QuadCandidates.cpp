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
        cv::approxPolyDP(contour, polygon, params.polygonTolerance * perimeter, true);
        if (polygon.size() != 4 || !cv::isContourConvex(polygon)) continue;

        Quad quad;
        bool keep = true;
        for (int k = 0; k < 4; ++k) {
            // A dark region's outline runs through its outermost dark pixels; the true edge
            // lies half a working pixel further out. Refinement fixes the rest.
            const cv::Point2f p(float(polygon[k].x * s + offset), float(polygon[k].y * s + offset));
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
