#include "support/ExhibitRun.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>
#include <sstream>
#include <stdexcept>
#include <thread>

// Xlib last: its macros (None, Status, Bool) clash with names in the headers above.
// clang-format off
#include <X11/Xlib.h>
#include <X11/Xutil.h>
// clang-format on

namespace quorvtest {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const char* const kNoticeCaption = "Cargando Quorv";

std::string tempRoot() {
    const char* tmp = std::getenv("TMPDIR");
    const std::string root =
        std::string(tmp && *tmp ? tmp : "/tmp") + "/quorv-tests-" + std::to_string(getpid());
    mkdir(root.c_str(), 0755);
    return root;
}

// A window may go between listing it and asking about it; that is no reason to stop the test.
int ignoreXErrors(Display*, XErrorEvent*) { return 0; }

/// A mapped top-level window: its id, name and place on the screen.
struct TopLevel {
    unsigned long id = 0;
    std::string name;
    cv::Rect box;
};

/// The first mapped top-level window that `match` accepts, or none.
TopLevel findTopLevel(const std::string& display,
                      const std::function<bool(const TopLevel&)>& match) {
    Display* d = XOpenDisplay(display.c_str());
    if (!d) return {};
    XSetErrorHandler(ignoreXErrors);
    Window root, parent, *children = nullptr;
    unsigned int count = 0;
    TopLevel found;
    XQueryTree(d, DefaultRootWindow(d), &root, &parent, &children, &count);
    for (unsigned int i = 0; i < count && !found.id; ++i) {
        XWindowAttributes a;
        char* name = nullptr;
        if (!XGetWindowAttributes(d, children[i], &a) || a.map_state != IsViewable) continue;
        XFetchName(d, children[i], &name);
        const TopLevel window{children[i], name ? name : "", {a.x, a.y, a.width, a.height}};
        if (name) XFree(name);
        if (match(window)) found = window;
    }
    if (children) XFree(children);
    XCloseDisplay(d);
    return found;
}

}  // namespace

XServer::XServer(int width, int height) {
    std::istringstream started(shell(sourceDirectory() + "/scripts/private-x.sh -s " +
                                     std::to_string(width) + "x" + std::to_string(height) +
                                     " --start"));
    if (!(started >> _display >> _pid)) throw std::runtime_error("no private X server");
}

XServer::~XServer() {
    if (_pid > 0) ::kill(_pid, SIGTERM);
}

std::string shell(const std::string& command, int* status) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    char buffer[4096];
    for (size_t n; pipe && (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        output.append(buffer, n);
    const int s = pipe ? pclose(pipe) : -1;
    if (status) *status = WIFEXITED(s) ? WEXITSTATUS(s) : -1;
    return output;
}

std::string freshFolder(const std::string& name) {
    const std::string folder = tempRoot() + "/" + name;
    shell("rm -rf '" + folder + "' && mkdir -p '" + folder + "'");
    return folder;
}

std::string keep(const cv::Mat& picture, const std::string& name) {
    const std::string path = tempRoot() + "/" + name + ".png";
    cv::imwrite(path, picture);
    return path;
}

std::string stillVideo(const cv::Mat& picture, const std::string& path, int frames) {
    cv::VideoWriter writer(path, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 30.0, picture.size());
    for (int i = 0; i < frames; ++i) writer.write(picture);
    return path;
}

cv::Mat grab(const std::string& display, const cv::Rect& area) {
    Display* d = XOpenDisplay(display.c_str());
    if (!d) return {};
    XImage* image = XGetImage(d, DefaultRootWindow(d), area.x, area.y, area.width, area.height,
                              AllPlanes, ZPixmap);
    cv::Mat picture;
    if (image) {
        const cv::Mat bgra(area.height, area.width, CV_8UC4, image->data, image->bytes_per_line);
        cv::cvtColor(bgra, picture, cv::COLOR_BGRA2BGR);
        XDestroyImage(image);
    }
    XCloseDisplay(d);
    return picture;
}

ExhibitRun::ExhibitRun(const XServer& server, const Options& options) : _server(server) {
    // Tests check the program's pictures with OpenCV on their own thread. OpenCV's worker pool
    // would hand results back through synchronisation that ThreadSanitizer cannot see, and its
    // reports would bury any about the program's own threads; the checks are small enough to
    // run without it.
    cv::setNumThreads(0);
    static int runs = 0;
    const std::string base = tempRoot() + "/run-" + std::to_string(++runs);
    _out = base + ".out";
    _err = base + ".err";
    std::map<std::string, std::string> settings = {{"DISPLAY", server.display()},
                                                   {"QUORV_VIDEO", options.video},
                                                   {"OSG_WINDOW", "0 0 640 480"},
                                                   {"QUORV_PLUGIN_PATH", ""},
                                                   {"SDL_AUDIODRIVER", "dummy"}};
    for (const auto& [key, value] : options.environment) settings[key] = value;
    _pid = fork();
    if (_pid == 0) {
        setpgid(0, 0);  // its own process group, so that a kill reaches its helpers too
        for (const auto& [key, value] : settings)
            value.empty() ? unsetenv(key.c_str()) : setenv(key.c_str(), value.c_str(), 1);
        if (!freopen("/dev/null", "r", stdin) || !freopen(_out.c_str(), "w", stdout) ||
            !freopen(_err.c_str(), "w", stderr) || chdir(options.exhibit.c_str()) != 0)
            _exit(126);
        execl(options.program.c_str(), options.program.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    if (options.confirm != Confirm::Later) confirm(options.confirm);
}

ExhibitRun::~ExhibitRun() {
    if (!running()) return;
    ::kill(-_pid, SIGKILL);
    ::kill(_pid, SIGKILL);
    waitpid(_pid, nullptr, 0);
}

cv::Rect ExhibitRun::notice(std::chrono::milliseconds limit) const {
    const auto end = Clock::now() + limit;
    for (;; std::this_thread::sleep_for(20ms)) {
        const TopLevel found = findTopLevel(
            _server.display(), [](const TopLevel& w) { return w.name == kNoticeCaption; });
        _notice = found.id;
        if (found.id || Clock::now() >= end || !running()) return found.box;
    }
}

bool ExhibitRun::confirm(Confirm how) {
    const cv::Rect box = notice(20s);
    _noticed = !box.empty();
    if (!_noticed) {
        _problem = "no loading notice";
        return false;
    }
    const std::string x = "DISPLAY=" + _server.display() + " xdotool ";
    if (how == Confirm::Click)  // the button runs along the bottom of the notice
        shell(x + "mousemove --sync " + std::to_string(box.x + box.width / 2) + " " +
              std::to_string(box.br().y - 12) + " click 1");
    else
        shell(x + "windowfocus --sync " + std::to_string(_notice) + " key Return");
    // The viewer's window comes up once the exhibit is set up.
    for (const auto end = Clock::now() + 20s; !_viewer && running() && Clock::now() < end;
         std::this_thread::sleep_for(50ms))
        _viewer =
            findTopLevel(_server.display(), [](const TopLevel& w) { return w.box == kWindow; }).id;
    if (!_viewer) _problem = "no viewer window after the notice";
    return ready();
}

cv::Mat ExhibitRun::pictureWhen(const std::function<bool(const cv::Mat&)>& wanted,
                                std::chrono::milliseconds limit) const {
    for (const auto end = Clock::now() + limit;; std::this_thread::sleep_for(100ms)) {
        const cv::Mat shown = picture();
        if ((!shown.empty() && wanted(shown)) || Clock::now() >= end) return shown;
    }
}

void ExhibitRun::press(const std::string& key, int times) const {
    std::string keys;
    for (int i = 0; i < times; ++i) keys += " " + key;
    shell("DISPLAY=" + _server.display() + " xdotool windowfocus --sync " +
          std::to_string(_viewer) + " key --delay 40" + keys);
}

void ExhibitRun::close() const {
    Display* d = XOpenDisplay(_server.display().c_str());
    if (!d) return;
    XEvent event{};
    event.xclient = {
        ClientMessage, 0, True, d, _viewer, XInternAtom(d, "WM_PROTOCOLS", False), 32, {}};
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(d, "WM_DELETE_WINDOW", False));
    XSendEvent(d, _viewer, False, NoEventMask, &event);
    XCloseDisplay(d);
}

bool ExhibitRun::running() const {
    int status = 0;
    if (_status < 0 && _pid > 0 && waitpid(_pid, &status, WNOHANG) == _pid)
        _status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return _pid > 0 && _status < 0;
}

int ExhibitRun::wait(std::chrono::milliseconds limit) {
    for (const auto end = Clock::now() + limit; running() && Clock::now() < end;)
        std::this_thread::sleep_for(20ms);
    return _status;
}

}  // namespace quorvtest
