#pragma once

#include <array>
#include <opencv2/core.hpp>
#include <string>
#include <vector>

#include "Pattern.h"

namespace quorv::markers {

/// Sampling a candidate's pattern area and identifying it by normalised correlation.
struct MatchParameters {
    /// Least correlation for an identification (-1..1). 0.5 is the classic toolkit's fixed
    /// value. Raise it (0.6 to 0.7) when false detections in clutter matter more than
    /// detection of small, blurred or oblique markers.
    double minConfidence = 0.5;
    /// Correlate the three colour planes (the classic default); false correlates grey values
    /// only, which is steadier under coloured light when the patterns are black and white.
    bool colour = true;
    /// A sample whose values spread less than this (standard deviation, grey levels) is a flat
    /// patch and never identified.
    double minSampleDeviation = 8.0;
    /// The border check: the black border must be darker than the pattern's white by at least
    /// this many grey levels ...
    double minBorderContrast = 40.0;
    /// ... and at least this fraction of the border samples must be darker than halfway
    /// between the two. Rejects outlines (boxes around text, frames) that are not a solid
    /// border of a quarter of the width.
    double minBorderDarkFraction = 0.85;
    /// Markers whose shortest side is below this many pixels are compared at 8x8 cells instead
    /// of 16x16: their pattern area is under 14 pixels across, so the finer cells only hold
    /// the blur between pixels, which lowers the correlation of the right pattern to about
    /// 0.6-0.7 at 16 pixels.
    double coarseBelowPx = 28.0;
    /// Templates are also compared softened, as the blur measured on the candidate's outer edge
    /// (times this factor) leaves them on a marker of the candidate's size: a small or blurred
    /// marker's sample is soft and correlates poorly with the sharp template. A sharp-edged
    /// candidate is compared with sharp templates only, so that look-alikes in crisp print do
    /// not gain from the softer ones.
    double softBlurFactor = 1.5;
    /// Candidates that correlate below `smearedBelow` and whose edges are blurred by more than
    /// `smearedFromPx` (a Gaussian's sigma in pixels) on one pair of sides are also compared
    /// with templates smeared as their edges are, scaled by `smearScale`: the blur of a
    /// straight smear measured at its steepest slope is about 1.4 times its standard
    /// deviation.
    double smearedBelow = 0.85;
    double smearedFromPx = 0.8;
    double smearScale = 1.0;
    /// Candidates that correlate below `fullBorderBelow` must show the border's full width on
    /// every side where the pattern is light next to it: the border's inner edge a quarter of
    /// the way in, within `borderSlackPx` plus `borderSlackBlur` times the blur measured across
    /// that side (pixels; see borderDepths). A marker partly under another marker's paper gives
    /// a quad whose side runs along the paper's edge, inside its own: its border there looks
    /// too thin, its corners are pulled in by as much, and its pattern, sampled off, matches
    /// weakly. Markers seen whole end their border within 0.5 px of a quarter, and within 1.5
    /// times the blur across a side when waved.
    double fullBorderBelow = 0.8;
    double borderSlackPx = 1.2;
    double borderSlackBlur = 1.5;
};

/// Where in the image the candidate is: four corners, clockwise on screen, in observed
/// (distorted) pixel coordinates. Corner 0 is the sampling origin.
using QuadCorners = std::array<cv::Point2d, 4>;

/// The pattern area of one candidate, sampled as a 16x16 template in the candidate's corner
/// order: row 0 along corners 0 to 1, column 0 along corners 0 to 3.
struct PatternSample {
    PatternImage image;
    /// The quad's shortest side, pixels.
    double shortestSide = 0;
    /// Whether the border check passed.
    bool borderOk = false;
};

/// Samples the central half of the quad (inside the border) from an 8-bit image of 1, 3 or 4
/// channels; `rgb` says the colour channels run R, G, B instead of B, G, R. Each cell averages
/// 2 x 2 to 3 x 3 bilinear samples, more for larger markers.
PatternSample samplePattern(const cv::Mat& image, bool rgb, const QuadCorners& corners,
                            const MatchParameters& params);

/// Where the black border ends on each side of the quad (side k runs from corner k to k + 1),
/// as a share of the quad's width from that side: 0.25 on a marker seen whole. Measured where
/// the template `block` (in the quad's orientation, as matched) has light cells next to the
/// border, as the median crossing of the level halfway between the border and those cells; -1
/// for a side with fewer than three such places. A side that runs along the edge of something
/// covering the marker's border (another marker's paper) lies inside the true side, and there
/// the border ends too soon.
std::array<double, 4> borderDepths(const cv::Mat& image, bool rgb, const QuadCorners& corners,
                                   const PatternImage& block);

/// The best pattern and orientation for one sample.
struct Match {
    /// Index of the pattern in the matcher, or -1 when nothing correlates positively.
    int pattern = -1;
    /// The orientation block that matched: the quad's corner (4 - dir) % 4 is the pattern's
    /// upper-left corner.
    int dir = 0;
    double confidence = 0.0;
};

/// The loaded patterns, prepared for correlation.
class PatternMatcher {
  public:
    /// Adds a pattern; returns its index.
    int add(const Pattern& pattern);
    int size() const { return _patterns; }
    /// The template of `pattern` in orientation block `dir`, as loaded.
    const PatternImage& block(int pattern, int dir) const;

    /// The best (pattern, orientation) for `sample` over every pattern and block; ties keep the
    /// first. Applies no minimum confidence. `shortestSide` is the candidate's, in pixels, and
    /// `edgeBlur` the softness of its outer edge (RefinedQuad::edgeBlur): they set how soft a
    /// template may be compared; 0 compares the sharp templates at 16x16 only.
    Match match(const PatternImage& sample, const MatchParameters& params, double shortestSide = 0,
                double edgeBlur = 0) const;

    /// The best (pattern, orientation) against the templates smeared by Gaussians of
    /// `sigmaCols` cells along the sample's rows and `sigmaRows` cells along its columns: a
    /// marker waved during the exposure is smeared along the way it moved, more across some
    /// of its sides than others. Colour planes, no coarse cells.
    Match matchSmeared(const PatternImage& sample, const MatchParameters& params, double sigmaCols,
                       double sigmaRows) const;

  private:
    int _patterns = 0;
    /// Every block of every pattern as loaded.
    std::vector<PatternImage> _sharp;
    /// Every block of every pattern at each softness, mean removed and scaled to unit length,
    /// in colour (768 values) and in grey (256 values).
    std::vector<std::array<float, kPatternValues>> _blocks;
    std::vector<std::array<float, kPatternSize * kPatternSize>> _greyBlocks;
    /// The same at 8x8 cells.
    std::vector<std::array<float, kPatternValues / 4>> _coarseBlocks;
    std::vector<std::array<float, kPatternSize * kPatternSize / 4>> _coarseGreyBlocks;
};

}  // namespace quorv::markers
