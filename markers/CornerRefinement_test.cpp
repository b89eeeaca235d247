#include "CornerRefinement.h"

#include <gtest/gtest.h>
#include <support/StockCamera.h>

#include <algorithm>
#include <opencv2/imgproc.hpp>

namespace quorv::markers {
namespace {

TEST(CornerRefinement, SidesAlongThePixelGridAreFoundWhereverTheyFallWithinAPixel) {
    // Edge points taken where interpolated pixels cross the middle grey are off by up to 0.12 px
    // (sharp) or 0.06 px (blurred) depending on where the edge falls within its pixel; along a
    // side that runs with the pixel grid the line fit keeps that offset, and a face-on marker
    // 78 px wide came out tilted by 1.2 degrees.
    for (int run = 0; run < 16; ++run) {
        const int phase = run % 8;
        CornerParameters params;
        if (run >= 8) params.finalSearchRadius = 3.0;  // as advised for soft-focus cameras
        // A dark rectangle on a light page, each side at its own eighth of a pixel; each pixel
        // darkened by the share of its area the rectangle covers.
        const double x0 = 200 + phase / 8.0, y0 = 150 + (3 * phase % 8) / 8.0;
        const double x1 = x0 + 78 + (5 * phase % 8) / 8.0, y1 = y0 + 80 + (7 * phase % 8) / 8.0;
        auto cover = [](double a, double b, int p) {
            return std::clamp(std::min(b, p + 0.5) - std::max(a, p - 0.5), 0.0, 1.0);
        };
        cv::Mat grey(480, 640, CV_32FC1);
        grey.forEach<float>([&](float& v, const int* at) {
            v = float(220 - 200 * cover(x0, x1, at[1]) * cover(y0, y1, at[0]));
        });
        if (run >= 8) cv::GaussianBlur(grey, grey, cv::Size(), 0.8);
        grey.convertTo(grey, CV_8UC1);
        // Coarse corners a pixel or two off, as the half-size outlines give them.
        const cv::Point2d truth[4] = {{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}};
        Quad quad;
        for (int k = 0; k < 4; ++k)
            quad.corners[k] = cv::Point2f(truth[k]) + cv::Point2f(k % 3 - 1.3f, 1.4f - k * 0.9f);
        const RefinedQuad r = refineCorners(grey, quad, quorvtest::stockCamera(), params);
        ASSERT_TRUE(r.ok) << "run " << run;
        for (int k = 0; k < 4; ++k) EXPECT_LT(cv::norm(r.observed[k] - truth[k]), 0.01) << run;
    }
}

}  // namespace
}  // namespace quorv::markers
