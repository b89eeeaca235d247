#pragma once

#include "MemoryTrim.h"

class FramePacer;
class MovieManager;
class OsgArt;
class SoundLibrary;

/// The application record: the viewer and the two components the application owns.
/// The entry builds it, shows the loading notice, sets up the exhibit, runs the frame loop and
/// then destroys the sound library and the movie manager itself; the viewer is never destroyed.
struct App {
    MovieManager* movieManager = nullptr;  ///< owned
    SoundLibrary* soundLibrary = nullptr;  ///< owned
    OsgArt* viewer = nullptr;              ///< the process-wide viewer, not owned
    MemoryTrim memoryTrim;

    /// Creates the viewer (which may end the process), then the sound library, then the movie
    /// manager.
    App();

    /// Declares the exhibit's fixed content: markers, phrase, models and movie, whose sound
    /// track the sound library mixes under the phrase.
    void setUpExhibit();

    /// Renders frames until the viewer is done or an end signal has come (EndSignals.h); after
    /// each frame the movies follow their markers and the phrase follows its marker. A frame is
    /// drawn when there is something new to show, not as often as the machine allows (see
    /// waitForNews).
    void runFrameLoop();

    /// Waits, after a frame, until there is something new to draw: a camera picture, an input
    /// event, or the next picture of a playing movie (see FramePacer). Once a minute it first
    /// gives the allocator's free pages back to the system (see MemoryTrim).
    void waitForNews(FramePacer& pacer);

    /// Destroys the sound library (it lets go of the movie's sound track, then closes the audio
    /// device), then the movie manager, which stops the movie.
    void tearDown();
};
