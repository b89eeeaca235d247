#pragma once

#include <opencv2/core.hpp>

namespace quorv::markers {

/// Binarisation: which pixels are dark enough to belong to a marker's border.
struct ThresholdParameters {
    enum class Method {
        /// Dark when darker than the mean of the surrounding block by `offset`. Copes with uneven
        /// and changing light; the default.
        Adaptive,
        /// Dark when grey <= `fixedLevel`, as the classic toolkit does (its examples use 100).
        Fixed,
    };
    Method method = Method::Adaptive;

    /// The image is shrunk by this factor (1, 2 or 4) before thresholding and contour search;
    /// corners are refined at full resolution afterwards. 2 halves the cost of both stages and
    /// still finds markers down to about 20 px wide. Use 1 when markers narrower than that
    /// matter more than speed, 4 for large images with large markers.
    int downscale = 2;

    /// Adaptive: side of the averaging block in pixels of the shrunk image (odd, >= 3). It must
    /// be wider than the border of the smallest marker wanted (a quarter of its width); larger
    /// blocks cope less well with steep light gradients. Default 15 (30 px at full resolution).
    int blockSize = 15;
    /// Adaptive: how much darker than the block mean a pixel must be, in grey levels. Raise it
    /// for noisy cameras (about 2.5 times the noise sigma); lower it for low-contrast prints.
    double offset = 10.0;

    /// Fixed: the grey level at or below which a pixel is dark.
    int fixedLevel = 100;
};

/// Dark pixels of one image, at the working resolution.
struct BinaryImage {
    /// 255 where dark, 0 elsewhere; `scale` times smaller than the input.
    cv::Mat dark;
    /// The shrink factor: working pixel (x, y) covers full-resolution pixels around
    /// (scale * x + (scale - 1) / 2, scale * y + (scale - 1) / 2).
    int scale = 1;
};

/// Thresholds an 8-bit grey image.
BinaryImage threshold(const cv::Mat& grey, const ThresholdParameters& params);

}  // namespace quorv::markers
