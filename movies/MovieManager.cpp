#include "MovieManager.h"

#include <OsgArt.h>
#include <osgart/PluginManager.h>

#include <osgDB/FileUtils>
#include <osgDB/Registry>

#include <algorithm>
#include <vector>

bool MovieRecord::load(osg::MatrixTransform* parentTransform, const std::string& file) {
    parent = parentTransform;
    fileName = file;
    osg::ref_ptr<osg::MatrixTransform> holder = new osg::MatrixTransform;
    movie = OsgArt::instance()->createMovieNode(holder.get(), fileName);
    childIndex = parent->getNumChildren();
    parent->addChild(holder.get());
    return movie && movie->s() != 0 && movie->t() != 0 && movie->r() != 0 && movie->data() &&
           movie->getDataType() != 0;
}

MovieManager::MovieManager() {
    // The plugin lives with the program's other plugins; osgDB looks there first.
    osgDB::FilePathList& paths = osgDB::getLibraryFilePathList();
    const auto folders = osgART::PluginManager::searchPath();
    for (auto folder = folders.rbegin(); folder != folders.rend(); ++folder)
        if (std::find(paths.begin(), paths.end(), *folder) == paths.end()) paths.push_front(*folder);
    osgDB::Registry::instance()->loadLibrary(kPluginLibrary);
}

MovieManager::~MovieManager() {
    // Every stream stops (and its thread ends) before any node leaves the scene.
    std::vector<MovieRecord*> records;
    for (auto& entry : movies) {
        entry.second.movie->quit(true);
        records.push_back(&entry.second);
    }
    // Holders go by their recorded positions, the last added first, so that taking one out
    // never shifts another that is still to go (two movies may share a marker).
    std::stable_sort(records.begin(), records.end(), [](const MovieRecord* a, const MovieRecord* b) {
        return a->childIndex > b->childIndex;
    });
    for (MovieRecord* record : records) record->parent->removeChild(record->childIndex, 1);
    movies.clear();
}

bool MovieManager::addMovie(osg::MatrixTransform* parent, std::string fileName, std::string name) {
    MovieRecord record;
    if (!record.load(parent, fileName)) return false;
    if (!movies.insert(std::make_pair(name, record)).second) {
        // The name is taken: a second movie under it would never be played, paused or stopped.
        record.movie->quit(true);
        record.parent->removeChild(record.childIndex, 1);
        return false;
    }
    return true;
}

void MovieManager::update() {
    OsgArt* viewer = OsgArt::instance();
    for (auto& entry : movies) {
        MovieRecord& record = entry.second;
        osg::ImageStream* movie = record.movie;
        // A movie plays while its marker is in view and holds its frame while it is not.
        const bool visible = viewer->isTransformVisible(record.parent);
        const bool playing = movie->getStatus() == osg::ImageStream::PLAYING;
        if (playing && !visible)
            movie->pause();
        else if (!playing && visible)
            movie->play();
    }
}

double MovieManager::playingPicturePeriod() const {
    double shortest = 0;
    for (const auto& entry : movies) {
        const osg::ImageStream* movie = entry.second.movie;
        if (!movie || movie->getStatus() != osg::ImageStream::PLAYING) continue;
        // A stream that does not know its rate is looked at 30 times a second.
        const double rate = movie->getFrameRate() > 0 ? movie->getFrameRate() : 30.0;
        if (shortest == 0 || 1.0 / rate < shortest) shortest = 1.0 / rate;
    }
    return shortest;
}
