// quorv-synth as the video plugin and the test scripts meet it: a script file in, a video (or
// PNG sequence) OpenCV can play and one truth line per frame out.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>
#include <string>

#include "SynthRenderer.h"

namespace quorv {
namespace {

std::string buildDir() {
    const char* dir = std::getenv("QUORV_BUILD_DIR");
    return dir ? dir : ".";
}

class SynthTool : public ::testing::Test {
  protected:
    void SetUp() override {
        _dir = ::testing::TempDir() + "synth_tool_test";
        ASSERT_EQ(std::system(("rm -rf '" + _dir + "' && mkdir -p '" + _dir + "'").c_str()), 0);
        osgART::CameraParameters camera;
        camera.xsize = 320;
        camera.ysize = 240;
        camera.mat = {{{350.5, 0, 158.25, 0}, {0, 363.0, 120.75, 0}, {0, 0, 1, 0}}};
        camera.dist = {159.25, 131.75, 104.8, 1.012757};
        ASSERT_TRUE(camera.write(_dir + "/camera.dat"));
        cv::Mat marker(200, 200, CV_8UC3, cv::Scalar::all(0));
        marker(cv::Rect(50, 50, 100, 100)).setTo(cv::Scalar::all(255));
        marker(cv::Rect(50, 50, 50, 50)).setTo(cv::Scalar(0, 0, 200));
        ASSERT_TRUE(cv::imwrite(_dir + "/m.png", marker));
        std::ofstream(_dir + "/scene.txt") << "fps 10\nduration 1.2\ncalibration camera.dat\n"
                                              "noise 1\nmarker patt.m m.png 80\n"
                                              "key patt.m 0 -30 0 400 0 0 0\n"
                                              "key patt.m 1.2 30 0 400 90 0 20\n";
    }
    int run(const std::string& args) {
        return std::system(
            (buildDir() + "/quorv-synth '" + _dir + "/scene.txt' " + args + " > /dev/null 2>&1")
                .c_str());
    }
    std::vector<std::string> truthLines(const std::string& path) {
        std::ifstream in(path);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }
    std::string _dir;
};

TEST_F(SynthTool, WritesAVideoOpenCvPlaysAndATruthLinePerFrame) {
    ASSERT_EQ(run("-o '" + _dir + "/out.avi'"), 0);
    cv::VideoCapture video(_dir + "/out.avi", cv::CAP_FFMPEG);
    ASSERT_TRUE(video.isOpened());
    EXPECT_DOUBLE_EQ(video.get(cv::CAP_PROP_FPS), 10.0);
    auto script = SynthScript::load(_dir + "/scene.txt");
    ASSERT_TRUE(script);
    auto renderer = SynthRenderer::create(*script, {});
    ASSERT_TRUE(renderer);
    int frames = 0;
    for (cv::Mat frame; video.read(frame); ++frames) {
        ASSERT_EQ(frame.size(), cv::Size(320, 240));
        // Lossy, but the same picture as the renderer's.
        cv::Mat diff;
        cv::absdiff(frame, renderer->render(frames), diff);
        EXPECT_LT(cv::mean(diff)[1], 4.0) << "frame " << frames;
    }
    EXPECT_EQ(frames, 12);
    const auto lines = truthLines(_dir + "/out.truth.jsonl");
    ASSERT_EQ(lines.size(), 12u);
    EXPECT_EQ(lines[11].rfind("{\"frame\":11,\"time\":1.1,\"markers\":[{\"name\":\"patt.m\"", 0),
              0u)
        << lines[11];
}

TEST_F(SynthTool, PngSequenceIsExactAndFramesCanBeChosen) {
    ASSERT_EQ(run("-o '" + _dir + "/f_%03d.png' --frames 4:3 --blur 0.5"), 0);
    auto script = SynthScript::load(_dir + "/scene.txt");
    ASSERT_TRUE(script);
    script->effects.blurSigma = 0.5;
    auto renderer = SynthRenderer::create(*script, {});
    ASSERT_TRUE(renderer);
    for (int f = 4; f < 7; ++f) {
        char name[32];
        std::snprintf(name, sizeof name, "/f_%03d.png", f);
        const cv::Mat png = cv::imread(_dir + name, cv::IMREAD_COLOR);
        ASSERT_FALSE(png.empty()) << name;
        EXPECT_EQ(cv::norm(png, renderer->render(f), cv::NORM_INF), 0.0) << name;
    }
    EXPECT_FALSE(std::ifstream(_dir + "/f_003.png").good());  // frames before 4 not written
    const auto lines = truthLines(_dir + "/truth.jsonl");
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], renderer->truth(4).toJson());

    // A broken script is refused with its line named.
    std::ofstream(_dir + "/scene.txt") << "fps 10\nsize 320\n";
    EXPECT_NE(run("-o '" + _dir + "/x.avi'"), 0);
}

}  // namespace
}  // namespace quorv
