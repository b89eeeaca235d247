#include "MovieManager.h"

#include <OsgArt.h>
#include <support/ScriptedViewer.h>

#include <gtest/gtest.h>

#include <osg/Geode>
#include <osg/Geometry>
#include <osg/TextureRectangle>
#include <osgUtil/UpdateVisitor>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>

#include <thread>

namespace {

using namespace std::chrono_literals;

/// A clip whose frame i is a flat grey of level 4·i, so a picture tells its frame.
std::string writeClip(const std::string& name, cv::Size size, int frames, double fps = 25.0) {
    const std::string path = ::testing::TempDir() + name;
    cv::VideoWriter writer(path, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), fps, size);
    for (int i = 0; i < frames; ++i) writer.write(cv::Mat(size, CV_8UC3, cv::Scalar::all(4 * i)));
    return path;
}

class MovieManagerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        quorvtest::prepareScriptedViewer(::testing::TempDir() + "quorv_movie_configs.txt");
        ::testing::internal::CaptureStdout();
        viewer = OsgArt::instance();
        viewer->addMarker("data_Tovarin", "patt.camara", true, 120);
        ::testing::internal::GetCapturedStdout();
        clip = writeClip("quorv_movie_clip.avi", cv::Size(64, 48), 60);
    }

    void SetUp() override {
        marker = viewer->getMarkerTransform("patt.camara");
        marker->removeChildren(0, marker->getNumChildren());
        setSeen(false);
    }

    static void setSeen(bool seen) { viewer->getMarker("patt.camara")->setTracked(seen); }

    /// One pass of the frame loop as far as movies go: the scene's update traversal (which
    /// brings decoded pictures into the images), then the manager's update.
    void pass(MovieManager& manager) {
        osgUtil::UpdateVisitor visitor;
        osg::ref_ptr<osg::FrameStamp> stamp = new osg::FrameStamp;
        stamp->setFrameNumber(++_frame);
        visitor.setFrameStamp(stamp.get());
        viewer->getSceneData()->accept(visitor);
        manager.update();
    }

    static OsgArt* viewer;
    static std::string clip;
    osg::MatrixTransform* marker = nullptr;
    unsigned int _frame = 0;
};

OsgArt* MovieManagerTest::viewer = nullptr;
std::string MovieManagerTest::clip;

TEST_F(MovieManagerTest, PlaysWhileItsMarkerIsSeenAndResumesWhereItFroze) {
    MovieManager manager;
    ::testing::internal::CaptureStdout();
    ASSERT_TRUE(manager.addMovie(marker, clip, "clip"));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Got movie\n");
    osg::ImageStream* movie = manager.getMovies().at("clip").movie;
    ASSERT_NE(movie, nullptr);
    EXPECT_NE(movie->getStatus(), osg::ImageStream::PLAYING);

    // Frames 1 to 10 seen: it plays from the first.
    for (int frame = 1; frame <= 10; ++frame) {
        setSeen(true);
        pass(manager);
        EXPECT_EQ(movie->getStatus(), osg::ImageStream::PLAYING) << "frame " << frame;
        std::this_thread::sleep_for(20ms);
    }
    // Frames 11 to 20 lost: paused in frame 11, picture frozen.
    setSeen(false);
    pass(manager);
    EXPECT_EQ(movie->getStatus(), osg::ImageStream::PAUSED);
    const double frozen = movie->getCurrentTime();
    EXPECT_GT(frozen, 0.0) << "it played";
    for (int frame = 12; frame <= 20; ++frame) {
        std::this_thread::sleep_for(30ms);
        pass(manager);
        EXPECT_EQ(movie->getStatus(), osg::ImageStream::PAUSED);
    }
    EXPECT_EQ(movie->getCurrentTime(), frozen) << "the picture moved while paused";
    // Frame 21 on: playing again, from where it froze (not from the start, no jump).
    setSeen(true);
    pass(manager);
    EXPECT_EQ(movie->getStatus(), osg::ImageStream::PLAYING);
    for (int i = 0; i < 10; ++i) {
        std::this_thread::sleep_for(20ms);
        pass(manager);
    }
    const double resumed = movie->getCurrentTime();
    EXPECT_GT(resumed, frozen);
    EXPECT_LT(resumed - frozen, 0.5) << "caught up on the paused time";
}

TEST_F(MovieManagerTest, AMovieWhoseMarkerIsNeverSeenNeverPlays) {
    osg::ref_ptr<osg::MatrixTransform> stray = new osg::MatrixTransform;  // no marker's
    MovieManager manager;
    ::testing::internal::CaptureStdout();
    ASSERT_TRUE(manager.addMovie(marker, clip, "clip"));
    ASSERT_TRUE(manager.addMovie(stray.get(), clip, "stray"));
    ::testing::internal::GetCapturedStdout();
    osg::ImageStream* movie = manager.getMovies().at("clip").movie;
    osg::ImageStream* strayMovie = manager.getMovies().at("stray").movie;
    // Started by someone else: the first pass pauses it.
    movie->play();
    for (int i = 0; i < 5; ++i) pass(manager);
    EXPECT_NE(movie->getStatus(), osg::ImageStream::PLAYING);
    setSeen(true);
    for (int i = 0; i < 5; ++i) pass(manager);
    EXPECT_EQ(movie->getStatus(), osg::ImageStream::PLAYING);
    EXPECT_NE(strayMovie->getStatus(), osg::ImageStream::PLAYING);
}

TEST_F(MovieManagerTest, TheHolderGoesAfterExistingChildrenAndLeavesThemAtTheEnd) {
    osg::ref_ptr<osg::Node> first = new osg::Group, second = new osg::Group;
    marker->addChild(first.get());
    marker->addChild(second.get());
    osg::ref_ptr<osg::ImageStream> movie;
    {
        MovieManager manager;
        ::testing::internal::CaptureStdout();
        ASSERT_TRUE(manager.addMovie(marker, clip, "clip"));
        // A second movie on the same marker, later in name order and in position.
        ASSERT_TRUE(manager.addMovie(marker, clip, "zz-second"));
        ::testing::internal::GetCapturedStdout();
        const MovieRecord& record = manager.getMovies().at("clip");
        EXPECT_EQ(record.childIndex, 2u);
        EXPECT_EQ(manager.getMovies().at("zz-second").childIndex, 3u);
        EXPECT_EQ(record.parent, marker);
        EXPECT_EQ(record.fileName, clip);
        ASSERT_EQ(marker->getNumChildren(), 4u);
        auto* holder = dynamic_cast<osg::MatrixTransform*>(marker->getChild(2));
        ASSERT_NE(holder, nullptr);
        EXPECT_TRUE(holder->getMatrix().isIdentity());
        movie = record.movie;
        setSeen(true);
        pass(manager);
        ASSERT_EQ(movie->getStatus(), osg::ImageStream::PLAYING);
    }
    // Gone from the scene, the other children kept, the stream stopped.
    ASSERT_EQ(marker->getNumChildren(), 2u);
    EXPECT_EQ(marker->getChild(0), first.get());
    EXPECT_EQ(marker->getChild(1), second.get());
    const double stopped = movie->getCurrentTime();
    std::this_thread::sleep_for(200ms);
    movie->update(nullptr);
    EXPECT_EQ(movie->getCurrentTime(), stopped) << "still playing after the manager went";
}

TEST_F(MovieManagerTest, UnusableMoviesAndTakenNamesAreRefused) {
    MovieManager manager;
    // A missing file: "No movie!", an empty holder left under the marker, no record.
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(manager.addMovie(marker, ::testing::TempDir() + "no_such_movie.mpg", "missing"));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "No movie!\n");
    ASSERT_EQ(marker->getNumChildren(), 1u);
    EXPECT_EQ(marker->getChild(0)->asGroup()->getNumChildren(), 0u);

    // A still picture: "No movie!", but its picture is shown on the holder all the same.
    const std::string still = ::testing::TempDir() + "quorv_still.png";
    cv::imwrite(still, cv::Mat(48, 64, CV_8UC3, cv::Scalar(0, 0, 255)));
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(manager.addMovie(marker, still, "still"));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "No movie!\n");
    ASSERT_EQ(marker->getNumChildren(), 2u);
    EXPECT_EQ(marker->getChild(1)->asGroup()->getNumChildren(), 1u);
    EXPECT_TRUE(manager.getMovies().empty());

    // A second movie under a name already taken is refused, stopped and taken out again.
    ::testing::internal::CaptureStdout();
    ASSERT_TRUE(manager.addMovie(marker, clip, "clip"));
    EXPECT_FALSE(manager.addMovie(marker, clip, "clip"));
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(marker->getNumChildren(), 3u);
    EXPECT_EQ(manager.getMovies().size(), 1u);
    EXPECT_EQ(manager.getMovies().at("clip").childIndex, 2u);
}

/// The quad's corners and texel coordinates for a movie of the given size.
void expectQuad(osg::Group* parent, float w, float h, float height) {
    ASSERT_EQ(parent->getNumChildren(), 1u);
    auto* geode = dynamic_cast<osg::Geode*>(parent->getChild(0));
    ASSERT_NE(geode, nullptr);
    ASSERT_EQ(geode->getNumDrawables(), 1u);
    osg::Geometry* quad = geode->getDrawable(0)->asGeometry();
    auto* vertices = dynamic_cast<osg::Vec3Array*>(quad->getVertexArray());
    auto* coords = dynamic_cast<osg::Vec2Array*>(quad->getTexCoordArray(0));
    ASSERT_TRUE(vertices && coords);
    osg::BoundingBox box;
    for (const osg::Vec3& v : *vertices) box.expandBy(v);
    EXPECT_FLOAT_EQ(box.xMin(), -90.0f);
    EXPECT_FLOAT_EQ(box.xMax(), 90.0f);
    EXPECT_FLOAT_EQ(box.yMin(), -height / 2);
    EXPECT_FLOAT_EQ(box.yMax(), height / 2);
    EXPECT_FLOAT_EQ(box.zMax(), 0.0f);
    for (size_t i = 0; i < vertices->size(); ++i) {
        // Bottom-left shows texel (0, H), top-right (W, 0): the first row along the top.
        const osg::Vec3& v = (*vertices)[i];
        const osg::Vec2& t = (*coords)[i];
        EXPECT_FLOAT_EQ(t.x(), v.x() < 0 ? 0.0f : w);
        EXPECT_FLOAT_EQ(t.y(), v.y() < 0 ? h : 0.0f);
    }
    auto* texture = dynamic_cast<osg::TextureRectangle*>(
        geode->getStateSet()->getTextureAttribute(0, osg::StateAttribute::TEXTURE));
    ASSERT_NE(texture, nullptr);
}

TEST_F(MovieManagerTest, TheRectangleIs180WideAndKeepsThePictureShape) {
    const std::string wide = writeClip("quorv_640x480.avi", cv::Size(640, 480), 3);
    const std::string tall = writeClip("quorv_240x320.avi", cv::Size(240, 320), 3);
    MovieManager manager;  // loads the plugin
    ::testing::internal::CaptureStdout();
    osg::ref_ptr<osg::Group> a = new osg::Group, b = new osg::Group;
    osg::ref_ptr<osg::ImageStream> wideMovie = viewer->createMovieNode(a.get(), wide);
    osg::ref_ptr<osg::ImageStream> tallMovie = viewer->createMovieNode(b.get(), tall);
    ::testing::internal::GetCapturedStdout();
    ASSERT_TRUE(wideMovie.valid() && tallMovie.valid());
    expectQuad(a.get(), 640, 480, 135.0f);
    expectQuad(b.get(), 240, 320, 240.0f);
    wideMovie->quit(true);
    tallMovie->quit(true);
}

}  // namespace
