#include "PrintableMarker.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <fstream>
#include <iterator>
#include <opencv2/imgcodecs.hpp>

#include "PatternSampler.h"

namespace quorv {
namespace {

TEST(PrintableMarker, IsTheAskedSizeWithAQuarterBorderThePatternInsideAndItsResolutionDeclared) {
    cv::Mat pattern(16, 16, CV_8UC3);
    cv::RNG(3).fill(pattern, cv::RNG::UNIFORM, 0, 2);
    pattern *= 255;
    PrintableMarker::Options o;
    o.pixelArt = true;
    o.marginMm = 10;
    const PrintableMarker printer(o);
    const cv::Mat framed = printer.make(pattern);
    const int side = 1417, border = 354, margin = 118;  // 120 and 10 mm at 300 dpi
    ASSERT_EQ(framed.size(), cv::Size(side + 2 * margin, side + 2 * margin));
    EXPECT_EQ(framed.at<cv::Vec3b>(margin - 1, margin - 1), cv::Vec3b(255, 255, 255));
    const cv::Mat m = framed(cv::Rect(margin, margin, side, side));
    for (const cv::Rect r :
         {cv::Rect(0, 0, side, border), cv::Rect(0, side - border, side, border),
          cv::Rect(0, 0, border, side), cv::Rect(side - border, 0, border, side)})
        EXPECT_EQ(cv::countNonZero(m(r).reshape(1)), 0) << "the border is solid black";
    const auto sampled = PatternSampler().sample(m);
    for (int i = 0; i < 256; ++i)
        EXPECT_NEAR(sampled.at(1, i / 16, i % 16), pattern.at<cv::Vec3b>(i / 16, i % 16)[1], 12)
            << i;

    // The PNG's pHYs chunk says 300 dots per inch (11811 per metre), with a valid checksum.
    const std::string path = ::testing::TempDir() + "printable_marker_test.png";
    ASSERT_TRUE(printer.writePng(path, framed));
    std::ifstream in(path, std::ios::binary);
    const std::vector<unsigned char> bytes{std::istreambuf_iterator<char>(in), {}};
    const std::string type = "pHYs";
    auto at = std::search(bytes.begin(), bytes.end(), type.begin(), type.end());
    ASSERT_NE(at, bytes.end());
    auto be32 = [](auto p) {
        return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
    };
    EXPECT_EQ(be32(at - 4), 9u);
    EXPECT_EQ(be32(at + 4), 11811u);
    EXPECT_EQ(be32(at + 8), 11811u);
    EXPECT_EQ(at[12], 1);
    EXPECT_EQ(be32(at + 13), crc32(0, &*at, 13));
    EXPECT_EQ(cv::norm(cv::imread(path, cv::IMREAD_COLOR), framed, cv::NORM_INF), 0.0);
}

}  // namespace
}  // namespace quorv
