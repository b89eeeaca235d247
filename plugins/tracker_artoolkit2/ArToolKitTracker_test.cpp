// The tracker plugin as the viewer uses it: loaded by the plugin manager, given the calibration,
// the video image and configuration strings, and run once per frame.

#include <gtest/gtest.h>
#include <osgart/PluginManager.h>
#include <osgart/Tracker.h>
#include <unistd.h>

#include <fstream>
#include <opencv2/imgproc.hpp>
#include <osg/Image>

#include <support/MarkerRenderer.h>
#include <support/StockCamera.h>
#include <support/Paths.h>

namespace quorv::markers {
namespace {

/// Runs each test in a fresh working folder holding data_test/patt.hiro, the stock-like camera
/// file with lens distortion, and a multi-marker configuration.
class TrackerPluginTest : public ::testing::TestWithParam<bool> {
  protected:
    void SetUp() override {
        char cwd[4096];
        ASSERT_TRUE(getcwd(cwd, sizeof cwd));
        _previousDir = cwd;
        _dir = ::testing::TempDir() + "tracker_plugin_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name();
        ASSERT_EQ(
            std::system(("rm -rf '" + _dir + "' && mkdir -p '" + _dir + "/data_test'").c_str()), 0);
        ASSERT_EQ(chdir(_dir.c_str()), 0);
        _hiro = *Pattern::load(quorvtest::testDataPath("patt.hiro"));
        ASSERT_TRUE(_hiro.save("data_test/patt.hiro"));
        ASSERT_TRUE(Pattern::fromUpright(testing::randomPattern(5)).save("data_test/patt.other"));
        _camera = quorvtest::stockCamera(26.2);
        ASSERT_TRUE(_camera.write("camera_para.dat"));

        const std::string library = quorvtest::buildPath("plugins/osgart_tracker_artoolkit2.so");
        osgART::PluginManager* manager = osgART::PluginManager::instance();
        const int id = manager->load(library, false);
        ASSERT_GE(id, 0) << manager->lastError();
        _tracker = dynamic_cast<osgART::Tracker*>(manager->get(id));
        ASSERT_TRUE(_tracker.valid());
        ASSERT_TRUE(_tracker->getOrCreateCalibration()->load("camera_para.dat"));
    }
    void TearDown() override { ASSERT_EQ(chdir(_previousDir.c_str()), 0); }

    /// A 640x480 frame with Hiro (80 mm) at `pose` and the other pattern beside it, seen
    /// through the distorting lens; returns Hiro's observed corners UL, UR, LR, LL.
    std::array<cv::Point2d, 4> frame(cv::Mat& bgr, const Pose& pose, bool withOther = true) {
        cv::Mat ideal(480, 640, CV_8UC3, cv::Scalar(170, 160, 150));
        const cv::Matx33d k = quorvtest::cameraMatrix(_camera);
        auto hiro =
            testing::renderMarker(ideal, testing::markerArtwork(_hiro.block(0)), 0.25, 80, pose, k);
        if (withOther)
            testing::renderMarker(ideal, testing::markerArtwork(testing::randomPattern(5)), 0.25,
                                  60, testing::lookAtPose(700, 170, 90, 30, 20), k);
        bgr = testing::distortImage(ideal, _camera, hiro.corners);
        return hiro.corners;
    }

    /// Puts `bgr` into an osg::Image of the given pixel format and hands it to the tracker.
    osg::ref_ptr<osg::Image> setImage(const cv::Mat& bgr, GLenum format = GL_BGR) {
        cv::Mat pixels;
        int components = 3;
        switch (format) {
            case GL_RGB:
                cv::cvtColor(bgr, pixels, cv::COLOR_BGR2RGB);
                break;
            case GL_RGBA:
                cv::cvtColor(bgr, pixels, cv::COLOR_BGR2RGBA);
                components = 4;
                break;
            case GL_LUMINANCE:
                cv::cvtColor(bgr, pixels, cv::COLOR_BGR2GRAY);
                components = 1;
                break;
            default:
                pixels = bgr.clone();
        }
        osg::ref_ptr<osg::Image> image = new osg::Image;
        image->allocateImage(bgr.cols, bgr.rows, 1, format, GL_UNSIGNED_BYTE, 1);
        for (int y = 0; y < bgr.rows; ++y)
            std::memcpy(image->data(0, y), pixels.ptr(y), size_t(bgr.cols) * components);
        _tracker->setImage(image.get());
        return image;
    }

    /// Where the modelview and the calibration's projection put a marker-frame point, in
    /// image pixels: u = (x_ndc + 1)(W - 1)/2, v = (1 - y_ndc)(H - 1)/2.
    cv::Point2d project(const osg::Matrixd& modelview, const osg::Vec3d& p) const {
        const osg::Matrixd projection = _tracker->getOrCreateCalibration()->projectionMatrix();
        const osg::Vec4d clip = osg::Vec4d(p, 1.0) * modelview * projection;
        return cv::Point2d((clip.x() / clip.w() + 1.0) * 639.0 / 2.0,
                           (1.0 - clip.y() / clip.w()) * 479.0 / 2.0);
    }

    std::string _previousDir, _dir;
    Pattern _hiro;
    osgART::CameraParameters _camera;
    osg::ref_ptr<osgART::Tracker> _tracker;
};

TEST_P(TrackerPluginTest, ContentLandsOnTheObservedCornersInEveryPixelFormat) {
    // Through an ideal lens the modelview and projection must reproduce the corners exactly;
    // through the distorting one the drawing pose is the best a rigid pose can do against the
    // bent image (a pose has 6 degrees of freedom, four corners 8), within a pixel.
    const bool distorted = GetParam();
    if (!distorted) {
        _camera = quorvtest::stockCamera(0.0);
        ASSERT_TRUE(_camera.write("camera_para.dat"));
        ASSERT_TRUE(_tracker->getOrCreateCalibration()->load("camera_para.dat"));
    }
    const double tolerance = distorted ? 1.0 : 0.15;
    osgART::Marker* marker = _tracker->addMarker("single;data_test\\patt.hiro;80;0;0");
    ASSERT_NE(marker, nullptr);
    EXPECT_EQ(marker->getName(), "patt.hiro");
    marker->setActive(true);

    cv::Mat bgr;
    // Near the image corner, where the lens bends the marker most.
    const auto corners = frame(bgr, testing::lookAtPose(450, -110, -70, 25, 35));
    const osg::Vec3d model[4] = {{-40, 40, 0}, {40, 40, 0}, {40, -40, 0}, {-40, -40, 0}};
    for (GLenum format : {GLenum(GL_BGR), GLenum(GL_RGB), GLenum(GL_RGBA), GLenum(GL_LUMINANCE)}) {
        SCOPED_TRACE("pixel format " + std::to_string(format));
        auto image = setImage(bgr, format);
        _tracker->update();
        ASSERT_TRUE(marker->valid());
        const osg::Matrixd& modelview = marker->getTransform();
        for (int k = 0; k < 4; ++k)
            EXPECT_LT(cv::norm(project(modelview, model[k]) - corners[k]), tolerance)
                << "corner " << k;
        // +z of the marker points out of the face, towards the eye at the origin.
        const osg::Vec3d centre = osg::Vec3d(0, 0, 0) * modelview;
        const osg::Vec3d above = osg::Vec3d(0, 0, 10) * modelview;
        EXPECT_LT(above.length(), centre.length());
    }
}

INSTANTIATE_TEST_SUITE_P(Lens, TrackerPluginTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Distorted" : "Ideal"; });

TEST_F(TrackerPluginTest, ValidityFollowsTheMarkerFromFrameToFrame) {
    osgART::Marker* hiro = _tracker->addMarker("single;data_test\\patt.hiro;80;0;0");
    osgART::Marker* other = _tracker->addMarker("single;data_test\\patt.other;60;0;0");
    ASSERT_TRUE(hiro && other);
    hiro->setActive(true);
    other->setActive(true);
    cv::Mat seen, empty(480, 640, CV_8UC3, cv::Scalar(170, 160, 150));
    frame(seen, testing::lookAtPose(500, 0, 0, 0, 20));

    auto image = setImage(seen);
    _tracker->update();
    EXPECT_TRUE(hiro->valid());
    EXPECT_TRUE(other->valid());
    image = setImage(empty);
    _tracker->update();
    EXPECT_FALSE(hiro->valid());
    EXPECT_FALSE(other->valid());
    // An inactive marker is not reported even when in view.
    other->setActive(false);
    image = setImage(seen);
    _tracker->update();
    EXPECT_TRUE(hiro->valid());
    EXPECT_FALSE(other->valid());
}

TEST_F(TrackerPluginTest, MultiMarkerSetGivesOnePoseFromAnyVisibleMember) {
    // Hiro at the set's origin, the other pattern 100 mm to its right and turned by 90 degrees.
    std::ofstream("data_test/set.dat") << "# two markers\r\n2\r\n\r\n"
                                          "data_test\\patt.hiro\n80.0\n0.0 0.0\n"
                                          "1 0 0 0\n0 1 0 0\n0 0 1 0\n"
                                          "   \n"
                                          "data_test/patt.other\n60.0\n0.0 0.0\n"
                                          "0 -1 0 100\n1 0 0 0\n0 0 1 0\n";
    osgART::Marker* set = _tracker->addMarker("multi;data_test\\set.dat");
    ASSERT_NE(set, nullptr);
    EXPECT_EQ(set->getName(), "set.dat");
    set->setActive(true);

    const cv::Matx33d k = quorvtest::cameraMatrix(_camera);
    const Pose cameraFromSet = testing::lookAtPose(600, -50, 0, 10, 20);
    const Pose setFromOther{cv::Matx33d(0, -1, 0, 1, 0, 0, 0, 0, 1), cv::Vec3d(100, 0, 0)};
    const cv::Mat hiroArt = testing::markerArtwork(_hiro.block(0), 0.1);
    const cv::Mat otherArt = testing::markerArtwork(testing::randomPattern(5), 0.1);
    for (int visible = 0; visible < 3; ++visible) {
        SCOPED_TRACE(visible == 0 ? "both" : visible == 1 ? "hiro only" : "other only");
        cv::Mat ideal(480, 640, CV_8UC3, cv::Scalar(170, 160, 150));
        auto origin = testing::renderMarker(ideal, hiroArt, 0.1, 80, cameraFromSet, k);
        if (visible == 2) ideal.setTo(cv::Scalar(170, 160, 150));
        if (visible != 1)
            testing::renderMarker(ideal, otherArt, 0.1, 60, cameraFromSet * setFromOther, k);
        const cv::Mat bgr = testing::distortImage(ideal, _camera, origin.corners);
        auto image = setImage(bgr);
        _tracker->update();
        ASSERT_TRUE(set->valid());
        const osg::Vec3d model[4] = {{-40, 40, 0}, {40, 40, 0}, {40, -40, 0}, {-40, -40, 0}};
        for (int c = 0; c < 4; ++c)
            EXPECT_LT(cv::norm(project(set->getTransform(), model[c]) - origin.corners[c]), 0.5);
    }
}

TEST_F(TrackerPluginTest, MissingOrMalformedFilesAndStringsGiveNoMarker) {
    std::ofstream("data_test/broken.patt") << "1 2 3\n";
    std::ofstream("data_test/broken.dat") << "1\ndata_test/patt.hiro\n80\n0 0\n1 0 0 0\n0 1 0 0\n";
    std::ofstream("data_test/missing.dat")
        << "1\ndata_test/nothere\n80\n0 0\n1 0 0 0\n0 1 0 0\n0 0 1 0\n";
    const char* bad[] = {
        "single;data_test\\nothere.patt;80;0;0", "single;data_test\\broken.patt;80;0;0",
        "single;data_test\\patt.hiro;0;0;0",     "single;data_test\\patt.hiro;80;0",
        "single;data_test\\patt.hiro;wide;0;0",  "multi;data_test\\broken.dat",
        "multi;data_test\\missing.dat",          "multi;data_test\\patt.hiro",
        "triple;data_test\\patt.hiro",           "",
    };
    for (const char* config : bad) EXPECT_EQ(_tracker->addMarker(config), nullptr) << config;
    EXPECT_TRUE(_tracker->getMarkers().empty());
}

}  // namespace
}  // namespace quorv::markers
