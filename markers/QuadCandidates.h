#pragma once

#include <array>
#include <opencv2/core.hpp>
#include <vector>

#include "Threshold.h"

namespace quorv::markers {

/// Which dark regions are taken as possible markers.
struct CandidateParameters {
    /// Smallest marker outline, as perimeter in full-resolution pixels. 60 (a 15 px square)
    /// keeps markers 30 px wide seen at 60 degrees; raise it to skip small clutter faster.
    double minPerimeter = 48.0;
    /// Polygon simplification tolerance, as a fraction of the outline's perimeter. Larger
    /// values accept rounder shapes as quadrilaterals.
    double polygonTolerance = 0.04;
    /// ... but at least this many working pixels: the outline of a marker only 7 or 8 working
    /// pixels wide has steps of a whole pixel at its corners.
    double minTolerance = 1.6;
    /// Shortest side of a quadrilateral, in full-resolution pixels.
    double minSide = 5.0;
    /// Corners closer than this to the image edge (full-resolution pixels) reject the
    /// quadrilateral: a marker cut by the edge cannot be refined or identified.
    double minEdgeDistance = 3.0;
    /// Most candidates kept per frame (largest first); bounds the cost on cluttered scenes.
    int maxCandidates = 64;
};

/// A quadrilateral outline of a dark region: corners in full-resolution pixel coordinates
/// (pixel centres at integers), clockwise on screen (image y down).
struct Quad {
    std::array<cv::Point2f, 4> corners;
    /// Area enclosed by the corners, in full-resolution pixels.
    double area = 0.0;
};

/// Outer outlines of dark regions that simplify to convex quadrilaterals. `imageSize` is the
/// full-resolution size.
std::vector<Quad> findQuads(const BinaryImage& binary, cv::Size imageSize,
                            const CandidateParameters& params);

}  // namespace quorv::markers
