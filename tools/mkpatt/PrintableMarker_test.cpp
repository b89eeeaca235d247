#include "PrintableMarker.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <opencv2/imgcodecs.hpp>

#include "PatternSampler.h"

namespace quorv {
namespace {

cv::Mat randomPatternImage(unsigned seed) {
    cv::Mat img(16, 16, CV_8UC3);
    cv::RNG(seed).fill(img, cv::RNG::UNIFORM, 0, 2);
    return img * 255;  // black and white cells
}

TEST(PrintableMarker, IsTheAskedSizeWithAQuarterBorderAndThePatternInside) {
    const cv::Mat pattern = randomPatternImage(3);
    PrintableMarker::Options o;
    o.pixelArt = true;
    const cv::Mat m = PrintableMarker(o).make(pattern);
    const int side = static_cast<int>(std::lround(120 / 25.4 * 300));
    ASSERT_EQ(m.cols, side);
    ASSERT_EQ(m.rows, side);
    const int border = static_cast<int>(std::lround(side / 4.0));
    // The border is solid black, a quarter of the width on every side.
    for (const cv::Rect r :
         {cv::Rect(0, 0, side, border), cv::Rect(0, side - border, side, border),
          cv::Rect(0, 0, border, side), cv::Rect(side - border, 0, border, side)})
        EXPECT_EQ(cv::countNonZero(m(r).reshape(1)), 0);
    // The pattern area holds the pattern: sampling the marker gives the pattern's cells back.
    const auto sampled = PatternSampler().sample(m);
    for (int r = 0; r < 16; ++r)
        for (int c = 0; c < 16; ++c)
            EXPECT_NEAR(sampled.at(1, r, c), pattern.at<cv::Vec3b>(r, c)[1], 12) << r << "," << c;

    o.marginMm = 10;
    const cv::Mat framed = PrintableMarker(o).make(pattern);
    const int margin = static_cast<int>(std::lround(10 / 25.4 * 300));
    EXPECT_EQ(framed.cols, side + 2 * margin);
    EXPECT_EQ(framed.at<cv::Vec3b>(margin - 1, margin - 1), cv::Vec3b(255, 255, 255));
    EXPECT_EQ(framed.at<cv::Vec3b>(margin, margin), cv::Vec3b(0, 0, 0));
}

TEST(PrintableMarker, PngDeclaresItsResolution) {
    PrintableMarker::Options o;
    o.widthMm = 20;
    const PrintableMarker printer(o);
    const cv::Mat m = printer.make(randomPatternImage(4));
    const std::string path = ::testing::TempDir() + "printable_marker_test.png";
    ASSERT_TRUE(printer.writePng(path, m));
    std::ifstream in(path, std::ios::binary);
    const std::vector<unsigned char> bytes{std::istreambuf_iterator<char>(in), {}};
    // Find the pHYs chunk and check its contents and checksum.
    const std::string type = "pHYs";
    auto at = std::search(bytes.begin(), bytes.end(), type.begin(), type.end());
    ASSERT_NE(at, bytes.end());
    auto be32 = [](auto p) {
        return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
    };
    EXPECT_EQ(be32(at - 4), 9u);
    EXPECT_EQ(be32(at + 4), 11811u);  // 300 dots per inch in dots per metre
    EXPECT_EQ(be32(at + 8), 11811u);
    EXPECT_EQ(at[12], 1);
    EXPECT_EQ(be32(at + 13), crc32(0, &*at, 13));
    // And the picture is still a valid PNG with the same pixels.
    const cv::Mat back = cv::imread(path, cv::IMREAD_COLOR);
    ASSERT_FALSE(back.empty());
    EXPECT_EQ(cv::norm(back, m, cv::NORM_INF), 0.0);
    std::remove(path.c_str());
}

}  // namespace
}  // namespace quorv
