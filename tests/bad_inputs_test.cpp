// Every exhibit file missing, empty, cut short or replaced by garbage: the program either ends
// with its fatal message and status 255 where the file is essential, or says what it could not
// use and runs on. Never a crash. And a camera that goes away and comes back.
#include <gtest/gtest.h>
#include <osgart/CameraParameters.h>

#include <fstream>
#include <functional>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>
#include <random>
#include <thread>

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

/// A WAV header (format tag, channels, rate, bits; EXTENSIBLE gets its longer format chunk)
/// before `bytes` of silence, written sparse.
void writeWav(const std::string& path, int tag, int channels, int rate, int bits, long bytes) {
    std::string h = std::string("RIFF\0\0\0\0WAVEfmt ", 16) + char(tag == 0xFFFE ? 40 : 16);
    auto put = [&](long v, int n) {
        for (int i = 0; i < n; ++i) h += char(v >> (8 * i));
    };
    put(0, 3), put(tag, 2), put(channels, 2), put(rate, 4), put(rate * channels * bits / 8, 4);
    put(std::max(1, channels * bits / 8), 2), put(bits, 2);
    if (tag == 0xFFFE) put(22, 2), h += std::string(22, '\1');
    h += "data", put(bytes, 4);
    std::ofstream(path, std::ios::binary) << h;
    shell("truncate -s " + std::to_string(h.size() + bytes) + " " + path);
}

// Files that are well formed yet unusable, and surroundings the exhibit cannot use. Each row
// changes a copy of the exhibit (and may give the camera video and variables); the program
// says what it refused and runs on until Escape (status 0), or ends with status 255. The last
// row: a 4K movie still plays.
TEST(BadInputTest, EachUnusableInputIsRefusedWithItsReason) {
    XServer server;
    const cv::Vec3b grey(128, 128, 128), black(0, 0, 0);
    const cv::Mat picture(480, 640, CV_8UC3, cv::Scalar(grey));
    const std::string feeds = freshFolder("feeds"), feed = stillVideo(picture, feeds + "/g.avi");
    auto clip = [&](const std::string& name, cv::Size size, int frames) {
        cv::VideoWriter out(feeds + "/" + name, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 30,
                            size);
        for (int i = 0; i < frames; ++i) out.write(cv::Mat(size, CV_8UC3, cv::Scalar(grey)));
        return feeds + "/" + name;
    };
    const std::string wav = "/sounds_Tovarin/frase.wav", calib = "/camera_para.dat";
    using Change = std::function<void(const std::string&)>;
    auto camera = [&](std::function<void(osgART::CameraParameters&)> edit) -> Change {
        return [=](const std::string& f) {
            auto p = osgART::CameraParameters::read(f + calib);
            edit(*p), p->write(f + calib);
        };
    };
    auto sound = [&](int tag, int channels, int rate, int bits, long bytes = 44100) -> Change {
        return [=](const std::string& f) { writeWav(f + wav, tag, channels, rate, bits, bytes); };
    };
    auto fifo = [](const std::string& file) -> Change {
        return [=](const std::string& f) { shell("rm " + f + file + " && mkfifo " + f + file); };
    };
    auto write = [](const std::string& file, std::string text) -> Change {
        return [=](const std::string& f) { std::ofstream(f + file) << text; };
    };
    auto copy = [](const std::string& from, const std::string& file) -> Change {
        return [=](const std::string& f) { shell("cp " + from + " " + f + file); };
    };
    std::string deep, uniform;
    for (int i = 0; i < 20000; ++i) deep += "Group {\n";
    for (int i = 0; i < 3072; ++i) uniform += "200 ";
    deep += std::string(20000, '}');
    const Change none = [](const std::string&) {};
    const std::string percent = feeds + "/a%d.avi",
                      huge = keep(cv::Mat(8192, 8192, CV_8UC3), "huge"),
                      patterns = "/data_Tovarin/patt.",
                      model = "/media_Tovarin/tarmeliaCentrado.osg",
                      tovex = kExhibit + patterns + "tovex", movie = "/videos_Tovarin/Tovarin.mpg";
    shell("cp " + feed + " " + percent);
    const struct {
        std::string video;  // the camera: empty for the grey feed
        Change change;
        ExhibitRun::Environment environment;
        int status;
        std::string message;
        cv::Vec3b shown;  // the picture while it runs
    } rows[] = {
        {clip("sliver.avi", {640, 1}, 30), none, {}, 0, "pictures of 640x1 are refused", black},
        {"", sound(1, 0, 22050, 16), {}, 0, "frase.wav: 0 channels", grey},
        {"", sound(1, 1, 0, 16), {}, 0, "frase.wav: 0 samples a second", grey},
        {"", write(model, deep), {}, 0, "osg: nested more than 1000 levels", grey},
        {clip("one.avi", {640, 480}, 1), none, {}, 0, "", grey},
        {keep(picture, "still"), none, {}, 0, "", grey},
        {"", fifo(patterns + "tovex"), {}, 255, "patt.tovex: not a regular file", black},
        {"", fifo(calib), {}, 255, "camera_para.dat: not a regular file", black},
        {"", none, {{"DISPLAY", ""}}, 255, "no display to show the exhibit on (DISPLAY is", black},
        {"", none, {{"DISPLAY", ":1999"}}, 255, "no display to show the exhibit on (cannot", black},
        {"", sound(3, 1, 22050, 32), {}, 0, "32-bit floating-point samples", grey},
        {"", sound(1, 1, 22050, 24), {}, 0, "24-bit PCM samples", grey},
        {"", sound(0xFFFE, 2, 22050, 16), {}, 0, "WAVE_FORMAT_EXTENSIBLE", grey},
        {"", sound(7, 1, 8000, 8), {}, 0, "frase.wav: mu-law samples", grey},
        {"", camera([](auto& p) { p.dist[2] = 1e4; }), {}, 255, "distortion folds", black},
        {"", camera([](auto& p) { p.xsize = p.ysize = 1; }), {}, 255, "outside the 1x1", black},
        {"", camera([](auto& p) { p.mat[0][2] = 1e9; }), {}, 255, "principal point (1", black},
        {percent, none, {}, 0, "", grey},
        {"", copy(tovex, patterns + "camara"), {}, 0, "camara correlate at 1.0", grey},
        {"", write(patterns + "roundplay", uniform), {}, 0, "patt.roundplay) is uniform", grey},
        {huge, none, {}, 0, "pictures of 8192x8192 are refused", black},
        {"", copy(huge, movie), {}, 0, "larger than 4096x4096", grey},
        {"", sound(1, 1, 22050, 8, 200000000), {}, 0, "more than the limit of 64 MiB", grey},
        {"", copy(clip("4k.avi", {3840, 2160}, 2), movie), {}, 0, "Got movie", grey}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.message + " " + row.video);
        const std::string folder = freshFolder("unusable");
        shell("cp -r " + kExhibit + "/. " + folder + " && rm -r " + folder + "/demo");
        row.change(folder);
        ExhibitRun quorv(server, folder, row.video.empty() ? feed : row.video,
                         ExhibitRun::Confirm::Return, row.environment);
        if (row.status == 0) {
            EXPECT_TRUE(showsAtCentre(quorv, row.shown)) << quorv.problem();
            std::this_thread::sleep_for(1500ms);  // a still, once shown, stays without a loss
            EXPECT_TRUE(showsAtCentre(quorv, row.shown)) << quorv.problem();
            EXPECT_EQ(quorv.quit(), 0) << quorv.errors();
        }
        EXPECT_EQ(quorv.wait(), row.status) << quorv.errors();
        EXPECT_NE((quorv.output() + quorv.errors()).find(row.message), std::string::npos)
            << quorv.errors();
        EXPECT_EQ(quorv.errors().find("lost"), std::string::npos) << quorv.errors();
        EXPECT_EQ(quorv.errors().find("cannot read"), std::string::npos) << quorv.errors();
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
