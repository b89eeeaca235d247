#include "MovieManager.h"

#include <gtest/gtest.h>
#include <support/ScriptedViewer.h>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>

namespace {

TEST(MovieManager, RefusesUnusableMoviesAndTakenNamesAndPlaysWhileItsMarkerIsSeen) {
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

    // A movie plays while its marker is seen and pauses when it is lost (that it then resumes
    // where it froze is seen on screen in visit_test); one that no marker shows is paused,
    // though someone else played it.
    osg::ImageStream *movie = manager.getMovies().at("clip").movie,
                     *strayMovie = manager.getMovies().at("stray").movie;
    strayMovie->play();
    viewer->getMarker("patt.camara")->setTracked(true);
    manager.update();
    EXPECT_TRUE(movie->getStatus() == movie->PLAYING && strayMovie->getStatus() == movie->PAUSED);
    viewer->getMarker("patt.camara")->setTracked(false);
    manager.update();
    EXPECT_EQ(movie->getStatus(), osg::ImageStream::PAUSED);
}

}  // namespace
