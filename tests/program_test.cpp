// The program as a visitor and the staff meet it: the loading notice, the camera picture, Escape,
// and what it says when a plugin is missing or the tracker refuses a marker. (A click on the
// notice and closing the window: bad_inputs_test, on an image sequence.)
#include <gtest/gtest.h>
#include <signal.h>

#include <opencv2/imgproc.hpp>
#include <thread>

#include "support/ExhibitRun.h"

namespace {

using namespace std::chrono_literals;
using namespace quorvtest;
using Confirm = ExhibitRun::Confirm;

const std::string kMarker = "ADDMARKER\nIN\nOUT\nEND ADDMARKER\n",
                  kExhibit = sourceDirectory() + "/exhibit";

/// Twelve 160-pixel blocks of distinct colours: any flip, shift or channel swap of the picture
/// changes the mean colour of some block.
cv::Mat blockFrame() {
    cv::Mat grid(3, 4, CV_8UC3), frame;
    for (int i = 0; i < 12; ++i)
        grid.at<cv::Vec3b>(i / 4, i % 4) = cv::Vec3b(37 * i, 101 * i + 50, 59 * i + 120);
    cv::resize(grid, frame, {640, 480}, 0, 0, cv::INTER_NEAREST);
    return frame;
}

bool showsBlocks(const cv::Mat& picture) {
    cv::Mat means, expected;
    cv::resize(picture, means, {4, 3}, 0, 0, cv::INTER_AREA);
    cv::resize(blockFrame(), expected, {4, 3}, 0, 0, cv::INTER_AREA);
    return cv::norm(means, expected, cv::NORM_INF) <= 20;
}

/// Each test runs in a process of its own (ctest), on a server of its own.
struct ProgramTest : ::testing::Test {
    void expectBlocks(const ExhibitRun& quorv) {
        EXPECT_TRUE(showsBlocks(quorv.pictureWhen(showsBlocks, 10s))) << "not the fed frame";
    }
    XServer server;
    const std::string video = stillVideo(blockFrame(), freshFolder("video") + "/blocks.avi");
};

TEST_F(ProgramTest, NoticeShowsItsTextThenReturnShowsTheCameraAndEscapeEnds) {
    ExhibitRun quorv(server, kExhibit, video, Confirm::Later);
    const cv::Rect box = quorv.notice(20s);
    ASSERT_FALSE(box.empty()) << quorv.errors();
    // Read by OCR at three times screen size, where it reads best.
    cv::Mat big;
    cv::resize(grab(server.display, box), big, cv::Size(), 3.0, 3.0, cv::INTER_CUBIC);
    const std::string text =
        shell("tesseract " + keep(big, "notice") +
              " stdout -l spa 2>/dev/null | tr -s '[:space:]' ' ' | tr A-Z a-z");
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

// An end signal in the frame loop ends the program as closing the window does: the loop stops,
// the teardown closes the sound device, status 0.
TEST_F(ProgramTest, EachEndSignalEndsTheProgramWithItsTeardown) {
    for (const int number : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(number);
        ExhibitRun quorv(server, kExhibit, video);
        expectBlocks(quorv);
        quorv.signal(number);
        EXPECT_EQ(quorv.wait(), 0) << quorv.errors();
        const std::string errors = quorv.errors();
        const size_t ending = errors.find(std::string(strsignal(number)) + ", ending");
        EXPECT_LT(ending, errors.find("Quorv sound: audio closed", ending)) << errors;
    }
}

TEST_F(ProgramTest, AMissingVideoPluginOrARefusedMarkerEndsTheSetUp) {
    // A copy of the program whose plugin folder lacks the video plugin.
    const std::string folder = freshFolder("no-video-plugin"), log = folder + "/configs.txt";
    shell("mkdir -p " + folder + "/plugins && cp " + buildPath("quorv") + " " + folder + " && cp " +
          buildPath("plugins/osgart_tracker_artoolkit2.so") + " " + folder + "/plugins");
    auto expectFatal = [&](const ExhibitRun::Environment& environment, const std::string& program,
                           const std::string& output, const std::string& message) {
        ExhibitRun quorv(server, kExhibit, video, Confirm::Return, environment, program);
        EXPECT_EQ(quorv.wait(), 255);
        EXPECT_EQ(quorv.noticed(), !output.empty()) << "the plugins are loaded before the notice";
        EXPECT_EQ(quorv.output(), output);
        EXPECT_NE(quorv.errors().find(message), std::string::npos) << quorv.errors();
    };
    expectFatal({}, folder + "/quorv", "", "Could not initialize video plugin!");
    expectFatal({{"QUORV_PLUGIN_PATH", buildPath("tests/scripted-plugins")},
                 {"QUORV_TRACKER_REFUSE", "patt.camara"},
                 {"QUORV_TRACKER_LOG", log}},
                buildPath("quorv"), "yeah\n" + kMarker + "ADDMARKER\nIN\nOUT\n",
                "Could not add marker!");
    // The tracker was asked for the first two markers only; nothing else was loaded.
    EXPECT_EQ(
        shell("cat " + log),
        "single;data_Tovarin\\patt.tovex;120;0;0\nsingle;data_Tovarin\\patt.camara;120;0;0\n");
}

}  // namespace
