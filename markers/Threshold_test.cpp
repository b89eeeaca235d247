// The adaptive threshold against OpenCV's, on both of its paths (16-bit sums where they cannot
// overflow, 32-bit otherwise).

#include "Threshold.h"

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

namespace quorv::markers {
namespace {

TEST(Threshold, AdaptiveMatchesOpenCVsMeanThresholdForEveryBlockAndOffset) {
    // Noise over a gradient with dark squares, an odd width so that the tail columns count.
    cv::Mat grey(121, 203, CV_8U);
    cv::randn(grey, 0, 12);
    for (int y = 0; y < grey.rows; ++y)
        for (int x = 0; x < grey.cols; ++x) grey.at<uchar>(y, x) += cv::saturate_cast<uchar>(x + y);
    cv::rectangle(grey, cv::Rect(30, 20, 40, 40), cv::Scalar::all(15), cv::FILLED);
    cv::rectangle(grey, cv::Rect(120, 60, 70, 50), cv::Scalar::all(250), cv::FILLED);
    for (const auto& [block, offset] : {std::pair{15, 10.0},
                                        {3, 0.0},
                                        {15, 36.0},
                                        {15, 37.0},
                                        {17, 36.0},
                                        {31, 10.0},
                                        {15, -5.0},
                                        {15, 300.0}}) {
        ThresholdParameters params;
        params.downscale = 1, params.blockSize = block, params.offset = offset;
        cv::Mat expected;
        cv::adaptiveThreshold(grey, expected, 255, cv::ADAPTIVE_THRESH_MEAN_C,
                              cv::THRESH_BINARY_INV, block, offset);
        EXPECT_EQ(cv::countNonZero(threshold(grey, params).dark != expected), 0)
            << block << " " << offset;
    }
}

}  // namespace
}  // namespace quorv::markers
