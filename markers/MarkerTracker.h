#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "MarkerConfig.h"
#include "MarkerDetector.h"
#include "MultiMarkerConfig.h"
#include "Pose.h"

namespace quorv::markers {

/// Tracking of registered markers from frame to frame.
struct TrackerParameters {
    DetectorParameters detector;
    PoseParameters pose;
    /// Least confidence for a member of a multi-marker set to take part in the set's pose.
    /// Stricter than a single marker's minimum (as in the classic toolkit): one wrong member
    /// spoils the whole set.
    double multiMinConfidence = 0.7;
    /// Least confidence for a marker that was not tracked in the previous frame to become
    /// valid; once tracked it stays valid down to the detector's minimum (0.5). Marker
    /// look-alikes in clutter (dark squares with light blocks inside) reach correlations of
    /// 0.5 to 0.74 with Hiro, while every marker seen at 30 px or more correlates above 0.8, so
    /// this keeps look-alikes from flashing up without losing real markers or adding lag.
    /// Set it to 0.5 to report every detection at once.
    double acquireConfidence = 0.8;
    /// Where a tracked single marker may be found at the lower confidence: its corners'
    /// centre within this share of its side length (plus `keepSlackPx`) of where the previous
    /// two frames put it (constant speed), and its side within the same share of the previous
    /// side. Anywhere else, or when it was not seen in the previous frame, it needs the
    /// acquiring confidence, so that a look-alike elsewhere in the picture never takes over a
    /// tracked marker's name.
    double keepReach = 0.5;
    double keepSlackPx = 16.0;
    /// For this many frames after a single marker is lost it is still looked for where it was
    /// last seen, and found there at the lower confidence (see keepReach): a thumb moving over
    /// its border may hide it for a frame or two.
    int coastFrames = 10;
};

/// What the tracker knows about one registered marker after the latest frame.
struct TrackedMarker {
    bool valid = false;
    /// Single: the detection's confidence; multi: the best member's.
    double confidence = 0.0;
    /// The pose for drawing over the raw (distorted) image: fitted to the observed corners
    /// with the camera matrix alone, so projecting the marker with it lands on the corners
    /// the visitor sees. Marker frame to camera frame (see Pose).
    Pose drawingCameraFromMarker;
    /// The metric pose: fitted to the undistorted corners, the best estimate of where the
    /// marker really is.
    Pose cameraFromMarker;
    /// Reprojection error of the metric fit, RMS px.
    double rmsError = 0.0;
    /// Single markers: the corners UL, UR, LR, LL of the upright pattern where they appear in
    /// the image (with lens distortion).
    std::array<cv::Point2d, 4> corners;
};

/// Loads patterns and markers, runs the detector on each frame and fits every marker's pose,
/// starting from its previous pose when it was seen in the previous frame.
class MarkerTracker {
  public:
    explicit MarkerTracker(const TrackerParameters& params = TrackerParameters());

    /// The camera at the size of the frames that will be analysed.
    void setCamera(const osgART::CameraParameters& camera);
    const osgART::CameraParameters& camera() const { return _detector.camera(); }

    /// Reads a pattern file (once per path); returns its pattern index, or -1 with a reason.
    int loadPattern(const std::string& path, std::string* error = nullptr);
    /// The path a pattern index was loaded from.
    const std::string& patternPath(int pattern) const { return _patternPaths[pattern]; }

    /// Registers a single marker of a loaded pattern; returns the marker's index.
    int addSingle(int pattern, double width, cv::Point2d center = {0, 0});
    /// Registers a multi-marker set, loading its patterns; -1 with a reason on failure.
    int addMulti(const MultiMarkerConfig& config, std::string* error = nullptr);
    /// Registers the marker a configuration string describes, reading its files; -1 with a
    /// reason when a file is missing, unreadable or malformed.
    int addMarker(const MarkerConfig& config, std::string* error = nullptr);

    /// An inactive marker is not fitted and never valid. Markers start active.
    void setActive(int marker, bool active) { _markers[marker].active = active; }

    /// Analyses one frame (see MarkerDetector::detect) and updates every marker.
    void update(const cv::Mat& image, bool rgb = false);

    int markerCount() const { return static_cast<int>(_markers.size()); }
    const TrackedMarker& marker(int index) const { return _markers[index].state; }
    /// The detections and stage timings of the latest frame (timings include the pose fits).
    const DetectionResult& lastDetection() const { return _last; }

  private:
    struct Model {
        /// One entry per member: pattern and the marker's corners UL, UR, LR, LL in the frame
        /// the pose is given in (the marker's own frame, or the set's).
        struct Member {
            int pattern = -1;
            std::array<cv::Point3d, 4> corners;
        };
        std::vector<Member> members;
        bool multi = false;
        /// Single markers: how far each corner moved per frame up to the last sighting (zero
        /// after a first sighting); the corners themselves are in `state.corners`.
        std::array<cv::Point2d, 4> cornerMotion;
        /// Frames since it was last valid; large when it never was.
        int missed = 1 << 20;
        bool active = true;
        TrackedMarker state;
    };

    void fit(Model& model, const std::vector<const Detection*>& byPattern, const cv::Mat& image,
             bool rgb);

    TrackerParameters _params;
    MarkerDetector _detector;
    std::vector<std::string> _patternPaths;
    std::map<std::string, int> _patternByPath;
    std::vector<Model> _markers;
    DetectionResult _last;
};

}  // namespace quorv::markers
