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

enum Damage { Missing, Empty, Cut, Garbage };
const char* const kDamage[] = {"missing", "empty", "cut", "garbage"};

const std::string Y = "yeah\n", M = "ADDMARKER\nIN\nOUT\nEND ADDMARKER\n", Set = Y + M + M + M,
                  Half = "ADDMARKER\nIN\nOUT\n", NoModel = " could not find model \n",
                  Got = "Got movie\n", NoMovie = "No movie!\n";
const char* const kCalibration = "Non existing or incompatible calibration file";
const char* const kAdd = "Could not add marker!";
const char* const kModel = "media_Tovarin/tarmeliaCentrado.osg";

/// One damaged file and what the program does about it: its exit status (0: it runs until
/// Escape), its whole standard output, and a line it writes on standard error.
struct Case {
    std::string file;
    Damage damage;
    int status;
    std::string output, message;
};

// A model cut in half still reads as the part that is there; a sound that does not load is
// silent and says nothing; a movie cut in half plays the half that is there.
const Case kCases[] = {
    {"camera_para.dat", Missing, 255, Y, kCalibration},
    {"camera_para.dat", Empty, 255, Y, kCalibration},
    {"camera_para.dat", Cut, 255, Y, kCalibration},
    {"camera_para.dat", Garbage, 255, Y, kCalibration},
    {"data_Tovarin/patt.tovex", Missing, 255, Y + Half, kAdd},
    {"data_Tovarin/patt.tovex", Empty, 255, Y + Half, kAdd},
    {"data_Tovarin/patt.tovex", Cut, 255, Y + Half, kAdd},
    {"data_Tovarin/patt.tovex", Garbage, 255, Y + Half, kAdd},
    {"data_Tovarin/patt.camara", Missing, 255, Y + M + Half, kAdd},
    {"data_Tovarin/patt.camara", Empty, 255, Y + M + Half, kAdd},
    {"data_Tovarin/patt.camara", Cut, 255, Y + M + Half, kAdd},
    {"data_Tovarin/patt.camara", Garbage, 255, Y + M + Half, kAdd},
    {"data_Tovarin/patt.roundplay", Missing, 255, Y + M + M + Half, kAdd},
    {"data_Tovarin/patt.roundplay", Empty, 255, Y + M + M + Half, kAdd},
    {"data_Tovarin/patt.roundplay", Cut, 255, Y + M + M + Half, kAdd},
    {"data_Tovarin/patt.roundplay", Garbage, 255, Y + M + M + Half, kAdd},
    {kModel, Missing, 0, Set + NoModel + Got, ""},
    {kModel, Empty, 0, Set + NoModel + Got, ""},
    {kModel, Cut, 0, Set + Got, ""},
    {kModel, Garbage, 0, Set + NoModel + Got, ""},
    {"media_Tovarin/Play.3ds", Missing, 0, Set + NoModel + Got, ""},
    {"media_Tovarin/Play.3ds", Empty, 0, Set + NoModel + Got, ""},
    {"media_Tovarin/Play.3ds", Cut, 0, Set + Got, ""},
    {"media_Tovarin/Play.3ds", Garbage, 0, Set + NoModel + Got, ""},
    {"sounds_Tovarin/frase.wav", Missing, 0, Set + Got, ""},
    {"sounds_Tovarin/frase.wav", Empty, 0, Set + Got, ""},
    {"sounds_Tovarin/frase.wav", Cut, 0, Set + Got, ""},
    {"sounds_Tovarin/frase.wav", Garbage, 0, Set + Got, ""},
    {"videos_Tovarin/Tovarin.mpg", Missing, 0, Set + NoMovie, ""},
    {"videos_Tovarin/Tovarin.mpg", Empty, 0, Set + NoMovie, ""},
    {"videos_Tovarin/Tovarin.mpg", Cut, 0, Set + Got, ""},
    {"videos_Tovarin/Tovarin.mpg", Garbage, 0, Set + NoMovie, ""},
};

void damage(const std::string& path, Damage kind) {
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), {});
    std::mt19937 random(1234);
    if (kind == Missing) std::remove(path.c_str());
    if (kind == Missing) return;
    bytes.resize(kind == Empty ? 0 : kind == Cut ? bytes.size() / 2 : bytes.size());
    if (kind == Garbage)
        for (char& c : bytes) c = static_cast<char>(random() & 0xFF);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

/// Whether the window's centre shows `colour`.
auto centreIs(cv::Vec3b colour) {
    return [colour](const cv::Mat& p) {
        return !p.empty() && cv::norm(p.at<cv::Vec3b>(240, 320), colour, cv::NORM_L1) < 30;
    };
}

class BadInputTest : public ::testing::Test {
  protected:
    XServer server;
};

TEST_F(BadInputTest, EachDamagedFileEndsAsExpectedWithoutACrash) {
    const cv::Vec3b grey(128, 128, 128);
    const std::string feed =
        stillVideo(cv::Mat(480, 640, CV_8UC3, cv::Scalar(grey)), freshFolder("grey") + "/grey.avi");
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.file + " " + kDamage[c.damage]);
        const std::string folder = freshFolder("bad-input");
        shell("cp -r " + sourceDir() + "/exhibit/. " + folder + " && rm -rf " + folder + "/demo");
        damage(folder + "/" + c.file, c.damage);
        ExhibitRun quorv(server, folder, feed);
        EXPECT_EQ(quorv.noticed(), c.output != Y) << "the notice comes after the calibration";
        if (c.status == 0) {  // it runs on, showing the camera, until the visitor ends it
            EXPECT_TRUE(centreIs(grey)(quorv.pictureWhen(centreIs(grey), 10s))) << quorv.problem();
            EXPECT_EQ(quorv.quit(), 0) << quorv.errors();
        }
        EXPECT_EQ(quorv.wait(), c.status) << quorv.errors();
        EXPECT_EQ(quorv.output(), c.output);
        EXPECT_NE(quorv.errors().find(c.message), std::string::npos) << quorv.errors();
    }
}

TEST_F(BadInputTest, TheCameraGoesAwayMidVisitAndComesBack) {
    // The camera: an image sequence in a folder that is taken away and put back.
    const std::string base = freshFolder("vanishing-camera"), frames = base + "/frames";
    const cv::Vec3b colour(40, 160, 220);
    shell("mkdir -p " + frames);
    for (int i = 0; i < 10; ++i)
        cv::imwrite(frames + "/f_" + std::to_string(i) + ".png",
                    cv::Mat(480, 640, CV_8UC3, cv::Scalar(colour)));
    ExhibitRun quorv(server, sourceDir() + "/exhibit", frames + "/f_%d.png");
    ASSERT_TRUE(quorv.ready()) << quorv.problem();
    auto expectCentre = [&](cv::Vec3b want, const char* what) {
        EXPECT_TRUE(centreIs(want)(quorv.pictureWhen(centreIs(want), 10s))) << what;
    };
    expectCentre(colour, "the camera picture");
    shell("mv " + frames + " " + base + "/away");
    expectCentre(cv::Vec3b(0, 0, 0), "a black picture while the camera is away");
    shell("mv " + base + "/away " + frames);
    expectCentre(colour, "the camera picked up again");
    EXPECT_EQ(quorv.quit(), 0) << quorv.errors();
    const std::string err = quorv.errors();
    EXPECT_NE(err.find("is back"), std::string::npos) << err;
    // One line for the loss, however long it lasted.
    EXPECT_NE(err.find("Quorv video: lost"), std::string::npos) << err;
    EXPECT_EQ(err.find("Quorv video: lost"), err.rfind("Quorv video: lost")) << err;
}

}  // namespace
