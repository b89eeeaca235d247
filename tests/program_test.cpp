// The program as a visitor and the staff meet it: the loading notice, the camera picture, the
// ways to end it, and what it says when a plugin is missing or the tracker refuses a marker.
#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <thread>

#include "support/ExhibitRun.h"

namespace {

using namespace std::chrono_literals;
using namespace quorvtest;
using Confirm = ExhibitRun::Confirm;

const std::string kMarker = "ADDMARKER\nIN\nOUT\nEND ADDMARKER\n";

/// Twelve flat blocks of distinct colours: any flip, shift or channel swap of the picture puts a
/// wrong colour under some block centre.
cv::Mat blockFrame() {
    cv::Mat frame(480, 640, CV_8UC3);
    const cv::Vec3b colours[12] = {{40, 40, 200}, {40, 200, 40},  {200, 40, 40},  {220, 220, 220},
                                   {30, 30, 30},  {40, 200, 200}, {200, 40, 200}, {200, 200, 40},
                                   {120, 60, 20}, {20, 120, 60},  {60, 20, 120},  {128, 128, 128}};
    for (int i = 0; i < 12; ++i)
        frame(cv::Rect(i % 4 * 160, i / 4 * 160, 160, 160)).setTo(colours[i]);
    return frame;
}

/// Whether the picture shows the block frame at three points of every block.
bool showsBlocks(const cv::Mat& picture) {
    const cv::Mat expected = blockFrame();
    for (int i = 0; i < 12; ++i)
        for (const int d : {-50, 0, 50}) {
            const cv::Point p(i % 4 * 160 + 80 + d, i / 4 * 160 + 80 + d);
            if (cv::norm(expected.at<cv::Vec3b>(p), picture.at<cv::Vec3b>(p), cv::NORM_INF) > 20)
                return false;
        }
    return true;
}

/// Text read off a picture by OCR (at three times screen size, where it reads best), in lower
/// case with runs of white space as one blank.
std::string readText(const cv::Mat& picture) {
    cv::Mat big;
    cv::resize(picture, big, cv::Size(), 3.0, 3.0, cv::INTER_CUBIC);
    return shell("tesseract " + keep(big, "ocr") +
                 " stdout -l spa 2>/dev/null | tr -s '[:space:]' ' ' | tr A-Z a-z");
}

/// Each test runs in a process of its own (ctest), on a server of its own.
class ProgramTest : public ::testing::Test {
  protected:
    void expectBlocks(const ExhibitRun& quorv) {
        const cv::Mat shown = quorv.pictureWhen(showsBlocks, 10s);
        EXPECT_TRUE(showsBlocks(shown)) << "not the fed frame: " << keep(shown, "fed-frame");
    }
    XServer server;
    const std::string exhibit = sourceDir() + "/exhibit";
    const std::string feed = stillVideo(blockFrame(), freshFolder("feed") + "/blocks.avi");
};

TEST_F(ProgramTest, NoticeShowsItsTextThenReturnShowsTheCameraAndEscapeEnds) {
    ExhibitRun quorv(server, {exhibit, feed, Confirm::Later});
    const cv::Rect box = quorv.notice(20s);
    ASSERT_FALSE(box.empty()) << quorv.errors();
    EXPECT_EQ(quorv.output(), "yeah\n");
    const std::string text = readText(grab(server.display(), box));
    for (const char* line : {"quorv está iniciándose.", "este proceso puede tardar unos segundos.",
                             "presione aceptar para continuar."})
        EXPECT_NE(text.find(line), std::string::npos) << text;
    EXPECT_NE(text.find("aceptar"), text.rfind("aceptar")) << "no button: " << text;

    // It blocks: nothing else happens until it is confirmed.
    std::this_thread::sleep_for(500ms);
    EXPECT_FALSE(quorv.notice(0ms).empty());
    EXPECT_EQ(quorv.output(), "yeah\n");

    ASSERT_TRUE(quorv.confirm(Confirm::Return)) << quorv.problem();
    expectBlocks(quorv);
    EXPECT_TRUE(quorv.notice(0ms).empty());
    EXPECT_EQ(quorv.quit(), 0) << quorv.errors();
    // The exhibit is set up only after the notice: three markers, then the movie.
    EXPECT_EQ(quorv.output(), "yeah\n" + kMarker + kMarker + kMarker + "Got movie\n");
}

TEST_F(ProgramTest, ClickingAceptarConfirmsAndClosingTheWindowEndsWithZero) {
    ExhibitRun quorv(server, {exhibit, feed, Confirm::Click});
    ASSERT_TRUE(quorv.ready()) << quorv.problem();
    expectBlocks(quorv);
    quorv.close();
    EXPECT_EQ(quorv.wait(), 0) << quorv.errors();
}

TEST_F(ProgramTest, EndsCleanlyOnAnImageSequenceCamera) {
    // Image sequences are read through a decoder registry that the capture thread creates on
    // its first frame; the thread must be stopped before the process tears such data down.
    const std::string folder = freshFolder("sequence");
    for (int i = 0; i < 10; ++i)
        cv::imwrite(folder + "/f_" + std::to_string(i) + ".png", blockFrame());
    for (int run = 0; run < 3; ++run) {
        ExhibitRun quorv(server, exhibit, folder + "/f_%d.png");
        ASSERT_TRUE(quorv.ready()) << quorv.problem();
        expectBlocks(quorv);
        EXPECT_EQ(quorv.quit(), 0) << "run " << run << ": " << quorv.errors();
    }
}

TEST_F(ProgramTest, MissingVideoPluginIsFatalBeforeAnythingElse) {
    // A copy of the program whose plugin folder lacks the video plugin.
    const std::string folder = freshFolder("no-video-plugin");
    shell("mkdir -p " + folder + "/plugins && cp " + buildPath("quorv") + " " + folder + " && cp " +
          buildPath("plugins/osgart_tracker_artoolkit2.so") + " " + folder + "/plugins");
    ExhibitRun quorv(server, {exhibit, feed, Confirm::Return, {}, folder + "/quorv"});
    EXPECT_EQ(quorv.wait(), 255);
    EXPECT_FALSE(quorv.noticed());
    EXPECT_EQ(quorv.output(), "");
    EXPECT_NE(quorv.errors().find("Could not initialize video plugin!"), std::string::npos)
        << quorv.errors();
}

TEST_F(ProgramTest, ARefusedMarkerEndsTheSetUpWithTheFirstOneRegistered) {
    const std::string log = freshFolder("refused") + "/configs.txt";
    ExhibitRun quorv(server, {exhibit,
                              feed,
                              Confirm::Return,
                              {{"QUORV_PLUGIN_PATH", buildPath("tests/scripted-plugins")},
                               {"QUORV_TRACKER_REFUSE", "patt.camara"},
                               {"QUORV_TRACKER_LOG", log}}});
    EXPECT_EQ(quorv.wait(), 255);
    EXPECT_EQ(quorv.output(), "yeah\n" + kMarker + "ADDMARKER\nIN\nOUT\n");
    EXPECT_NE(quorv.errors().find("Could not add marker!"), std::string::npos) << quorv.errors();
    // The tracker was asked for the first two markers only; nothing else was loaded.
    EXPECT_EQ(
        shell("cat " + log),
        "single;data_Tovarin\\patt.tovex;120;0;0\nsingle;data_Tovarin\\patt.camara;120;0;0\n");
}

}  // namespace
