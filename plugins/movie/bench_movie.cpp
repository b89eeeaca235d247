// quorv-bench-movie: the share of one core the movie plugin's playback thread takes while a
// movie plays, the main thread updating the texture 60 times a second as the program does.
//
// Usage: quorv-bench-movie [MOVIE] [SECONDS]
//   MOVIE    default: exhibit/videos_Tovarin/Tovarin.mpg (640x480, 25 fps, MPEG-1)
//   SECONDS  how many 1-s samples to take, default 20
//
// Prints the median, lowest and highest of the samples for the playback thread (utime + stime
// from /proc/self/task/<id>/stat), the median for the whole process (FFmpeg may run helper
// threads of its own) and the median number of pictures shown per second.
#include <support/Paths.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <osg/ImageStream>
#include <osg/TextureRectangle>
#include <osgDB/FileUtils>
#include <osgDB/ReadFile>
#include <osgDB/Registry>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

/// utime + stime, in clock ticks, of the task whose stat file this is.
long cpuTicks(const std::string& statPath) {
    std::ifstream file(statPath);
    std::string line;
    std::getline(file, line);
    const size_t end = line.rfind(')');
    if (end == std::string::npos) return -1;
    std::istringstream fields(line.substr(end + 2));
    std::string field;
    long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {  // fields counted as in proc(5)
        if (i == 14) utime = std::stol(field);
        if (i == 15) stime = std::stol(field);
    }
    return utime + stime;
}

std::string playbackThread() {
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(task.path() / "comm");
        std::string name;
        if (std::getline(comm, name) && name == "quorv-movie") return task.path().string();
    }
    return {};
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string movie =
        argc > 1 ? argv[1] : quorvtest::sourceDirectory() + "/exhibit/videos_Tovarin/Tovarin.mpg";
    const int samples = argc > 2 ? std::max(1, std::atoi(argv[2])) : 20;

    osgDB::getLibraryFilePathList().push_front(quorvtest::buildDirectory() + "/plugins");
    osgDB::Registry::instance()->loadLibrary("osgdb_quorvmovie.so");
    osg::ref_ptr<osg::ImageStream> stream =
        dynamic_cast<osg::ImageStream*>(osgDB::readRefImageFile(movie).get());
    if (!stream) {
        std::fprintf(stderr, "quorv-bench-movie: cannot play %s\n", movie.c_str());
        return 1;
    }
    osg::ref_ptr<osg::TextureRectangle> texture = new osg::TextureRectangle(stream.get());
    std::printf("%s: %dx%d at %.2f fps, %d samples of 1 s\n", movie.c_str(), stream->s(),
                stream->t(), stream->getFrameRate(), samples);

    stream->play();
    const std::string thread = playbackThread();
    if (thread.empty()) {
        std::fprintf(stderr, "quorv-bench-movie: no playback thread\n");
        return 1;
    }
    const double ticksPerSecond = static_cast<double>(sysconf(_SC_CLK_TCK));
    std::vector<double> threadPercent, processPercent, picturesPerSecond;
    auto next = Clock::now();
    // One warm-up second, not counted.
    for (int second = -1; second < samples; ++second) {
        const auto start = Clock::now();
        const long threadStart = cpuTicks(thread + "/stat");
        const long processStart = cpuTicks("/proc/self/stat");
        const unsigned int modifiedStart = stream->getModifiedCount();
        unsigned int lastModified = modifiedStart, pictures = 0;
        while (Clock::now() - start < std::chrono::seconds(1)) {
            (*texture->getUpdateCallback())(texture.get(), nullptr);
            if (stream->getModifiedCount() != lastModified) {
                lastModified = stream->getModifiedCount();
                ++pictures;
            }
            next += std::chrono::microseconds(16667);
            std::this_thread::sleep_until(next);
        }
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        if (second < 0) continue;
        threadPercent.push_back(100.0 * (cpuTicks(thread + "/stat") - threadStart) /
                                ticksPerSecond / elapsed);
        processPercent.push_back(100.0 * (cpuTicks("/proc/self/stat") - processStart) /
                                 ticksPerSecond / elapsed);
        picturesPerSecond.push_back(pictures / elapsed);
    }
    stream->quit(true);

    std::printf("playback thread CPU, %% of one core: median %.1f  (min %.1f, max %.1f)\n",
                median(threadPercent),
                *std::min_element(threadPercent.begin(), threadPercent.end()),
                *std::max_element(threadPercent.begin(), threadPercent.end()));
    std::printf("whole process CPU, %% of one core: median %.1f\n", median(processPercent));
    std::printf("pictures shown per second: median %.1f\n", median(picturesPerSecond));
    return 0;
}
