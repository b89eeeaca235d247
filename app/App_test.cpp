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

/// The first child of `node`, `levels` generations down, each of which must hold just one.
osg::Node* descend(osg::Node* node, int levels) {
    for (; node && levels > 0; --levels) {
        osg::Group* group = node->asGroup();
        node = group && group->getNumChildren() == 1u ? group->getChild(0) : nullptr;
    }
    return node;
}

TEST(App, SetUpBuildsTheExhibitAndTearDownClosesAudioBeforeReleasingMovies) {
    const std::string log = quorvtest::prepareScriptedViewer();
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    ::testing::internal::CaptureStdout();
    App app;
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "yeah\n");
    ASSERT_TRUE(app.viewer && app.soundLibrary && app.movieManager);

    ::testing::internal::CaptureStdout();
    app.setUpExhibit();
    const std::string marker = "ADDMARKER\nIN\nOUT\nEND ADDMARKER\n";
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), marker + marker + marker + "Got movie\n");
    EXPECT_EQ(quorvtest::linesOf(log),
              (std::vector<std::string>{"single;data_Tovarin\\patt.tovex;120;0;0",
                                        "single;data_Tovarin\\patt.camara;120;0;0",
                                        "single;data_Tovarin\\patt.roundplay;120;0;0"}));

    // The character, 20 times its size, under the placement transform that the keys turn, under
    // the holder at (0, 30, 0) that they move; the Play sign at its own size on its marker.
    osg::Node* tovex = app.viewer->getMarkerTransform("patt.tovex");
    osg::Node* play = app.viewer->getMarkerTransform("patt.roundplay");
    ASSERT_TRUE(descend(tovex, 4) && descend(play, 3)) << "a model is missing";
    EXPECT_TRUE(dynamic_cast<osg::MatrixTransform*>(descend(tovex, 1)) &&
                dynamic_cast<osg::MatrixTransform*>(descend(tovex, 2)));
    EXPECT_EQ(osg::Vec3d(1, 0, 0) * osg::computeLocalToWorld(
                                        {descend(tovex, 1), descend(tovex, 2), descend(tovex, 3)}),
              osg::Vec3d(20, 30, 0));
    EXPECT_EQ(osg::Vec3d(1, 2, 3) * osg::computeLocalToWorld({descend(play, 1), descend(play, 2)}),
              osg::Vec3d(1, 2, 3));

    // The movie follows "patt.camara"; the phrase is loaded.
    osg::MatrixTransform* camara = app.viewer->getMarkerTransform("patt.camara");
    ASSERT_EQ(app.movieManager->getMovies().count("Tovarin"), 1u);
    EXPECT_EQ(app.movieManager->getMovies().at("Tovarin").parent, camara);
    EXPECT_GE(app.soundLibrary->channelOf("tovarin"), 0);

    // Teardown: the audio device is closed before the movies are stopped and taken out.
    osgDB::Registry::instance()->addReaderWriter(new WitnessReader);
    ::testing::internal::CaptureStdout();
    ASSERT_TRUE(app.movieManager->addMovie(camara, "order.witness", "witness"));
    ::testing::internal::GetCapturedStdout();
    app.tearDown();
    EXPECT_EQ(WitnessStream::audioOpenAtQuit, std::vector<bool>{false});
    EXPECT_FALSE(app.soundLibrary || app.movieManager);
    EXPECT_EQ(camara->getNumChildren(), 0u);
}

}  // namespace
