#pragma once

#include <opencv2/core.hpp>
#include <string>

namespace quorv {

/// Makes the image to print for a marker from its pattern image: the pattern scaled into the
/// central 50 %, a black border of 25 % of the width on each side, at a given print size.
class PrintableMarker {
  public:
    struct Options {
        double widthMm = 120.0;  ///< outer edge of the black border on paper
        int dpi = 300;           ///< print resolution
        double marginMm = 0.0;   ///< white paper added around the border (0 = none)
        /// Enlarge small pattern images with nearest-neighbour sampling, keeping cells sharp
        /// (right for pixel art and 16x16 templates); otherwise bicubic. Shrinking always
        /// averages areas.
        bool pixelArt = false;
    };

    PrintableMarker();
    explicit PrintableMarker(const Options& options) : _options(options) {}

    /// Pixels for a length on paper at the options' resolution: round(mm / 25.4 × dpi).
    int pixels(double mm) const;
    /// The marker image (BGR, 8-bit), pixels(widthMm) wide plus the margin on each side. The
    /// border is round(width / 4) pixels so the pattern is centred exactly.
    cv::Mat make(const cv::Mat& pattern) const;
    /// Writes `image` as PNG that declares the options' resolution, so printing it at
    /// "actual size" gives the intended millimetres. Returns false on failure.
    bool writePng(const std::string& path, const cv::Mat& image) const;

  private:
    Options _options;
};

}  // namespace quorv
