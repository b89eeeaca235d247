#pragma once

#include <osgart/CameraParameters.h>

#include <array>
#include <memory>
#include <opencv2/core.hpp>
#include <string>
#include <vector>

#include "FrameTruth.h"
#include "SynthScript.h"

namespace quorv {

/// Renders the frames of a synthetic camera script: markers drawn at their scripted poses through
/// a calibrated lens (distortion included) over a background, then the script's image effects.
/// Every frame depends only on the script, the seed and its index, so frames can be rendered in any
/// order and again with the same result.
class SynthRenderer {
  public:
    struct Options {
        /// Samples per output pixel along each axis. 3 keeps edges within a few grey levels of
        /// exact coverage; 1 is faster but aliases.
        int supersampling = 3;
    };

    /// Builds a renderer from a script, loading its calibration, marker images and background.
    /// On failure returns null and says why in `error`.
    static std::unique_ptr<SynthRenderer> create(const SynthScript& script, const Options& options,
                                                 std::string* error = nullptr);

    /// Builds a renderer from parts already in memory: `markerImages[i]` (BGR, 8-bit) belongs to
    /// `script.markers[i]`; the calibration is rescaled to the script's size if it differs.
    /// `background` is used when the script asks for an image background.
    SynthRenderer(SynthScript script, const osgART::CameraParameters& camera,
                  const std::vector<cv::Mat>& markerImages, const Options& options,
                  const cv::Mat& background = cv::Mat());
    ~SynthRenderer();

    int width() const { return _script.width; }
    int height() const { return _script.height; }
    const SynthScript& script() const { return _script; }
    /// The calibration in use, at the output size.
    const osgART::CameraParameters& camera() const { return _camera; }

    /// Renders one frame (BGR, 8-bit, width × height).
    cv::Mat render(int frame) const;
    /// The true state of every marker shown at that frame.
    FrameTruth truth(int frame) const;

    /// Where the lens puts a camera-frame point (mm): observed pixel position. Returns false if
    /// the point is not in front of the camera.
    bool project(const std::array<double, 3>& pointInCamera, double& u, double& v) const;

  private:
    struct PreparedMarker;

    /// Draws a BGRA texture (premultiplied colour, alpha = coverage) lying in a marker's plane:
    /// `levels` is its mip pyramid, `rect` (x0, y0, x1, y1) the part of the plane it covers (mm)
    /// and `texFromMarker` takes plane points (mm) to level-0 texel positions.
    void drawPlane(cv::Mat& frame, const std::vector<cv::Mat>& levels,
                   const std::array<double, 12>& pose, const std::array<double, 4>& rect,
                   const cv::Matx33d& texFromMarker) const;
    /// Draws a chessboard's paper for a board of the script.
    void prepareBoard(const ScriptMarker& board, PreparedMarker& out) const;
    void drawClutter(cv::Mat& frame, int frameIndex) const;
    void applyEffects(cv::Mat& frame, int frameIndex) const;
    FrameTruth::Marker markerTruth(const ScriptMarker& marker, const std::array<double, 12>& pose,
                                   double time) const;

    SynthScript _script;
    osgART::CameraParameters _camera;
    Options _options;
    cv::Mat _background;  ///< BGR, output size
    cv::Mat _idealMap;    ///< CV_32FC2, supersampled grid: ideal position of each observed sample
    std::array<double, 4> _idealBox{};  ///< x0, y0, x1, y1: bounds of the ideal positions seen
    cv::Mat _lightMap;  ///< CV_32F, lighting factor per pixel; empty when there is no gradient
    std::vector<std::unique_ptr<PreparedMarker>> _markers;
};

}  // namespace quorv
