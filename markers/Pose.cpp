#include "Pose.h"

#include <cmath>
#include <limits>
#include <opencv2/calib3d.hpp>

namespace quorv::markers {
namespace {

Pose fromVectors(const cv::Mat& rvec, const cv::Mat& tvec) {
    cv::Mat r;
    cv::Rodrigues(rvec, r);
    Pose pose;
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) pose.rotation(i, j) = r.at<double>(i, j);
        pose.translation[i] = tvec.at<double>(i);
    }
    return pose;
}

/// Rotation matrix of the rotation vector w (angle |w| about w / |w|).
cv::Matx33d rotationFromVector(const cv::Vec3d& w) {
    const double angle = cv::norm(w);
    if (angle < 1e-12) return cv::Matx33d::eye();
    const cv::Vec3d a = w * (1.0 / angle);
    const double c = std::cos(angle), s = std::sin(angle), v = 1.0 - c;
    return cv::Matx33d(c + a[0] * a[0] * v, a[0] * a[1] * v - a[2] * s, a[0] * a[2] * v + a[1] * s,
                       a[1] * a[0] * v + a[2] * s, c + a[1] * a[1] * v, a[1] * a[2] * v - a[0] * s,
                       a[2] * a[0] * v - a[1] * s, a[2] * a[1] * v + a[0] * s, c + a[2] * a[2] * v);
}

/// Sum of squared reprojection errors; a point behind the camera makes it infinite.
double squaredError(const std::vector<cv::Point3d>& model, const std::vector<cv::Point2d>& image,
                    const cv::Matx33d& k, const Pose& pose) {
    double sum = 0;
    for (size_t i = 0; i < model.size(); ++i) {
        const cv::Point3d c = pose * model[i];
        if (c.z <= 1e-9) return std::numeric_limits<double>::infinity();
        const double u = (k(0, 0) * c.x + k(0, 1) * c.y) / c.z + k(0, 2);
        const double v = k(1, 1) * c.y / c.z + k(1, 2);
        sum += (u - image[i].x) * (u - image[i].x) + (v - image[i].y) * (v - image[i].y);
    }
    return sum;
}

/// Levenberg-Marquardt on the reprojection error, over a small rotation applied on the left
/// (R <- exp(w) R) and a translation step. A handful of 6x6 solves; converges in a few steps
/// from the closed-form start.
Pose refinePose(const std::vector<cv::Point3d>& model, const std::vector<cv::Point2d>& image,
                const cv::Matx33d& k, Pose pose) {
    double error = squaredError(model, image, k, pose);
    double lambda = 1e-3;
    for (int iteration = 0; iteration < 20 && std::isfinite(error); ++iteration) {
        cv::Matx66d jtj = cv::Matx66d::zeros();
        cv::Vec6d jtr = cv::Vec6d::all(0);
        for (size_t i = 0; i < model.size(); ++i) {
            const cv::Vec3d rx = pose.rotation * cv::Vec3d(model[i].x, model[i].y, model[i].z);
            const cv::Vec3d c = rx + pose.translation;
            const double iz = 1.0 / c[2], iz2 = iz * iz;
            const double r[2] = {(k(0, 0) * c[0] + k(0, 1) * c[1]) * iz + k(0, 2) - image[i].x,
                                 k(1, 1) * c[1] * iz + k(1, 2) - image[i].y};
            // d(u, v)/d(camera point)
            const double du[3] = {k(0, 0) * iz, k(0, 1) * iz,
                                  -(k(0, 0) * c[0] + k(0, 1) * c[1]) * iz2};
            const double dv[3] = {0.0, k(1, 1) * iz, -k(1, 1) * c[1] * iz2};
            // d(camera point)/dw = -[R x]_cross, d(camera point)/dt = I
            const double* rows[2] = {du, dv};
            for (int e = 0; e < 2; ++e) {
                const double* d = rows[e];
                const double j[6] = {d[1] * -rx[2] + d[2] * rx[1],
                                     d[0] * rx[2] + d[2] * -rx[0],
                                     d[0] * -rx[1] + d[1] * rx[0],
                                     d[0],
                                     d[1],
                                     d[2]};
                for (int a = 0; a < 6; ++a) {
                    jtr[a] += j[a] * r[e];
                    for (int b = 0; b <= a; ++b) jtj(a, b) += j[a] * j[b];
                }
            }
        }
        for (int a = 0; a < 6; ++a)
            for (int b = a + 1; b < 6; ++b) jtj(a, b) = jtj(b, a);
        bool improved = false;
        for (int attempt = 0; attempt < 8 && !improved; ++attempt) {
            cv::Matx66d damped = jtj;
            for (int a = 0; a < 6; ++a) damped(a, a) *= 1.0 + lambda;
            cv::Vec6d step;
            if (!cv::solve(damped, -jtr, step, cv::DECOMP_CHOLESKY)) return pose;
            Pose next{rotationFromVector(cv::Vec3d(step[0], step[1], step[2])) * pose.rotation,
                      pose.translation + cv::Vec3d(step[3], step[4], step[5])};
            const double e = squaredError(model, image, k, next);
            if (e < error) {
                // A gain this small moves the corners by far less than a thousandth of a pixel.
                const bool converged = error - e < 1e-8 * (1.0 + error);
                pose = next;
                error = e;
                lambda = std::max(lambda * 0.1, 1e-9);
                improved = true;
                if (converged) return pose;
            } else {
                lambda *= 10.0;
            }
        }
        if (!improved) break;
    }
    return pose;
}

double rmsReprojection(const std::vector<cv::Point3d>& model, const std::vector<cv::Point2d>& image,
                       const cv::Matx33d& k, const Pose& pose) {
    return std::sqrt(squaredError(model, image, k, pose) / model.size());
}

}  // namespace

cv::Matx34d Pose::matrix() const {
    cv::Matx34d m;
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) m(i, j) = rotation(i, j);
        m(i, 3) = translation[i];
    }
    return m;
}

Pose Pose::fromMatrix(const cv::Matx34d& m) {
    Pose p;
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) p.rotation(i, j) = m(i, j);
        p.translation[i] = m(i, 3);
    }
    return p;
}

double rotationAngleDegrees(const cv::Matx33d& a, const cv::Matx33d& b) {
    const cv::Matx33d r = a.t() * b;
    const double c = std::clamp((r(0, 0) + r(1, 1) + r(2, 2) - 1.0) / 2.0, -1.0, 1.0);
    return std::acos(c) * 180.0 / CV_PI;
}

std::array<cv::Point3d, 4> squareCorners(double width, cv::Point2d center) {
    const double h = width / 2.0;
    return {cv::Point3d(center.x - h, center.y + h, 0), cv::Point3d(center.x + h, center.y + h, 0),
            cv::Point3d(center.x + h, center.y - h, 0), cv::Point3d(center.x - h, center.y - h, 0)};
}

PoseFit fitPose(const std::vector<cv::Point3d>& model, const std::vector<cv::Point2d>& image,
                const cv::Matx33d& k, const Pose* previous, const PoseParameters& params) {
    PoseFit out;
    if (model.size() < 4 || model.size() != image.size()) return out;
    bool planar = true;
    for (const auto& p : model) planar = planar && std::abs(p.z) < 1e-9;

    // Last frame's pose polished onto this frame's corners: when it fits them to well within
    // the ambiguity tolerance, it is the fit the choice below would keep (no other fit can be
    // better by more than the tolerance, and none is nearer last frame's pose), so the
    // closed-form solutions, their polish and the choice are skipped.
    PoseFit fromPrevious;
    if (previous && params.refine) {
        fromPrevious.cameraFromModel = refinePose(model, image, k, *previous);
        fromPrevious.rmsError = rmsReprojection(model, image, k, fromPrevious.cameraFromModel);
        fromPrevious.ok = std::isfinite(fromPrevious.rmsError);
        if (fromPrevious.ok && fromPrevious.rmsError < 0.5 * params.ambiguityTolerance)
            return fromPrevious;
    }

    std::vector<Pose> starts;
    try {
        std::vector<cv::Mat> rvecs, tvecs;
        cv::solvePnPGeneric(model, image, k, cv::noArray(), rvecs, tvecs, false,
                            planar ? cv::SOLVEPNP_IPPE : cv::SOLVEPNP_SQPNP);
        for (size_t i = 0; i < rvecs.size(); ++i) starts.push_back(fromVectors(rvecs[i], tvecs[i]));
    } catch (const cv::Exception&) {
        // Degenerate corners (collinear, coincident): no closed-form start.
    }
    if (previous && !params.refine) starts.push_back(*previous);

    std::vector<PoseFit> fits;
    for (const Pose& start : starts) {
        PoseFit fit;
        fit.cameraFromModel = start;
        if (params.refine) fit.cameraFromModel = refinePose(model, image, k, start);
        fit.rmsError = rmsReprojection(model, image, k, fit.cameraFromModel);
        fit.ok = std::isfinite(fit.rmsError);
        if (fit.ok) fits.push_back(fit);
    }
    if (fromPrevious.ok) fits.push_back(fromPrevious);
    if (fits.empty()) return out;

    size_t best = 0;
    for (size_t i = 1; i < fits.size(); ++i)
        if (fits[i].rmsError < fits[best].rmsError) best = i;
    if (previous) {
        // Among the fits nearly as good as the best, keep the one nearest last frame's.
        double nearest =
            rotationAngleDegrees(fits[best].cameraFromModel.rotation, previous->rotation);
        const size_t bestByError = best;
        for (size_t i = 0; i < fits.size(); ++i) {
            if (fits[i].rmsError > fits[bestByError].rmsError + params.ambiguityTolerance) continue;
            const double angle =
                rotationAngleDegrees(fits[i].cameraFromModel.rotation, previous->rotation);
            if (angle < nearest - 1e-9) {
                nearest = angle;
                best = i;
            }
        }
    }
    return fits[best];
}

PoseFit polishPose(const std::vector<cv::Point3d>& model, const std::vector<cv::Point2d>& image,
                   const cv::Matx33d& k, const Pose& start) {
    PoseFit fit;
    if (model.size() < 4 || model.size() != image.size()) return fit;
    fit.cameraFromModel = refinePose(model, image, k, start);
    fit.rmsError = rmsReprojection(model, image, k, fit.cameraFromModel);
    fit.ok = std::isfinite(fit.rmsError);
    return fit;
}

}  // namespace quorv::markers
