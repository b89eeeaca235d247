#include "Threshold.h"

#include <opencv2/imgproc.hpp>

namespace quorv::markers {

BinaryImage threshold(const cv::Mat& grey, const ThresholdParameters& params) {
    BinaryImage out;
    out.scale = (params.downscale == 2 || params.downscale == 4) ? params.downscale : 1;
    cv::Mat work = grey;
    if (out.scale > 1) {
        // INTER_AREA averages whole scale x scale blocks, which also lowers the noise.
        cv::resize(grey, work, cv::Size(grey.cols / out.scale, grey.rows / out.scale), 0, 0,
                   cv::INTER_AREA);
    }
    if (params.method == ThresholdParameters::Method::Fixed) {
        cv::threshold(work, out.dark, params.fixedLevel, 255, cv::THRESH_BINARY_INV);
    } else {
        const int block = std::max(3, params.blockSize | 1);
        cv::adaptiveThreshold(work, out.dark, 255, cv::ADAPTIVE_THRESH_MEAN_C,
                              cv::THRESH_BINARY_INV, block, params.offset);
    }
    return out;
}

}  // namespace quorv::markers
