// The application record on the scripted tracker: what the exhibit set-up builds, and the
// order of teardown.
#include "App.h"

#include <MovieManager.h>
#include <SDL_mixer.h>
#include <SoundLibrary.h>
#include <gtest/gtest.h>
#include <support/ScriptedViewer.h>

#include <osgDB/Registry>

namespace {

/// A movie that notes, each time it is stopped, whether the audio device was still open.
struct WitnessStream : osg::ImageStream {
    WitnessStream() { allocateImage(4, 4, 1, GL_RGB, GL_UNSIGNED_BYTE); }
    void quit(bool) override {
        int frequency = 0, channels = 0;
        Uint16 format = 0;
        audioOpenAtQuit.push_back(Mix_QuerySpec(&frequency, &format, &channels) != 0);
    }
    inline static std::vector<bool> audioOpenAtQuit;
};

/// Reads any file as a WitnessStream.
struct WitnessReader : osgDB::ReaderWriter {
    ReadResult readImage(const std::string&, const Options*) const override {
        return new WitnessStream;
    }
};

// What the set-up prints, where the models and the movie stand and how they move, and the
// phrase are checked in whole-program tests (program_test, visit_test, exhibit_content_test).
TEST(App, TearDownClosesAudioBeforeReleasingMovies) {
    quorvtest::scriptedViewer();
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    ::testing::internal::CaptureStdout();
    App app;
    app.setUpExhibit();
    osgDB::Registry::instance()->addReaderWriter(new WitnessReader);
    osg::MatrixTransform* camara = app.viewer->getMarkerTransform("patt.camara");
    ASSERT_TRUE(app.movieManager->addMovie(camara, "order.witness", "witness"));
    ::testing::internal::GetCapturedStdout();
    app.tearDown();
    EXPECT_EQ(WitnessStream::audioOpenAtQuit, std::vector<bool>{false});
    EXPECT_FALSE(app.soundLibrary || app.movieManager);
    EXPECT_EQ(camara->getNumChildren(), 0u);
}

}  // namespace
