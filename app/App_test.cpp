// The application record on the scripted tracker: what the exhibit set-up builds, and the
// order of teardown.
#include "App.h"

#include <MovieManager.h>
#include <OsgArt.h>
#include <SoundLibrary.h>
#include <support/ScriptedViewer.h>

#include <SDL_mixer.h>

#include <gtest/gtest.h>

#include <osg/PositionAttitudeTransform>
#include <osgDB/FileNameUtils>
#include <osgDB/Registry>

#include <fstream>

namespace {

/// A movie that notes, when it is stopped, whether the audio device was still open.
class WitnessStream : public osg::ImageStream {
public:
    WitnessStream() { allocateImage(4, 4, 1, GL_RGB, GL_UNSIGNED_BYTE); }
    void quit(bool) override {
        int frequency = 0, channels = 0;
        Uint16 format = 0;
        audioOpenAtQuit = Mix_QuerySpec(&frequency, &format, &channels) != 0;
        ++quits;
    }
    static bool audioOpenAtQuit;
    static int quits;
};
bool WitnessStream::audioOpenAtQuit = true;
int WitnessStream::quits = 0;

class WitnessReader : public osgDB::ReaderWriter {
public:
    WitnessReader() { supportsExtension("witness", "a movie for tests"); }
    ReadResult readImage(const std::string& file, const Options*) const override {
        if (!acceptsExtension(osgDB::getLowerCaseFileExtension(file)))
            return ReadResult::FILE_NOT_HANDLED;
        return new WitnessStream;
    }
};

osg::Node* onlyChild(osg::Group* group) {
    EXPECT_EQ(group->getNumChildren(), 1u);
    return group->getNumChildren() ? group->getChild(0) : nullptr;
}

TEST(App, SetUpBuildsTheExhibitAndTearDownClosesAudioBeforeReleasingMovies) {
    const std::string log = ::testing::TempDir() + "quorv_app_configs.txt";
    std::remove(log.c_str());
    quorvtest::prepareScriptedViewer(log);
    setenv("SDL_AUDIODRIVER", "dummy", 1);

    ::testing::internal::CaptureStdout();
    App app;
    const std::string construction = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(construction, "yeah\n");
    ASSERT_TRUE(app.viewer && app.soundLibrary && app.movieManager);
    EXPECT_EQ(app.viewer, OsgArt::instance());
    EXPECT_TRUE(app.viewer->getMarkers().empty()) << "nothing is registered before the set-up";

    ::testing::internal::CaptureStdout();
    app.setUpExhibit();
    const std::string marker = "ADDMARKER\nIN\nOUT\nEND ADDMARKER\n";
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), marker + marker + marker + "Got movie\n");

    // The three markers, in declaration order, in the tracker's single form.
    std::ifstream in(log);
    std::vector<std::string> configs;
    for (std::string line; std::getline(in, line);) configs.push_back(line);
    EXPECT_EQ(configs, (std::vector<std::string>{"single;data_Tovarin\\patt.tovex;120;0;0",
                                                 "single;data_Tovarin\\patt.camara;120;0;0",
                                                 "single;data_Tovarin\\patt.roundplay;120;0;0"}));

    // The character: holder at (0, 30, 0), placement (identity), scale 20, the model.
    auto* holder = dynamic_cast<osg::MatrixTransform*>(
        onlyChild(app.viewer->getMarkerTransform("patt.tovex")));
    ASSERT_NE(holder, nullptr);
    EXPECT_EQ(holder->getMatrix(), osg::Matrixd::translate(0, 30, 0));
    auto* placement = dynamic_cast<osg::MatrixTransform*>(onlyChild(holder));
    ASSERT_NE(placement, nullptr);
    EXPECT_TRUE(placement->getMatrix().isIdentity());
    auto* scale = dynamic_cast<osg::PositionAttitudeTransform*>(onlyChild(placement));
    ASSERT_NE(scale, nullptr);
    EXPECT_EQ(scale->getScale(), osg::Vec3d(20, 20, 20));
    EXPECT_NE(onlyChild(scale), nullptr);

    // The Play sign: at its own size at the marker's centre.
    auto* playPlacement = dynamic_cast<osg::MatrixTransform*>(
        onlyChild(app.viewer->getMarkerTransform("patt.roundplay")));
    ASSERT_NE(playPlacement, nullptr);
    EXPECT_TRUE(playPlacement->getMatrix().isIdentity());
    auto* playScale = dynamic_cast<osg::PositionAttitudeTransform*>(onlyChild(playPlacement));
    ASSERT_NE(playScale, nullptr);
    EXPECT_EQ(playScale->getScale(), osg::Vec3d(1, 1, 1));
    EXPECT_NE(onlyChild(playScale), nullptr);

    // The movie, bound to "patt.camara", and the phrase.
    ASSERT_EQ(app.movieManager->getMovies().count("Tovarin"), 1u);
    EXPECT_EQ(app.movieManager->getMovies().at("Tovarin").parent,
              app.viewer->getMarkerTransform("patt.camara"));
    EXPECT_GE(app.soundLibrary->channelOf("tovarin"), 0);

    // Teardown: the sound library (audio device) goes before the movies are stopped.
    osgDB::Registry::instance()->addReaderWriter(new WitnessReader);
    ::testing::internal::CaptureStdout();
    ASSERT_TRUE(app.movieManager->addMovie(app.viewer->getMarkerTransform("patt.camara"),
                                           "order.witness", "witness"));
    ::testing::internal::GetCapturedStdout();
    app.tearDown();
    EXPECT_EQ(WitnessStream::quits, 1);
    EXPECT_FALSE(WitnessStream::audioOpenAtQuit) << "movies were released before audio closed";
    EXPECT_EQ(app.soundLibrary, nullptr);
    EXPECT_EQ(app.movieManager, nullptr);
    EXPECT_EQ(OsgArt::instance(), app.viewer) << "the viewer outlives the record";
    EXPECT_EQ(app.viewer->getMarkerTransform("patt.camara")->getNumChildren(), 0u);
}

}  // namespace
