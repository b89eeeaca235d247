#include "MovieManager.h"

#include <gtest/gtest.h>
#include <support/ScriptedViewer.h>

#include <functional>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>
#include <osg/Geometry>
#include <osg/TextureRectangle>
#include <sstream>
#include <thread>

namespace {

using namespace std::chrono_literals;

/// Passes of the frame loop as far as movies go (decoded pictures brought into the images, then
/// the manager's update) until `done` holds, for up to 20 s.
bool passUntil(MovieManager& manager, const std::function<bool()>& done) {
    for (auto end = std::chrono::steady_clock::now() + 20s;
         std::chrono::steady_clock::now() < end;) {
        for (auto& [name, record] : manager.getMovies()) record.movie->update(nullptr);
        manager.update();
        if (done()) return true;
        std::this_thread::sleep_for(5ms);
    }
    return false;
}

/// The movie rectangle under `holder`: each corner "x,y" and the texel "s,t" it shows.
std::string rectangle(osg::Node* holder) {
    osg::Geode* geode = holder->asGroup()->getChild(0)->asGeode();
    if (!dynamic_cast<osg::TextureRectangle*>(
            geode->getStateSet()->getTextureAttribute(0, osg::StateAttribute::TEXTURE)))
        return "no rectangle texture";
    osg::Geometry* quad = geode->getDrawable(0)->asGeometry();
    std::ostringstream out;
    for (size_t i = 0; i < 4; ++i) {
        const osg::Vec3 corner = (*dynamic_cast<osg::Vec3Array*>(quad->getVertexArray()))[i];
        const osg::Vec2 texel = (*dynamic_cast<osg::Vec2Array*>(quad->getTexCoordArray(0)))[i];
        out << corner.x() << ',' << corner.y() << ',' << corner.z() << ' ' << texel.x() << ','
            << texel.y() << (i < 3 ? " / " : "");
    }
    return out.str();
}

class MovieManagerTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        viewer = quorvtest::scriptedViewer({"patt.camara"});
        clip = ::testing::TempDir() + "quorv_movie_" + std::to_string(getpid()) + ".avi";
        cv::VideoWriter writer(clip, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 25, {64, 48});
        for (int i = 0; i < 60; ++i) writer.write(cv::Mat(48, 64, CV_8UC3, cv::Scalar::all(4 * i)));
    }
    void SetUp() override { marker->removeChildren(0, marker->getNumChildren()); }
    void setSeen(bool seen) { viewer->getMarker("patt.camara")->setTracked(seen); }

    inline static OsgArt* viewer = nullptr;
    inline static std::string clip;
    osg::MatrixTransform* marker = viewer->getMarkerTransform("patt.camara");
};

TEST_F(MovieManagerTest, PlaysWhileItsMarkerIsSeenAndResumesWhereItFroze) {
    osg::ref_ptr<osg::MatrixTransform> stray = new osg::MatrixTransform;  // no marker's
    MovieManager manager;
    ::testing::internal::CaptureStdout();
    ASSERT_TRUE(manager.addMovie(marker, clip, "clip") && manager.addMovie(stray, clip, "stray"));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Got movie\nGot movie\n");
    osg::ImageStream* movie = manager.getMovies().at("clip").movie;

    setSeen(false);
    movie->play();  // by someone else, while the marker is not seen
    manager.update();
    EXPECT_EQ(movie->getStatus(), osg::ImageStream::PAUSED);
    setSeen(true);
    EXPECT_TRUE(passUntil(manager, [&] { return movie->getCurrentTime() >= 0.4; }));
    EXPECT_EQ(movie->getStatus(), osg::ImageStream::PLAYING);
    EXPECT_EQ(manager.getMovies().at("stray").movie->getStatus(), osg::ImageStream::PAUSED);

    setSeen(false);
    manager.update();
    EXPECT_EQ(movie->getStatus(), osg::ImageStream::PAUSED);
    const double frozen = movie->getCurrentTime();
    setSeen(true);
    EXPECT_TRUE(passUntil(manager, [&] { return movie->getCurrentTime() != frozen; }));
    EXPECT_GT(movie->getCurrentTime(), frozen) << "started over instead of resuming";
}

TEST_F(MovieManagerTest, ShowsPicturesInTheirShapeAndRefusesUnusableMoviesAndTakenNames) {
    MovieManager manager;
    const std::string still = ::testing::TempDir() + "quorv_still.png";
    cv::imwrite(still, cv::Mat(64, 48, CV_8UC3, cv::Scalar(0, 0, 255)));  // upright
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(manager.addMovie(marker, ::testing::TempDir() + "no_such.mpg", "missing"));
    EXPECT_FALSE(manager.addMovie(marker, still, "still"));
    ASSERT_TRUE(manager.addMovie(marker, clip, "clip"));
    EXPECT_FALSE(manager.addMovie(marker, clip, "clip"));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "No movie!\nNo movie!\nGot movie\nGot movie\n");

    // An empty holder for the missing file; the still picture shown all the same, though it is
    // no movie; the second movie under a taken name taken out again. 180 wide, first row on top.
    ASSERT_EQ(marker->getNumChildren(), 3u);
    EXPECT_EQ(marker->getChild(0)->asGroup()->getNumChildren(), 0u);
    EXPECT_EQ(rectangle(marker->getChild(1)),
              "-90,120,0 0,0 / -90,-120,0 0,64 / 90,-120,0 48,64 / 90,120,0 48,0");
    EXPECT_EQ(rectangle(marker->getChild(2)),
              "-90,67.5,0 0,0 / -90,-67.5,0 0,48 / 90,-67.5,0 64,48 / 90,67.5,0 64,0");
    EXPECT_EQ(manager.getMovies().size(), 1u);
    EXPECT_EQ(manager.getMovies().at("clip").childIndex, 2u);
}

}  // namespace
