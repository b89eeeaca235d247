// Every exhibit file missing, empty, cut short or replaced by garbage: the program either ends
// with its fatal message and status 255 where the file is essential, or says what it could not
// use and runs on. Never a crash. And a camera that goes away and comes back.
#include <gtest/gtest.h>

#include <fstream>
#include <opencv2/imgcodecs.hpp>
#include <random>

#include "support/ExhibitRun.h"

namespace {

using namespace std::chrono_literals;
using namespace quorvtest;

const std::string kExhibit = sourceDirectory() + "/exhibit";

/// Runs until the window's centre shows `colour` (for up to 10 s); whether it came to show it.
bool showsAtCentre(const ExhibitRun& quorv, cv::Vec3b colour) {
    auto at = [&](const cv::Mat& p) { return cv::norm(p.at<cv::Vec3b>(240, 320), colour) < 20; };
    return at(quorv.pictureWhen(at, 10s));
}

TEST(BadInputTest, EachDamagedFileEndsAsExpectedWithoutACrash) {
    const std::string Y = "yeah\n", M = "ADDMARKER\nIN\nOUT\nEND ADDMARKER\n", Set = Y + M + M + M,
                      Half = "ADDMARKER\nIN\nOUT\n", Got = "Got movie\n",
                      NoModel = " could not find model \n" + Got, kAdd = "Could not add marker!";
    // Per file: the fatal message (none: it runs on until Escape), its standard output, and
    // whether the file still loads when cut in half: a model cut in half reads as the part that
    // is there, a movie cut in half plays the half that is there; a sound that does not load is
    // silent and says nothing.
    const struct {
        std::string file, fatal, output;
        bool cutLoads;
    } files[] = {{"camera_para.dat", "Non existing or incompatible calibration file", Y, false},
                 {"data_Tovarin/patt.tovex", kAdd, Y + Half, false},
                 {"data_Tovarin/patt.camara", kAdd, Y + M + Half, false},
                 {"data_Tovarin/patt.roundplay", kAdd, Y + M + M + Half, false},
                 {"media_Tovarin/tarmeliaCentrado.osg", "", Set + NoModel, true},
                 {"media_Tovarin/Play.3ds", "", Set + NoModel, true},
                 {"sounds_Tovarin/frase.wav", "", Set + Got, true},
                 {"videos_Tovarin/Tovarin.mpg", "", Set + "No movie!\n", true}};
    XServer server;
    const cv::Vec3b grey(128, 128, 128);
    const std::string feed =
        stillVideo(cv::Mat(480, 640, CV_8UC3, cv::Scalar(grey)), freshFolder("grey") + "/grey.avi");
    for (const auto& f : files)
        for (const std::string damage : {"missing", "empty", "cut", "garbage"}) {
            SCOPED_TRACE(f.file + " " + damage);
            const std::string folder = freshFolder("bad-input"), path = folder + "/" + f.file;
            shell("cp -r " + kExhibit + "/. " + folder + " && rm -r " + folder + "/demo");
            std::ifstream in(path, std::ios::binary);
            std::string bytes((std::istreambuf_iterator<char>(in)), {});
            std::mt19937 random(1234);
            bytes.resize(damage == "empty" ? 0 : damage == "cut" ? bytes.size() / 2 : bytes.size());
            for (char& c : bytes) c = damage == "garbage" ? char(random()) : c;
            std::remove(path.c_str());
            if (damage != "missing") std::ofstream(path, std::ios::binary) << bytes;
            ExhibitRun quorv(server, folder, feed);
            const std::string output = damage == "cut" && f.cutLoads ? Set + Got : f.output;
            EXPECT_EQ(quorv.noticed(), output != Y) << "the notice comes after the calibration";
            if (f.fatal.empty()) {  // it runs on, showing the camera, until the visitor ends it
                EXPECT_TRUE(showsAtCentre(quorv, grey)) << quorv.problem();
                EXPECT_EQ(quorv.quit(), 0) << quorv.errors();
            }
            EXPECT_EQ(quorv.wait(), f.fatal.empty() ? 0 : 255) << quorv.errors();
            EXPECT_EQ(quorv.output(), output);
            EXPECT_NE(quorv.errors().find(f.fatal), std::string::npos) << quorv.errors();
        }
}

// The camera: an image sequence in a folder that is taken away and put back. The notice is
// confirmed with a click and the window closed as a window manager closes it: image sequences
// are read through a decoder registry that the capture thread creates on its first frame, so
// the thread must be stopped before the process tears such data down.
TEST(BadInputTest, TheCameraGoesAwayMidVisitAndComesBack) {
    XServer server;
    const std::string frames = freshFolder("camera/frames"), away = frames + "-away";
    const cv::Vec3b colour(40, 160, 220);
    for (int i = 0; i < 10; ++i)
        cv::imwrite(frames + "/f_" + std::to_string(i) + ".png",
                    cv::Mat(480, 640, CV_8UC3, cv::Scalar(colour)));
    ExhibitRun quorv(server, kExhibit, frames + "/f_%d.png", ExhibitRun::Confirm::Click);
    ASSERT_TRUE(quorv.ready()) << quorv.problem();
    EXPECT_TRUE(showsAtCentre(quorv, colour)) << "the camera picture";
    shell("mv " + frames + " " + away);
    EXPECT_TRUE(showsAtCentre(quorv, {0, 0, 0})) << "a black picture while the camera is away";
    shell("mv " + away + " " + frames);
    EXPECT_TRUE(showsAtCentre(quorv, colour)) << "the camera picked up again";
    quorv.close();
    EXPECT_EQ(quorv.wait(), 0) << quorv.errors();
    // One line for the loss, however long it lasted, and one for the return.
    const std::string err = quorv.errors(), lost = "Quorv video: lost";
    EXPECT_NE(err.find("is back"), std::string::npos) << err;
    EXPECT_TRUE(err.find(lost) != std::string::npos && err.find(lost) == err.rfind(lost)) << err;
}

}  // namespace
