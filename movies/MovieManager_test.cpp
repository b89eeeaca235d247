#include "MovieManager.h"

#include <gtest/gtest.h>
#include <support/ScriptedViewer.h>

#include <functional>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>
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

TEST(MovieManager, RefusesUnusableMoviesAndTakenNamesAndPlaysWhileItsMarkerIsSeen) {
    OsgArt* viewer = quorvtest::scriptedViewer({"patt.camara"});
    osg::MatrixTransform* marker = viewer->getMarkerTransform("patt.camara");
    const auto setSeen = [&](bool seen) { viewer->getMarker("patt.camara")->setTracked(seen); };
    const std::string clip = ::testing::TempDir() + "quorv_movie_" + std::to_string(getpid());
    {
        cv::VideoWriter writer(clip + ".avi", cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 25,
                               {64, 48});
        for (int i = 0; i < 60; ++i) writer.write(cv::Mat(48, 64, CV_8UC3, cv::Scalar::all(4 * i)));
    }
    cv::imwrite(clip + ".png", cv::Mat(64, 48, CV_8UC3, cv::Scalar(0, 0, 255)));
    osg::ref_ptr<osg::MatrixTransform> stray = new osg::MatrixTransform;  // no marker's
    MovieManager manager;
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(manager.addMovie(marker, clip + "_missing.mpg", "missing") ||
                 manager.addMovie(marker, clip + ".png", "still"));
    ASSERT_TRUE(manager.addMovie(marker, clip + ".avi", "clip") &&
                manager.addMovie(stray, clip + ".avi", "stray"));
    EXPECT_FALSE(manager.addMovie(marker, clip + ".avi", "clip"));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "No movie!\nNo movie!\nGot movie\nGot movie\nGot movie\n");
    // A holder for the missing file, the still picture, the clip; the second clip under a
    // taken name taken out again. (Where the quad stands and which way up it shows the movie is
    // checked on screen by visit_test.)
    ASSERT_TRUE(marker->getNumChildren() == 3u && manager.getMovies().size() == 2u);
    EXPECT_EQ(manager.getMovies().at("clip").childIndex, 2u);

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

}  // namespace
