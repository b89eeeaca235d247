#include <gtest/gtest.h>
#include <support/Paths.h>
#include <support/StockCamera.h>

#include <fstream>

#include "Calibration.h"

namespace {

using osgART::CameraParameters;

std::vector<unsigned char> bytesOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

const std::string kStock = quorvtest::testDataPath("camera_para_640x480_v4.dat");

TEST(CameraParameters, BothFormsWriteBackTheirBytesAndRescaleLikeThePublishedPrintout) {
    const std::string path = ::testing::TempDir() + "quorv_classic.dat";
    ASSERT_TRUE(quorvtest::stockCamera(26.2).write(path));
    const auto bytes = bytesOf(path);
    ASSERT_EQ(bytes.size(), 136u);
    EXPECT_EQ(std::vector<unsigned char>(bytes.begin(), bytes.begin() + 8),
              (std::vector<unsigned char>{0, 0, 2, 0x80, 0, 0, 1, 0xE0}));  // big-endian 640, 480
    const auto classic = CameraParameters::read(path);
    ASSERT_TRUE(classic && classic->model == CameraParameters::Model::Radial4);
    const CameraParameters half = classic->scaled(320, 240);
    EXPECT_EQ(half.xsize * 1000 + half.ysize, 320240);
    const double mat[] = {350.475735, 0, 158.25, 0, 0, 363.04709, 120.75, 0, 0, 0, 1, 0};
    for (int i = 0; i < 12; ++i) EXPECT_NEAR(half.mat[i / 4][i % 4], mat[i], 1e-6) << i;
    const double dist[] = {159.25, 131.75, 104.8, 1.012757};
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(half.dist[i], dist[i], 1e-9) << i;

    std::string why;
    const auto stock = CameraParameters::read(kStock, &why);
    ASSERT_TRUE(stock) << why;
    EXPECT_EQ(stock->model, CameraParameters::Model::Brown9);
    ASSERT_TRUE(stock->write(path));
    EXPECT_EQ(bytesOf(path), bytesOf(kStock));
}

TEST(CameraParameters, BadFilesFailWithAReason) {
    const auto good = bytesOf(kStock);
    ASSERT_EQ(good.size(), 176u);
    auto oversized = good, zeroSize = good, zeroMatrix = good;
    oversized.push_back(0);
    std::fill(zeroSize.begin(), zeroSize.begin() + 8, 0);
    std::fill(zeroMatrix.begin() + 8, zeroMatrix.begin() + 104, 0);
    // Empty, short, between the two forms, oversized, NaNs and a negative size, no size, no
    // focal length, text.
    const std::vector<std::vector<unsigned char>> cases = {
        {},         {good.begin(), good.begin() + 100},    {good.begin(), good.begin() + 150},
        oversized,  std::vector<unsigned char>(136, 0xFF), zeroSize,
        zeroMatrix, std::vector<unsigned char>(176, 'a')};
    const std::string path = ::testing::TempDir() + "quorv_bad.dat";
    std::string why;
    EXPECT_FALSE(CameraParameters::read(path + ".missing", &why));
    EXPECT_NE(why.find("cannot open"), std::string::npos) << why;
    for (size_t i = 0; i < cases.size(); ++i) {
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(cases[i].data()), cases[i].size());
        why.clear();
        EXPECT_FALSE(CameraParameters::read(path, &why) || why.empty()) << "case " << i;
        EXPECT_FALSE(osg::ref_ptr<osgART::Calibration>(new osgART::Calibration)->load(path)) << i;
    }
}

TEST(CameraParameters, DistortionRoundTripsAtTheImageCorners) {
    const CameraParameters classic = quorvtest::stockCamera(26.2);
    double x, y;
    classic.observedFromIdeal(0, 0, x, y);
    EXPECT_LT(std::hypot(x - 10.7486, y - 8.8924), 1e-3);
    classic.idealFromObserved(639, 479, x, y);
    EXPECT_LT(std::hypot(x - 649.0574, y - 485.7625), 1e-3);
    for (const CameraParameters& p : {classic, *CameraParameters::read(kStock)})
        for (double ix : {0.0, 320.0, 639.0})
            for (double iy : {0.0, 240.0, 479.0}) {
                p.observedFromIdeal(ix, iy, x, y);
                p.idealFromObserved(x, y, x, y);
                EXPECT_LT(std::hypot(x - ix, y - iy), 1e-6) << ix << "," << iy;
            }
}

TEST(Calibration, ProjectionMapsCameraPointsToTheirPixelsAtAnyVideoSize) {
    const std::string path = ::testing::TempDir() + "quorv_projection.dat";
    ASSERT_TRUE(quorvtest::stockCamera(26.2).write(path));
    osg::ref_ptr<osgART::Calibration> calibration = new osgART::Calibration;
    ASSERT_TRUE(calibration->load(path));
    // A camera-frame point (x right, y down, z forward), seen from the GL eye as (X, -Y, -Z),
    // lands on its pixel: x_ndc = 2u/(W-1) - 1, y_ndc = 1 - 2v/(H-1).
    const double X = 37, Y = -21, Z = 600, u = 700.95147 * X / Z + 316.5,
                 v = 726.09418 * Y / Z + 241.5;
    for (int scale : {1, 2}) {
        calibration->setSize(640 / scale, 480 / scale);
        const osg::Vec4d clip = osg::Vec4d(X, -Y, -Z, 1) * calibration->projectionMatrix();
        EXPECT_NEAR(clip.x() / clip.w(), 2 * u / scale / (640 / scale - 1) - 1, 1e-9) << scale;
        EXPECT_NEAR(clip.y() / clip.w(), 1 - 2 * v / scale / (480 / scale - 1), 1e-9) << scale;
    }
    // Near and far planes at 10 and 8000.
    const osg::Matrixd m = calibration->projectionMatrix();
    EXPECT_NEAR(m(2, 2), -1.002503, 1e-6);
    EXPECT_NEAR(m(3, 2), -20.025031, 1e-6);
}

}  // namespace
