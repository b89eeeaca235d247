#include <dlfcn.h>

#include <osgDB/FileNameUtils>
#include <osgDB/FileUtils>
#include <osgDB/Registry>

#include "MovieStream.h"

namespace {

/// osgDB unloads its plugins when its registry is destroyed at exit, yet a program may hold a
/// movie until after that. Pinning this library keeps the code of such late-released streams
/// mapped until the process ends.
void keepLibraryLoaded() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&keepLibraryLoaded), &info) && info.dli_fname)
        dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
}

}  // namespace

/// Reads movie files as a MovieStream, paused on its first picture.
class ReaderWriterMovie : public osgDB::ReaderWriter {
  public:
    ReaderWriterMovie() {
        supportsExtension("mpg", "MPEG-1/2 program stream");
        supportsExtension("mpeg", "MPEG-1/2 program stream");
        supportsExtension("mp4", "MPEG-4 movie");
        supportsExtension("avi", "AVI movie");
        supportsExtension("mov", "QuickTime movie");
        supportsExtension("mkv", "Matroska movie");
        supportsExtension("webm", "WebM movie");
        supportsExtension("ogv", "Ogg movie");
        keepLibraryLoaded();
    }

    const char* className() const override { return "Quorv movie reader"; }

    ReadResult readImage(const std::string& file, const osgDB::Options* options) const override {
        if (!acceptsExtension(osgDB::getLowerCaseFileExtension(file)))
            return ReadResult::FILE_NOT_HANDLED;
        const std::string path = osgDB::findDataFile(file, options);
        if (path.empty()) return ReadResult::FILE_NOT_FOUND;
        std::string why;
        osg::ref_ptr<MovieStream> stream = MovieStream::open(path, &why);
        if (!stream) return ReadResult("Quorv movie: " + why);
        return stream.get();
    }
};

REGISTER_OSGPLUGIN(quorvmovie, ReaderWriterMovie)
