#include "App.h"

#include <FramePacer.h>
#include <ModelCheck.h>
#include <MovieManager.h>
#include <OsgArt.h>
#include <PatternCheck.h>
#include <SoundLibrary.h>

#include <osg/Notify>
#include <osgDB/FileNameUtils>
#include <osgDB/ReadFile>
#include <osgDB/Registry>

#include "EndSignals.h"
#include "SoundCue.h"

namespace {

// The exhibit's content. Paths are relative to the working directory; the marker folder is
// joined to the pattern name by the tracker's configuration string.
const char* const kMarkerFolder = "data_Tovarin";
const char* const kCharacterMarker = "patt.tovex";
const char* const kMovieMarker = "patt.camara";
const char* const kPlayMarker = SoundCue::kMarker;
const int kMarkerWidth = 120;
const char* const kPhraseKey = SoundCue::kPhraseKey;
const char* const kPhraseFile = "sounds_Tovarin/frase.wav";
const char* const kCharacterFile = "media_Tovarin/tarmeliaCentrado.osg";
const char* const kPlayFile = "media_Tovarin/Play.3ds";
const char* const kMovieFile = "videos_Tovarin/Tovarin.mpg";
const char* const kMovieName = "Tovarin";

/// Reads a model through osgDB, once quorv::viewer::checkModelFile has found the file fit for
/// its reader (a refusal is reported, and the marker stays empty).
osg::Node* readModel(const std::string& path) {
    std::string why;
    if (!quorv::viewer::checkModelFile(path, &why)) {
        osg::notify(osg::WARN) << "Quorv model: " << why << "; its marker stays empty" << std::endl;
        return nullptr;
    }
    return osgDB::readNodeFile(path, osgDB::Registry::instance()->getOptions());
}

}  // namespace

App::App() {
    viewer = OsgArt::instance();
    soundLibrary = new SoundLibrary;
    movieManager = new MovieManager;
}

void App::setUpExhibit() {
    viewer->addMarker(kMarkerFolder, kCharacterMarker, true, kMarkerWidth);
    viewer->addMarker(kMarkerFolder, kMovieMarker, true, kMarkerWidth);
    viewer->addMarker(kMarkerFolder, kPlayMarker, true, kMarkerWidth);
    const std::string folder = std::string(kMarkerFolder) + "/";
    for (const std::string& warning :
         quorv::viewer::patternWarnings({{kCharacterMarker, folder + kCharacterMarker},
                                         {kMovieMarker, folder + kMovieMarker},
                                         {kPlayMarker, folder + kPlayMarker}}))
        osg::notify(osg::WARN) << "Quorv markers: " << warning << std::endl;

    soundLibrary->loadSound(kPhraseKey, kPhraseFile);

    // The character stands on a holder that the visitor's keys walk across the marker.
    osg::Matrixd holderMatrix;
    holderMatrix.makeTranslate(osg::Vec3f(0.0f, 30.0f, 0.0f));
    osg::ref_ptr<osg::MatrixTransform> characterHolder = new osg::MatrixTransform(holderMatrix);
    osg::ref_ptr<osg::Node> character = readModel(kCharacterFile);
    OsgArt::attachModel(characterHolder.get(), character.get(), osg::Vec3d(0, 0, 0),
                        osg::Vec3d(20, 20, 20));
    viewer->getMarkerTransform(kCharacterMarker)->addChild(characterHolder.get());

    osg::ref_ptr<osg::Node> play = readModel(kPlayFile);
    OsgArt::attachModel(viewer->getMarkerTransform(kPlayMarker), play.get(), osg::Vec3d(0, 0, 0),
                        osg::Vec3d(1, 1, 1));

    // The movie's sound track, when it has one, plays through the sound library's device,
    // under the phrase.
    if (movieManager->addMovie(viewer->getMarkerTransform(kMovieMarker), kMovieFile, kMovieName))
        for (auto& track : movieManager->getMovies().at(kMovieName).movie->getAudioStreams())
            soundLibrary->attachMovieSound(track.get());
}

void App::runFrameLoop() {
    SoundCue cue;
    // A frame is drawn when there is something new to show (a camera picture, a movie
    // picture, an input event), not as fast as the machine allows; an end signal wakes the
    // wait at once.
    FramePacer pacer(*viewer, viewer->getVideo());
    pacer.watch(quorv::app::endSignalDescriptor());
    while (!viewer->done() && !quorv::app::endRequested()) {
        viewer->frame();
        movieManager->update();
        cue.apply(viewer->isMarkerVisible(SoundCue::kMarker), *soundLibrary);
        waitForNews(pacer);
    }
}

void App::waitForNews(FramePacer& pacer) {
    memoryTrim.maybeTrim();
    const double moviePeriod = movieManager->playingPicturePeriod();
    pacer.wait(moviePeriod > 0 ? FramePacer::Clock::now() + FramePacer::after(moviePeriod)
                               : FramePacer::Clock::time_point::max());
}

void App::tearDown() {
    delete soundLibrary;
    soundLibrary = nullptr;
    delete movieManager;
    movieManager = nullptr;
}
