#pragma once

#include <osgart/CameraParameters.h>

#include <array>
#include <opencv2/core.hpp>

#include "QuadCandidates.h"

namespace quorv::markers {

/// Sub-pixel corners: each side of a candidate is located at many points across the edge at
/// full resolution, a straight line is fitted through them in undistorted (ideal) coordinates
/// and neighbouring lines are intersected.
struct CornerParameters {
    /// How far across each side the edge is searched on the first pass, in pixels. It must
    /// cover the coarse corners' error, about the threshold's downscale plus one.
    double searchRadius = 3.5;
    /// Search distance of the later passes, which start from the refined corners. The grey
    /// levels on both sides are read at its ends, so it must exceed the width of a blurred
    /// edge: raise it for soft-focus cameras. With an edge blurred by a Gaussian of 0.8 px,
    /// 2 px leaves corners up to 0.05 px off, 3 px under 0.01 px.
    double finalSearchRadius = 2.0;
    /// Passes of search and fit. The first uses straight sides in the distorted image; the
    /// last fits in ideal coordinates. 2 is enough; 1 loses accuracy on small markers.
    int passes = 2;
    /// Quads whose shortest side is below this many pixels get one pass more: their border is
    /// only a few pixels wide, the first search reaches across most of it, and the second
    /// pass still starts a little off. Halves their corner error at no cost on larger ones.
    double extraPassBelowPx = 48.0;
    /// One edge point every this many pixels along a side, but at least `minPoints` and at
    /// most `maxPoints` per side. More points lower the jitter and cost time.
    double pointSpacing = 1.5;
    int minPoints = 8;
    int maxPoints = 48;
    /// The part of each side next to the corners that is not used, as a fraction of the side:
    /// there the search line would cross the neighbouring side.
    double endMargin = 0.1;
    /// The least grey-level step across an edge point for it to count.
    double minEdgeContrast = 20.0;
    /// The least share of a side's search lines whose edge point lies on the fitted line, on
    /// the last pass. A thumb over a third of a side leaves two thirds.
    double minSupport = 0.3;
    /// How far apart (pixels) the lines through the two halves of a side's edge points may
    /// run at each other's centres before the side counts as bent and the quad is dropped.
    double maxBend = 0.5;
};

/// A candidate's corners after refinement, in the candidate's corner order.
struct RefinedQuad {
    bool ok = false;
    /// Corners where they appear in the image (with lens distortion).
    std::array<cv::Point2d, 4> observed;
    /// The same corners without lens distortion.
    std::array<cv::Point2d, 4> ideal;
    /// Root-mean-square distance of the edge points from their fitted lines (ideal pixels).
    double lineResidual = 0.0;
    /// How soft the outer edge is: the median over its points of the sigma of a Gaussian blur
    /// that gives its steepest slope, pixels (about 0.4 for a sharp edge, from the pixels
    /// themselves).
    double edgeBlur = 0.0;
    /// The same for each side (side k runs from corner k to corner k + 1).
    std::array<double, 4> sideBlur{};
};

/// Refines the corners of `quad` on the full-resolution grey image.
RefinedQuad refineCorners(const cv::Mat& grey, const Quad& quad,
                          const osgART::CameraParameters& camera, const CornerParameters& params);

}  // namespace quorv::markers
