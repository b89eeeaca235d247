// Whole-program tests: the real build/quorv with its real plugins, on a private X server, fed a
// generated video file as its camera.
#include "support/Desktop.h"

#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>

#include <map>
#include <memory>
#include <sstream>
#include <thread>

namespace {

using namespace std::chrono_literals;
using namespace quorvtest;

const char* const kCaption = "Cargando Quorv";

/// Twelve flat blocks of distinct colours: any flip, shift or channel swap of the picture puts a
/// wrong colour under some block centre.
cv::Mat blockFrame() {
    cv::Mat frame(480, 640, CV_8UC3);
    const cv::Vec3b colours[12] = {{40, 40, 200},  {40, 200, 40},  {200, 40, 40},  {220, 220, 220},
                                   {30, 30, 30},   {40, 200, 200}, {200, 40, 200}, {200, 200, 40},
                                   {120, 60, 20},  {20, 120, 60},  {60, 20, 120},  {128, 128, 128}};
    for (int row = 0; row < 3; ++row)
        for (int col = 0; col < 4; ++col)
            frame(cv::Rect(col * 160, row * 160, 160, 160)).setTo(colours[row * 4 + col]);
    return frame;
}

class ProgramTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        server = std::make_unique<XServer>();
        feed = freshFolder("feed") + "/blocks.avi";
        cv::VideoWriter writer(feed, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 30.0,
                               cv::Size(640, 480));
        for (int i = 0; i < 30; ++i) writer.write(blockFrame());
    }
    static void TearDownTestSuite() { server.reset(); }

    /// Starts the program in the exhibit folder, in a 640x480 window at the screen's corner.
    std::unique_ptr<Process> start(const std::string& workingDirectory,
                                   const std::string& program = buildDir() + "/quorv",
                                   const std::map<std::string, std::string>& extra = {}) {
        Process::Options options;
        options.program = program;
        options.workingDirectory = workingDirectory;
        options.environment = {{"DISPLAY", server->display()},
                               {"QUORV_VIDEO", feed},
                               {"OSG_WINDOW", "0 0 640 480"},
                               {"QUORV_PLUGIN_PATH", ""},
                               {"SDL_AUDIODRIVER", "dummy"}};
        for (const auto& [key, value] : extra) options.environment[key] = value;
        return std::make_unique<Process>(options);
    }

    /// Confirms the loading notice by a key press.
    void confirmNotice(Process& quorv) {
        const unsigned long notice = findWindow(server->display(), kCaption, 20s);
        ASSERT_NE(notice, 0u) << quorv.standardError();
        pressKey(server->display(), "Return", notice);
    }

    /// Checks the window's picture against the fed frame at every block centre.
    void expectFedFrameOnScreen() {
        const cv::Mat expected = blockFrame();
        cv::Mat screen;
        int wrong = 0;
        // The first frames may still be on their way: look again for a few seconds.
        for (int attempt = 0; attempt < 20; ++attempt) {
            std::this_thread::sleep_for(250ms);
            screen = screenshot(server->display());
            ASSERT_FALSE(screen.empty());
            wrong = 0;
            for (int row = 0; row < 3; ++row)
                for (int col = 0; col < 4; ++col)
                    for (const cv::Point offset : {cv::Point(0, 0), cv::Point(-50, -50), cv::Point(50, 50)}) {
                        const cv::Point p(col * 160 + 80 + offset.x, row * 160 + 80 + offset.y);
                        const cv::Vec3b want = expected.at<cv::Vec3b>(p);
                        const cv::Vec3b got = screen.at<cv::Vec3b>(p);
                        for (int c = 0; c < 3; ++c)
                            if (std::abs(int(want[c]) - int(got[c])) > 20) ++wrong;
                    }
            if (wrong == 0) break;
        }
        EXPECT_EQ(wrong, 0) << "screen kept in " << keep(screen, "fed-frame");
    }

    static std::unique_ptr<XServer> server;
    static std::string feed;
};

std::unique_ptr<XServer> ProgramTest::server;
std::string ProgramTest::feed;

TEST_F(ProgramTest, NoticeShowsItsTextThenReturnShowsTheCameraAndEscapeEnds) {
    auto quorv = start(sourceDir() + "/exhibit");
    const unsigned long notice = findWindow(server->display(), kCaption, 20s);
    ASSERT_NE(notice, 0u) << quorv->standardError();
    EXPECT_EQ(quorv->standardOutput(), "yeah\n");

    // The notice's own words, read off the screen.
    const cv::Rect box = windowGeometry(server->display(), notice);
    const cv::Mat screen = screenshot(server->display());
    const std::string text = readText(screen(box & cv::Rect(0, 0, screen.cols, screen.rows)));
    EXPECT_NE(text.find("quorv está iniciándose."), std::string::npos) << text;
    EXPECT_NE(text.find("este proceso puede tardar unos segundos."), std::string::npos) << text;
    EXPECT_NE(text.find("presione aceptar para continuar."), std::string::npos) << text;
    EXPECT_NE(text.find("aceptar"), text.rfind("aceptar")) << "no button: " << text;

    // It blocks: nothing else happens until it is confirmed.
    std::this_thread::sleep_for(500ms);
    EXPECT_TRUE(windowMapped(server->display(), notice));
    EXPECT_TRUE(quorv->running());

    pressKey(server->display(), "Return", notice);
    expectFedFrameOnScreen();
    EXPECT_FALSE(windowMapped(server->display(), notice));

    pressKey(server->display(), "Escape");
    EXPECT_EQ(quorv->wait(15s), 0) << quorv->standardError();
    // The exhibit is set up only after the notice: three markers, then the movie.
    const std::string marker = "ADDMARKER\nIN\nOUT\nEND ADDMARKER\n";
    EXPECT_EQ(quorv->standardOutput(), "yeah\n" + marker + marker + marker + "Got movie\n");
}

TEST_F(ProgramTest, ClickingAceptarConfirmsAndClosingTheWindowEndsWithZero) {
    auto quorv = start(sourceDir() + "/exhibit");
    const unsigned long notice = findWindow(server->display(), kCaption, 20s);
    ASSERT_NE(notice, 0u) << quorv->standardError();
    // The button runs along the bottom of the notice.
    const cv::Rect box = windowGeometry(server->display(), notice);
    click(server->display(), box.x + box.width / 2, box.y + box.height - 12);
    expectFedFrameOnScreen();

    // Close the viewer's window the way a window manager asks it to.
    std::string windows = shell("DISPLAY=" + server->display() +
                                " xdotool search --onlyvisible --maxdepth 1 --name '' 2>/dev/null");
    ASSERT_FALSE(windows.empty());
    std::stringstream ids(windows);
    unsigned long id = 0;
    while (ids >> id) requestClose(server->display(), id);
    EXPECT_EQ(quorv->wait(15s), 0) << quorv->standardError();
}

TEST_F(ProgramTest, MissingVideoPluginIsFatalBeforeAnythingElse) {
    // A copy of the program whose plugin folder lacks the video plugin.
    const std::string folder = freshFolder("no-video-plugin");
    shell("mkdir -p " + folder + "/plugins && cp " + buildDir() + "/quorv " + folder + "/ && cp " +
          buildDir() + "/plugins/osgart_tracker_artoolkit2.so " + folder + "/plugins/");
    auto quorv = start(sourceDir() + "/exhibit", folder + "/quorv");
    EXPECT_EQ(quorv->wait(20s), 255);
    EXPECT_NE(quorv->standardError().find("Could not initialize video plugin!"), std::string::npos)
        << quorv->standardError();
    EXPECT_EQ(quorv->standardOutput().find("yeah"), std::string::npos);
    EXPECT_EQ(findWindow(server->display(), kCaption, 0ms), 0u);
}

TEST_F(ProgramTest, MissingCalibrationIsFatalAfterYeah) {
    const std::string empty = freshFolder("no-calibration");
    auto quorv = start(empty);
    EXPECT_EQ(quorv->wait(20s), 255);
    EXPECT_EQ(quorv->standardOutput(), "yeah\n");
    EXPECT_NE(quorv->standardError().find("Non existing or incompatible calibration file"),
              std::string::npos)
        << quorv->standardError();
    EXPECT_EQ(findWindow(server->display(), kCaption, 0ms), 0u);
}

TEST_F(ProgramTest, EndsCleanlyOnAnImageSequenceCamera) {
    // Image sequences are read through a decoder registry that the capture thread creates on
    // its first frame; the thread must be stopped before the process tears such data down.
    const std::string folder = freshFolder("sequence");
    for (int i = 0; i < 10; ++i)
        cv::imwrite(folder + "/f_" + std::to_string(i) + ".png", blockFrame());
    for (int run = 0; run < 3; ++run) {
        auto quorv = start(sourceDir() + "/exhibit", buildDir() + "/quorv",
                           {{"QUORV_VIDEO", folder + "/f_%d.png"}});
        confirmNotice(*quorv);
        expectFedFrameOnScreen();
        pressKey(server->display(), "Escape");
        EXPECT_EQ(quorv->wait(15s), 0) << "run " << run << ": " << quorv->standardError();
    }
}

const std::string kMarkerLines = "ADDMARKER\nIN\nOUT\nEND ADDMARKER\n";

TEST_F(ProgramTest, MissingModelsAreReportedAndTheExhibitStillRuns) {
    const std::string folder = freshFolder("no-models");
    shell("cp -r " + sourceDir() + "/exhibit/. " + folder + "/ && rm -rf " + folder + "/media_Tovarin");
    auto quorv = start(folder);
    confirmNotice(*quorv);
    expectFedFrameOnScreen();
    pressKey(server->display(), "Escape");
    EXPECT_EQ(quorv->wait(15s), 0) << quorv->standardError();
    EXPECT_EQ(quorv->standardOutput(), "yeah\n" + kMarkerLines + kMarkerLines + kMarkerLines +
                                           " could not find model \n could not find model \n"
                                           "Got movie\n");
}

TEST_F(ProgramTest, ARefusedMarkerEndsTheSetUpWithTheFirstOneRegistered) {
    const std::string log = freshFolder("refused") + "/configs.txt";
    auto quorv = start(sourceDir() + "/exhibit", buildDir() + "/quorv",
                       {{"QUORV_PLUGIN_PATH", buildDir() + "/tests/scripted-plugins"},
                        {"QUORV_TRACKER_REFUSE", "patt.camara"},
                        {"QUORV_TRACKER_LOG", log}});
    confirmNotice(*quorv);
    EXPECT_EQ(quorv->wait(20s), 255);
    EXPECT_EQ(quorv->standardOutput(), "yeah\n" + kMarkerLines + "ADDMARKER\nIN\nOUT\n");
    EXPECT_NE(quorv->standardError().find("Could not add marker!"), std::string::npos)
        << quorv->standardError();
    // The tracker was asked for the first two markers only; nothing else was loaded.
    EXPECT_EQ(shell("cat " + log), "single;data_Tovarin\\patt.tovex;120;0;0\n"
                                   "single;data_Tovarin\\patt.camara;120;0;0\n");
}

}  // namespace
