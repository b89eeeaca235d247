// A whole visit, end to end: the real build/quorv with its real plugins and sound library on a
// private X server, fed the minute-long demo feed (exhibit/demo/demo-feed.avi) as its camera.
//
// What ties the three records together:
// - the feed's ground truth says where each marker is in each frame, and each frame carries its
//   own number in two rows of cells (scripts/make-demo-feed.sh), so every screenshot says which
//   frame of the feed it shows. Screenshots are taken all along, each stamped with the wall time
//   before and after it was read, which maps wall time to feed frames;
// - SDL's disk driver writes each mixed buffer to a file and then sleeps one buffer period
//   (SDL_DISKAUDIODELAY), so the file grows one buffer at a time; watching its size maps each
//   buffer to the wall time at which it was mixed.
// A sound started between two mixes is heard from the start of the second buffer, so the moment
// the program asked for it is known only to within one buffer period (186 ms, 5.6 frames). The
// alignment checks below therefore ask whether the measured interval is compatible with the
// event happening within 2 frames of the feed frame that caused it; nothing looser.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>
#include <optional>
#include <osg/ComputeBoundsVisitor>
#include <osgDB/ReadFile>
#include <sstream>
#include <thread>

#include "support/Desktop.h"

// Xlib last: its macros (None, Status, Bool) clash with names in the headers above.
// clang-format off
#include <X11/Xlib.h>
#include <X11/Xutil.h>
// clang-format on

namespace {

using namespace std::chrono_literals;
using namespace quorvtest;

const char* const kCaption = "Cargando Quorv";
const char* const kCharacter = "patt.tovex";
const char* const kMovieMarker = "patt.camara";
const char* const kPlayMarker = "patt.roundplay";

constexpr double kFeedFps = 30.0;
constexpr int kWidth = 640;
constexpr int kHeight = 480;

// Audio as the program opens it: 22050 Hz, 16-bit stereo, 4096-sample buffers, the phrase at
// half volume. The disk driver is told to wait one buffer period between buffers.
constexpr int kAudioRate = 22050;
constexpr int kBufferSamples = 4096;
constexpr int kBufferBytes = kBufferSamples * 4;
constexpr int kPhraseVolume = 64;  // of 128
const char* const kBufferPeriodMs = "186";

// The exhibit's content placement, as its set-up declares it (marker frame, mm).
constexpr double kHolderY = 30.0;
constexpr double kCharacterScale = 20.0;
constexpr double kMovieWidth = 180.0;
constexpr double kWalk = 2.0;
constexpr double kTurnDeg = 10.0;

/// How close the program has to be. Pixels a codec may change by, the reach of the tracker's
/// pose error and of lens distortion around projected content, and the event tolerance.
constexpr int kDrawnThreshold = 45;
constexpr int kRegionMarginPx = 8;
constexpr double kAlignFrames = 2.0;

double seconds() {
    static const auto start = std::chrono::steady_clock::now();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// ---------------------------------------------------------------------------------------------
// Ground truth and the camera

struct MarkerTruth {
    bool inView = false;
    bool fullyInView = false;
    double tiltDeg = 0.0;
    std::array<cv::Point2d, 4> corners;
    cv::Matx33d rotation;
    cv::Vec3d translation;
};

using FrameTruth = std::map<std::string, MarkerTruth>;

std::vector<double> numbersAfter(const std::string& text, const std::string& key, int count) {
    std::vector<double> values;
    size_t at = text.find(key);
    if (at == std::string::npos) return values;
    at += key.size();
    while (static_cast<int>(values.size()) < count && at < text.size()) {
        const char c = text[at];
        if (c == '-' || c == '.' || std::isdigit(static_cast<unsigned char>(c))) {
            size_t used = 0;
            values.push_back(std::stod(text.substr(at, 40), &used));
            at += used;
        } else {
            ++at;
        }
    }
    return values;
}

std::vector<FrameTruth> readTruth(const std::string& path) {
    std::vector<FrameTruth> frames;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        FrameTruth frame;
        size_t at = 0;
        while ((at = line.find("{\"name\":\"", at)) != std::string::npos) {
            at += 9;
            const std::string name = line.substr(at, line.find('"', at) - at);
            const size_t end = line.find('}', at);
            const std::string body = line.substr(at, end - at);
            MarkerTruth marker;
            marker.inView = body.find("\"in_view\":true") != std::string::npos;
            marker.fullyInView = body.find("\"fully_in_view\":true") != std::string::npos;
            marker.tiltDeg = numbersAfter(body, "\"tilt_deg\":", 1).at(0);
            const auto corners = numbersAfter(body, "\"corners\":", 8);
            for (int i = 0; i < 4; ++i)
                marker.corners[i] = {corners.at(2 * i), corners.at(2 * i + 1)};
            const auto pose = numbersAfter(body, "\"camera_from_marker\":", 12);
            for (int r = 0; r < 3; ++r) {
                for (int c = 0; c < 3; ++c) marker.rotation(r, c) = pose.at(r * 4 + c);
                marker.translation[r] = pose.at(r * 4 + 3);
            }
            frame[name] = marker;
            at = end;
        }
        frames.push_back(frame);
    }
    return frames;
}

/// The ideal (distortion-free) pinhole of the shipped calibration: the program renders its
/// content through it, over the camera picture.
struct Pinhole {
    double fx = 0, fy = 0, cx = 0, cy = 0;

    static Pinhole read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), {});
        auto number = [&](size_t offset) {  // big-endian double
            uint64_t bits = 0;
            for (int i = 0; i < 8; ++i) bits = (bits << 8) | bytes.at(offset + i);
            double value;
            std::memcpy(&value, &bits, sizeof value);
            return value;
        };
        // Two ints (size), then mat[3][4] as doubles.
        Pinhole p;
        p.fx = number(8);
        p.cx = number(8 + 2 * 8);
        p.fy = number(8 + 5 * 8);
        p.cy = number(8 + 6 * 8);
        return p;
    }

    cv::Point2d project(const MarkerTruth& marker, const cv::Vec3d& inMarker) const {
        const cv::Vec3d c = marker.rotation * inMarker + marker.translation;
        return {fx * c[0] / c[2] + cx, fy * c[1] / c[2] + cy};
    }
};

/// A model's bounding box, read from the exhibit's own file.
osg::BoundingBox modelBounds(const std::string& path) {
    osg::ref_ptr<osg::Node> node = osgDB::readNodeFile(path);
    if (!node) return {};
    osg::ComputeBoundsVisitor bounds;
    node->accept(bounds);
    return bounds.getBoundingBox();
}

/// Where the keys have put the character: the holder's walk (marker x, y) and the turn.
struct CharacterState {
    double x = 0.0, y = kHolderY, headingDeg = 0.0;
    int batches = 0;  ///< batches of keys taken

    void press(char key) {
        const double h = headingDeg * CV_PI / 180.0;
        if (key == 'i') x -= kWalk * std::sin(h), y += kWalk * std::cos(h);
        if (key == 'k') x += kWalk * std::sin(h), y -= kWalk * std::cos(h);
        if (key == 'j') headingDeg += kTurnDeg;
        if (key == 'l') headingDeg -= kTurnDeg;
    }
    /// A point of the model (model units) in the marker frame.
    cv::Vec3d place(const osg::Vec3& p) const {
        const double h = headingDeg * CV_PI / 180.0;
        const double px = kCharacterScale * p.x(), py = kCharacterScale * p.y();
        return {x + std::cos(h) * px - std::sin(h) * py, y + std::sin(h) * px + std::cos(h) * py,
                kCharacterScale * p.z()};
    }
};

std::vector<cv::Point2d> boxOnScreen(const Pinhole& camera, const MarkerTruth& marker,
                                     const osg::BoundingBox& box,
                                     const std::function<cv::Vec3d(const osg::Vec3&)>& place) {
    std::vector<cv::Point2d> points;
    for (int i = 0; i < 8; ++i) points.push_back(camera.project(marker, place(box.corner(i))));
    return points;
}

cv::Mat hullMask(const std::vector<cv::Point2d>& points) {
    std::vector<cv::Point> whole;
    for (const auto& p : points) whole.emplace_back(cvRound(p.x), cvRound(p.y));
    std::vector<cv::Point> hull;
    cv::convexHull(whole, hull);
    cv::Mat mask = cv::Mat::zeros(kHeight, kWidth, CV_8U);
    cv::fillConvexPoly(mask, hull, 255);
    return mask;
}

cv::Mat grow(const cv::Mat& mask, int px) {
    cv::Mat out;
    cv::dilate(mask, out, cv::getStructuringElement(cv::MORPH_ELLIPSE, {2 * px + 1, 2 * px + 1}));
    return out;
}

// ---------------------------------------------------------------------------------------------
// The frame number on screen

/// The number in one row of cells at (x0, y0), or -1 when the cells are not crisp black and
/// white or the parity is wrong (something drawn over them, a half-updated window, a window
/// all black or all white).
int readCells(const cv::Mat& grey, int x0, int y0) {
    int value = 0, ones = 0;
    for (int k = 0; k < 12; ++k) {
        const double level = cv::mean(grey(cv::Rect(x0 + 16 * k + 4, y0 + 4, 8, 8)))[0];
        if (level > 70 && level < 185) return -1;
        const bool set = level <= 70;
        if (set && k < 11) value |= 1 << k;
        ones += set;
    }
    return ones % 2 == 1 ? value : -1;
}

int frameNumber(const cv::Mat& screen) {
    cv::Mat grey;
    cv::cvtColor(screen, grey, cv::COLOR_BGR2GRAY);
    const int top = readCells(grey, 0, 0);
    const int bottom = readCells(grey, kWidth - 12 * 16, kHeight - 16);
    return top == bottom ? top : -1;
}

/// The viewer's window, for the keys: the top-level window showing at the screen's corner.
unsigned long viewerWindow(const std::string& name) {
    Display* display = XOpenDisplay(name.c_str());
    if (!display) return 0;
    Window root, parent, *children = nullptr, found = 0;
    unsigned int count = 0;
    XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count);
    for (unsigned int i = count; i-- > 0 && !found;) {
        XWindowAttributes a;
        if (XGetWindowAttributes(display, children[i], &a) && a.map_state == IsViewable &&
            a.x == 0 && a.y == 0 && a.width == kWidth && a.height == kHeight)
            found = children[i];
    }
    if (children) XFree(children);
    XCloseDisplay(display);
    return found;
}

// ---------------------------------------------------------------------------------------------
// Recorders running beside the program

/// The window's picture read over and over, each read stamped with the wall time before and
/// after it. The first picture of each feed frame is kept (JPEG, in memory).
class ScreenRecorder {
  public:
    struct Shot {
        double before, after;
        int frame;
    };

    explicit ScreenRecorder(const std::string& display) : _display(XOpenDisplay(display.c_str())) {
        if (_display) _thread = std::thread([this] { run(); });
    }
    ~ScreenRecorder() { stop(); }

    void stop() {
        _stop = true;
        if (_thread.joinable()) _thread.join();
        if (_display) XCloseDisplay(_display);
        _display = nullptr;
    }
    int latestFrame() const { return _latest; }
    /// Read after stop().
    const std::vector<Shot>& shots() const { return _shots; }
    cv::Mat picture(int frame) const {
        const auto found = _pictures.find(frame);
        return found == _pictures.end() ? cv::Mat() : cv::imdecode(found->second, cv::IMREAD_COLOR);
    }
    const std::map<int, std::vector<uchar>>& pictures() const { return _pictures; }
    /// When the kept picture of `frame` was read (before, after).
    std::pair<double, double> pictureTime(int frame) const { return _pictureTimes.at(frame); }

  private:
    void run() {
        const Window root = DefaultRootWindow(_display);
        int highest = -1;
        while (!_stop) {
            const double before = seconds();
            XImage* image = XGetImage(_display, root, 0, 0, kWidth, kHeight, AllPlanes, ZPixmap);
            const double after = seconds();
            if (!image) continue;
            cv::Mat bgra(kHeight, kWidth, CV_8UC4, image->data, image->bytes_per_line);
            cv::Mat screen;
            cv::cvtColor(bgra, screen, cv::COLOR_BGRA2BGR);
            XDestroyImage(image);
            const int frame = frameNumber(screen);
            // Only the feed's first pass counts: stop keeping once it starts again.
            if (frame >= 0 && highest - frame < 100) {
                _shots.push_back({before, after, frame});
                if (!_pictures.count(frame)) {
                    cv::imencode(".jpg", screen, _pictures[frame], {cv::IMWRITE_JPEG_QUALITY, 95});
                    _pictureTimes[frame] = {before, after};
                }
                highest = std::max(highest, frame);
                _latest = highest;
            } else if (frame >= 0) {
                _latest = kWrapped;
            }
            std::this_thread::sleep_for(2ms);
        }
    }

  public:
    static constexpr int kWrapped = 1 << 20;

  private:
    Display* _display;
    std::thread _thread;
    std::atomic<bool> _stop{false};
    std::atomic<int> _latest{-1};
    std::vector<Shot> _shots;
    std::map<int, std::vector<uchar>> _pictures;
    std::map<int, std::pair<double, double>> _pictureTimes;
};

/// The size of the audio capture file, watched closely: each growth with the wall times of the
/// last look before it and the first look after it.
class FileWatch {
  public:
    struct Growth {
        double before, after;
        long size;
    };
    explicit FileWatch(std::string path) : _path(std::move(path)) {
        _thread = std::thread([this] { run(); });
    }
    ~FileWatch() { stop(); }
    void stop() {
        _stop = true;
        if (_thread.joinable()) _thread.join();
    }
    const std::vector<Growth>& growths() const { return _growths; }

  private:
    void run() {
        long size = -1;
        double last = seconds();
        while (!_stop) {
            struct stat info;
            const double now = seconds();
            const long current =
                stat(_path.c_str(), &info) == 0 ? static_cast<long>(info.st_size) : -1;
            if (current != size) {
                _growths.push_back({last, now, current});
                size = current;
            }
            last = now;
            std::this_thread::sleep_for(1ms);
        }
    }
    std::string _path;
    std::thread _thread;
    std::atomic<bool> _stop{false};
    std::vector<Growth> _growths;
};

// ---------------------------------------------------------------------------------------------
// Timelines

/// Wall time to feed frame and back, from the screenshots.
struct ScreenTimeline {
    std::vector<ScreenRecorder::Shot> shots;

    /// When feed frame `frame` came on screen: after the last read showing an earlier frame
    /// began, and before the first read showing it (or a later one) ended.
    std::pair<double, double> shown(int frame) const {
        double low = -1, high = -1;
        for (const auto& shot : shots) {
            if (shot.frame < frame) low = shot.before;
            if (shot.frame >= frame) {
                high = shot.after;
                break;
            }
        }
        return {low, high};
    }
    /// The feed frame on screen at wall time t (the last read that ended before t).
    int frameAt(double t) const {
        int frame = -1;
        for (const auto& shot : shots)
            if (shot.after <= t) frame = std::max(frame, shot.frame);
        return frame;
    }
};

/// Audio buffer index to the wall time at which the mixer filled it: just before the write that
/// brought the file to the buffer's end.
struct AudioTimeline {
    std::vector<FileWatch::Growth> growths;

    /// Bounds of the moment buffer `index` was mixed; a mix and its write take well under 2 ms.
    std::pair<double, double> mixed(long index) const {
        const long end = (index + 1) * kBufferBytes;
        for (const auto& g : growths)
            if (g.size >= end) return {g.before - 0.002, g.after};
        return {-1, -1};
    }
};

// ---------------------------------------------------------------------------------------------
// The phrase

std::vector<int16_t> readWavSamples(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
    for (size_t at = 12; at + 8 <= bytes.size();) {
        uint32_t size;
        std::memcpy(&size, &bytes[at + 4], 4);
        if (std::string(&bytes[at], 4) == "data") {
            std::vector<int16_t> samples(size / 2);
            std::memcpy(samples.data(), &bytes[at + 8], samples.size() * 2);
            return samples;
        }
        at += 8 + size + (size & 1);
    }
    return {};
}

/// A stretch of the capture with sound in it (silences inside the phrase do not split one).
struct Segment {
    long first, last;  ///< stereo sample frames, inclusive
};

std::vector<Segment> soundSegments(const std::vector<int16_t>& capture, long gap) {
    std::vector<Segment> segments;
    const long frames = static_cast<long>(capture.size() / 2);
    for (long i = 0; i < frames; ++i) {
        if (capture[2 * i] == 0 && capture[2 * i + 1] == 0) continue;
        if (!segments.empty() && i - segments.back().last <= gap)
            segments.back().last = i;
        else
            segments.push_back({i, i});
    }
    return segments;
}

// ---------------------------------------------------------------------------------------------

struct KeyStep {
    std::string keys;  ///< one letter per press
    double before = 0, after = 0;
};

/// A run of frames in which a marker is in view (first, end): end is the first frame without.
struct Sighting {
    int first, end;
};

std::vector<Sighting> sightings(const std::vector<FrameTruth>& truth, const std::string& name,
                                bool fully) {
    std::vector<Sighting> runs;
    bool in = false;
    for (int f = 0; f < static_cast<int>(truth.size()); ++f) {
        const auto found = truth[f].find(name);
        const bool now =
            found != truth[f].end() && (fully ? found->second.fullyInView : found->second.inView);
        if (now && !in) runs.push_back({f, static_cast<int>(truth.size())});
        if (!now && in) runs.back().end = f;
        in = now;
    }
    return runs;
}

class VisitTest : public ::testing::Test {
  protected:
    void SetUp() override {
        exhibit = sourceDir() + "/exhibit";
        feed = exhibit + "/demo/demo-feed.avi";
        truth = readTruth(exhibit + "/demo/demo-feed.truth.jsonl");
        camera = Pinhole::read(exhibit + "/camera_para.dat");
        characterBox = modelBounds(exhibit + "/media_Tovarin/tarmeliaCentrado.osg");
        playBox = modelBounds(exhibit + "/media_Tovarin/Play.3ds");
        folder = freshFolder("visit");
    }

    /// The exhibit as on a stand, under its own recorders.
    void runVisit();

    /// Goes through the kept screenshots with the feed frames they show.
    void analyseScreens();
    static cv::Mat canonicalMovie(const cv::Mat& picture);
    /// The movie frame on patt.camara's quad, or -1 when none matches well.
    int whichMovieFrame(const cv::Mat& shot, const MarkerTruth& marker,
                        const cv::Mat& movieMatrix) const;

    void checkStandardOutput();
    void checkScreens();
    void checkMovie();
    void checkPhrase();
    void checkKeys();

    // Inputs.
    std::string exhibit, feed, folder;
    std::vector<FrameTruth> truth;
    Pinhole camera;
    osg::BoundingBox characterBox, playBox;

    // What the run recorded.
    int exitStatus = -1;
    std::string output, errors;
    double setUpDone = -1;  ///< wall time by which "Got movie" had been printed
    ScreenTimeline screen;
    std::unique_ptr<ScreenRecorder> recorder;
    AudioTimeline audio;
    std::vector<int16_t> capture;
    std::vector<KeyStep> keySteps;

    // What the screenshots showed.
    struct ContentStats {
        int checked = 0, missingCount = 0;
        std::vector<int> missing;
        double minimumFill = 1.0, reach = 0.0;
    };
    struct MovieSeen {
        int frame;
        double before, after;
        int index;
    };
    struct CharacterSeen {
        int frame;
        CharacterState state;
        cv::Point2d centroid;  ///< of the pixels drawn for the character
    };
    static constexpr int kMovieSide = 96;
    cv::Mat movieWeights;
    double movieAspect = 0.75;
    int movieFrames = 0;
    int strayCount = 0, resumes = 0, cuts = 0;
    std::vector<int> strayFrames;
    std::map<std::string, ContentStats> contentStats;
    std::vector<MovieSeen> moviesSeen;
    std::vector<CharacterSeen> characterSeen;
};

/// How well the character has to follow the keys: its outline's centroid against the projected
/// centre of its bounding box. One step is 2.6 px where the character stands for the keys, so a
/// lost or extra key press, or a turn 10 degrees off before a walk, is caught.
constexpr double kWalkTolerancePx = 2.0;

// The keys, in the stretch where the character's marker is held still facing the camera: walk
// forward, turn a quarter left, walk (now to the left), turn back part of the way, walk back.
const std::vector<std::string> kKeyBatches = {"iiiiiiii", "jjjjjjjjj", "iiiiiiii", "llll",
                                              "kkkkkk"};
constexpr double kHoldStart = 36.5;  // seconds into the feed
constexpr double kHoldEnd = 49.5;

void VisitTest::runVisit() {
    XServer server;
    const std::string audioFile = folder + "/capture.raw";
    Process::Options options;
    options.program = buildDir() + "/quorv";
    options.workingDirectory = exhibit;
    options.environment = {{"DISPLAY", server.display()},
                           {"QUORV_VIDEO", feed},
                           {"OSG_WINDOW", "0 0 640 480"},
                           {"QUORV_PLUGIN_PATH", ""},
                           {"SDL_AUDIODRIVER", "disk"},
                           {"SDL_DISKAUDIOFILE", audioFile},
                           {"SDL_DISKAUDIODELAY", kBufferPeriodMs}};
    FileWatch watch(audioFile);
    Process quorv(options);

    const unsigned long notice = findWindow(server.display(), kCaption, 30s);
    ASSERT_NE(notice, 0u) << quorv.standardError();
    recorder = std::make_unique<ScreenRecorder>(server.display());
    pressKey(server.display(), "Return", notice);
    while (quorv.standardOutput().find("Got movie") == std::string::npos && seconds() < 60 &&
           quorv.running())
        std::this_thread::sleep_for(5ms);
    setUpDone = seconds();

    // The viewer's window appears with the first frame, after the set-up.
    unsigned long window = 0;
    for (const double limit = seconds() + 20; !window && seconds() < limit;
         std::this_thread::sleep_for(10ms))
        window = viewerWindow(server.display());
    EXPECT_NE(window, 0u) << "no 640x480 window at the screen's corner";

    auto waitForFrame = [&](int frame) {
        const double limit = seconds() + 120;
        while (recorder->latestFrame() < frame && seconds() < limit && quorv.running())
            std::this_thread::sleep_for(5ms);
    };
    waitForFrame(static_cast<int>(kHoldStart * kFeedFps));
    for (const std::string& batch : kKeyBatches) {
        std::string keys = "--delay 40";
        for (char key : batch) keys += std::string(" ") + key;
        KeyStep step{batch, seconds(), 0};
        pressKey(server.display(), keys, window);
        step.after = seconds();
        keySteps.push_back(step);
        std::this_thread::sleep_for(1500ms);
    }
    EXPECT_LT(recorder->latestFrame(), kHoldEnd * kFeedFps) << "the keys came too late";

    waitForFrame(static_cast<int>(truth.size()) - 3);
    pressKey(server.display(), "Escape", window);
    exitStatus = quorv.wait(20s);
    recorder->stop();
    watch.stop();
    output = quorv.standardOutput();
    errors = quorv.standardError();
    screen.shots = recorder->shots();
    audio.growths = watch.growths();

    std::ifstream in(audioFile, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
    capture.resize(bytes.size() / 2);
    std::memcpy(capture.data(), bytes.data(), capture.size() * 2);
}

void VisitTest::checkStandardOutput() {
    EXPECT_EQ(exitStatus, 0) << errors;
    const std::string marker = "ADDMARKER\nIN\nOUT\nEND ADDMARKER\n";
    EXPECT_EQ(output, "yeah\n" + marker + marker + marker + "Got movie\n");
}

/// The character's state for a picture read between `before` and `after`: the keys pressed
/// before it; none when a batch of keys was on its way meanwhile.
std::optional<CharacterState> stateAt(const std::vector<KeyStep>& steps, double before,
                                      double after) {
    CharacterState state;
    for (const KeyStep& step : steps) {
        if (after < step.before) break;
        // A key takes effect in the frame loop's next pass; allow a few of them.
        if (before <= step.after + 0.25) return std::nullopt;
        for (char key : step.keys) state.press(key);
        ++state.batches;
    }
    return state;
}

void VisitTest::analyseScreens() {
    // The movie's pictures, small and normalised, to tell which one is on the marker.
    cv::VideoCapture movieFile(exhibit + "/videos_Tovarin/Tovarin.mpg", cv::CAP_FFMPEG);
    ASSERT_TRUE(movieFile.isOpened());
    cv::Mat moviePicture;
    std::vector<cv::Mat> movieRows;
    while (movieFile.read(moviePicture)) {
        movieAspect = double(moviePicture.rows) / moviePicture.cols;
        movieRows.push_back(canonicalMovie(moviePicture).reshape(1, 1));
    }
    ASSERT_GT(movieRows.size(), 100u);
    movieFrames = static_cast<int>(movieRows.size());
    cv::Mat movieMatrix;
    cv::vconcat(movieRows, movieMatrix);
    // Most of the movie stands still (stage, title); only what moves tells its frames apart, so
    // the comparison weighs each pixel by how much it changes over the movie.
    cv::Mat mean, spread;
    cv::reduce(movieMatrix, mean, 0, cv::REDUCE_AVG);
    cv::Mat centred = movieMatrix - cv::repeat(mean, movieMatrix.rows, 1);
    cv::reduce(centred.mul(centred), spread, 0, cv::REDUCE_AVG);
    cv::sqrt(spread, movieWeights);
    movieWeights /= cv::norm(movieWeights, cv::NORM_INF);
    for (int r = 0; r < movieMatrix.rows; ++r) {
        cv::Mat row = movieMatrix.row(r);
        row = row.mul(movieWeights);
        row -= cv::mean(row)[0];
        row /= std::max(cv::norm(row), 1e-9);
    }

    cv::VideoCapture video(feed, cv::CAP_FFMPEG);
    ASSERT_TRUE(video.isOpened());
    cv::Mat feedPicture;
    const cv::Mat opening = cv::getStructuringElement(cv::MORPH_RECT, {3, 3});
    for (int f = 0; video.read(feedPicture) && f < static_cast<int>(truth.size()); ++f) {
        if (!recorder->pictures().count(f)) continue;
        const cv::Mat shot = recorder->picture(f);
        const auto [before, after] = recorder->pictureTime(f);
        const auto state = stateAt(keySteps, before, after);
        if (!state) continue;

        // What the program drew over the camera picture.
        cv::Mat difference, drawn;
        cv::absdiff(shot, feedPicture, difference);
        cv::Mat channels[3];
        cv::split(difference, channels);
        drawn = cv::max(cv::max(channels[0], channels[1]), channels[2]) > kDrawnThreshold;
        cv::morphologyEx(drawn, drawn, cv::MORPH_OPEN, opening);

        // Where each marker's content may be: its projected shape, grown by the margin.
        struct Content {
            std::string marker;
            cv::Mat shape, region;
            double minimumFill;
            bool expected;
        };
        std::vector<Content> contents;
        cv::Mat allowed = cv::Mat::zeros(kHeight, kWidth, CV_8U);
        for (const auto& [name, marker] : truth[f]) {
            if (!marker.inView) continue;
            std::vector<cv::Point2d> outline;
            double minimumFill = 0;
            if (name == kCharacter) {
                outline = boxOnScreen(camera, marker, characterBox,
                                      [&](const osg::Vec3& p) { return state->place(p); });
                minimumFill = 0.15;
            } else if (name == kPlayMarker) {
                outline = boxOnScreen(camera, marker, playBox, [](const osg::Vec3& p) {
                    return cv::Vec3d(p.x(), p.y(), p.z());
                });
                minimumFill = 0.4;
            } else {
                const double w = kMovieWidth / 2, h = kMovieWidth * movieAspect / 2;
                for (const cv::Vec3d& corner : {cv::Vec3d(-w, h, 0), cv::Vec3d(w, h, 0),
                                                cv::Vec3d(w, -h, 0), cv::Vec3d(-w, -h, 0)})
                    outline.push_back(camera.project(marker, corner));
                minimumFill = 0.6;
            }
            const cv::Mat shape = hullMask(outline);
            bool inside = marker.fullyInView && marker.tiltDeg < 45;
            for (const auto& c : marker.corners)
                inside = inside && c.x > 8 && c.y > 8 && c.x < kWidth - 9 && c.y < kHeight - 9;
            cv::Rect box = cv::boundingRect(shape);
            inside =
                inside && box.x > 0 && box.y > 0 && box.br().x < kWidth && box.br().y < kHeight;
            contents.push_back({name, shape, grow(shape, kRegionMarginPx), minimumFill, inside});
            allowed |= contents.back().region;
        }

        // Nothing drawn where no marker in view puts content.
        const int stray = cv::countNonZero(drawn & ~allowed);
        if (stray > 15 && strayFrames.size() < 5) {
            strayFrames.push_back(f);
            keep(shot, "visit-stray-" + std::to_string(f));
            keep(drawn & ~allowed, "visit-stray-" + std::to_string(f) + "-mask");
        }
        strayCount += stray > 15;

        for (size_t i = 0; i < contents.size(); ++i) {
            const Content& c = contents[i];
            cv::Mat others = cv::Mat::zeros(kHeight, kWidth, CV_8U);
            for (size_t j = 0; j < contents.size(); ++j)
                if (j != i) others |= contents[j].region;
            const cv::Mat own = drawn & c.region & ~others;
            ContentStats& stats = contentStats[c.marker];
            // How far the content reaches out of its projected shape.
            cv::Mat outside;
            cv::distanceTransform(~c.shape, outside, cv::DIST_L2, 3);
            double reach = 0;
            cv::minMaxLoc(outside, nullptr, &reach, nullptr, nullptr, own);
            if (cv::countNonZero(own) > 0) stats.reach = std::max(stats.reach, reach);
            if (!c.expected || cv::countNonZero(others & c.shape) > 0) continue;
            const double fill = double(cv::countNonZero(own & c.shape)) / cv::countNonZero(c.shape);
            ++stats.checked;
            stats.minimumFill = std::min(stats.minimumFill, fill);
            if (fill < c.minimumFill) {
                if (stats.missing.size() < 5) {
                    stats.missing.push_back(f);
                    keep(shot, "visit-missing-" + std::to_string(f));
                }
                ++stats.missingCount;
            }
            if (c.marker == kMovieMarker) {
                const MarkerTruth& marker = truth[f].at(kMovieMarker);
                moviesSeen.push_back(
                    {f, before, after, whichMovieFrame(shot, marker, movieMatrix)});
            }
            if (c.marker == kCharacter && f > kHoldStart * kFeedFps - 30 &&
                f < kHoldEnd * kFeedFps) {
                const cv::Moments m = cv::moments(own, true);
                if (m.m00 > 0) characterSeen.push_back({f, *state, {m.m10 / m.m00, m.m01 / m.m00}});
            }
        }
    }
}

/// A movie picture as the comparison wants it: small, grey, blurred, zero mean, unit norm.
cv::Mat VisitTest::canonicalMovie(const cv::Mat& picture) {
    cv::Mat small, grey, out;
    cv::resize(picture, small, {kMovieSide * 4 / 3, kMovieSide}, 0, 0, cv::INTER_AREA);
    cv::cvtColor(small, grey, cv::COLOR_BGR2GRAY);
    grey.convertTo(out, CV_32F);
    cv::GaussianBlur(out, out, {5, 5}, 1.2);
    // Leave out a border: the quad's edges on screen are not exact to a pixel.
    out = out(cv::Rect(4, 4, out.cols - 8, out.rows - 8)).clone();
    out -= cv::mean(out)[0];
    out /= std::max(cv::norm(out), 1e-6);
    return out;
}

int VisitTest::whichMovieFrame(const cv::Mat& shot, const MarkerTruth& marker,
                               const cv::Mat& movieMatrix) const {
    const double w = kMovieWidth / 2, h = kMovieWidth * movieAspect / 2;
    // The picture's first row lies along the quad's top edge (marker +y).
    std::vector<cv::Point2f> from, to;
    const cv::Size size(kMovieSide * 4 * 2 / 3, kMovieSide * 2);
    const cv::Vec3d corners[4] = {{-w, h, 0}, {w, h, 0}, {w, -h, 0}, {-w, -h, 0}};
    const cv::Point2f canonical[4] = {{0, 0},
                                      {float(size.width), 0},
                                      {float(size.width), float(size.height)},
                                      {0, float(size.height)}};
    for (int i = 0; i < 4; ++i) {
        const cv::Point2d p = camera.project(marker, corners[i]);
        from.emplace_back(float(p.x), float(p.y));
        to.push_back(canonical[i]);
    }
    cv::Mat flat;
    cv::warpPerspective(shot, flat, cv::getPerspectiveTransform(from, to), size);
    cv::Mat row = canonicalMovie(flat).reshape(1, 1).mul(movieWeights);
    row -= cv::mean(row)[0];
    row /= std::max(cv::norm(row), 1e-9);
    cv::Mat scores = movieMatrix * row.t();
    double best = 0;
    cv::Point where;
    cv::minMaxLoc(scores, nullptr, &best, nullptr, &where);
    return best > 0.7 ? where.y : -1;
}

void VisitTest::checkScreens() {
    EXPECT_EQ(strayCount, 0) << "screenshots with content where no marker is in view, e.g. frames "
                             << ::testing::PrintToString(strayFrames) << " (kept)";
    for (const char* name : {kCharacter, kPlayMarker, kMovieMarker}) {
        const ContentStats& stats = contentStats[name];
        EXPECT_GT(stats.checked, 100) << name;
        EXPECT_EQ(stats.missingCount, 0)
            << name << ": its content is missing in " << stats.missingCount << " of "
            << stats.checked << " screenshots where it is in full view, e.g. frames "
            << ::testing::PrintToString(stats.missing) << " (kept)";
        std::printf(
            "[ visit    ] %-15s content checked in %d screenshots, least fill %.2f, reaches "
            "%.1f px out of its projected shape\n",
            name, stats.checked, stats.minimumFill, stats.reach);
    }
}

int circular(int value, int period) {
    value %= period;
    if (value < 0) value += period;
    return value > period / 2 ? value - period : value;
}

void VisitTest::checkMovie() {
    ASSERT_GT(moviesSeen.size(), 100u);
    int unreadable = 0;
    for (const MovieSeen& seen : moviesSeen) unreadable += seen.index < 0;
    EXPECT_LT(unreadable, static_cast<int>(moviesSeen.size()) / 20)
        << "screenshots in which the quad on patt.camara shows no picture of the movie";

    // The movie runs while its marker is tracked and only then: between two screenshots it
    // advances by the time the marker was in full view on screen between them (the tracker sees
    // a marker only whole), at the movie's own rate. Time on screen, not feed frames: when the
    // machine is busy the feed falls behind the wall clock, and the movie keeps to the clock.
    const double movieFps = 25.0;
    auto tracked = [&](int f) {
        const auto found = truth[f].find(kMovieMarker);
        return found != truth[f].end() && found->second.fullyInView;
    };
    // Each screenshot kept is the first to show its feed frame, so the pass of the frame loop
    // that drew it ran between the read before it began and its own read ended; so are the
    // passes that drew the first frame without the marker and the first frame with it again.
    auto drawn = [&](const MovieSeen& seen) {
        return std::make_pair(screen.shown(seen.frame).first, seen.after);
    };
    // How far the movie's advance between two screenshots lies outside what the time tracked
    // between them allows (at one picture of rounding), in movie frames, signed.
    auto residual = [&](const MovieSeen& a, const MovieSeen& b) {
        double low = 0, high = 0;
        std::pair<double, double> start{};
        bool in = false;
        for (int f = a.frame; f <= b.frame; ++f) {
            const bool now = f < b.frame && tracked(f);
            if (now && !in) start = f == a.frame ? drawn(a) : screen.shown(f);
            if (!now && in) {
                const auto end = f == b.frame ? drawn(b) : screen.shown(f);
                low += end.first - start.second;
                high += end.second - start.first;
            }
            in = now;
        }
        const int advance = circular(b.index - a.index, movieFrames);
        const double from = std::max(0.0, low) * movieFps - 1, to = high * movieFps + 1;
        return advance < from ? advance - from : advance > to ? advance - to : 0.0;
    };
    std::vector<const MovieSeen*> readable;
    for (const MovieSeen& seen : moviesSeen)
        if (seen.index >= 0) readable.push_back(&seen);
    double worstWhileInView = 0;
    int pairs = 0;
    for (size_t i = 0; i + 1 < readable.size(); ++i) {
        const MovieSeen& a = *readable[i];
        // While in view: a second further on, within the same stretch in view.
        for (size_t j = i + 1; j < readable.size(); ++j) {
            const MovieSeen& b = *readable[j];
            bool continuous = true;
            for (int f = a.frame; f <= b.frame && continuous; ++f) continuous = tracked(f);
            if (!continuous) break;
            if (b.frame - a.frame < kFeedFps) continue;
            const double r = residual(a, b);
            worstWhileInView = std::max(worstWhileInView, std::abs(r));
            ++pairs;
            EXPECT_LE(std::abs(r), 1) << "movie frames " << a.index << " at feed frame " << a.frame
                                      << ", " << b.index << " at " << b.frame;
            break;
        }
        // Across an absence: the last picture before it and the first one after it.
        const MovieSeen& b = *readable[i + 1];
        bool away = false;
        for (int f = a.frame; f <= b.frame; ++f) {
            const auto found = truth[f].find(kMovieMarker);
            away = away || found == truth[f].end() || !found->second.inView;
        }
        if (!away) continue;
        const double r = residual(a, b);
        std::printf(
            "[ visit    ] movie: last seen at feed frame %d (movie frame %d), back at %d "
            "(movie frame %d): %+.1f movie frames from where it froze\n",
            a.frame, a.index, b.frame, b.index, r);
        // Where the marker slides out of the picture or back in, full view stands for tracked;
        // the tracker may let go or take hold a frame either side of it.
        EXPECT_LE(std::abs(r), 2) << "the movie did not continue from where it froze: feed frames "
                                  << a.frame << " -> " << b.frame;
        ++resumes;
    }
    EXPECT_GE(resumes, 3) << "the visit has patt.camara leave and come back three times";
    std::printf(
        "[ visit    ] movie: %d one-second stretches in view, worst %.1f movie frames off\n", pairs,
        worstWhileInView);
}

void VisitTest::checkPhrase() {
    const std::vector<int16_t> source = readWavSamples(exhibit + "/sounds_Tovarin/frase.wav");
    ASSERT_FALSE(source.empty());
    std::vector<int16_t> phrase(source.size());
    for (size_t i = 0; i < source.size(); ++i) phrase[i] = int16_t(source[i] * kPhraseVolume / 128);
    const long length = static_cast<long>(phrase.size() / 2);
    auto silent = [&](long i) { return phrase[2 * i] == 0 && phrase[2 * i + 1] == 0; };
    long phraseFirst = 0, phraseLast = length - 1;
    while (silent(phraseFirst)) ++phraseFirst;
    while (silent(phraseLast)) --phraseLast;

    const auto segments = soundSegments(capture, kAudioRate / 2);
    const auto seen = sightings(truth, kPlayMarker, false);
    ASSERT_EQ(segments.size(), seen.size())
        << "the phrase must sound once per sighting of patt.roundplay and never otherwise";

    const double frame = 1.0 / kFeedFps;
    for (size_t k = 0; k < seen.size(); ++k) {
        const Segment& s = segments[k];
        const long start = s.first - phraseFirst;
        const long played = s.last - start;  // last phrase sample heard
        // From its beginning, the phrase and nothing else, and not past its end.
        long wrong = 0;
        for (long i = std::max(0L, -start); i <= played && i < length; ++i)
            for (int c = 0; c < 2; ++c)
                wrong += std::abs(capture[2 * (start + i) + c] - phrase[2 * i + c]) > 1;
        EXPECT_EQ(wrong, 0) << "sighting " << k << ": the sound is not the phrase from its start";
        EXPECT_LE(played, phraseLast) << "sighting " << k << ": the phrase went on or came again";
        EXPECT_EQ(start % kBufferSamples, 0) << "a sound starts with an audio buffer";

        // It began in a pass of the frame loop between the mixes of the buffer before and of
        // its own buffer; that pass should show the sighting's first frame (2 frames either way).
        const long buffer = start / kBufferSamples;
        const double playLow = audio.mixed(buffer - 1).first, playHigh = audio.mixed(buffer).second;
        const auto [shownLow, shownHigh] = screen.shown(seen[k].first);
        ASSERT_GE(playLow, 0);
        ASSERT_GE(shownLow, 0);
        const double earliest = (playLow - shownHigh) / frame,
                     latest = (playHigh - shownLow) / frame;
        std::printf(
            "[ visit    ] phrase, sighting %zu (feed frames %d-%d): starts between %+.1f "
            "and %+.1f frames from the sighting\n",
            k, seen[k].first, seen[k].end, earliest, latest);
        EXPECT_TRUE(earliest <= kAlignFrames && latest >= -kAlignFrames)
            << "sighting " << k << ": the phrase started " << earliest << " to " << latest
            << " frames from the sighting";

        const bool shortSighting =
            (seen[k].end - seen[k].first) * frame < length / double(kAudioRate);
        if (!shortSighting) {
            EXPECT_EQ(played, phraseLast) << "sighting " << k << ": the phrase was cut short";
            continue;
        }
        // Cut off: the first silent buffer is one whose start lies after the last sound heard
        // and no later than the next sound the phrase would have made.
        EXPECT_LT(played, phraseLast) << "sighting " << k << ": the phrase was not cut off";
        long next = played + 1;
        while (next < length && silent(next)) ++next;
        const long cutLow = (s.last + kBufferSamples) / kBufferSamples;
        const long cutHigh = (start + next) / kBufferSamples;
        const double stopLow = audio.mixed(cutLow - 1).first,
                     stopHigh = audio.mixed(cutHigh).second;
        const auto [goneLow, goneHigh] = screen.shown(seen[k].end);
        const double stopEarliest = (stopLow - goneHigh) / frame,
                     stopLatest = (stopHigh - goneLow) / frame;
        std::printf(
            "[ visit    ] phrase, sighting %zu: cut off between %+.1f and %+.1f frames "
            "from the loss\n",
            k, stopEarliest, stopLatest);
        EXPECT_TRUE(stopEarliest <= kAlignFrames && stopLatest >= -kAlignFrames)
            << "sighting " << k << ": the phrase stopped " << stopEarliest << " to " << stopLatest
            << " frames from the loss";
        ++cuts;
    }
    EXPECT_EQ(cuts, 1) << "the visit takes patt.roundplay away once while the phrase sounds";
}

void VisitTest::checkKeys() {
    // The character's screen position in each state, from the screenshots of the
    // stretch where its marker is held still facing the camera.
    std::map<int, std::vector<const CharacterSeen*>> byState;
    for (const CharacterSeen& seen : characterSeen) byState[seen.state.batches].push_back(&seen);
    ASSERT_EQ(byState.size(), kKeyBatches.size() + 1) << "a state of the character never seen";
    const MarkerTruth& hold = truth.at(static_cast<size_t>(42 * kFeedFps)).at(kCharacter);
    auto median = [](std::vector<double> v) {
        std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
        return v[v.size() / 2];
    };
    for (int b = 0; b < static_cast<int>(kKeyBatches.size()); ++b) {
        const auto& before = byState[b];
        const auto& after = byState[b + 1];
        ASSERT_GE(before.size(), 5u);
        ASSERT_GE(after.size(), 5u);
        const CharacterState& s0 = before.front()->state;
        const CharacterState& s1 = after.front()->state;
        // The centre of the character's bounding box, projected, against its outline's centroid.
        std::vector<double> x0, y0, x1, y1;
        for (const auto* s : before) x0.push_back(s->centroid.x), y0.push_back(s->centroid.y);
        for (const auto* s : after) x1.push_back(s->centroid.x), y1.push_back(s->centroid.y);
        const cv::Point2d moved(median(x1) - median(x0), median(y1) - median(y0));
        const osg::Vec3 centre = characterBox.center();
        const cv::Point2d predicted =
            camera.project(hold, s1.place(centre)) - camera.project(hold, s0.place(centre));
        const double error = cv::norm(moved - predicted);
        std::printf(
            "[ visit    ] keys %s: the character moved (%.1f, %.1f) px, predicted "
            "(%.1f, %.1f), %.1f px apart\n",
            kKeyBatches[b].c_str(), moved.x, moved.y, predicted.x, predicted.y, error);
        // A turn moves the outline too (the arms swing round the axis), by an amount the box
        // does not predict; the turns are checked by the direction of the walk that follows.
        const char key = kKeyBatches[b][0];
        if (key == 'i' || key == 'k') {
            EXPECT_LE(error, kWalkTolerancePx) << kKeyBatches[b];
        }
    }
}

TEST_F(VisitTest, AWholeVisitMatchesItsRecording) {
    ASSERT_EQ(truth.size(), 1800u) << "demo-feed.truth.jsonl";
    ASSERT_TRUE(characterBox.valid() && playBox.valid());
    {
        // The recording is what its script says: the truth written again from the script now.
        const std::string again = folder + "/again.truth.jsonl";
        shell(buildDir() + "/quorv-synth " + exhibit + "/demo/demo-feed.txt -o " + folder +
              "/again.avi --no-video --truth " + again);
        EXPECT_EQ(
            shell("cmp " + again + " " + exhibit + "/demo/demo-feed.truth.jsonl && echo same"),
            "same\n")
            << "exhibit/demo/demo-feed.* are older than demo-feed.txt: run "
               "scripts/make-demo-feed.sh";
        cv::VideoCapture video(feed, cv::CAP_FFMPEG);
        ASSERT_TRUE(video.isOpened());
        EXPECT_EQ(static_cast<int>(video.get(cv::CAP_PROP_FRAME_COUNT)), 1800);
    }

    runVisit();
    if (HasFatalFailure()) return;
    ASSERT_GT(screen.shots.size(), 500u) << "too few screenshots with a readable frame number";

    // The exhibit was set up before the first marker came into view.
    int firstInView = static_cast<int>(truth.size());
    for (int f = 0; f < static_cast<int>(truth.size()) && firstInView == int(truth.size()); ++f)
        for (const auto& [name, marker] : truth[f])
            if (marker.inView) firstInView = f;
    ASSERT_LT(screen.frameAt(setUpDone), firstInView - 10) << "set-up took too long for the feed";

    {
        SCOPED_TRACE("standard output and exit");
        checkStandardOutput();
    }
    analyseScreens();
    if (HasFatalFailure()) return;
    {
        SCOPED_TRACE("content on the markers");
        checkScreens();
    }
    {
        SCOPED_TRACE("the movie");
        checkMovie();
    }
    {
        SCOPED_TRACE("the phrase");
        checkPhrase();
    }
    {
        SCOPED_TRACE("the keys");
        checkKeys();
    }
}

}  // namespace
