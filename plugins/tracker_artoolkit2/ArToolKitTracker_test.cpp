// The tracker plugin as the viewer uses it: loaded by the plugin manager, given the calibration,
// the video image and configuration strings, and run once per frame.

#include <gtest/gtest.h>
#include <osgart/PluginManager.h>
#include <osgart/Tracker.h>
#include <support/MarkerRenderer.h>
#include <support/Paths.h>
#include <support/StockCamera.h>
#include <unistd.h>

#include <fstream>
#include <opencv2/imgproc.hpp>
#include <osg/Image>

namespace quorv::markers {
namespace {

using quorvtest::shoot;
using quorvtest::Shown;

/// Each test in a fresh working folder holding data_test/patt.hiro, data_test/patt.other and
/// the stock camera file (with its lens distortion unless the parameter says Ideal).
class TrackerPluginTest : public ::testing::TestWithParam<bool> {
  protected:
    void SetUp() override {
        const std::string dir = ::testing::TempDir() + "tracker_plugin_" +
                                ::testing::UnitTest::GetInstance()->current_test_info()->name();
        ASSERT_EQ(std::system(("mkdir -p '" + dir + "/data_test'").c_str()), 0);
        ASSERT_EQ(chdir(dir.c_str()), 0);
        ASSERT_TRUE(_hiro.save("data_test/patt.hiro"));
        ASSERT_TRUE(Pattern::fromUpright(_other).save("data_test/patt.other"));
        ASSERT_TRUE(_camera.write("camera_para.dat"));
        osgART::PluginManager* manager = osgART::PluginManager::instance();
        const int id =
            manager->load(quorvtest::buildPath("plugins/osgart_tracker_artoolkit2.so"), false);
        ASSERT_GE(id, 0) << manager->lastError();
        _tracker = dynamic_cast<osgART::Tracker*>(manager->get(id));
        ASSERT_TRUE(_tracker.valid() &&
                    _tracker->getOrCreateCalibration()->load("camera_para.dat"));
    }

    /// Hands `bgr` to the tracker as an osg::Image of `format`, and runs it.
    void update(const cv::Mat& bgr, GLenum format = GL_BGR) {
        const std::map<GLenum, int> codes = {{GL_BGR, cv::COLOR_BGR2BGRA},
                                             {GL_RGB, cv::COLOR_BGR2RGB},
                                             {GL_RGBA, cv::COLOR_BGR2RGBA},
                                             {GL_LUMINANCE, cv::COLOR_BGR2GRAY}};
        cv::Mat pixels = bgr.clone();
        if (format != GL_BGR) cv::cvtColor(bgr, pixels, codes.at(format));
        _image = new osg::Image;
        _image->allocateImage(bgr.cols, bgr.rows, 1, format, GL_UNSIGNED_BYTE, 1);
        std::memcpy(_image->data(), pixels.data, pixels.total() * pixels.elemSize());
        _tracker->setImage(_image.get());
        _tracker->update();
    }

    /// The image pixel where `marker`'s modelview and the calibration's projection put a
    /// marker-frame point: u = (x_ndc + 1)(W - 1)/2, v = (1 - y_ndc)(H - 1)/2.
    cv::Point2d project(osgART::Marker* marker, const osg::Vec3d& p) const {
        const osg::Vec4d clip = osg::Vec4d(p, 1.0) * marker->getTransform() *
                                _tracker->getOrCreateCalibration()->projectionMatrix();
        return {(clip.x() / clip.w() + 1.0) * 639.0 / 2.0,
                (1.0 - clip.y() / clip.w()) * 479.0 / 2.0};
    }

    /// Distance of the projected corners of an 80 mm marker from the truth's.
    double misfit(osgART::Marker* marker, const FrameTruth::Marker& truth) const {
        const osg::Vec3d model[4] = {{-40, 40, 0}, {40, 40, 0}, {40, -40, 0}, {-40, -40, 0}};
        double worst = 0;
        for (int k = 0; k < 4; ++k)
            worst =
                std::max(worst, cv::norm(project(marker, model[k]) -
                                         cv::Point2d(truth.corners[k][0], truth.corners[k][1])));
        return worst;
    }

    const Pattern _hiro = *Pattern::load(quorvtest::testDataPath("patt.hiro"));
    const PatternImage _other = quorvtest::randomPattern(5);
    const osgART::CameraParameters _camera = quorvtest::stockCamera(GetParam() ? 0.0 : 26.2);
    const double _tolerance = GetParam() ? 0.15 : 1.0;  // px
    osg::ref_ptr<osgART::Tracker> _tracker;
    osg::ref_ptr<osg::Image> _image;
};

TEST_P(TrackerPluginTest, ContentLandsOnTheObservedCornersInEveryPixelFormat) {
    osgART::Marker* marker = _tracker->addMarker("single;data_test\\patt.hiro;80;0;0");
    ASSERT_NE(marker, nullptr);
    EXPECT_EQ(marker->getName(), "patt.hiro");
    marker->setActive(true);
    // Near the image corner, where the lens bends the marker most. Through the distorting lens
    // the drawing pose is the best a rigid pose can do against the bent image, within a pixel.
    const auto shot = shoot(_camera, {{_hiro.block(0), 80, {{-110, -70, 450}, 25, 35}},
                                      {_other, 60, {{170, 90, 700}, 30, 20}}});
    for (GLenum format : {GL_BGR, GL_RGB, GL_RGBA, GL_LUMINANCE}) {
        update(shot.image, format);
        ASSERT_TRUE(marker->valid()) << "format " << format;
        EXPECT_LT(misfit(marker, shot.truth.markers[0]), _tolerance) << "format " << format;
        // +z of the marker points out of its face, towards the eye at the origin.
        EXPECT_LT((osg::Vec3d(0, 0, 10) * marker->getTransform()).length(),
                  (osg::Vec3d(0, 0, 0) * marker->getTransform()).length());
    }
}

TEST_P(TrackerPluginTest, MarkersAreValidOnlyInFramesThatShowThemAndOnlyWhileActive) {
    osgART::Marker* hiro = _tracker->addMarker("single;data_test\\patt.hiro;80;0;0");
    osgART::Marker* other = _tracker->addMarker("single;data_test\\patt.other;60;0;0");
    ASSERT_TRUE(hiro && other);
    hiro->setActive(true);
    other->setActive(true);
    const auto seen = shoot(_camera, {{_hiro.block(0), 80, {{0, 0, 500}, 0, 20}},
                                      {_other, 60, {{170, 90, 700}, 30, 20}}});
    const std::pair<cv::Mat, std::pair<bool, bool>> frames[] = {
        {seen.image, {true, true}},
        {shoot(_camera, {}).image, {false, false}},
        {seen.image, {true, false}}};
    for (const auto& [image, valid] : frames) {
        if (&image == &frames[2].first) other->setActive(false);
        update(image);
        EXPECT_EQ(hiro->valid(), valid.first);
        EXPECT_EQ(other->valid(), valid.second);
    }
}

TEST_P(TrackerPluginTest, MultiMarkerSetGivesOnePoseFromAnyVisibleMember) {
    // Hiro at the set's origin, the other pattern 100 mm to its right and turned by 90 degrees.
    std::ofstream("data_test/set.dat") << "# two markers\r\n2\r\n\r\ndata_test\\patt.hiro\n80.0\n"
                                          "0.0 0.0\n1 0 0 0\n0 1 0 0\n0 0 1 0\n   \n"
                                          "data_test/patt.other\n60.0\n0.0 0.0\n"
                                          "0 -1 0 100\n1 0 0 0\n0 0 1 0\n";
    osgART::Marker* set = _tracker->addMarker("multi;data_test\\set.dat");
    ASSERT_NE(set, nullptr);
    EXPECT_EQ(set->getName(), "set.dat");
    set->setActive(true);
    const MarkerPlacement origin{{-50, 0, 600}, 10, 20};
    const auto r = origin.cameraFromMarker();
    const MarkerPlacement right{
        {r[0] * 100 + r[3], r[4] * 100 + r[7], r[8] * 100 + r[11]}, 100, 20};
    const Shown hiro{_hiro.block(0), 80, origin}, other{_other, 60, right};
    const FrameTruth::Marker truth = shoot(_camera, {hiro}).truth.markers[0];
    const std::vector<Shown> views[] = {{hiro, other}, {hiro}, {other}};
    for (const auto& shown : views) {
        update(shoot(_camera, shown).image);
        ASSERT_TRUE(set->valid()) << shown.size() << " shown";
        EXPECT_LT(misfit(set, truth), _tolerance) << shown.size() << " shown";
    }
}

TEST_P(TrackerPluginTest, MissingOrMalformedFilesAndStringsGiveNoMarker) {
    std::ofstream("data_test/broken.patt") << "1 2 3\n";
    std::ofstream("data_test/broken.dat") << "1\ndata_test/patt.hiro\n80\n0 0\n1 0 0 0\n0 1 0 0\n";
    std::ofstream("data_test/missing.dat")
        << "1\ndata_test/nothere\n80\n0 0\n1 0 0 0\n0 1 0 0\n0 0 1 0\n";
    for (const char* config :
         {"single;data_test\\nothere.patt;80;0;0", "single;data_test\\broken.patt;80;0;0",
          "single;data_test\\patt.hiro;0;0;0", "single;data_test\\patt.hiro;80;0",
          "single;data_test\\patt.hiro;wide;0;0", "multi;data_test\\broken.dat",
          "multi;data_test\\missing.dat", "multi;data_test\\patt.hiro",
          "triple;data_test\\patt.hiro", ""})
        EXPECT_EQ(_tracker->addMarker(config), nullptr) << config;
    EXPECT_TRUE(_tracker->getMarkers().empty());
}

INSTANTIATE_TEST_SUITE_P(Lens, TrackerPluginTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Ideal" : "Distorted"; });

}  // namespace
}  // namespace quorv::markers
