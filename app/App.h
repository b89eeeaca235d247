#pragma once

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

    /// Creates the viewer (which may end the process), then the sound library, then the movie
    /// manager.
    App();

    /// Declares the exhibit's fixed content: markers, phrase, models and movie.
    void setUpExhibit();

    /// Renders frames until the viewer is done or an end signal has come (EndSignals.h); after
    /// each frame the movies follow their markers and the phrase follows its marker.
    void runFrameLoop();

    /// Destroys the sound library (closing the audio device), then the movie manager.
    void tearDown();
};
