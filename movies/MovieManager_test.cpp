#include "MovieManager.h"

#include <gtest/gtest.h>
#include <support/ScriptedViewer.h>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>

namespace {

TEST(MovieManager, RefusesUnusableMoviesAndTakenNamesAndPausesMoviesNoMarkerShows) {
    OsgArt* viewer = quorvtest::scriptedViewer({"patt.camara"});
    osg::MatrixTransform* marker = viewer->getMarkerTransform("patt.camara");
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

    // Playing while its marker is seen, and resuming where it froze, is checked on screen
    // (visit_test); here, a movie started by someone else while no marker shows it is paused.
    osg::ImageStream* movie = manager.getMovies().at("stray").movie;
    movie->play();
    manager.update();
    EXPECT_EQ(movie->getStatus(), osg::ImageStream::PAUSED);
}

}  // namespace
