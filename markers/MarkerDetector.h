#pragma once

#include <osgart/CameraParameters.h>

#include <array>
#include <opencv2/core.hpp>
#include <optional>
#include <string>
#include <vector>

#include "CornerRefinement.h"
#include "Pattern.h"
#include "PatternMatcher.h"
#include "QuadCandidates.h"
#include "Threshold.h"

namespace quorv::markers {

/// Everything the detector can be tuned with, one struct per stage; the defaults are set in
/// the stage structs and nowhere else.
struct DetectorParameters {
    ThresholdParameters threshold;
    CandidateParameters candidates;
    CornerParameters corners;
    MatchParameters match;
    /// The debug switch: when not empty, every detect() writes its stage images into this
    /// folder (NNNNNN-1-threshold.png, NNNNNN-2-candidates.png). Slow; for tuning only.
    std::string debugFolder;
};

/// Time spent in each stage of one frame, in milliseconds. Always recorded.
struct StageTimings {
    double grey = 0;       ///< colour to grey conversion
    double threshold = 0;  ///< shrinking and binarisation
    double contours = 0;   ///< outlines and quadrilateral candidates
    double corners = 0;    ///< sub-pixel corners
    double identify = 0;   ///< pattern sampling, correlation, best candidate per pattern
    double pose = 0;       ///< pose fits (filled in by the tracker)
    double total = 0;
};

/// One identified marker in one image.
struct Detection {
    /// Index of the pattern (in the order of addPattern).
    int pattern = -1;
    /// Normalised correlation with the pattern, -1..1.
    double confidence = 0.0;
    /// Which orientation block matched (see PatternMatcher).
    int dir = 0;
    /// Corners UL, UR, LR, LL of the upright pattern: where they appear in the image
    /// (`observed`, with lens distortion) and where an ideal lens would put them (`ideal`).
    std::array<cv::Point2d, 4> observed;
    std::array<cv::Point2d, 4> ideal;
};

struct DetectionResult {
    /// At most one per pattern: its best candidate, if that reaches the minimum confidence.
    std::vector<Detection> detections;
    /// Quadrilaterals that went into identification (after corner refinement).
    int candidates = 0;
    StageTimings timings;
    /// The grey image the detections were found in (shares the caller's pixels when the image
    /// was grey already).
    cv::Mat grey;
};

/// Finds square pattern markers in single images. Holds the loaded patterns and the camera;
/// detect() is const and keeps no state from one image to the next.
class MarkerDetector {
  public:
    explicit MarkerDetector(const DetectorParameters& params = DetectorParameters())
        : _params(params) {}

    const DetectorParameters& parameters() const { return _params; }

    /// Adds a pattern; returns its index.
    int addPattern(const Pattern& pattern) { return _matcher.add(pattern); }
    int patternCount() const { return _matcher.size(); }

    /// The camera at the size of the images that will be analysed.
    void setCamera(const osgART::CameraParameters& camera) { _camera = camera; }
    const osgART::CameraParameters& camera() const { return _camera; }

    /// Analyses one 8-bit image of 1, 3 or 4 channels (colour as B, G, R[, A], or R, G, B[, A]
    /// when `rgb`), row 0 at the top.
    DetectionResult detect(const cv::Mat& image, bool rgb = false) const;

    /// Looks for a marker of `pattern` whose corners UL, UR, LR, LL are expected near
    /// `expected` (observed pixels) in the image last analysed (`last`, from detect()). Each
    /// side is searched for its edge along its whole length and fitted robustly, so that a
    /// finger over a corner or part of a side hides some of its edge points without moving
    /// the line; the border check is left out for the same reason. The pattern must still
    /// match in the expected orientation. Nothing when the sides are not found or the pattern
    /// does not match.
    std::optional<Detection> findNear(const DetectionResult& last, const cv::Mat& image, bool rgb,
                                      const std::array<cv::Point2d, 4>& expected,
                                      int pattern) const;

  private:
    /// The best pattern for a sampled candidate (see PatternMatcher), smeared templates
    /// included when its edges say it moved.
    Match identify(const PatternSample& sample, const RefinedQuad& corners) const;
    /// Whether a candidate identified as `match` shows its border's full width on every side
    /// where that can be seen (see MatchParameters::fullBorderBelow).
    bool fullBorder(const cv::Mat& image, bool rgb, const RefinedQuad& corners,
                    const Match& match) const;
    void writeDebugImages(const cv::Mat& grey, const BinaryImage& binary,
                          const std::vector<Quad>& quads, const DetectionResult& result) const;

    DetectorParameters _params;
    PatternMatcher _matcher;
    osgART::CameraParameters _camera;
    /// Numbers the debug images; counts frames only while the debug switch is on.
    mutable int _debugFrame = 0;
};

}  // namespace quorv::markers
