#pragma once

// Test support: frames of pattern markers at known placements, drawn by the synthetic camera
// (quorv_synth), with the truth of where each marker's corners and pose are.

#include <synth/SynthRenderer.h>

#include <vector>

#include "Pattern.h"
#include "Pose.h"

namespace quorvtest {

/// A 16x16 pattern of 4x4-cell blocks, black or white, seeded; its corner blocks (one white,
/// three black) keep every quarter turn distinct.
quorv::markers::PatternImage randomPattern(unsigned seed);

/// A marker to draw: its pattern (the black border is added), outer width in mm, placement.
struct Shown {
    quorv::markers::PatternImage pattern;
    double width;
    quorv::MarkerPlacement at;
};

struct Shot {
    cv::Mat image;            ///< BGR
    quorv::FrameTruth truth;  ///< the markers in the order given
};

/// One frame of `markers` over a flat grey page, seen through `camera`, with `effects` applied.
Shot shoot(const osgART::CameraParameters& camera, const std::vector<Shown>& markers,
           const quorv::ImageEffects& effects = {}, int grey = 150);

/// The true metric pose of a marker of a shot.
inline quorv::markers::Pose truePose(const quorv::FrameTruth::Marker& m) {
    return quorv::markers::Pose::fromMatrix(cv::Matx34d(m.cameraFromMarker.data()));
}

}  // namespace quorvtest
