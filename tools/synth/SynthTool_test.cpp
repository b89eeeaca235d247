// quorv-synth as the video plugin and the test scripts meet it: a script file in, a video (or
// PNG sequence) OpenCV can play and one truth line per frame out.
#include <gtest/gtest.h>
#include <support/Paths.h>
#include <support/StockCamera.h>

#include <fstream>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>

#include "SynthRenderer.h"

namespace quorv {
namespace {

TEST(SynthTool, WritesAVideoOrAnExactPngSequenceAndATruthLinePerFrame) {
    const std::string dir = ::testing::TempDir() + "synth_tool_test/";
    const std::string run = quorvtest::buildPath("quorv-synth") + " " + dir + "scene.txt -o " + dir;
    ASSERT_EQ(std::system(("mkdir -p " + dir).c_str()), 0);
    ASSERT_TRUE(quorvtest::stockCamera(26.2).write(dir + "camera.dat"));
    cv::Mat marker(200, 200, CV_8UC3, cv::Scalar::all(0));
    marker(cv::Rect(50, 50, 50, 50)).setTo(cv::Scalar(0, 0, 200));
    ASSERT_TRUE(cv::imwrite(dir + "m.png", marker));
    std::ofstream(dir + "scene.txt")
        << "size 320 240\nfps 10\nduration 1.2\ncalibration camera.dat\n"
           "noise 1\nmarker patt.m m.png 80\nkey patt.m 0 -30 0 400 0 0 0\n"
           "key patt.m 1.2 30 0 400 90 0 20\n";
    ASSERT_EQ(std::system((run + "out.avi > /dev/null 2>&1").c_str()), 0);
    ASSERT_EQ(std::system((run + "f_%03d.png --frames 4:3 --blur 0.5 > /dev/null 2>&1").c_str()),
              0);
    auto script = SynthScript::load(dir + "scene.txt");
    ASSERT_TRUE(script);
    const auto renderer = SynthRenderer::create(*script, {});
    script->effects.blurSigma = 0.5;
    const auto blurred = SynthRenderer::create(*script, {});
    ASSERT_TRUE(renderer && blurred);

    cv::VideoCapture video(dir + "out.avi", cv::CAP_FFMPEG);
    EXPECT_EQ(video.get(cv::CAP_PROP_FPS), 10.0);
    int frames = 0;
    for (cv::Mat frame; video.read(frame); ++frames)  // lossy, but the renderer's picture
        EXPECT_LT(cv::norm(frame, renderer->render(frames), cv::NORM_L1) / frame.total() / 3, 4.0);
    EXPECT_EQ(frames, 12);
    const auto truth = FrameTruth::readFile(dir + "out.truth.jsonl");
    ASSERT_TRUE(truth && truth->size() == 12u);
    EXPECT_EQ(truth->at(11).toJson(), renderer->truth(11).toJson());
    for (int f = 3; f < 8; ++f) {  // only frames 4 to 6, exactly
        const cv::Mat png = cv::imread(dir + cv::format("f_%03d.png", f), cv::IMREAD_COLOR);
        ASSERT_EQ(png.empty(), f == 3 || f == 7) << f;
        EXPECT_TRUE(png.empty() || cv::norm(png, blurred->render(f), cv::NORM_INF) == 0) << f;
    }
    const auto pngTruth = FrameTruth::readFile(dir + "truth.jsonl");
    ASSERT_TRUE(pngTruth && pngTruth->size() == 3u);
    EXPECT_EQ(pngTruth->at(0).frame, 4);
}

}  // namespace
}  // namespace quorv
