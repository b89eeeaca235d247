#include "ExhibitRun.h"

#include <sstream>
#include <thread>

namespace quorvtest {
namespace {

using namespace std::chrono_literals;

const char* const kNoticeCaption = "Cargando Quorv";

/// The visible window that covers exactly `area`, or 0.
unsigned long windowCovering(const std::string& display, const cv::Rect& area) {
    std::istringstream ids(
        shell("DISPLAY=" + display + " xdotool search --onlyvisible --name '' 2>/dev/null"));
    for (unsigned long id = 0; ids >> id;)
        if (windowGeometry(display, id) == area) return id;
    return 0;
}

}  // namespace

const cv::Rect ExhibitRun::kWindow(0, 0, 640, 480);

ExhibitRun::ExhibitRun(const XServer& server, const std::string& exhibitFolder,
                       const std::string& video)
    : _server(server) {
    // Tests check the program's pictures with OpenCV on their own thread. OpenCV's worker pool
    // would hand results back through synchronisation that ThreadSanitizer cannot see, and its
    // reports would bury any about the program's own threads; the checks are small enough to
    // run without it.
    cv::setNumThreads(0);
    Process::Options options;
    options.program = buildDir() + "/quorv";
    options.workingDirectory = exhibitFolder;
    options.environment = {{"DISPLAY", server.display()},
                           {"QUORV_VIDEO", video},
                           {"OSG_WINDOW", "0 0 640 480"},
                           {"QUORV_PLUGIN_PATH", ""},
                           {"SDL_AUDIODRIVER", "dummy"}};
    _process = std::make_unique<Process>(options);

    const unsigned long notice = findWindow(server.display(), kNoticeCaption, 20s);
    if (!notice) {
        _problem = "no loading notice";
        return;
    }
    pressKey(server.display(), "Return", notice);
    const auto end = std::chrono::steady_clock::now() + 20s;
    while (!_viewer && std::chrono::steady_clock::now() < end && _process->running()) {
        _viewer = windowCovering(server.display(), kWindow);
        if (!_viewer) std::this_thread::sleep_for(50ms);
    }
    if (!_viewer) _problem = "no viewer window after the notice";
}

ExhibitRun::~ExhibitRun() = default;

std::string ExhibitRun::problem() const {
    return _problem + "; standard error:\n" + _process->standardError();
}

cv::Mat ExhibitRun::picture() const {
    const cv::Mat screen = screenshot(_server.display());
    if (screen.empty() ||
        !cv::Rect(0, 0, screen.cols, screen.rows).contains(kWindow.br() - cv::Point(1, 1)))
        return {};
    return screen(kWindow).clone();
}

cv::Mat ExhibitRun::pictureWhen(const std::function<bool(const cv::Mat&)>& wanted,
                                std::chrono::milliseconds limit) const {
    const auto end = std::chrono::steady_clock::now() + limit;
    cv::Mat shown;
    do {
        shown = picture();
        if (!shown.empty() && wanted(shown)) break;
        std::this_thread::sleep_for(100ms);
    } while (std::chrono::steady_clock::now() < end);
    return shown;
}

void ExhibitRun::press(const std::string& key, int times) const {
    for (int i = 0; i < times; ++i) pressKey(_server.display(), key, _viewer);
}

int ExhibitRun::quit() {
    pressKey(_server.display(), "Escape", _viewer);
    return _process->wait(15s);
}

}  // namespace quorvtest
