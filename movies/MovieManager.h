#pragma once

#include <osg/ImageStream>
#include <osg/MatrixTransform>

#include <cstdint>
#include <map>
#include <string>

/// Where one movie hangs and which stream plays it. Owns nothing: the scene holds the nodes
/// and, through the movie's texture, the stream.
struct MovieRecord {
    osg::MatrixTransform* parent = nullptr;  ///< the marker transform holding the movie
    std::string fileName;
    osg::ImageStream* movie = nullptr;
    uint32_t childIndex = UINT32_MAX;  ///< position of the holder transform under `parent`

    /// Hangs a holder transform with the movie's rectangle under `parent` and records where.
    /// Returns whether the movie is usable: a stream whose picture has a size and data.
    bool load(osg::MatrixTransform* parent, const std::string& fileName);
};

/// The movies shown on markers: each plays while its marker is tracked and pauses when the
/// marker is lost, resuming where it stopped. At destruction every movie is stopped (waiting
/// for its playback thread) and taken out of the scene.
class MovieManager {
public:
    /// The movie reader plugin's file name.
    static constexpr const char* kPluginLibrary = "osgdb_quorvmovie.so";

    /// Loads the movie reader plugin, silently whatever the outcome.
    MovieManager();
    ~MovieManager();
    MovieManager(const MovieManager&) = delete;
    MovieManager& operator=(const MovieManager&) = delete;

    /// Shows the movie in `fileName` under `parent` and controls it by `parent`'s marker under
    /// `name`. False when the movie is not usable, or when `name` is already taken: then the new
    /// movie is stopped and its nodes are taken out again.
    bool addMovie(osg::MatrixTransform* parent, std::string fileName, std::string name);

    /// Plays each movie whose marker is tracked and pauses each one whose marker is not.
    void update();

    /// The shortest picture period (seconds) of the movies now playing, 0 when none plays: how
    /// soon a playing movie may have a new picture to show.
    double playingPicturePeriod() const;

    const std::map<std::string, MovieRecord>& getMovies() const { return movies; }

private:
    std::map<std::string, MovieRecord> movies;
};
