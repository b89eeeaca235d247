#pragma once

#include <osg/Matrixd>

#include "Pose.h"

namespace quorv::markers {

/// The OpenGL modelview for a marker at camera_from_marker (classic camera frame: x right,
/// y down, z forward), for the right-handed eye frame of Calibration::projectionMatrix (x right,
/// y up, looking down -z): M = diag(1, -1, -1, 1) * [R | t; 0 0 0 1], a half turn about x.
/// osg::Matrixd multiplies row vectors, so it holds the transpose: m(j, i) = M[i][j].
osg::Matrixd modelviewFromPose(const Pose& cameraFromMarker);

}  // namespace quorv::markers
