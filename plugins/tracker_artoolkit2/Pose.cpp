#include "Pose.h"

#include <opencv2/calib3d.hpp>

#include <cmath>

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

void toVectors(const Pose& pose, cv::Mat& rvec, cv::Mat& tvec) {
    cv::Rodrigues(cv::Mat(pose.rotation), rvec);
    tvec = cv::Mat(pose.translation).clone();
}

double rmsReprojection(const std::vector<cv::Point3d>& model,
                       const std::vector<cv::Point2d>& image, const cv::Matx33d& k,
                       const Pose& pose) {
    double sum = 0;
    for (size_t i = 0; i < model.size(); ++i) {
        const cv::Point3d c = pose * model[i];
        if (c.z <= 0) return 1e30;
        const double u = k(0, 0) * c.x / c.z + k(0, 1) * c.y / c.z + k(0, 2);
        const double v = k(1, 1) * c.y / c.z + k(1, 2);
        sum += (u - image[i].x) * (u - image[i].x) + (v - image[i].y) * (v - image[i].y);
    }
    return std::sqrt(sum / model.size());
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

    std::vector<Pose> starts;
    try {
        std::vector<cv::Mat> rvecs, tvecs;
        cv::solvePnPGeneric(model, image, k, cv::noArray(), rvecs, tvecs, false,
                            planar ? cv::SOLVEPNP_IPPE : cv::SOLVEPNP_SQPNP);
        for (size_t i = 0; i < rvecs.size(); ++i) starts.push_back(fromVectors(rvecs[i], tvecs[i]));
    } catch (const cv::Exception&) {
        // Degenerate corners (collinear, coincident): no closed-form start.
    }
    if (previous) starts.push_back(*previous);
    if (starts.empty()) return out;

    std::vector<PoseFit> fits;
    for (const Pose& start : starts) {
        PoseFit fit;
        fit.cameraFromModel = start;
        if (params.refine) {
            cv::Mat rvec, tvec;
            toVectors(start, rvec, tvec);
            try {
                cv::solvePnPRefineLM(model, image, k, cv::noArray(), rvec, tvec);
                fit.cameraFromModel = fromVectors(rvec, tvec);
            } catch (const cv::Exception&) {
            }
        }
        fit.rmsError = rmsReprojection(model, image, k, fit.cameraFromModel);
        fit.ok = std::isfinite(fit.rmsError) && fit.rmsError < 1e29;
        if (fit.ok) fits.push_back(fit);
    }
    if (fits.empty()) return out;

    size_t best = 0;
    for (size_t i = 1; i < fits.size(); ++i)
        if (fits[i].rmsError < fits[best].rmsError) best = i;
    if (previous) {
        // Among the fits nearly as good as the best, keep the one nearest last frame's.
        double nearest = rotationAngleDegrees(fits[best].cameraFromModel.rotation, previous->rotation);
        const size_t bestByError = best;
        for (size_t i = 0; i < fits.size(); ++i) {
            if (fits[i].rmsError > fits[bestByError].rmsError + params.ambiguityTolerance) continue;
            const double angle = rotationAngleDegrees(fits[i].cameraFromModel.rotation, previous->rotation);
            if (angle < nearest - 1e-9) {
                nearest = angle;
                best = i;
            }
        }
    }
    return fits[best];
}

}  // namespace quorv::markers
