// Whether camera parameters describe a projection that can map the image.
#include <cmath>
#include <utility>

#include "CameraParameters.h"

namespace osgART {
namespace {

bool refuse(std::string* reason, const std::string& why) {
    if (reason) *reason = why;
    return false;
}

bool inside(double x, double y, int width, int height) {
    return x >= 0 && x <= width && y >= 0 && y <= height;
}

}  // namespace

bool CameraParameters::validate(std::string* reason) const {
    if (xsize <= 0 || ysize <= 0) return refuse(reason, "the image size is not positive");
    for (const auto& row : mat)
        for (double v : row)
            if (!std::isfinite(v))
                return refuse(reason, "the projection holds a non-finite number");
    for (double v : dist)
        if (!std::isfinite(v)) return refuse(reason, "the distortion holds a non-finite number");
    const Intrinsics k = intrinsics();
    if (!std::isfinite(k.fx) || !std::isfinite(k.fy) || !std::isfinite(k.cx) ||
        !std::isfinite(k.cy) || !std::isfinite(k.skew))
        return refuse(reason, "the projection has no finite intrinsics");
    if (!(k.fx > 0) || !(k.fy > 0)) return refuse(reason, "a focal length is zero or negative");
    const std::string size = std::to_string(xsize) + "x" + std::to_string(ysize);
    if (!inside(k.cx, k.cy, xsize, ysize))
        return refuse(reason, "the principal point (" + std::to_string(k.cx) + ", " +
                                  std::to_string(k.cy) + ") lies outside the " + size + " image");
    const double scale = model == Model::Radial4 ? dist[3] : dist[8];
    if (!(scale > 0)) return refuse(reason, "the distortion scale is not positive");
    if (model == Model::Brown9 && (!(dist[4] > 0) || !(dist[5] > 0)))
        return refuse(reason, "a distortion focal length is zero or negative");
    const double x0 = model == Model::Radial4 ? dist[0] : dist[6];
    const double y0 = model == Model::Radial4 ? dist[1] : dist[7];
    if (!inside(x0, y0, xsize, ysize))
        return refuse(reason, "the distortion centre lies outside the " + size + " image");

    // Walk out from the centre towards each corner, in ideal positions, until the lens puts the
    // point past the corner. The distorted distance must grow at every step: where it stops
    // growing, two ideal points land on one pixel and the image folds. A lens that never
    // reaches the corner within eight times its distance cannot map the image's rim either.
    const int steps = 2000;
    for (const auto& [cornerX, cornerY] : {std::pair<double, double>{0, 0},
                                           {double(xsize), 0},
                                           {0, double(ysize)},
                                           {double(xsize), double(ysize)}}) {
        const double dx = cornerX - x0, dy = cornerY - y0, reach = std::hypot(dx, dy);
        if (reach < 1) continue;
        double last = 0;
        bool reached = false;
        for (int i = 1; i <= 8 * steps && !reached; ++i) {
            const double t = double(i) / steps;
            double ox, oy;
            observedFromIdeal(x0 + t * dx, y0 + t * dy, ox, oy);
            const double distance = std::hypot(ox - x0, oy - y0);
            if (!std::isfinite(distance) || distance <= last)
                return refuse(reason, "the lens distortion folds the image " +
                                          std::to_string(int(last)) + " px from its centre");
            last = distance;
            reached = distance >= reach;
        }
        if (!reached) return refuse(reason, "the lens distortion cannot reach the image's corners");
    }
    return true;
}

}  // namespace osgART
