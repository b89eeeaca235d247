// Every exhibit file missing, empty, cut short or replaced by garbage: the program either ends
// with its fatal message and status 255 where the file is essential, or reports what it could
// not use and runs on. Never a crash.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>
#include <random>
#include <sstream>
#include <thread>

#include "support/Desktop.h"

namespace {

using namespace std::chrono_literals;
using namespace quorvtest;

enum class Damage { Missing, Empty, Truncated, Garbage };

const char* damageName(Damage d) {
    switch (d) {
        case Damage::Missing:
            return "missing";
        case Damage::Empty:
            return "empty";
        case Damage::Truncated:
            return "truncated";
        case Damage::Garbage:
            return "garbage";
    }
    return "?";
}

/// Applies the damage to one file of a private exhibit copy.
void damage(const std::string& path, Damage kind) {
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), {});
    in.close();
    switch (kind) {
        case Damage::Missing:
            std::remove(path.c_str());
            return;
        case Damage::Empty:
            bytes.clear();
            break;
        case Damage::Truncated:
            bytes.resize(bytes.size() / 2);
            break;
        case Damage::Garbage: {
            std::mt19937 random(1234);
            for (char& c : bytes) c = static_cast<char>(random() & 0xFF);
            break;
        }
    }
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

const std::string kMarker = "ADDMARKER\nIN\nOUT\nEND ADDMARKER\n";

/// What the program must do with one damaged file.
struct Case {
    std::string file;  ///< relative to the exhibit folder
    Damage kind;
    int status;              ///< expected exit status
    bool reachesNotice;      ///< whether the loading notice comes up
    std::string stdoutText;  ///< expected standard output, whole
    std::string stderrHas;   ///< a line expected on the notification stream ("" for none)
};

std::ostream& operator<<(std::ostream& out, const Case& c) {
    return out << c.file << " " << damageName(c.kind);
}

std::vector<Case> cases() {
    std::vector<Case> all;
    const Damage kinds[] = {Damage::Missing, Damage::Empty, Damage::Truncated, Damage::Garbage};
    for (Damage kind : kinds) {
        all.push_back({"camera_para.dat", kind, 255, false, "yeah\n",
                       "Non existing or incompatible calibration file"});
        const char* patterns[] = {"patt.tovex", "patt.camara", "patt.roundplay"};
        for (int i = 0; i < 3; ++i) {
            std::string out = "yeah\n";
            for (int k = 0; k < i; ++k) out += kMarker;
            all.push_back({std::string("data_Tovarin/") + patterns[i], kind, 255, true,
                           out + "ADDMARKER\nIN\nOUT\n", "Could not add marker!"});
        }
        const std::string registered = "yeah\n" + kMarker + kMarker + kMarker;
        // A model cut in half still reads as the part that is there: no model is missing.
        const std::string model = kind == Damage::Truncated ? "" : " could not find model \n";
        all.push_back({"media_Tovarin/tarmeliaCentrado.osg", kind, 0, true,
                       registered + model + "Got movie\n", ""});
        all.push_back(
            {"media_Tovarin/Play.3ds", kind, 0, true, registered + model + "Got movie\n", ""});
        // A sound that does not load is silent, and says nothing.
        all.push_back({"sounds_Tovarin/frase.wav", kind, 0, true, registered + "Got movie\n", ""});
        // A movie cut in half plays the half that is there.
        all.push_back({"videos_Tovarin/Tovarin.mpg", kind, 0, true,
                       registered + (kind == Damage::Truncated ? "Got movie\n" : "No movie!\n"),
                       ""});
    }
    return all;
}

class BadInputTest : public ::testing::TestWithParam<Case> {
  protected:
    static void SetUpTestSuite() {
        server = std::make_unique<XServer>();
        feed = freshFolder("bad-input-feed") + "/grey.avi";
        cv::VideoWriter writer(feed, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 30.0,
                               cv::Size(640, 480));
        for (int i = 0; i < 30; ++i) writer.write(cv::Mat(480, 640, CV_8UC3, cv::Scalar::all(128)));
    }
    static void TearDownTestSuite() { server.reset(); }
    static std::unique_ptr<XServer> server;
    static std::string feed;
};

std::unique_ptr<XServer> BadInputTest::server;
std::string BadInputTest::feed;

TEST_P(BadInputTest, EndsAsExpectedWithoutACrash) {
    const Case& c = GetParam();
    const std::string folder = freshFolder("bad-input");
    shell("cp -r " + sourceDir() + "/exhibit/. " + folder + "/ && rm -rf " + folder + "/demo " +
          folder + "/sheets");
    damage(folder + "/" + c.file, c.kind);

    Process::Options options;
    options.program = buildDir() + "/quorv";
    options.workingDirectory = folder;
    options.environment = {{"DISPLAY", server->display()},
                           {"QUORV_VIDEO", feed},
                           {"OSG_WINDOW", "0 0 640 480"},
                           {"QUORV_PLUGIN_PATH", ""},
                           {"SDL_AUDIODRIVER", "dummy"}};
    Process quorv(options);
    const unsigned long notice =
        findWindow(server->display(), "Cargando Quorv", c.reachesNotice ? 20s : 0ms);
    if (c.reachesNotice) {
        ASSERT_NE(notice, 0u) << quorv.standardError();
        pressKey(server->display(), "Return", notice);
    }
    if (c.status == 0) {
        // It runs on: give it a moment of frames, then end it the visitor's way.
        std::this_thread::sleep_for(1500ms);
        ASSERT_TRUE(quorv.running()) << "ended early: " << quorv.standardError();
        pressKey(server->display(), "Escape");
    }
    EXPECT_EQ(quorv.wait(20s), c.status) << quorv.standardError();
    EXPECT_EQ(quorv.standardOutput(), c.stdoutText);
    if (!c.stderrHas.empty()) {
        EXPECT_NE(quorv.standardError().find(c.stderrHas), std::string::npos)
            << quorv.standardError();
    }
}

/// The colour at the window's centre (the window shows the feed 1:1 at the screen's corner).
cv::Vec3b centreColour(const std::string& display) {
    const cv::Mat screen = screenshot(display);
    return screen.empty() ? cv::Vec3b() : screen.at<cv::Vec3b>(240, 320);
}

bool waitForColour(const std::string& display, cv::Vec3b want, std::chrono::seconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        const cv::Vec3b got = centreColour(display);
        if (std::abs(got[0] - want[0]) + std::abs(got[1] - want[1]) + std::abs(got[2] - want[2]) <
            30)
            return true;
        std::this_thread::sleep_for(200ms);
    }
    return false;
}

TEST_F(BadInputTest, TheCameraGoesAwayMidVisitAndComesBack) {
    // The camera: an image sequence in a folder that is taken away and put back.
    const std::string base = freshFolder("vanishing-camera");
    const std::string frames = base + "/frames", away = base + "/away";
    shell("mkdir -p " + frames);
    const cv::Vec3b colour(40, 160, 220);
    for (int i = 0; i < 10; ++i)
        cv::imwrite(frames + "/f_" + std::to_string(i) + ".png",
                    cv::Mat(480, 640, CV_8UC3, cv::Scalar(40, 160, 220)));

    Process::Options options;
    options.program = buildDir() + "/quorv";
    options.workingDirectory = sourceDir() + "/exhibit";
    options.environment = {{"DISPLAY", server->display()},
                           {"QUORV_VIDEO", frames + "/f_%d.png"},
                           {"OSG_WINDOW", "0 0 640 480"},
                           {"QUORV_PLUGIN_PATH", ""},
                           {"SDL_AUDIODRIVER", "dummy"}};
    Process quorv(options);
    const unsigned long notice = findWindow(server->display(), "Cargando Quorv", 20s);
    ASSERT_NE(notice, 0u) << quorv.standardError();
    pressKey(server->display(), "Return", notice);
    ASSERT_TRUE(waitForColour(server->display(), colour, 10s)) << "the camera picture never came";

    shell("mv " + frames + " " + away);
    EXPECT_TRUE(waitForColour(server->display(), cv::Vec3b(0, 0, 0), 10s)) << "no black picture";
    EXPECT_TRUE(quorv.running());
    shell("mv " + away + " " + frames);
    EXPECT_TRUE(waitForColour(server->display(), colour, 10s))
        << "the camera was not picked up again";

    pressKey(server->display(), "Escape");
    EXPECT_EQ(quorv.wait(20s), 0) << quorv.standardError();
    const std::string err = quorv.standardError();
    EXPECT_NE(err.find("Quorv video: lost"), std::string::npos) << err;
    EXPECT_NE(err.find("is back"), std::string::npos) << err;
    // One line for the loss, however long it lasted.
    EXPECT_EQ(err.find("Quorv video: lost"), err.rfind("Quorv video: lost")) << err;
}

std::string caseName(const ::testing::TestParamInfo<Case>& info) {
    std::string name = info.param.file + "_" + damageName(info.param.kind);
    for (char& ch : name)
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(ExhibitFiles, BadInputTest, ::testing::ValuesIn(cases()), caseName);

}  // namespace
