#pragma once

#include <array>
#include <opencv2/core.hpp>
#include <string>
#include <vector>

namespace quorvtest {

/// Camera footage of the exhibit's printed markers, made by quorv-synth at test time: a lossless
/// video to feed the program as its camera, the decoded frames and the ground truth of each.
class ExhibitClip {
  public:
    /// One keyframe of the synthetic camera's script (see tools/synth/README.md): the marker's
    /// centre in the camera frame (mm; x right, y down, z forward) and its turn (degrees).
    struct Key {
        std::string marker;  ///< "patt.tovex", "patt.camara" or "patt.roundplay"
        double time = 0.0;
        double x = 0.0, y = 0.0, z = 600.0;
        double roll = 0.0, pitch = 0.0, yaw = 0.0;
        bool shown = true;
    };

    struct Options {
        double fps = 10.0;
        double duration = 1.0;
        /// A flat background with no colour of the exhibit's content, so that drawn content
        /// stands out from the camera picture everywhere.
        cv::Scalar background{150, 160, 175};  // R, G, B
        int seed = 7;
    };

    /// What the synthetic camera knows about one marker in one frame.
    struct Marker {
        std::string name;
        /// Observed image positions of UL, UR, LR, LL; pixel centres at integer coordinates.
        std::array<cv::Point2d, 4> corners;
        /// X_camera = R·X_marker + t (camera x right, y down, z forward; mm).
        cv::Matx34d cameraFromMarker;
    };

    /// Renders the markers that `keys` mention into `folder`/`name`.mkv. Empty on failure,
    /// with the reason in `error`.
    static ExhibitClip render(const std::string& folder, const std::string& name,
                              const std::vector<Key>& keys, const Options& options,
                              std::string* error);

    bool valid() const { return !_frames.empty(); }
    /// The video file, for QUORV_VIDEO.
    const std::string& video() const { return _video; }
    size_t frameCount() const { return _frames.size(); }
    /// A frame as the program's video plugin decodes it (BGR).
    const cv::Mat& frame(size_t index) const { return _frames.at(index); }
    /// The markers shown in a frame, in the script's order.
    const std::vector<Marker>& markers(size_t index) const { return _truth.at(index); }
    /// One marker of a frame, or null when the frame does not show it.
    const Marker* marker(size_t index, const std::string& name) const;

    /// The exhibit folder of this checkout.
    static std::string exhibitFolder();

  private:
    std::string _video;
    std::vector<cv::Mat> _frames;
    std::vector<std::vector<Marker>> _truth;
};

}  // namespace quorvtest
