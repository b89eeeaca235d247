#pragma once

// Test support: renders pattern markers at known poses with anti-aliasing, so the tests can
// compare what the tracker finds with ground truth they made themselves.

#include <osgart/CameraParameters.h>

#include <array>
#include <opencv2/core.hpp>

#include "Pattern.h"
#include "Pose.h"

namespace quorv::markers::testing {

/// The printed marker: black border a quarter of the width on each side around the pattern,
/// and a white page margin of `margin` times the width around that. `cell` px per pattern cell.
cv::Mat markerArtwork(const PatternImage& upright, double margin = 0.25, int cell = 16);

/// A 16x16 pattern of random blocks that has no rotational symmetry, seeded.
PatternImage randomPattern(unsigned seed);

struct RenderedMarker {
    /// Image corners UL, UR, LR, LL of the marker's outer border.
    std::array<cv::Point2d, 4> corners;
};

/// Draws `artwork` (as made by markerArtwork with `margin`) of a marker `width` wide at pose
/// camera_from_marker into `image` (BGR, 8-bit), through a camera without distortion. Pixel
/// centres are at integer coordinates; 4x4 supersampling.
RenderedMarker renderMarker(cv::Mat& image, const cv::Mat& artwork, double margin, double width,
                            const Pose& cameraFromMarker, const cv::Matx33d& k);

/// camera_from_marker for a marker at distance `distance` on the optical axis offset by
/// (x, y), turned by `roll` about its normal and tilted by `tilt` about its x axis (degrees).
Pose lookAtPose(double distance, double x, double y, double rollDegrees, double tiltDegrees);

/// What `camera`'s lens makes of an ideal image: each observed pixel takes the ideal image's
/// value at the ideal position of its centre. `corners` move with it.
cv::Mat distortImage(const cv::Mat& ideal, const osgART::CameraParameters& camera,
                     std::array<cv::Point2d, 4>& corners);

/// Adds Gaussian noise of standard deviation `sigma` grey levels, seeded.
void addNoise(cv::Mat& image, double sigma, unsigned seed);

}  // namespace quorv::markers::testing
