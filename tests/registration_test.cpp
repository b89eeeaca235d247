// Registration in the real program: content hung under a marker's transform must cover the
// marker as it appears in the camera picture. The exhibit's Play sign is swapped for a flat
// magenta square exactly the size of the marker; the program tracks a synthetic clip of
// patt.roundplay with the real tracker plugin, and the square's corners, read off the screen,
// are compared with the true corners of the marker in the clip.
#include <gtest/gtest.h>

#include <cmath>
#include <iostream>
#include <memory>
#include <osg/BoundingBox>
#include <osg/ComputeBoundsVisitor>
#include <osg/Geode>
#include <osg/Geometry>
#include <osg/Material>
#include <osgDB/ReadFile>
#include <osgDB/WriteFile>

#include "support/ExhibitClip.h"
#include "support/ExhibitRun.h"
#include "support/PictureAnalysis.h"
#include "support/Desktop.h"

namespace {

using namespace std::chrono_literals;
using namespace quorvtest;

constexpr double kMarkerWidth = 120.0;
constexpr double kTolerance = 1.5;  // pixels, at each corner

/// A flat square of the marker's size on the marker's face, z = 0, centred on its origin,
/// facing +z, in a saturated magenta that neither the markers nor the background have.
osg::ref_ptr<osg::Node> markerSizedSquare() {
    const float h = static_cast<float>(kMarkerWidth / 2.0);
    osg::ref_ptr<osg::Geometry> square = new osg::Geometry;
    osg::ref_ptr<osg::Vec3Array> vertices = new osg::Vec3Array;
    for (const osg::Vec3& v : {osg::Vec3(-h, -h, 0), osg::Vec3(h, -h, 0), osg::Vec3(h, h, 0),
                               osg::Vec3(-h, -h, 0), osg::Vec3(h, h, 0), osg::Vec3(-h, h, 0)})
        vertices->push_back(v);
    osg::ref_ptr<osg::Vec3Array> normals = new osg::Vec3Array(6);
    for (osg::Vec3& n : *normals) n.set(0, 0, 1);
    square->setVertexArray(vertices.get());
    square->setNormalArray(normals.get(), osg::Array::BIND_PER_VERTEX);
    square->addPrimitiveSet(new osg::DrawArrays(GL_TRIANGLES, 0, 6));

    osg::ref_ptr<osg::Material> magenta = new osg::Material;
    magenta->setAmbient(osg::Material::FRONT_AND_BACK, osg::Vec4(1, 0, 1, 1));
    magenta->setDiffuse(osg::Material::FRONT_AND_BACK, osg::Vec4(1, 0, 1, 1));
    magenta->setSpecular(osg::Material::FRONT_AND_BACK, osg::Vec4(0, 0, 0, 1));
    osg::ref_ptr<osg::Geode> geode = new osg::Geode;
    geode->addDrawable(square.get());
    geode->getOrCreateStateSet()->setAttributeAndModes(magenta.get());
    return geode;
}

/// Clearly magenta: red and blue well above green.
cv::Mat magentaPixels(const cv::Mat& picture) {
    return pixelsWhere(picture, [](const cv::Vec3b& bgr) {
        return bgr[2] > 90 && bgr[0] > 90 && bgr[1] * 2 < std::min(bgr[0], bgr[2]);
    });
}

/// One view of the marker: its centre in the camera frame (mm) and its turn (degrees).
struct View {
    const char* name;
    double x, y, z, roll, pitch, yaw;
};

void PrintTo(const View& view, std::ostream* out) { *out << view.name; }

class RegistrationTest : public ::testing::TestWithParam<View> {
  protected:
    /// A private exhibit folder whose Play sign is the square.
    static void SetUpTestSuite() {
        server = std::make_unique<XServer>();
        exhibit = freshFolder("square-exhibit");
        const std::string source = ExhibitClip::exhibitFolder();
        shell("cp -r " + source + "/camera_para.dat " + source + "/data_Tovarin " + source +
              "/media_Tovarin " + source + "/sounds_Tovarin " + source + "/videos_Tovarin " +
              exhibit + "/");
        squareWritten =
            osgDB::writeNodeFile(*markerSizedSquare(), exhibit + "/media_Tovarin/Play.3ds");
    }
    static void TearDownTestSuite() { server.reset(); }

    static std::unique_ptr<XServer> server;
    static std::string exhibit;
    static bool squareWritten;
};

std::unique_ptr<XServer> RegistrationTest::server;
std::string RegistrationTest::exhibit;
bool RegistrationTest::squareWritten = false;

TEST_P(RegistrationTest, MarkerSizedSquareCoversTheMarkerCorners) {
    const View& view = GetParam();

    // The square reads back from the 3DS file as the program will read it.
    ASSERT_TRUE(squareWritten);
    osg::ref_ptr<osg::Node> square = osgDB::readNodeFile(exhibit + "/media_Tovarin/Play.3ds");
    ASSERT_TRUE(square.valid());
    osg::ComputeBoundsVisitor bounds;
    square->accept(bounds);
    const osg::BoundingBox& box = bounds.getBoundingBox();
    ASSERT_NEAR(box.xMin(), -kMarkerWidth / 2, 1e-3);
    ASSERT_NEAR(box.xMax(), kMarkerWidth / 2, 1e-3);
    ASSERT_NEAR(box.yMin(), -kMarkerWidth / 2, 1e-3);
    ASSERT_NEAR(box.yMax(), kMarkerWidth / 2, 1e-3);
    ASSERT_NEAR(box.zMin(), 0.0, 1e-3);
    ASSERT_NEAR(box.zMax(), 0.0, 1e-3);

    std::string error;
    const ExhibitClip clip = ExhibitClip::render(
        freshFolder(std::string("clip-") + view.name), "roundplay",
        {{"patt.roundplay", 0.0, view.x, view.y, view.z, view.roll, view.pitch, view.yaw}},
        ExhibitClip::Options{}, &error);
    ASSERT_TRUE(clip.valid()) << error;
    const ExhibitClip::Marker* truth = clip.marker(0, "patt.roundplay");
    ASSERT_NE(truth, nullptr);

    ExhibitRun quorv(*server, exhibit, clip.video());
    ASSERT_TRUE(quorv.ready()) << quorv.problem();
    std::optional<std::array<cv::Point2d, 4>> found;
    const cv::Mat picture = quorv.pictureWhen(
        [&](const cv::Mat& shown) {
            return (found = quadCorners(magentaPixels(shown))).has_value();
        },
        10s);
    ASSERT_TRUE(found) << "no square on the marker; window kept in "
                       << keep(picture, std::string("registration-") + view.name);

    // Each true corner against the nearest corner found.
    double worst = 0.0;
    for (int i = 0; i < 4; ++i) {
        const cv::Point2d& expected = truth->corners[i];
        double nearest = 1e9;
        cv::Point2d at;
        for (const cv::Point2d& corner : *found) {
            if (cv::norm(corner - expected) >= nearest) continue;
            nearest = cv::norm(corner - expected);
            at = corner;
        }
        worst = std::max(worst, nearest);
        EXPECT_LE(nearest, kTolerance)
            << "corner " << i << " of the marker at " << expected << ", of the square at " << at;
    }
    std::cout << view.name << ": largest corner error " << worst << " px" << std::endl;
    RecordProperty("largest_corner_error_px", std::to_string(worst));
    if (HasFailure())
        std::cout << "window kept in " << keep(picture, std::string("registration-") + view.name)
                  << std::endl;

    EXPECT_EQ(quorv.quit(), 0) << quorv.problem();
}

// Tilts of 35-45 degrees, 100-200 pixels wide, in the middle and towards a corner of the picture,
// where the lens bends the picture most.
INSTANTIATE_TEST_SUITE_P(
    Views, RegistrationTest,
    ::testing::Values(View{"TiltedFortyNearTheMiddle", 30, 20, 500, 15, -40, 10},
                      View{"TurnedAwayUpperLeft", -170, -110, 650, -30, 20, -30},
                      View{"CloseAndSteep", 40, 20, 290, 60, -45, 12}),
    [](const ::testing::TestParamInfo<View>& info) { return std::string(info.param.name); });

}  // namespace
