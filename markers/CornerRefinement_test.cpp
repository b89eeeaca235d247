#include "CornerRefinement.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <opencv2/imgproc.hpp>

#include <support/StockCamera.h>

namespace quorv::markers {
namespace {

/// A light page with a dark rectangle [x0, x1] x [y0, y1] (pixel centres at integers), each
/// pixel taking the share of its area that the rectangle covers, then blurred by `blur` px.
cv::Mat rectangleImage(double x0, double y0, double x1, double y1, double blur) {
    auto overlap = [](double a0, double a1, int p) {
        return std::clamp(std::min(a1, p + 0.5) - std::max(a0, p - 0.5), 0.0, 1.0);
    };
    cv::Mat grey(480, 640, CV_32FC1);
    for (int y = 0; y < grey.rows; ++y)
        for (int x = 0; x < grey.cols; ++x)
            grey.at<float>(y, x) =
                static_cast<float>(220.0 - 200.0 * overlap(x0, x1, x) * overlap(y0, y1, y));
    if (blur > 0) cv::GaussianBlur(grey, grey, cv::Size(), blur);
    cv::Mat out;
    grey.convertTo(out, CV_8UC1);
    return out;
}

TEST(CornerRefinementTest, SidesAlongThePixelGridAreFoundWhereverTheyFallWithinAPixel) {
    // Regression: edge points were taken where the linearly interpolated pixels cross the middle
    // grey, which is off by up to about 0.08 px depending on where the edge falls within its
    // pixel. Along a side that runs with the pixel grid the offset is the same at every point,
    // so the line fit kept it; a face-on marker 78 px wide came out tilted by 1.2 degrees.
    const osgART::CameraParameters camera = quorvtest::stockCamera();
    for (const double blur : {0.0, 0.8}) {
        // A blurred edge needs the wider search the parameters advise for soft-focus cameras.
        CornerParameters params;
        if (blur > 0) params.finalSearchRadius = 3.0;
        double worst = 0;
        for (int phase = 0; phase < 8; ++phase) {
            // Each side at its own eighth of a pixel.
            const double x0 = 200 + phase / 8.0, y0 = 150 + (3 * phase % 8) / 8.0;
            const double x1 = x0 + 78 + (5 * phase % 8) / 8.0, y1 = y0 + 80 + (7 * phase % 8) / 8.0;
            const std::array<cv::Point2d, 4> truth = {cv::Point2d(x0, y0), cv::Point2d(x1, y0),
                                                      cv::Point2d(x1, y1), cv::Point2d(x0, y1)};
            // Coarse corners a pixel or two off, as the half-size outlines give them.
            Quad quad;
            const cv::Point2f offsets[4] = {
                {1.2f, -0.8f}, {-1.5f, 1.1f}, {0.7f, 1.6f}, {-1.0f, -1.3f}};
            for (int k = 0; k < 4; ++k) quad.corners[k] = cv::Point2f(truth[k]) + offsets[k];
            const RefinedQuad r =
                refineCorners(rectangleImage(x0, y0, x1, y1, blur), quad, camera, params);
            ASSERT_TRUE(r.ok) << "blur " << blur << ", phase " << phase;
            for (int k = 0; k < 4; ++k) worst = std::max(worst, cv::norm(r.observed[k] - truth[k]));
        }
        // The crossing of the middle grey missed by up to 0.12 px (sharp) and 0.06 px (blurred).
        EXPECT_LT(worst, 0.01) << "blur " << blur;
    }
}

}  // namespace
}  // namespace quorv::markers
