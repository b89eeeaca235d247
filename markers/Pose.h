#pragma once

#include <array>
#include <opencv2/core.hpp>
#include <vector>

namespace quorv::markers {

/// A rigid transform named target_from_source: x_in_target = rotation * x_in_source +
/// translation. They compose like matrices: a_from_c = a_from_b * b_from_c.
///
/// The camera frame is the classic toolkit's: origin at the optical centre, x right, y down
/// (the way image rows grow), z forward, in the marker width's units (mm). A marker frame has
/// its origin at the marker centre, x right and y up along the upright pattern and z out of
/// the printed face, so camera_from_marker of a marker facing the camera has its z axis
/// pointing at the camera (negative camera z).
struct Pose {
    cv::Matx33d rotation = cv::Matx33d::eye();
    cv::Vec3d translation = cv::Vec3d(0, 0, 0);

    Pose operator*(const Pose& other) const {
        return Pose{rotation * other.rotation, rotation * other.translation + translation};
    }
    Pose inverse() const {
        const cv::Matx33d rt = rotation.t();
        return Pose{rt, -(rt * translation)};
    }
    cv::Point3d operator*(const cv::Point3d& p) const {
        const cv::Vec3d v = rotation * cv::Vec3d(p.x, p.y, p.z) + translation;
        return cv::Point3d(v[0], v[1], v[2]);
    }
    /// The 3x4 matrix [R | t].
    cv::Matx34d matrix() const;
    static Pose fromMatrix(const cv::Matx34d& m);
};

/// Angle of the rotation that takes `a` to `b`, in degrees.
double rotationAngleDegrees(const cv::Matx33d& a, const cv::Matx33d& b);

/// Pose fitting: the marker's model corners against their image positions.
struct PoseParameters {
    /// Polish the closed-form solution by Levenberg-Marquardt on the reprojection error. Off
    /// only to measure what it gains.
    bool refine = true;
    /// A square seen nearly face-on has two poses that fit almost equally well (tilted
    /// towards or away from the camera). When their errors (RMS, px) differ by less than this,
    /// the one closer to the previous frame's pose is kept, so the pose does not flip from frame
    /// to frame. Raise it for noisy, small markers; 0 always takes the better fit.
    double ambiguityTolerance = 0.3;
};

/// A fitted pose and how well it explains the corners.
struct PoseFit {
    bool ok = false;
    Pose cameraFromModel;
    /// Root-mean-square reprojection error, px.
    double rmsError = 0.0;
};

/// Fits camera_from_model to `image` points (one per model point, at least 4) with the camera
/// matrix `k` and no distortion. A planar model (all z = 0) is solved in closed form for both
/// of its candidate poses; others by SQPnP. `previous`, when given, is last frame's pose: it is
/// tried as a starting point and breaks the planar ambiguity (see PoseParameters). Polished from
/// it first, a fit within half the ambiguity tolerance is returned without the closed-form
/// solutions, which could not displace it.
PoseFit fitPose(const std::vector<cv::Point3d>& model, const std::vector<cv::Point2d>& image,
                const cv::Matx33d& k, const Pose* previous, const PoseParameters& params);

/// Polishes `start`, a pose already near the answer (another fit of nearly the same points),
/// by Levenberg-Marquardt alone: no closed-form solution, no choice between ambiguous poses.
PoseFit polishPose(const std::vector<cv::Point3d>& model, const std::vector<cv::Point2d>& image,
                   const cv::Matx33d& k, const Pose& start);

/// The four corners UL, UR, LR, LL of a marker `width` wide centred at `center` in its frame.
std::array<cv::Point3d, 4> squareCorners(double width, cv::Point2d center = {0, 0});

}  // namespace quorv::markers
