// quorv-bench-video: how fast a camera picture reaches the screen, and what capturing costs.
//
//   quorv-bench-video latency EXHIBIT_DIR FEED [SECONDS]
//       Runs the real viewer (plugins, calibration, video background) in EXHIBIT_DIR with FEED
//       as its camera, and measures for every new video frame the time from the moment the
//       capture thread had it complete to the end of the first draw that shows it (after
//       glFinish), with the frame loop paced as the program's is. Needs a display (DISPLAY);
//       a 640x480 window is used.
//   quorv-bench-video frameloop EXHIBIT_DIR FEED [SECONDS]
//       Sets up the whole exhibit in EXHIBIT_DIR (markers, models, phrase, movie) with FEED as
//       its camera and runs the program's frame loop: frame, movie update, phrase cue. Reports
//       the time of each pass and how many of them had the movie playing. Needs a display.
//   quorv-bench-video soak EXHIBIT_DIR FEED [SECONDS]
//       The frame loop of the whole exhibit for a long time (default 1200 s); every 10 s prints
//       one line: elapsed seconds, resident memory (kB), passes, median / p99 / longest pass
//       (ms). Ends with the memory growth after the first minute and the overall figures.
//   quorv-bench-video capture FEED [SECONDS]
//       Runs only the capture thread on FEED and reports its CPU time per second of wall time,
//       sampled from /proc every second.
#include <App.h>
#include <FramePacer.h>
#include <MovieManager.h>
#include <OsgArt.h>
#include <SoundCue.h>
#include <SoundLibrary.h>
#include <malloc.h>
#include <osgart/PluginManager.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <osg/GL>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "CaptureVideo.h"
#include "PassTimes.h"

namespace {

using Clock = std::chrono::steady_clock;

double median(std::vector<double> v) {
    if (v.empty()) return 0.0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

double percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0.0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(p * (v.size() - 1) + 0.5))];
}

/// What the update traversal of each viewer frame brought in: the video frame's number and
/// capture time. Written by the main thread, read by the draw thread.
struct FrameLog {
    std::mutex mutex;
    std::map<unsigned int, std::pair<uint64_t, Clock::time_point>> shown;
    uint64_t lastDrawn = 0;
    std::vector<double> latencies;  // ms
    // Per viewer frame, ms: from the newest picture's capture to the loop waking, the event
    // and update traversals (the tracker runs there), and the call that culls and hands the
    // frame to the draw thread. The rest of the latency is the draw itself.
    std::vector<double> wake, update, render;
};

class DrawnCallback : public osg::Camera::DrawCallback {
  public:
    explicit DrawnCallback(FrameLog* log) : _log(log) {}
    void operator()(osg::RenderInfo& info) const override {
        glFinish();
        const auto now = Clock::now();
        const unsigned int frame = info.getState()->getFrameStamp()->getFrameNumber();
        std::lock_guard<std::mutex> lock(_log->mutex);
        const auto found = _log->shown.find(frame);
        if (found == _log->shown.end()) return;
        const auto [count, captured] = found->second;
        _log->shown.erase(_log->shown.begin(), std::next(found));
        if (count == 0 || count == _log->lastDrawn) return;
        _log->lastDrawn = count;
        _log->latencies.push_back(
            std::chrono::duration<double, std::milli>(now - captured).count());
    }

  private:
    FrameLog* _log;
};

int latency(const std::string& exhibit, const std::string& feed, double seconds) {
    setenv("QUORV_VIDEO", feed.c_str(), 1);
    if (!std::getenv("OSG_WINDOW")) setenv("OSG_WINDOW", "0 0 640 480", 1);
    if (chdir(exhibit.c_str()) != 0) {
        std::fprintf(stderr, "cannot enter %s\n", exhibit.c_str());
        return 1;
    }
    OsgArt* viewer = OsgArt::instance();
    // The video plugin is the first plugin the viewer loads.
    auto* video = dynamic_cast<osgART::Video*>(osgART::PluginManager::instance(false)->get(0));
    if (!video) {
        std::fprintf(stderr, "no video plugin object\n");
        return 1;
    }
    FrameLog log;
    viewer->realize();
    osgViewer::Viewer::Cameras cameras;
    viewer->getCameras(cameras);
    for (osg::Camera* camera : cameras) camera->setFinalDrawCallback(new DrawnCallback(&log));

    std::vector<double> frameTimes;
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    auto last = Clock::now();
    // Paced as the program's frame loop is: a frame when a new picture (or event) is there.
    FramePacer pacer(*viewer, video);
    bool first = true;
    while (!viewer->done() && Clock::now() < end) {
        if (!first) pacer.wait();
        first = false;
        const auto woke = Clock::now();
        viewer->advance();
        viewer->eventTraversal();
        viewer->updateTraversal();
        const auto updated = Clock::now();
        const auto capturedAt = video->frameTime();
        {
            std::lock_guard<std::mutex> lock(log.mutex);
            log.shown[viewer->getFrameStamp()->getFrameNumber()] = {video->frameCount(),
                                                                    video->frameTime()};
        }
        viewer->renderingTraversals();
        const auto now = Clock::now();
        {
            std::lock_guard<std::mutex> lock(log.mutex);
            log.wake.push_back(
                std::chrono::duration<double, std::milli>(woke - capturedAt).count());
            log.update.push_back(std::chrono::duration<double, std::milli>(updated - woke).count());
            log.render.push_back(std::chrono::duration<double, std::milli>(now - updated).count());
        }
        frameTimes.push_back(std::chrono::duration<double, std::milli>(now - last).count());
        last = now;
    }
    viewer->stopThreading();
    std::lock_guard<std::mutex> lock(log.mutex);
    std::printf("threading model: %d, viewer frames: %zu, video frames shown: %zu\n",
                static_cast<int>(viewer->getThreadingModel()), frameTimes.size(),
                log.latencies.size());
    std::printf(
        "medians: capture to wake-up %.2f ms, event and update traversals %.2f ms, "
        "cull and hand-over %.2f ms\n",
        median(log.wake), median(log.update), median(log.render));
    std::printf("viewer frame time: median %.2f ms, p99 %.2f ms\n", median(frameTimes),
                percentile(frameTimes, 0.99));
    std::printf("capture to screen: median %.2f ms, p90 %.2f ms, max %.2f ms\n",
                median(log.latencies), percentile(log.latencies, 0.9),
                log.latencies.empty()
                    ? 0.0
                    : *std::max_element(log.latencies.begin(), log.latencies.end()));
    return 0;
}

/// The kilobytes that the line starting with `key` of the /proc file at `path` gives; 0 without it.
long procKilobytes(const char* path, const std::string& key) {
    std::ifstream file(path);
    for (std::string line; std::getline(file, line);)
        if (line.rfind(key, 0) == 0) return std::stol(line.substr(key.size()));
    return 0;
}

long residentKilobytes() { return procKilobytes("/proc/self/status", "VmRSS:"); }

/// Private dirty memory of this process (heap, anonymous maps, written pages of libraries), in
/// kB: what the process itself holds, without the shared library pages that RSS also counts.
long privateDirtyKilobytes() { return procKilobytes("/proc/self/smaps_rollup", "Private_Dirty:"); }

/// Sets up the whole exhibit in `exhibit` with `feed` as its camera, as the program does after
/// its notice. Returns false when the folder cannot be entered.
bool setUpExhibit(App*& app, const std::string& exhibit, const std::string& feed) {
    setenv("QUORV_VIDEO", feed.c_str(), 1);
    if (!std::getenv("OSG_WINDOW")) setenv("OSG_WINDOW", "0 0 640 480", 1);
    if (!std::getenv("SDL_AUDIODRIVER")) setenv("SDL_AUDIODRIVER", "dummy", 1);
    if (chdir(exhibit.c_str()) != 0) {
        std::fprintf(stderr, "cannot enter %s\n", exhibit.c_str());
        return false;
    }
    app = new App;
    app->setUpExhibit();
    return true;
}

/// One pass of the program's frame loop: a frame, the movies' update, the phrase cue. Returns
/// its time in milliseconds.
double timedPass(App& app, SoundCue& cue) {
    const auto start = Clock::now();
    app.viewer->frame();
    app.movieManager->update();
    cue.apply(app.viewer->isMarkerVisible(SoundCue::kMarker), *app.soundLibrary);
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

int soak(const std::string& exhibit, const std::string& feed, double seconds) {
    App* app = nullptr;
    if (!setUpExhibit(app, exhibit, feed)) return 1;
    SoundCue cue;
    // Pass times are binned, not kept one by one, so the record itself stays the same size
    // however long the soak runs.
    PassTimes window, all;
    long firstMinute = 0, firstMinutePrivate = 0;
    const auto start = Clock::now();
    auto nextReport = start + std::chrono::seconds(10);
    std::printf(
        "# seconds rss_kB passes median_ms p99_ms longest_ms heap_in_use_kB private_dirty_kB\n");
    FramePacer pacer(*app->viewer, app->viewer->getVideo());
    while (!app->viewer->done()) {
        const double ms = timedPass(*app, cue);
        app->waitForNews(pacer);
        const auto now = Clock::now();
        window.add(ms);
        all.add(ms);
        if (now >= nextReport) {
            const double elapsed = std::chrono::duration<double>(now - start).count();
            const long rss = residentKilobytes();
            const long privateDirty = privateDirtyKilobytes();
            if (firstMinute == 0 && elapsed >= 60.0) {
                firstMinute = rss;
                firstMinutePrivate = privateDirty;
            }
            // What malloc has handed out and not had back, to tell a growing heap from memory
            // that the allocator or the graphics driver keeps.
            const long heap = static_cast<long>(mallinfo2().uordblks / 1024);
            std::printf("%.0f %ld %llu %.2f %.2f %.2f %ld %ld\n", elapsed, rss,
                        static_cast<unsigned long long>(window.count()), window.median(),
                        window.percentile(0.99), window.longest(), heap, privateDirty);
            std::fflush(stdout);
            window.clear();
            nextReport += std::chrono::seconds(10);
            if (elapsed >= seconds) break;
        }
    }
    const long last = residentKilobytes();
    const long lastPrivate = privateDirtyKilobytes();
    app->tearDown();
    delete app;
    std::printf(
        "# memory growth after the first minute: %ld kB resident (%ld -> %ld), %ld kB "
        "private dirty (%ld -> %ld)\n",
        last - firstMinute, firstMinute, last, lastPrivate - firstMinutePrivate, firstMinutePrivate,
        lastPrivate);
    std::printf("# passes %llu, median %.2f ms, p99 %.2f ms, longest %.2f ms\n",
                static_cast<unsigned long long>(all.count()), all.median(), all.percentile(0.99),
                all.longest());
    return 0;
}

int frameLoop(const std::string& exhibit, const std::string& feed, double seconds) {
    App* created = nullptr;
    if (!setUpExhibit(created, exhibit, feed)) return 1;
    App& app = *created;
    const auto& movies = app.movieManager->getMovies();
    osg::ImageStream* movie = movies.empty() ? nullptr : movies.begin()->second.movie;
    SoundCue cue;
    std::vector<double> all, playing;
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    FramePacer pacer(*app.viewer, app.viewer->getVideo());
    while (!app.viewer->done() && Clock::now() < end) {
        const double ms = timedPass(app, cue);
        app.waitForNews(pacer);
        all.push_back(ms);
        if (movie && movie->getStatus() == osg::ImageStream::PLAYING) playing.push_back(ms);
    }
    app.tearDown();
    delete created;
    std::printf("frame loop passes: %zu, with the movie playing: %zu\n", all.size(),
                playing.size());
    std::printf("pass time, all: median %.2f ms, p99 %.2f ms\n", median(all),
                percentile(all, 0.99));
    std::printf("pass time, movie playing: median %.2f ms, p99 %.2f ms\n", median(playing),
                percentile(playing, 0.99));
    return 0;
}

/// utime + stime of one thread of this process, in seconds.
double threadCpuSeconds(long tid) {
    std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), {});
    const auto close = text.rfind(')');
    if (close == std::string::npos) return 0.0;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    double ticks = 0.0;
    for (int i = 3; i <= 15 && fields >> field; ++i)
        if (i == 14 || i == 15) ticks += std::stod(field);
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

int capture(const std::string& feed, double seconds) {
    FrameSource::Options options;
    options.location = feed;
    osg::ref_ptr<CaptureVideo> video = new CaptureVideo(options);
    video->open();
    video->start();
    osg::ref_ptr<osg::FrameStamp> stamp = new osg::FrameStamp;
    std::this_thread::sleep_for(std::chrono::milliseconds(500));  // past opening the decoder
    const long tid = video->captureThreadId();
    std::vector<double> load;  // percent of one core, per one-second sample
    double cpu = threadCpuSeconds(tid);
    auto wall = Clock::now();
    const uint64_t frames = video->frameCount();
    const auto started = wall;
    for (int i = 0; i < static_cast<int>(seconds); ++i) {
        // Take frames the way the viewer does, about 60 times a second.
        for (int k = 0; k < 60; ++k) {
            stamp->setFrameNumber(stamp->getFrameNumber() + 1);
            video->update(stamp.get());
            std::this_thread::sleep_for(std::chrono::microseconds(16667));
        }
        const double nowCpu = threadCpuSeconds(tid);
        const auto nowWall = Clock::now();
        load.push_back(100.0 * (nowCpu - cpu) /
                       std::chrono::duration<double>(nowWall - wall).count());
        cpu = nowCpu;
        wall = nowWall;
    }
    const double fps = double(video->frameCount() - frames) /
                       std::chrono::duration<double>(Clock::now() - started).count();
    video->close(true);
    std::printf("feed %s: %dx%d, %.1f frames/s taken\n", feed.c_str(), video->s(), video->t(), fps);
    std::printf("capture thread CPU: median %.1f%% of one core (over %zu one-second samples)\n",
                median(load), load.size());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "latency" && argc >= 4)
        return latency(argv[2], argv[3], argc > 4 ? std::atof(argv[4]) : 10.0);
    if (mode == "soak" && argc >= 4)
        return soak(argv[2], argv[3], argc > 4 ? std::atof(argv[4]) : 1200.0);
    if (mode == "frameloop" && argc >= 4)
        return frameLoop(argv[2], argv[3], argc > 4 ? std::atof(argv[4]) : 20.0);
    if (mode == "capture" && argc >= 3)
        return capture(argv[2], argc > 3 ? std::atof(argv[3]) : 10.0);
    std::fprintf(stderr,
                 "usage: quorv-bench-video latency EXHIBIT_DIR FEED [SECONDS]\n"
                 "       quorv-bench-video frameloop EXHIBIT_DIR FEED [SECONDS]\n"
                 "       quorv-bench-video soak EXHIBIT_DIR FEED [SECONDS]\n"
                 "       quorv-bench-video capture FEED [SECONDS]\n");
    return 2;
}
