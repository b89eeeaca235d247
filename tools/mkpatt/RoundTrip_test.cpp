// A marker and its pattern file made with quorv-mkpatt as exhibit staff make them: the printed
// marker's size and resolution, and the marker found by the detector through its pattern file in
// four quarter turns, drawn by the synthetic camera.
#include <MarkerDetector.h>
#include <gtest/gtest.h>
#include <support/Paths.h>
#include <support/StockCamera.h>
#include <synth/SynthRenderer.h>
#include <zlib.h>

#include <fstream>
#include <iterator>
#include <opencv2/imgcodecs.hpp>

namespace quorv {
namespace {

TEST(MarkerRoundTrip, PrintedMarkerDeclaresItsSizeAndItsPatternFileFindsItInEveryTurn) {
    const std::string dir = ::testing::TempDir(), tool = quorvtest::buildPath("quorv-mkpatt");
    cv::Mat art(16, 16, CV_8UC3);
    cv::RNG(11).fill(art, cv::RNG::UNIFORM, 0, 2);
    ASSERT_TRUE(cv::imwrite(dir + "roundtrip-art.png", art * 255));
    ASSERT_EQ(
        std::system((tool + " print " + dir + "roundtrip-art.png -o " + dir +
                     "roundtrip.png --width-mm 80 --dpi 150 --pixel-art && " + tool + " patt " +
                     dir + "roundtrip.png -o " + dir + "patt.roundtrip > /dev/null")
                        .c_str()),
        0);
    // 80 mm at 150 dpi; a quarter of the width black on each side.
    const cv::Mat printed = cv::imread(dir + "roundtrip.png");
    ASSERT_EQ(printed.size(), cv::Size(472, 472));
    cv::Mat border = printed.clone();
    border(cv::Rect(118, 118, 236, 236)).setTo(cv::Scalar::all(0));
    EXPECT_EQ(cv::countNonZero(border.reshape(1)), 0);
    // The PNG's pHYs chunk says 150 dots per inch (5906 per metre), with a valid checksum.
    std::ifstream in(dir + "roundtrip.png", std::ios::binary);
    const std::vector<unsigned char> bytes{std::istreambuf_iterator<char>(in), {}};
    const std::string type = "pHYs";
    const auto at = std::search(bytes.begin(), bytes.end(), type.begin(), type.end());
    ASSERT_LT(at + 17, bytes.end());
    auto be32 = [](auto p) { return uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]; };
    EXPECT_EQ(
        std::vector<uint32_t>({be32(at - 4), be32(at + 4), be32(at + 8), at[12], be32(at + 13)}),
        std::vector<uint32_t>({9, 5906, 5906, 1, uint32_t(crc32(0, &*at, 13))}));

    markers::MarkerDetector detector;
    detector.addPattern(*markers::Pattern::load(dir + "patt.roundtrip"));
    detector.setCamera(quorvtest::stockCamera(26.2));
    for (int k = 0; k < 4; ++k) {
        SynthScript scene;
        scene.markers.push_back(
            {"m", "", 80, false, -1, {{0, {{15, -10, 380}, 90.0 * k + 5, 12, -9}}}});
        scene.effects.noiseSigma = 2;
        const SynthRenderer r(scene, quorvtest::stockCamera(26.2), {printed}, {});
        const auto found = detector.detect(r.render(0)).detections;
        ASSERT_EQ(found.size(), 1u) << "turn " << k;
        EXPECT_GT(found[0].confidence, 0.9) << "turn " << k;
        const auto& ul = r.truth(0).markers[0].corners[0];
        EXPECT_LT(cv::norm(found[0].observed[0] - cv::Point2d(ul[0], ul[1])), 0.5) << "turn " << k;
    }
}

}  // namespace
}  // namespace quorv
