// The exhibit's content where the visitor expects it. The real program, with its real tracker,
// watches footage of the printed markers made at test time by quorv-synth; what it draws over
// the camera picture is compared with where the content belongs, worked out from the markers'
// true poses in the footage through the calibration, lens distortion included.
#include <gtest/gtest.h>
#include <osgart/CameraParameters.h>
#include <support/ExhibitRun.h>
#include <support/StockCamera.h>
#include <synth/FrameTruth.h>

#include <cmath>
#include <fstream>
#include <map>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>
#include <osg/Geode>
#include <osg/Geometry>
#include <osg/Material>
#include <osg/TriangleFunctor>
#include <osgDB/ReadFile>
#include <osgDB/WriteFile>
#include <sstream>

namespace {

using namespace std::chrono_literals;
using namespace quorvtest;
using Marker = quorv::FrameTruth::Marker;

const std::string kExhibit = sourceDirectory() + "/exhibit";
const std::string kCharacter = "patt.tovex", kPlay = "patt.roundplay", kMovie = "patt.camara";
/// The footage's flat background (B, G, R), in none of the content's colours.
const cv::Scalar kBackground(175, 160, 150);
/// How far drawn content may stray from the outline worked out for it: the tracker fits the
/// pose to the observed corners with the camera matrix alone, so points off the marker's plane
/// may land a pixel away from their true image, and outlines are rasterised twice.
constexpr int kSlack = 2;

/// A lossless 640x480 video at 10 fps made by quorv-synth through the camera file
/// `calibration`, of the exhibit's three markers, 120 mm wide, shown only where `keys` say (lines
/// of its script: "key MARKER TIME X Y Z ROLL PITCH YAW [hidden]", the marker's centre in the
/// camera frame in mm, x right, y down, z forward, and its turn in degrees; tools/synth/README.md);
/// its frames as the program's video plugin decodes them (BGR), and their truth.
struct Clip {
    std::string video, error;
    std::vector<cv::Mat> frames;
    std::vector<quorv::FrameTruth> truth;

    const Marker& marker(size_t frame, const std::string& name) const {
        for (const Marker& marker : truth.at(frame).markers)
            if (marker.name == name) return marker;
        throw std::runtime_error(name + " not in frame " + std::to_string(frame));
    }
};

Clip render(const std::string& name, const std::string& keys, double duration,
            const std::string& calibration) {
    Clip clip;
    const std::string base = freshFolder(name) + "/" + name;
    clip.video = base + ".mkv";
    std::ofstream script(base + ".txt");
    script << "size 640 480\nfps 10\nduration " << duration << "\ncalibration " << calibration
           << "\nbackground colour " << kBackground[2] << " " << kBackground[1] << " "
           << kBackground[0] << "\n";
    for (const char* name : {"tovex", "camara", "roundplay"})  // shown only where keys say
        script << "marker patt." << name << " " << kExhibit << "/data_Tovarin/" << name
               << "-marker.png 120\n";
    script << keys;
    script.close();
    const std::string log = shell(buildDirectory() + "/quorv-synth " + base + ".txt -o " +
                                  clip.video + " --truth " + base + ".jsonl 2>&1");
    clip.truth = quorv::FrameTruth::readFile(base + ".jsonl").value_or(clip.truth);
    cv::VideoCapture video(clip.video, cv::CAP_FFMPEG);
    for (cv::Mat frame; video.read(frame);) clip.frames.push_back(frame.clone());
    if (clip.frames.empty() || clip.frames.size() != clip.truth.size())
        clip.error = "frames and truth do not match; quorv-synth said: " + log, clip.frames.clear();
    return clip;
}

/// The pixels (CV_8U, 255 = covered) that `model`'s triangles cover, placed in the marker's
/// frame by `markerFromModel` (OSG's row-vector order) and seen through `camera` at the
/// marker's true pose.
cv::Mat silhouette(const osgART::CameraParameters& camera, const Marker& marker, osg::Node& model,
                   const osg::Matrixd& markerFromModel = {}) {
    struct Collector : osg::NodeVisitor {
        struct Sink {
            osg::Matrixd matrix;
            std::vector<osg::Vec3d>* out;
            void operator()(const osg::Vec3& a, const osg::Vec3& b, const osg::Vec3& c) {
                for (const osg::Vec3& v : {a, b, c}) out->push_back(osg::Vec3d(v) * matrix);
            }
        };
        Collector() : osg::NodeVisitor(TRAVERSE_ALL_CHILDREN) {}
        void apply(osg::Drawable& drawable) override {
            osg::TriangleFunctor<Sink> sink;
            sink.matrix = osg::computeLocalToWorld(getNodePath());
            sink.out = &points;
            drawable.accept(sink);
        }
        std::vector<osg::Vec3d> points;  // three a triangle
    } collector;
    model.accept(collector);
    const cv::Matx34d pose(marker.cameraFromMarker.data());
    cv::Mat covered(camera.ysize, camera.xsize, CV_8U, cv::Scalar(0));
    constexpr int kShift = 4;  // vertices at 1/16 pixel; pixel centres at integers, as OpenCV's
    cv::Point corners[3];
    for (size_t i = 0; i < collector.points.size(); ++i) {
        const osg::Vec3d p = collector.points[i] * markerFromModel;
        const cv::Vec3d c = pose * cv::Vec4d(p.x(), p.y(), p.z(), 1.0);
        double h[3], x, y;
        for (int row = 0; row < 3; ++row)
            h[row] = camera.mat[row][0] * c[0] + camera.mat[row][1] * c[1] +
                     camera.mat[row][2] * c[2] + camera.mat[row][3];
        camera.observedFromIdeal(h[0] / h[2], h[1] / h[2], x, y);
        corners[i % 3] = cv::Point(cvRound(x * (1 << kShift)), cvRound(y * (1 << kShift)));
        if (i % 3 == 2)
            cv::fillConvexPoly(covered, corners, 3, cv::Scalar(255), cv::LINE_8, kShift);
    }
    return covered;
}

/// The pixels (CV_8U, 255 = set) where `picture` differs from the camera frame by more than 40
/// in some channel: what the program drew over the video.
cv::Mat drawnOver(const cv::Mat& picture, const cv::Mat& frame) {
    cv::Mat difference;
    cv::absdiff(picture, frame, difference);
    cv::reduce(difference.reshape(1, int(difference.total())), difference, 1, cv::REDUCE_MAX);
    return difference.reshape(1, picture.rows) > 40;
}

/// A mask grown (positive `pixels`) or shrunk (negative) by a disc of that radius.
cv::Mat grown(const cv::Mat& mask, int pixels) {
    const int r = std::abs(pixels);
    cv::Mat out;
    cv::morphologyEx(mask, out, pixels > 0 ? cv::MORPH_DILATE : cv::MORPH_ERODE,
                     cv::getStructuringElement(cv::MORPH_ELLIPSE, {2 * r + 1, 2 * r + 1}), {-1, -1},
                     1, cv::BORDER_CONSTANT, cv::Scalar(0));
    return out;
}

/// Share of the set pixels of `part` that are also set in `whole`; 1 when `part` is empty.
double shareInside(const cv::Mat& part, const cv::Mat& whole) {
    const int total = cv::countNonZero(part);
    return total == 0 ? 1.0 : double(cv::countNonZero(part & whole)) / total;
}

cv::Point2d centroid(const cv::Mat& mask) {
    const cv::Moments m = cv::moments(mask, true);
    return {m.m10 / m.m00, m.m01 / m.m00};
}

/// The character's place on its marker: on a holder at (x, y), turned `heading` degrees about
/// the marker's z axis (0 = facing +y), scaled by 20.
osg::Matrixd characterPlace(double x, double y, double heading) {
    return osg::Matrixd::scale(20, 20, 20) *
           osg::Matrixd::rotate(osg::DegreesToRadians(heading), osg::Vec3d(0, 0, 1)) *
           osg::Matrixd::translate(x, y, 0);
}

class ExhibitContentTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(camera && character); }

    /// Looks at the window until `problems` finds none in what it shows; fails with the last
    /// problems found, keeping the picture, when that does not happen in a generous time.
    void expectOnScreen(ExhibitRun& quorv, const std::string& what,
                        const std::function<std::string(const cv::Mat&)>& problems) {
        std::string found;
        const cv::Mat picture = quorv.pictureWhen(
            [&](const cv::Mat& shown) { return (found = problems(shown)).empty(); }, 20s);
        EXPECT_EQ(found, "") << what << "; window kept in " << keep(picture, what);
    }

    XServer server;
    const std::optional<osgART::CameraParameters> camera =
        osgART::CameraParameters::read(kExhibit + "/camera_para.dat");
    const osg::ref_ptr<osg::Node> character =
        osgDB::readNodeFile(kExhibit + "/media_Tovarin/tarmeliaCentrado.osg");
};

// The Play sign is swapped for a flat magenta square exactly the size of the marker, and the
// camera file for the stock camera (strong lens distortion, principal point off the centre) at
// half the video's size, which the program must rescale. The square's corners on the screen
// must be the marker's true corners in three views, held still for a second each: tilted
// 35-45 degrees, in the middle and towards a corner, where the lens bends the picture most.
TEST_F(ExhibitContentTest, MarkerSizedSquareLandsOnTheMarkersTrueCorners) {
    const std::string exhibit = freshFolder("square-exhibit");
    shell("cp -r " + kExhibit + "/data_Tovarin " + kExhibit + "/media_Tovarin " + kExhibit +
          "/sounds_Tovarin " + kExhibit + "/videos_Tovarin " + exhibit);
    ASSERT_TRUE(stockCamera(26.2).scaled(320, 240).write(exhibit + "/camera_para.dat"));
    osg::ref_ptr<osg::Geode> square = new osg::Geode;
    square->addDrawable(osg::createTexturedQuadGeometry({-60, -60, 0}, {120, 0, 0}, {0, 120, 0}));
    osg::ref_ptr<osg::Material> magenta = new osg::Material;
    magenta->setAmbient(osg::Material::FRONT_AND_BACK, {1, 0, 1, 1});
    magenta->setDiffuse(osg::Material::FRONT_AND_BACK, {1, 0, 1, 1});
    square->getOrCreateStateSet()->setAttributeAndModes(magenta.get());
    ASSERT_TRUE(osgDB::writeNodeFile(*square, exhibit + "/media_Tovarin/Play.3ds"));

    std::string keys;  // the three views, held from the start of seconds 0, 1 and 2 for 0.95 s
    int second = 0;
    for (const char* pose :
         {"30 20 500 15 -40 10", "-170 -110 650 -30 20 -30", "40 20 360 60 -45 12"}) {
        for (const char* at : {".0 ", ".95 "})
            keys += "key " + kPlay + " " + std::to_string(second) + at + pose + "\n";
        ++second;
    }
    const Clip clip = render("square-views", keys, 3.0, exhibit + "/camera_para.dat");
    ASSERT_FALSE(clip.frames.empty()) << clip.error;

    ExhibitRun quorv(server, exhibit, clip.video);
    ASSERT_TRUE(quorv.ready()) << quorv.problem();
    for (int view = 0; view < 3; ++view)
        expectOnScreen(quorv, "view-" + std::to_string(view), [&](const cv::Mat& shown) {
            cv::Mat mask;
            cv::inRange(shown, cv::Scalar(90, 0, 90), cv::Scalar(255, 60, 255), mask);
            std::vector<std::vector<cv::Point>> contours;
            cv::findContours(mask, contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_NONE);
            std::vector<cv::Point> quad;
            for (const auto& c : contours)
                if (cv::contourArea(c) > 500)
                    cv::approxPolyDP(c, quad, 0.02 * cv::arcLength(c, true), true);
            if (quad.size() != 4) return std::string("no square");
            // Each corner to a fraction of a pixel: where the edges of its two sides meet.
            std::vector<cv::Point2f> found(quad.begin(), quad.end());
            cv::cornerSubPix(mask, found, {5, 5}, {-1, -1}, {cv::TermCriteria::COUNT, 40, 0});
            double worst = 0;
            for (const auto& corner : clip.marker(10 * view, kPlay).corners) {
                double nearest = 1e9;
                for (const cv::Point2f& f : found)
                    nearest = std::min(nearest, std::hypot(f.x - corner[0], f.y - corner[1]));
                worst = std::max(worst, nearest);
            }
            return worst > 1.5 ? "a corner " + std::to_string(worst) + " px off" : "";
        });
    EXPECT_EQ(quorv.quit(), 0) << quorv.problem();
}

// The three markers side by side, tipped back like cards on a table, for two seconds, then two
// seconds without them, over and over (the video plugin starts a file again at its end): each
// content covers its own marker and nothing else, and nothing is drawn while they are away.
TEST_F(ExhibitContentTest, EachContentCoversItsOwnMarkerOnlyWhileItIsInView) {
    std::string keys;
    for (const auto& [name, pose] : {std::pair{kCharacter, "-160 50 560 5 -50 0"},
                                     {kPlay, "170 60 600 20 -30 10"},
                                     {kMovie, "0 -120 700 0 -15 0"}})
        keys += "key " + name + " 0 " + pose + "\nkey " + name + " 2 " + pose + " hidden\n";
    const Clip clip = render("come-and-go", keys, 4.0, kExhibit + "/camera_para.dat");
    ASSERT_FALSE(clip.frames.empty()) << clip.error;
    const cv::Mat &shownFrame = clip.frames.front(), &goneFrame = clip.frames.back();

    // The movie is a rectangle 180 wide, of the movie's shape (320x240), centred on its marker.
    const osg::ref_ptr<osg::Geometry> movie =
        osg::createTexturedQuadGeometry({-90, -67.5, 0}, {180, 0, 0}, {0, 135, 0});
    const osg::ref_ptr<osg::Node> play = osgDB::readNodeFile(kExhibit + "/media_Tovarin/Play.3ds");
    ASSERT_TRUE(play);
    const std::map<std::string, cv::Mat> outlines = {
        {kCharacter,
         silhouette(*camera, clip.marker(0, kCharacter), *character, characterPlace(0, 30, 0))},
        {kPlay, silhouette(*camera, clip.marker(0, kPlay), *play)},
        {kMovie, silhouette(*camera, clip.marker(0, kMovie), *movie)}};
    cv::Mat anyContent = cv::Mat::zeros(shownFrame.size(), CV_8U);
    for (const auto& [name, outline] : outlines) anyContent |= grown(outline, kSlack);

    ExhibitRun quorv(server, kExhibit, clip.video);
    ASSERT_TRUE(quorv.ready()) << quorv.problem();
    expectOnScreen(quorv, "placement", [&](const cv::Mat& shown) {
        const cv::Mat drawn = drawnOver(shown, shownFrame);
        std::ostringstream out;
        if (const int stray = cv::countNonZero(drawn & ~anyContent))
            out << stray << " pixels drawn elsewhere; ";
        // The movie's white lettering may meet the marker's white paper.
        for (const auto& [name, outline] : outlines)
            if (const double filled = shareInside(grown(outline, -kSlack), drawn);
                filled < (name == kMovie ? 0.75 : 0.97))
                out << name << "'s outline " << filled << " filled; ";
        return out.str();
    });

    // Then the markers leave the camera picture, and their content with them.
    expectOnScreen(quorv, "markers-gone", [&](const cv::Mat& shown) {
        return cv::countNonZero(drawnOver(shown, goneFrame)) ? "something drawn" : "";
    });
    EXPECT_EQ(quorv.quit(), 0) << quorv.problem();
}

// I and K walk the character 2 mm forward and back along its heading, J and L turn it 10
// degrees left and right about its marker's z axis. Keys are typed into the viewer while the
// tracker follows a still clip of patt.tovex, near, tipped back and turned a little so that no
// walking direction lies along a pixel row or column; after each row the character on the
// screen is compared with its outline at the place and heading the keys should have given it.
TEST_F(ExhibitContentTest, KeysWalkAndTurnTheCharacterOnItsMarker) {
    const Clip clip = render("tovex", "key " + kCharacter + " 0 0 50 350 15 -35 0\n", 1.0,
                             kExhibit + "/camera_para.dat");
    ASSERT_FALSE(clip.frames.empty()) << clip.error;
    const cv::Mat& frame = clip.frames.front();
    // Where the character stands against the plain background: its dark hair and shoes may
    // match the marker's black ink.
    const cv::Mat plain =
        grown(~drawnOver(frame, cv::Mat(frame.size(), frame.type(), kBackground)), -1);

    ExhibitRun quorv(server, kExhibit, clip.video);
    ASSERT_TRUE(quorv.ready()) << quorv.problem();
    // Each row: a key typed this many times, and the steps forward or turns left it makes.
    const struct {
        const char* key;
        int times, walk, turn;
    } rows[] = {{"", 0, 0, 0},  {"i", 6, 6, 0}, {"k", 6, -6, 0},   {"k", 4, -4, 0}, {"i", 4, 4, 0},
                {"j", 9, 0, 9}, {"i", 6, 6, 0}, {"l", 12, 0, -12}, {"i", 5, 5, 0}};
    double x = 0, y = 30, heading = 0;
    std::string done = "keys";
    for (const auto& row : rows) {
        if (row.times) quorv.press(row.key, row.times);
        done += std::string("-") + row.key + std::to_string(row.times);
        x -= 2 * row.walk * std::sin(osg::DegreesToRadians(heading));
        y += 2 * row.walk * std::cos(osg::DegreesToRadians(heading));
        heading += 10 * row.turn;
        const cv::Mat expected = silhouette(*camera, clip.marker(0, kCharacter), *character,
                                            characterPlace(x, y, heading));
        const cv::Point2d centre = centroid(expected & plain);
        // One key's step moves the centre by 1.3 pixels here.
        expectOnScreen(quorv, done, [&](const cv::Mat& shown) {
            const cv::Mat drawn = drawnOver(shown, frame);
            std::ostringstream out;
            if (const double inside = shareInside(drawn, grown(expected, kSlack)); inside < 0.995)
                out << inside << " inside the outline; ";
            if (const double filled = shareInside(grown(expected, -kSlack) & plain, drawn);
                filled < 0.98)
                out << filled << " of the outline filled; ";
            if (const double off = cv::norm(centroid(drawn & plain) - centre); off > 0.75)
                out << "centre " << off << " px off; ";
            return out.str();
        });
    }
    EXPECT_EQ(quorv.quit(), 0) << quorv.problem();
}

}  // namespace
