#pragma once

#include <Pattern.h>

#include <opencv2/core.hpp>

namespace quorv {

/// Turns a flat, upright marker image into the 16x16 B, G, R template of a pattern file.
class PatternSampler {
  public:
    struct Options {
        /// What the image shows. WholeMarker: the marker edge to edge, black border included,
        /// so its central 50 % is sampled. InnerOnly: just the pattern area, all of it sampled.
        enum class Region { WholeMarker, InnerOnly } region = Region::WholeMarker;
    };

    PatternSampler();
    explicit PatternSampler(const Options& options) : _options(options) {}

    /// Each cell is the exact area average of the image over its sixteenth of the sampled region
    /// (pixel (0, 0) covers [−0.5, 0.5]², partial pixels count by their overlap), rounded. Row 0
    /// is the image's top. Takes 8-bit grey, BGR or BGRA images.
    markers::PatternImage sample(const cv::Mat& image) const;

  private:
    Options _options;
};

}  // namespace quorv
