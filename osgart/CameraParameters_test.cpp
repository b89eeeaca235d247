#include <gtest/gtest.h>
#include <support/Paths.h>
#include <support/StockCamera.h>

#include <fstream>

#include "Calibration.h"

namespace {

using osgART::CameraParameters;
using Bytes = std::vector<unsigned char>;

Bytes bytesOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

const std::string kStock = quorvtest::testDataPath("camera_para_640x480_v4.dat");
const std::string kPath = ::testing::TempDir() + "quorv_camera_" + std::to_string(getpid());

TEST(CameraParameters, BothFormsWriteBackTheirBytesAndRescaleLikeThePublishedPrintout) {
    ASSERT_TRUE(quorvtest::stockCamera(26.2).write(kPath));
    const Bytes bytes = bytesOf(kPath);
    EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 8), (Bytes{0, 0, 2, 0x80, 0, 0, 1, 0xE0}));
    const auto classic = CameraParameters::read(kPath);
    ASSERT_TRUE(bytes.size() == 136u && classic && classic->model == classic->Model::Radial4);
    const CameraParameters half = classic->scaled(320, 240);
    EXPECT_EQ(half.xsize * 1000 + half.ysize, 320240);
    // The matrix row by row, then the distortion centre, factor and scale.
    const double want[] = {350.475735, 0, 158.25, 0, 0,      363.04709, 120.75, 0,
                           0,          0, 1,      0, 159.25, 131.75,    104.8,  1.012757};
    for (int i = 0; i < 16; ++i)
        EXPECT_NEAR(i < 12 ? half.mat[i / 4][i % 4] : half.dist[i - 12], want[i], 1e-6) << i;

    const auto stock = CameraParameters::read(kStock);
    ASSERT_TRUE(stock && stock->model == CameraParameters::Model::Brown9 && stock->write(kPath));
    EXPECT_EQ(bytesOf(kPath), bytesOf(kStock));
}

TEST(CameraParameters, BadFilesFailWithAReason) {
    const Bytes good = bytesOf(kStock);
    Bytes oversized = good, zeroSize = good, zeroMatrix = good;
    oversized.push_back(0);
    std::fill(zeroSize.begin(), zeroSize.begin() + 8, 0);
    std::fill(zeroMatrix.begin() + 8, zeroMatrix.begin() + 104, 0);
    // Empty, short, between the two forms, oversized, NaNs and a negative size, no size, no
    // focal length, text.
    for (const Bytes& bad :
         {Bytes{}, Bytes(good.begin(), good.begin() + 100), Bytes(good.begin(), good.begin() + 150),
          oversized, Bytes(136, 0xFF), zeroSize, zeroMatrix, Bytes(176, 'a')}) {
        std::ofstream(kPath, std::ios::binary)
            .write(reinterpret_cast<const char*>(bad.data()), bad.size());
        std::string why;
        EXPECT_FALSE(CameraParameters::read(kPath, &why) || why.empty()) << bad.size();
        EXPECT_FALSE(osg::ref_ptr<osgART::Calibration>(new osgART::Calibration)->load(kPath));
    }
}

// How the calibration projects onto the screen, rescaled to the video and through the lens, is
// checked to the pixel on synthetic footage (exhibit_content_test), and the lens model's inverse
// by the marker tests on such footage (markers/).

}  // namespace
