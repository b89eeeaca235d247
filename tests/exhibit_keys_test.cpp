// The visitor's keys in the real program: I and K walk the character two millimetres forward
// and back along its heading, J and L turn it ten degrees left and right about the marker's
// z axis. Keys are typed into the viewer's window with xdotool while the real tracker follows
// a still clip of patt.tovex; after each group of keys the character on the screen is compared
// with its outline projected through the marker's true pose at the place and heading the keys
// should have given it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <iostream>
#include <memory>
#include <osgDB/ReadFile>

#include "support/ExhibitClip.h"
#include "support/ExhibitRun.h"
#include "support/MarkerView.h"
#include "support/PictureAnalysis.h"
#include "support/Desktop.h"

namespace {

using namespace std::chrono_literals;
using namespace quorvtest;

const char* const kCharacterMarker = "patt.tovex";
constexpr int kOutlineSlack = 2;             // pixels; see the placement test
constexpr double kCentroidTolerance = 0.75;  // pixels; one key's step moves it 1.3 here

/// Where the keys have put the character on its marker: the holder's offset (mm, marker frame)
/// and the heading (degrees about the marker's z axis; 0 = facing +y).
struct Stance {
    double x = 0.0, y = 30.0, heading = 0.0;

    /// The model's place on the marker, as the exhibit hangs it: scaled by 20, turned, then
    /// carried to the holder's offset.
    osg::Matrixd markerFromModel() const {
        return osg::Matrixd::scale(20, 20, 20) *
               osg::Matrixd::rotate(osg::DegreesToRadians(heading), osg::Vec3d(0, 0, 1)) *
               osg::Matrixd::translate(x, y, 0);
    }
    /// `steps` presses of I (negative: of K), two millimetres each along the heading.
    Stance walked(int steps) const {
        const double h = osg::DegreesToRadians(heading);
        return {x - 2.0 * steps * std::sin(h), y + 2.0 * steps * std::cos(h), heading};
    }
    /// `steps` presses of J (negative: of L), ten degrees each, counter-clockwise seen from +z.
    Stance turned(int steps) const { return {x, y, heading + 10.0 * steps}; }
};

std::ostream& operator<<(std::ostream& out, const Stance& s) {
    return out << "(" << s.x << ", " << s.y << ") heading " << s.heading;
}

class ExhibitKeysTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        server = std::make_unique<XServer>();
        camera = osgART::CameraParameters::read(ExhibitClip::exhibitFolder() + "/camera_para.dat");
        character = osgDB::readNodeFile(ExhibitClip::exhibitFolder() +
                                        "/media_Tovarin/tarmeliaCentrado.osg");
    }
    static void TearDownTestSuite() {
        server.reset();
        character = nullptr;
    }

    /// A still clip of the character's marker, near and tipped back, turned a little so that
    /// no walking direction lies along a pixel row or column; then the program on it.
    void SetUp() override {
        ASSERT_TRUE(camera.has_value());
        ASSERT_TRUE(character.valid());
        std::string error;
        clip = ExhibitClip::render(freshFolder("tovex"), "tovex",
                                   {{kCharacterMarker, 0.0, 0, 50, 350, 15, -35, 0}},
                                   ExhibitClip::Options{}, &error);
        ASSERT_TRUE(clip.valid()) << error;
        const ExhibitClip::Marker* marker = clip.marker(0, kCharacterMarker);
        ASSERT_NE(marker, nullptr);
        view = std::make_unique<MarkerView>(*camera, marker->cameraFromMarker);
        quorv = std::make_unique<ExhibitRun>(*server, ExhibitClip::exhibitFolder(), clip.video());
        ASSERT_TRUE(quorv->ready()) << quorv->problem();
    }

    void TearDown() override {
        if (quorv && quorv->ready()) {
            EXPECT_EQ(quorv->quit(), 0) << quorv->problem();
        }
    }

    cv::Mat outline(const Stance& stance) const {
        return view->silhouette(*character, stance.markerFromModel(), clip.frame(0).size());
    }

    /// The two outlines are far enough apart on the screen for the checks to tell them apart.
    void expectDistinct(const Stance& a, const Stance& b) const {
        ASSERT_LT(shareInside(outline(b), grown(outline(a), kOutlineSlack)), 0.85)
            << a << " and " << b << " look alike from this camera";
    }

    /// The character on the screen matches its outline at `stance`: nothing drawn beyond it,
    /// and where it stands against the plain background (the character's dark hair and shoes
    /// may match the marker's black ink), the outline filled and the two centres closer than
    /// one key's step. The character must have come to rest: keys are handled over the next
    /// frames, and a picture taken halfway would pass for a neighbouring stance.
    void expectCharacterAt(const Stance& stance, const std::string& after) const {
        SCOPED_TRACE("after " + after);
        const cv::Mat expected = outline(stance);
        const cv::Mat& frame = clip.frame(0);
        const cv::Scalar& plain = ExhibitClip::Options{}.background;  // R, G, B
        const cv::Mat background = grown(pixelsWhere(frame,
                                                     [&](const cv::Vec3b& bgr) {
                                                         return std::abs(bgr[0] - plain[2]) < 8 &&
                                                                std::abs(bgr[1] - plain[1]) < 8 &&
                                                                std::abs(bgr[2] - plain[0]) < 8;
                                                     }),
                                         -1);
        const cv::Mat expectedOnPlain = expected & background;
        const cv::Point2d expectedCentre = centroid(expectedOnPlain);
        double inside = 0.0, filled = 0.0, offset = 0.0;
        cv::Mat drawn, before;
        cv::Point2d drawnCentre;
        const cv::Mat picture = quorv->pictureWhen(
            [&](const cv::Mat& shown) {
                before = drawn;
                drawn = drawnOver(shown, frame);
                inside = shareInside(drawn, grown(expected, kOutlineSlack));
                filled = shareInside(grown(expected, -kOutlineSlack) & background, drawn);
                drawnCentre = centroid(drawn & background);
                offset = cv::norm(drawnCentre - expectedCentre);
                const bool still = !before.empty() && cv::countNonZero(before != drawn) == 0;
                return still && inside >= 0.995 && filled >= 0.98 && offset <= kCentroidTolerance;
            },
            5s);
        EXPECT_GE(inside, 0.995) << "drawn beyond the outline at " << stance;
        EXPECT_GE(filled, 0.98) << "outline at " << stance << " not filled";
        EXPECT_LE(offset, kCentroidTolerance)
            << "drawn centre " << drawnCentre << ", outline centre " << expectedCentre;
        std::cout << after << ": " << stance << ", centre " << offset << " px off, " << filled
                  << " filled" << std::endl;
        if (HasFailure()) {
            const std::string name = "keys-" + std::to_string(getpid()) + "-" + after;
            std::cout << "window kept in " << keep(picture, name) << ", outline in "
                      << keep(expected, name + "-outline") << std::endl;
        }
    }

    static std::unique_ptr<XServer> server;
    static std::optional<osgART::CameraParameters> camera;
    static osg::ref_ptr<osg::Node> character;

    ExhibitClip clip;
    std::unique_ptr<MarkerView> view;
    std::unique_ptr<ExhibitRun> quorv;
};

std::unique_ptr<XServer> ExhibitKeysTest::server;
std::optional<osgART::CameraParameters> ExhibitKeysTest::camera;
osg::ref_ptr<osg::Node> ExhibitKeysTest::character;

TEST_F(ExhibitKeysTest, IWalksForwardAndKWalksBackAlongTheHeading) {
    const Stance start;
    const Stance forward = start.walked(6);
    expectDistinct(start, forward);

    expectCharacterAt(start, "start");
    quorv->press("i", 6);
    expectCharacterAt(forward, "I x6");
    quorv->press("k", 6);
    expectCharacterAt(start, "K x6");
    quorv->press("k", 4);
    expectCharacterAt(start.walked(-4), "K x4");
}

TEST_F(ExhibitKeysTest, JAndLTurnTheCharacterAndItWalksWhereItFaces) {
    const Stance start;
    const Stance left = start.turned(9);  // facing -x
    expectDistinct(start, left.walked(6));

    expectCharacterAt(start, "start");
    quorv->press("j", 9);
    expectCharacterAt(left, "J x9");
    quorv->press("i", 6);
    expectCharacterAt(left.walked(6), "J x9 I x6");
    quorv->press("l", 12);
    const Stance right = left.walked(6).turned(-12);  // 30 degrees right of +y
    expectCharacterAt(right, "J x9 I x6 L x12");
    quorv->press("i", 5);
    expectCharacterAt(right.walked(5), "J x9 I x6 L x12 I x5");
}

}  // namespace
