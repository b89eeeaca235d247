// quorv-bench-movie: the share of one core the movie plugin's playback thread takes while a
// movie plays, the main thread updating the texture 60 times a second as the program does.
//
// Usage: quorv-bench-movie [MOVIE] [SECONDS]
//   MOVIE    default: exhibit/videos_Tovarin/Tovarin.mpg (640x480, 25 fps, MPEG-1, MP2 sound)
//   SECONDS  how many 1-s samples to take in each part, default 20
//
// Prints the median, lowest and highest of the samples for the playback thread, the median for
// the whole process (FFmpeg runs slice threads of its own, and the main thread copies pictures)
// and the median number of pictures shown per second. A movie with a sound track is measured
// twice: first with no sink attached (pictures only), then with a sink whose thread pulls 4096
// frames every 4096/22050 s, as SDL_mixer does, so that the playback thread also decodes the
// sound and paces the pictures by it. CPU time is read from the kernel's
// per-thread CPU clock, found by the thread's id under /proc/self/task: the same utime + stime
// that /proc/<id>/stat gives, in nanoseconds instead of 10-ms ticks.
#include "testing/FollowingSink.h"

#include <support/Paths.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <osg/AudioStream>
#include <osg/ImageStream>
#include <osg/TextureRectangle>
#include <osgDB/FileUtils>
#include <osgDB/ReadFile>
#include <osgDB/Registry>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

/// Seconds of CPU the clock has counted.
double cpuSeconds(clockid_t clock) {
    timespec time{};
    clock_gettime(clock, &time);
    return time.tv_sec + time.tv_nsec * 1e-9;
}

/// The CPU clock of the thread with this kernel id (Linux encodes it as ~id << 3 | 6, the
/// way pthread_getcpuclockid does for threads of our own).
clockid_t threadCpuClock(long id) { return static_cast<clockid_t>((~id << 3) | 6); }

/// Kernel id of the playback thread, 0 when there is none.
long playbackThread() {
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(task.path() / "comm");
        std::string name;
        if (std::getline(comm, name) && name == "quorv-movie")
            return std::stol(task.path().filename().string());
    }
    return 0;
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

    // Plays for `samples` seconds and prints the medians under `title`.
    const auto measure = [&](const char* title) {
        stream->play();
        const long thread = playbackThread();
        if (thread == 0) {
            std::fprintf(stderr, "quorv-bench-movie: no playback thread\n");
            std::exit(1);
        }
        const clockid_t threadClock = threadCpuClock(thread);
        std::vector<double> threadPercent, processPercent, picturesPerSecond;
        auto next = Clock::now();
        // One warm-up second, not counted.
        for (int second = -1; second < samples; ++second) {
            const auto start = Clock::now();
            const double threadStart = cpuSeconds(threadClock);
            const double processStart = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
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
            threadPercent.push_back(100.0 * (cpuSeconds(threadClock) - threadStart) / elapsed);
            processPercent.push_back(100.0 * (cpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - processStart) /
                                     elapsed);
            picturesPerSecond.push_back(pictures / elapsed);
        }
        stream->pause();
        std::printf("%s\n", title);
        std::printf("  playback thread CPU, %% of one core: median %.2f  (min %.2f, max %.2f)\n",
                    median(threadPercent),
                    *std::min_element(threadPercent.begin(), threadPercent.end()),
                    *std::max_element(threadPercent.begin(), threadPercent.end()));
        std::printf("  whole process CPU, %% of one core: median %.2f\n", median(processPercent));
        std::printf("  pictures shown per second: median %.1f\n", median(picturesPerSecond));
    };
    measure(stream->getAudioStreams().empty() ? "pictures (the movie has no sound track)"
                                              : "pictures only, no sink attached");

    if (!stream->getAudioStreams().empty()) {
        osg::AudioStream* sound = stream->getAudioStreams()[0].get();
        osg::ref_ptr<quorvtest::FollowingSink> sink = new quorvtest::FollowingSink;
        sink->setDelay(4096 / 22050.0);
        sound->setAudioSink(sink.get());
        stream->rewind();  // the sound starts with the movie: both from the start
        std::atomic<bool> done{false};
        std::thread puller([&] {
            std::vector<char> buffer(4096 * 4);
            for (auto next = Clock::now(); !done; next += std::chrono::microseconds(185760)) {
                std::this_thread::sleep_until(next);
                sound->consumeAudioBuffer(buffer.data(), buffer.size());
            }
        });
        measure("pictures and sound, a sink pulling at real-time pace");
        done = true;
        puller.join();
    }
    stream->quit(true);
    return 0;
}
