// The tracker plugin as the viewer uses it: loaded by the plugin manager, given the calibration,
// the video image and configuration strings, and run once per frame.

#include <gtest/gtest.h>
#include <osgart/PluginManager.h>
#include <osgart/Tracker.h>
#include <support/MarkerRenderer.h>
#include <support/Paths.h>
#include <support/StockCamera.h>

#include <fstream>
#include <opencv2/imgproc.hpp>
#include <osg/Image>

namespace quorv::markers {
namespace {

using quorvtest::shoot;

const std::string kData = quorvtest::sourceDirectory() + "/exhibit/data_Tovarin/";
const PatternImage kHiro = Pattern::load(quorvtest::testDataPath("patt.hiro"))->block(0);
const PatternImage kTovex = Pattern::load(kData + "patt.tovex")->block(0);

/// The plugin with the stock camera, its lens distortion unless the parameter says Ideal; files
/// go to a folder of the test's own.
class TrackerPluginTest : public ::testing::TestWithParam<bool> {
  protected:
    void SetUp() override {
        ASSERT_EQ(std::system(("mkdir -p " + _dir).c_str()), 0);
        ASSERT_TRUE(_camera.write(_dir + "camera_para.dat"));
        osgART::PluginManager* manager = osgART::PluginManager::instance();
        const int id =
            manager->load(quorvtest::buildPath("plugins/osgart_tracker_artoolkit2.so"), false);
        ASSERT_GE(id, 0) << manager->lastError();
        _tracker = dynamic_cast<osgART::Tracker*>(manager->get(id));
        ASSERT_TRUE(_tracker.valid() &&
                    _tracker->getOrCreateCalibration()->load(_dir + "camera_para.dat"));
    }

    /// Runs the tracker on `bgr` converted by `code` and handed over as an osg::Image of
    /// `format`; then the worst distance of the 80 mm `marker`'s corners, projected through its
    /// modelview and the calibration's projection, from the truth's.
    double misfit(const cv::Mat& bgr, osgART::Marker* marker, const FrameTruth::Marker& truth,
                  GLenum format = GL_BGR, int code = -1) {
        cv::Mat pixels = bgr;
        if (code >= 0) cv::cvtColor(bgr, pixels, code);
        osg::ref_ptr<osg::Image> image = new osg::Image;
        image->setImage(bgr.cols, bgr.rows, 1, format, format, GL_UNSIGNED_BYTE, pixels.data,
                        osg::Image::NO_DELETE);
        _tracker->setImage(image.get());
        _tracker->update();
        double worst = marker->valid() ? 0 : 1e9;
        for (int k = 0; k < 4; ++k) {  // u = (x_ndc + 1)(W - 1)/2, v = (1 - y_ndc)(H - 1)/2
            const osg::Vec4d clip = osg::Vec4d(k % 3 ? 40 : -40, k < 2 ? 40 : -40, 0, 1) *
                                    marker->getTransform() *
                                    _tracker->getOrCreateCalibration()->projectionMatrix();
            worst =
                std::max(worst, cv::norm(cv::Point2d((clip.x() / clip.w() + 1) * 319.5,
                                                     (1 - clip.y() / clip.w()) * 239.5) -
                                         cv::Point2d(truth.corners[k][0], truth.corners[k][1])));
        }
        return worst;
    }

    const std::string _dir = ::testing::TempDir() + "tracker_plugin/" +
                             ::testing::UnitTest::GetInstance()->current_test_info()->name() + "/";
    const osgART::CameraParameters _camera = quorvtest::stockCamera(GetParam() ? 0.0 : 26.2);
    // Through the distorting lens the drawing pose is the best a rigid pose can do against the
    // bent image, within a pixel.
    const double _tolerance = GetParam() ? 0.15 : 1.0;  // px
    osg::ref_ptr<osgART::Tracker> _tracker;
};

TEST_P(TrackerPluginTest, MarkersLandOnTheirCornersInFramesThatShowThemAndOnlyWhileActive) {
    osgART::Marker* hiro =
        _tracker->addMarker("single;" + quorvtest::testDataPath("patt.hiro") + ";80;0;0");
    osgART::Marker* tovex = _tracker->addMarker("single;" + kData + "patt.tovex;60;0;0");
    ASSERT_TRUE(hiro && tovex);
    hiro->setActive(true);
    tovex->setActive(true);
    // Hiro near the image corner, where the lens bends the marker most.
    const auto seen = shoot(
        _camera, {{kHiro, 80, {{-110, -70, 450}, 25, 35}}, {kTovex, 60, {{170, 90, 700}, 30, 20}}});
    for (const auto& [format, code] : {std::pair<GLenum, int>{GL_RGB, cv::COLOR_BGR2RGB},
                                       {GL_RGBA, cv::COLOR_BGR2RGBA},
                                       {GL_BGR, -1},
                                       {GL_LUMINANCE, cv::COLOR_BGR2GRAY}}) {
        EXPECT_LT(misfit(seen.image, hiro, seen.truth.markers[0], format, code), _tolerance)
            << format;
        EXPECT_TRUE(tovex->valid()) << format;
    }
    misfit(shoot(_camera, {}).image, hiro, seen.truth.markers[0]);
    EXPECT_FALSE(hiro->valid() || tovex->valid());
    tovex->setActive(false);
    EXPECT_LT(misfit(seen.image, hiro, seen.truth.markers[0]), _tolerance);
    EXPECT_FALSE(tovex->valid());
}

TEST_P(TrackerPluginTest, MultiMarkerSetGivesOnePoseFromAnyVisibleMember) {
    // Hiro at the set's origin, tovex 100 mm to its right and turned by 90 degrees.
    std::ofstream(_dir + "set.dat") << "2\n" + quorvtest::testDataPath("patt.hiro") +
                                           "\n80\n0 0\n1 0 0 0\n0 1 0 0\n0 0 1 0\n\n" + kData +
                                           "patt.tovex\n60\n0 0\n0 -1 0 100\n1 0 0 0\n0 0 1 0\n";
    osgART::Marker* set = _tracker->addMarker("multi;" + _dir + "set.dat");
    ASSERT_NE(set, nullptr);
    set->setActive(true);
    const MarkerPlacement origin{{-50, 0, 600}, 10, 20};
    const auto r = origin.cameraFromMarker();
    const MarkerPlacement right{
        {r[0] * 100 + r[3], r[4] * 100 + r[7], r[8] * 100 + r[11]}, 100, 20};
    const quorvtest::Shown hiro{kHiro, 80, origin}, tovex{kTovex, 60, right};
    const FrameTruth::Marker truth = shoot(_camera, {hiro}).truth.markers[0];
    for (const auto& shown : {std::vector{hiro, tovex}, {hiro}, {tovex}})
        EXPECT_LT(misfit(shoot(_camera, shown).image, set, truth), _tolerance) << shown.size();
}

INSTANTIATE_TEST_SUITE_P(Lens, TrackerPluginTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Ideal" : "Distorted"; });

}  // namespace
}  // namespace quorv::markers
