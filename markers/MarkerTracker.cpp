#include "MarkerTracker.h"

#include <chrono>

namespace quorv::markers {
namespace {

/// The centre of four corners and their mean side.
struct Square {
    cv::Point2d centre;
    double side = 0;
};

template <class Corners>
Square squareOf(const Corners& c) {
    Square s;
    for (int k = 0; k < 4; ++k)
        s.centre += 0.25 * c[k], s.side += 0.25 * cv::norm(c[(k + 1) % 4] - c[k]);
    return s;
}

}  // namespace

MarkerTracker::MarkerTracker(const TrackerParameters& params)
    : _params(params), _detector(params.detector) {}

void MarkerTracker::setCamera(const osgART::CameraParameters& camera) {
    _detector.setCamera(camera);
    // Poses from another camera are no start for the next fit.
    for (Model& m : _markers) m.state.valid = false, m.missed = 1 << 20;
}

int MarkerTracker::loadPattern(const std::string& path, std::string* error) {
    const auto known = _patternByPath.find(path);
    if (known != _patternByPath.end()) return known->second;
    auto pattern = Pattern::load(path, error);
    if (!pattern) return -1;
    const int index = _detector.addPattern(*pattern);
    _patternPaths.push_back(path);
    _patternByPath[path] = index;
    return index;
}

int MarkerTracker::addSingle(int pattern, double width, cv::Point2d center) {
    Model model;
    model.members.push_back(Model::Member{pattern, squareCorners(width, center)});
    _markers.push_back(model);
    return markerCount() - 1;
}

int MarkerTracker::addMulti(const MultiMarkerConfig& config, std::string* error) {
    Model model;
    model.multi = true;
    for (const MultiMarkerConfig::Member& m : config.members) {
        const int pattern = loadPattern(m.patternPath, error);
        if (pattern < 0) return -1;
        Model::Member member{pattern, squareCorners(m.width, m.center)};
        const cv::Matx33d r = m.setFromMarker.get_minor<3, 3>(0, 0);
        const cv::Vec3d t(m.setFromMarker(0, 3), m.setFromMarker(1, 3), m.setFromMarker(2, 3));
        const Pose setFromMarker{r, t};
        for (cv::Point3d& c : member.corners) c = setFromMarker * c;
        model.members.push_back(member);
    }
    _markers.push_back(model);
    return markerCount() - 1;
}

int MarkerTracker::addMarker(const MarkerConfig& config, std::string* error) {
    if (config.kind == MarkerConfig::Kind::Single) {
        const int pattern = loadPattern(config.path, error);
        return pattern < 0 ? -1 : addSingle(pattern, config.width, config.center);
    }
    auto multi = MultiMarkerConfig::read(config.path, error);
    return multi ? addMulti(*multi, error) : -1;
}

void MarkerTracker::update(const cv::Mat& image, bool rgb) {
    // 1. Detect and identify the markers of every loaded pattern.
    _last = _detector.detect(image, rgb);
    const auto start = std::chrono::steady_clock::now();

    // 2. Fit each active marker's pose from its pattern's detection.
    std::vector<const Detection*> byPattern(_detector.patternCount(), nullptr);
    for (const Detection& d : _last.detections) byPattern[d.pattern] = &d;
    for (Model& model : _markers) {
        if (!model.active) {
            model.state.valid = false;
            continue;
        }
        fit(model, byPattern, image, rgb);
    }
    _last.timings.pose =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    _last.timings.total += _last.timings.pose;
}

void MarkerTracker::fit(Model& model, const std::vector<const Detection*>& byPattern,
                        const cv::Mat& image, bool rgb) {
    TrackedMarker& state = model.state;
    const bool hadPose = state.valid;
    state.valid = false;
    // Lost a moment ago: still looked for where it was last seen (a finger may have hidden
    // it for a few frames), with the lower confidence, but no longer moving on.
    const bool recent = hadPose || model.missed <= _params.coastFrames;
    model.missed = std::min(model.missed + 1, 1 << 20);
    const double since = model.missed;  // frames since it was last valid, this one included

    // Correspondences of every member seen: model corners against observed and ideal corners.
    std::vector<cv::Point3d> corners;
    std::vector<cv::Point2d> observed, ideal;
    double confidence = 0;
    for (const Model::Member& member : model.members) {
        const Detection* d = member.pattern < static_cast<int>(byPattern.size())
                                 ? byPattern[member.pattern]
                                 : nullptr;
        if (!d || (model.multi && d->confidence < _params.multiMinConfidence)) continue;
        for (int k = 0; k < 4; ++k) {
            corners.push_back(member.corners[k]);
            observed.push_back(d->observed[k]);
            ideal.push_back(d->ideal[k]);
        }
        confidence = std::max(confidence, d->confidence);
    }
    // A single marker tracked a moment ago and not found whole now may be partly hidden (a
    // finger on its border): it is looked for where it would be had it kept moving as it did,
    // then where it was last seen (a hand that stops or turns back).
    std::optional<Detection> near;
    if (corners.empty() && recent && !model.multi) {
        for (const double moving : {since, 0.0}) {
            std::array<cv::Point2d, 4> at;
            for (int k = 0; k < 4; ++k) at[k] = state.corners[k] + moving * model.cornerMotion[k];
            near = _detector.findNear(_last, image, rgb, at, model.members[0].pattern);
            if (near || model.cornerMotion == std::array<cv::Point2d, 4>{}) break;
        }
    }
    if (near) {
        for (int k = 0; k < 4; ++k) {
            corners.push_back(model.members[0].corners[k]);
            observed.push_back(near->observed[k]);
            ideal.push_back(near->ideal[k]);
        }
        confidence = near->confidence;
    }
    if (corners.empty()) return;
    // Below the acquiring confidence, or found only by looking where it was expected: kept only
    // if tracked a moment ago and still near where it was expected.
    const bool weak = confidence < _params.acquireConfidence || near;
    if (weak && !recent) return;
    if (weak && !model.multi) {
        const Square now = squareOf(observed), last = squareOf(state.corners);
        const cv::Point2d ahead = last.centre + since * squareOf(model.cornerMotion).centre;
        if (cv::norm(now.centre - ahead) > _params.keepReach * last.side + _params.keepSlackPx ||
            std::abs(now.side - last.side) > _params.keepReach * last.side)
            return;
    }

    const osgART::CameraParameters::Intrinsics in = _detector.camera().intrinsics();
    const cv::Matx33d k(in.fx, in.skew, in.cx, 0, in.fy, in.cy, 0, 0, 1);
    // The drawing pose differs from the metric one only by the lens's distortion of the
    // corners: it starts from the metric pose and needs no closed-form solution of its own.
    const PoseFit metric =
        fitPose(corners, ideal, k, recent ? &state.cameraFromMarker : nullptr, _params.pose);
    const PoseFit drawing =
        metric.ok ? polishPose(corners, observed, k, metric.cameraFromModel) : metric;
    if (!drawing.ok || !metric.ok) return;
    state.valid = true;
    model.missed = 0;
    state.confidence = confidence;
    state.drawingCameraFromMarker = drawing.cameraFromModel;
    state.cameraFromMarker = metric.cameraFromModel;
    state.rmsError = metric.rmsError;
    if (!model.multi) {
        for (int k = 0; k < 4; ++k)
            model.cornerMotion[k] =
                recent ? (observed[k] - state.corners[k]) / since : cv::Point2d();
        state.corners = {observed[0], observed[1], observed[2], observed[3]};
    }
}

}  // namespace quorv::markers
