#include "support/ExhibitRun.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>
#include <thread>

// Xlib last: its macros (None, Status, Bool) clash with names in the headers above.
// clang-format off
#include <X11/Xlib.h>
#include <X11/Xutil.h>
// clang-format on

namespace quorvtest {
namespace {

using namespace std::chrono_literals;

/// This process's temporary folder (under $TMPDIR or /tmp).
std::string tempRoot() {
    static const std::string root = shell("printf %s \"$(mktemp -d -t quorv-tests-XXXXXX)\"");
    return root;
}

/// The first visible window that xdotool finds by `what` ("--name RE", "--class RE"): its id
/// and place on the screen, 0 and an empty place when there is none.
std::pair<unsigned long, cv::Rect> findWindow(const std::string& display, const std::string& what) {
    unsigned long id = 0;
    cv::Rect b;
    const std::string found = shell("DISPLAY=" + display + " xdotool search --onlyvisible " + what +
                                    " getwindowgeometry --shell 2>/dev/null");
    std::sscanf(found.c_str(), "WINDOW=%lu X=%d Y=%d WIDTH=%d HEIGHT=%d", &id, &b.x, &b.y, &b.width,
                &b.height);
    return {id, b};
}

}  // namespace

XServer::XServer() {
    const std::string started = shell(sourceDirectory() + "/scripts/private-x.sh --start");
    display = started.substr(0, started.find(' '));
    pid = std::atoi(started.c_str() + display.size());
}

XServer::~XServer() {
    if (pid > 0) ::kill(pid, SIGTERM);
}

std::string shell(const std::string& command) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
    pclose(pipe);
    return output;
}

bool until(const std::function<bool()>& done, std::chrono::milliseconds limit,
           std::chrono::milliseconds step) {
    const auto end = std::chrono::steady_clock::now() + limit;
    bool yes = false;
    while (!(yes = done()) && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(step);
    return yes;
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

std::string stillVideo(const cv::Mat& picture, const std::string& path) {
    cv::VideoWriter writer(path, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 30.0, picture.size());
    for (int i = 0; i < 30; ++i) writer.write(picture);
    return path;
}

cv::Mat grab(const std::string& display, const cv::Rect& a) {
    Display* d = XOpenDisplay(display.c_str());
    XImage* image =
        XGetImage(d, DefaultRootWindow(d), a.x, a.y, a.width, a.height, AllPlanes, ZPixmap);
    cv::Mat picture;
    cv::cvtColor(cv::Mat(a.height, a.width, CV_8UC4, image->data, image->bytes_per_line), picture,
                 cv::COLOR_BGRA2BGR);
    XDestroyImage(image), XCloseDisplay(d);
    return picture;
}

ExhibitRun::ExhibitRun(const XServer& server, const std::string& exhibitFolder,
                       const std::string& video, Confirm how, const Environment& environment,
                       const std::string& program)
    : _display(server.display) {
    // Tests check the program's pictures with OpenCV on their own thread. OpenCV's worker pool
    // would hand results back through synchronisation that ThreadSanitizer cannot see, and its
    // reports would bury any about the program's own threads; the checks are small enough to
    // run without it.
    cv::setNumThreads(0);
    static int runs = 0;
    _out = freshFolder("run-" + std::to_string(++runs)) + "/out", _err = _out + ".err";
    if ((_pid = fork()) == 0) {
        setpgid(0, 0);  // its own process group, so that a kill reaches its helpers too
        setenv("DISPLAY", _display.c_str(), 1), setenv("QUORV_VIDEO", video.c_str(), 1);
        setenv("OSG_WINDOW", "0 0 640 480", 1), setenv("SDL_AUDIODRIVER", "dummy", 1);
        unsetenv("QUORV_PLUGIN_PATH");
        for (const auto& [key, value] : environment) setenv(key.c_str(), value.c_str(), 1);
        if (freopen("/dev/null", "r", stdin) && freopen(_out.c_str(), "w", stdout) &&
            freopen(_err.c_str(), "w", stderr) && chdir(exhibitFolder.c_str()) == 0)
            execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    if (how != Confirm::Later) confirm(how);
}

ExhibitRun::~ExhibitRun() {  // the process group, and the program in case it has not made it yet
    if (running()) ::kill(-_pid, SIGKILL), ::kill(_pid, SIGKILL), waitpid(_pid, nullptr, 0);
}

cv::Rect ExhibitRun::notice(std::chrono::milliseconds limit) const {
    const std::string name = "--name '^Cargando Quorv$'";
    std::pair<unsigned long, cv::Rect> w;
    until([&] { return (w = findWindow(_display, name)).first || !running(); }, limit);
    _notice = w.first;
    return w.second;
}

bool ExhibitRun::confirm(Confirm how) {
    const cv::Rect box = notice(20s);
    if (!(_noticed = !box.empty())) return _problem = "no loading notice", false;
    const std::string x = "DISPLAY=" + _display + " xdotool ", viewer = "--class '^osgViewer$'";
    if (how == Confirm::Click)  // the button runs along the bottom of the notice
        shell(x + "mousemove --sync " + std::to_string(box.x + box.width / 2) + " " +
              std::to_string(box.br().y - 12) + " click 1");
    else if (how == Confirm::Return)
        shell(x + "windowfocus --sync " + std::to_string(_notice) + " key Return");
    // The viewer's window comes up once the exhibit is set up.
    until([&] { return (_viewer = findWindow(_display, viewer).first) || !running(); }, 20s, 50ms);
    if (!_viewer) _problem = "no viewer window after the notice";
    return ready();
}

cv::Mat ExhibitRun::pictureWhen(const std::function<bool(const cv::Mat&)>& wanted,
                                std::chrono::milliseconds limit) const {
    cv::Mat shown;
    until([&] { return wanted(shown = picture()); }, limit, 100ms);
    return shown;
}

void ExhibitRun::press(const std::string& key, int times) const {
    std::string keys;
    for (int i = 0; i < times; ++i) keys += " " + key;
    shell("DISPLAY=" + _display + " xdotool windowfocus --sync " + std::to_string(_viewer) +
          " key --delay 40" + keys);
}

void ExhibitRun::close() const {
    Display* d = XOpenDisplay(_display.c_str());
    XEvent event{};
    event.xclient = {
        ClientMessage, 0, True, d, _viewer, XInternAtom(d, "WM_PROTOCOLS", False), 32, {}};
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(d, "WM_DELETE_WINDOW", False));
    XSendEvent(d, _viewer, False, NoEventMask, &event);
    XCloseDisplay(d);
}

void ExhibitRun::signal(int number) const { ::kill(_pid, number); }

bool ExhibitRun::running() const {
    int status = 0;
    if (_status < 0 && waitpid(_pid, &status, WNOHANG) == _pid)
        _status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return _status < 0;
}

}  // namespace quorvtest
