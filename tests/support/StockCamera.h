#pragma once

// The classic toolkit's stock 640x480 camera, for tests that render or project through it.

#include <osgart/CameraParameters.h>

#include <opencv2/core.hpp>

namespace quorvtest {

/// The stock camera at 640x480 (fx 700.95147, fy 726.09418, centre 316.5, 241.5, as published
/// with the classic 136-byte file) with radial distortion factor `f` (26.2 in the stock file; 0
/// for an ideal lens, whose distortion centre is then the principal point).
inline osgART::CameraParameters stockCamera(double f = 0.0) {
    osgART::CameraParameters c;
    c.xsize = 640;
    c.ysize = 480;
    c.mat = {{{700.95147, 0, 316.5, 0}, {0, 726.09418, 241.5, 0}, {0, 0, 1, 0}}};
    c.dist = f == 0.0 ? std::array<double, 9>{316.5, 241.5, 0.0, 1.0}
                      : std::array<double, 9>{318.5, 263.5, f, 1.012757};
    return c;
}

}  // namespace quorvtest
