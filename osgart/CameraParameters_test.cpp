#include "Calibration.h"
#include "CameraParameters.h"

#include <gtest/gtest.h>
#include <support/Paths.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

using osgART::CameraParameters;

std::string referenceData(const std::string& name) { return quorvtest::testDataPath(name); }

std::string tempPath(const std::string& name) {
    return ::testing::TempDir() + "quorv_" + name;
}

/// The classic 640x480 parameters, to their published precision.
CameraParameters classic640() {
    CameraParameters p;
    p.xsize = 640;
    p.ysize = 480;
    p.mat = {{{700.95147, 0.0, 316.5, 0.0}, {0.0, 726.09418, 241.5, 0.0}, {0.0, 0.0, 1.0, 0.0}}};
    p.model = CameraParameters::Model::Radial4;
    p.dist = {318.5, 263.5, 26.2, 1.012757};
    return p;
}

void writeBytes(const std::string& path, const std::vector<unsigned char>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<unsigned char> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}

TEST(CameraParameters, ShortFormIsBigEndianAndRescalesLikeThePublishedPrintout) {
    const std::string path = tempPath("classic.dat");
    ASSERT_TRUE(classic640().write(path));
    const auto bytes = readBytes(path);
    ASSERT_EQ(bytes.size(), 136u);
    EXPECT_EQ((std::vector<unsigned char>(bytes.begin(), bytes.begin() + 8)),
              (std::vector<unsigned char>{0, 0, 2, 0x80, 0, 0, 1, 0xE0}));

    auto p = CameraParameters::read(path);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->model, CameraParameters::Model::Radial4);
    const CameraParameters half = p->scaled(320, 240);
    EXPECT_EQ(half.xsize, 320);
    EXPECT_EQ(half.ysize, 240);
    EXPECT_NEAR(half.dist[0], 159.25, 1e-9);
    EXPECT_NEAR(half.dist[1], 131.75, 1e-9);
    EXPECT_NEAR(half.dist[2], 104.8, 1e-9);
    EXPECT_NEAR(half.dist[3], 1.012757, 1e-9);
    const double row0[4] = {350.475735, 0, 158.25, 0}, row1[4] = {0, 363.04709, 120.75, 0};
    for (int j = 0; j < 4; ++j) {
        EXPECT_NEAR(half.mat[0][j], row0[j], 1e-6);
        EXPECT_NEAR(half.mat[1][j], row1[j], 1e-6);
    }
    EXPECT_EQ(half.mat[2][2], 1.0);
}

TEST(CameraParameters, StockLongFormAndShippedFileLoad) {
    std::string why;
    auto stock = CameraParameters::read(referenceData("camera_para_640x480_v4.dat"), &why);
    ASSERT_TRUE(stock) << why;
    EXPECT_EQ(stock->model, CameraParameters::Model::Brown9);
    EXPECT_EQ(stock->xsize, 640);
    EXPECT_EQ(stock->ysize, 480);
    EXPECT_GT(stock->intrinsics().fx, 100.0);

    auto shipped =
        CameraParameters::read(quorvtest::sourceDirectory() + "/exhibit/camera_para.dat", &why);
    ASSERT_TRUE(shipped) << why;
    EXPECT_EQ(shipped->xsize, 640);
    EXPECT_EQ(shipped->ysize, 480);

    // Writing the long form gives back the same bytes.
    const std::string copy = tempPath("v4copy.dat");
    ASSERT_TRUE(stock->write(copy));
    EXPECT_EQ(readBytes(copy), readBytes(referenceData("camera_para_640x480_v4.dat")));
}

TEST(CameraParameters, BadFilesFailWithAReason) {
    std::string why;
    EXPECT_FALSE(CameraParameters::read(tempPath("does_not_exist.dat"), &why));
    EXPECT_NE(why.find("cannot open"), std::string::npos);

    const auto good = readBytes(referenceData("camera_para_640x480_v4.dat"));
    ASSERT_EQ(good.size(), 176u);
    struct Case {
        const char* name;
        std::vector<unsigned char> bytes;
    };
    std::vector<Case> cases;
    cases.push_back({"empty", {}});
    cases.push_back({"short", std::vector<unsigned char>(good.begin(), good.begin() + 100)});
    cases.push_back({"between forms", std::vector<unsigned char>(good.begin(), good.begin() + 150)});
    auto oversized = good;
    oversized.push_back(0);
    cases.push_back({"oversized", oversized});
    cases.push_back({"garbage", std::vector<unsigned char>(136, 0xFF)});  // NaNs, negative size
    auto zeroSize = good;
    std::fill(zeroSize.begin(), zeroSize.begin() + 8, 0);
    cases.push_back({"zero size", zeroSize});
    auto noFocal = good;
    std::fill(noFocal.begin() + 8, noFocal.begin() + 104, 0);  // the whole matrix zero
    cases.push_back({"zero matrix", noFocal});
    cases.push_back({"text", std::vector<unsigned char>(176, 'a')});

    for (const Case& c : cases) {
        const std::string path = tempPath("bad.dat");
        writeBytes(path, c.bytes);
        EXPECT_FALSE(CameraParameters::read(path, &why)) << c.name;
        EXPECT_FALSE(why.empty()) << c.name;
        osg::ref_ptr<osgART::Calibration> calibration = new osgART::Calibration;
        EXPECT_FALSE(calibration->load(path)) << c.name;
    }
}

TEST(CameraParameters, DistortionRoundTripsAtTheImageCorners) {
    const CameraParameters classic = classic640();
    double ox, oy;
    classic.observedFromIdeal(0.0, 0.0, ox, oy);
    EXPECT_NEAR(ox, 10.7486, 1e-3);
    EXPECT_NEAR(oy, 8.8924, 1e-3);
    double ix, iy;
    classic.idealFromObserved(639.0, 479.0, ix, iy);
    EXPECT_NEAR(ix, 649.0574, 1e-3);
    EXPECT_NEAR(iy, 485.7625, 1e-3);

    auto stock = CameraParameters::read(referenceData("camera_para_640x480_v4.dat"));
    ASSERT_TRUE(stock);
    for (const CameraParameters& p : {classic, *stock})
        for (double x : {0.0, 320.0, 639.0})
            for (double y : {0.0, 240.0, 479.0}) {
                double u, v, bx, by;
                p.observedFromIdeal(x, y, u, v);
                p.idealFromObserved(u, v, bx, by);
                EXPECT_NEAR(bx, x, 1e-6);
                EXPECT_NEAR(by, y, 1e-6);
            }
}

TEST(Calibration, ProjectionMapsCameraPointsToTheirPixels) {
    const std::string path = tempPath("classic_proj.dat");
    ASSERT_TRUE(classic640().write(path));
    osg::ref_ptr<osgART::Calibration> calibration = new osgART::Calibration;
    ASSERT_TRUE(calibration->load(path));
    calibration->setSize(640, 480);
    const osg::Matrixd m = calibration->projectionMatrix();
    // Published-derived rows for n = 10, f = 8000 (m(j, i) holds GL row i, column j).
    EXPECT_NEAR(m(0, 0), 2.193901, 1e-6);
    EXPECT_NEAR(m(2, 0), 0.009390, 1e-6);
    EXPECT_NEAR(m(1, 1), 3.031708, 1e-6);
    EXPECT_NEAR(m(2, 1), 0.008351, 1e-6);
    EXPECT_NEAR(m(2, 2), -1.002503, 1e-6);
    EXPECT_NEAR(m(3, 2), -20.025031, 1e-6);
    EXPECT_EQ(m(2, 3), -1.0);

    // A camera-frame point (x right, y down, z forward) seen from the GL eye (X, -Y, -Z) lands on
    // its pixel: x_ndc = 2u/(W-1) - 1, y_ndc = 1 - 2v/(H-1).
    const double X = 37.0, Y = -21.0, Z = 600.0;
    const double u = 700.95147 * X / Z + 316.5, v = 726.09418 * Y / Z + 241.5;
    const osg::Vec4d clip = osg::Vec4d(X, -Y, -Z, 1.0) * m;
    EXPECT_NEAR(clip.x() / clip.w(), 2.0 * u / 639.0 - 1.0, 1e-9);
    EXPECT_NEAR(clip.y() / clip.w(), 1.0 - 2.0 * v / 479.0, 1e-9);

    // At half size the same point lands on the scaled pixel.
    calibration->setSize(320, 240);
    const osg::Vec4d half = osg::Vec4d(X, -Y, -Z, 1.0) * calibration->projectionMatrix();
    EXPECT_NEAR(half.x() / half.w(), 2.0 * (u / 2.0) / 319.0 - 1.0, 1e-9);
}

}  // namespace
