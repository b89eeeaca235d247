#include "Desktop.h"

#include "Paths.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace quorvtest {
namespace {

using namespace std::chrono_literals;

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string tempRoot() {
    const char* tmp = std::getenv("TMPDIR");
    std::string root = std::string(tmp && *tmp ? tmp : "/tmp") + "/quorv-tests-" +
                       std::to_string(getpid());
    mkdir(root.c_str(), 0755);
    return root;
}

struct DisplayCloser {
    void operator()(Display* d) const {
        if (d) XCloseDisplay(d);
    }
};
using DisplayPtr = std::unique_ptr<Display, DisplayCloser>;

DisplayPtr openDisplay(const std::string& display) {
    DisplayPtr d(XOpenDisplay(display.c_str()));
    if (!d) throw std::runtime_error("cannot open display " + display);
    return d;
}

Window searchTree(Display* d, Window w, const std::string& name) {
    char* windowName = nullptr;
    if (XFetchName(d, w, &windowName) && windowName) {
        const bool match = name == windowName;
        XFree(windowName);
        if (match) return w;
    }
    Window root, parent, *children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(d, w, &root, &parent, &children, &count)) return 0;
    Window found = 0;
    for (unsigned int i = 0; i < count && !found; ++i) found = searchTree(d, children[i], name);
    if (children) XFree(children);
    return found;
}

int ignoreXErrors(Display*, XErrorEvent*) { return 0; }

}  // namespace

XServer::XServer(int width, int height) {
    int fds[2];
    if (pipe(fds) != 0) throw std::runtime_error("pipe failed");
    const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    const std::string fd = std::to_string(fds[1]);
    _pid = fork();
    if (_pid == 0) {
        ::close(fds[0]);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(),
               "+extension", "GLX", "-nolisten", "tcp", "-noreset", static_cast<char*>(nullptr));
        _exit(127);
    }
    ::close(fds[1]);
    std::string number;
    char c;
    while (::read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    ::close(fds[0]);
    if (number.empty()) throw std::runtime_error("Xvfb did not start (is it installed?)");
    _display = ":" + number;
}

XServer::~XServer() {
    if (_pid > 0) {
        ::kill(_pid, SIGTERM);
        waitpid(_pid, nullptr, 0);
    }
}

Process::Process(const Options& options) {
    static int counter = 0;
    const std::string base = tempRoot() + "/process-" + std::to_string(++counter);
    _out = base + ".out";
    _err = base + ".err";

    std::map<std::string, std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string entry(*e);
        const auto eq = entry.find('=');
        if (eq != std::string::npos) env[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    for (const auto& [key, value] : options.environment) {
        if (value.empty())
            env.erase(key);
        else
            env[key] = value;
    }
    std::vector<std::string> envStrings;
    for (const auto& [key, value] : env) envStrings.push_back(key + "=" + value);

    _pid = fork();
    if (_pid == 0) {
        if (!options.workingDirectory.empty() && chdir(options.workingDirectory.c_str()) != 0)
            _exit(126);
        const int out = open(_out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(_err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int in = open("/dev/null", O_RDONLY);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        setpgid(0, 0);
        std::vector<char*> argv{const_cast<char*>(options.program.c_str())};
        for (const std::string& a : options.arguments) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (std::string& s : envStrings) envp.push_back(s.data());
        envp.push_back(nullptr);
        execve(options.program.c_str(), argv.data(), envp.data());
        _exit(127);
    }
}

Process::~Process() {
    if (running()) kill();
}

bool Process::running() {
    if (_pid <= 0 || _status >= 0) return false;
    int status = 0;
    const pid_t r = waitpid(_pid, &status, WNOHANG);
    if (r == _pid) {
        _status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return false;
    }
    return r == 0;
}

int Process::wait(std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (running()) {
        if (std::chrono::steady_clock::now() > end) return -1;
        std::this_thread::sleep_for(20ms);
    }
    return _status;
}

void Process::kill() {
    if (_pid > 0 && running()) {
        ::kill(-_pid, SIGKILL);
        ::kill(_pid, SIGKILL);
        wait(5000ms);
    }
}

std::string Process::standardOutput() const { return readFile(_out); }
std::string Process::standardError() const { return readFile(_err); }

std::string shell(const std::string& command, int* status) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return output;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof(buffer), pipe)) > 0) output.append(buffer, n);
    const int s = pclose(pipe);
    if (status) *status = WIFEXITED(s) ? WEXITSTATUS(s) : -1;
    return output;
}

unsigned long findWindow(const std::string& display, const std::string& name,
                         std::chrono::milliseconds limit) {
    auto d = openDisplay(display);
    XSetErrorHandler(ignoreXErrors);
    const auto end = std::chrono::steady_clock::now() + limit;
    do {
        if (Window w = searchTree(d.get(), DefaultRootWindow(d.get()), name)) {
            XWindowAttributes attributes;
            if (XGetWindowAttributes(d.get(), w, &attributes) && attributes.map_state == IsViewable)
                return w;
        }
        std::this_thread::sleep_for(5ms);
    } while (std::chrono::steady_clock::now() < end);
    return 0;
}

cv::Rect windowGeometry(const std::string& display, unsigned long window) {
    auto d = openDisplay(display);
    XSetErrorHandler(ignoreXErrors);
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(d.get(), window, &attributes)) return {};
    int x = 0, y = 0;
    Window child;
    XTranslateCoordinates(d.get(), window, DefaultRootWindow(d.get()), 0, 0, &x, &y, &child);
    return cv::Rect(x, y, attributes.width, attributes.height);
}

bool windowMapped(const std::string& display, unsigned long window) {
    auto d = openDisplay(display);
    XSetErrorHandler(ignoreXErrors);
    XWindowAttributes attributes;
    return XGetWindowAttributes(d.get(), window, &attributes) && attributes.map_state == IsViewable;
}

void requestClose(const std::string& display, unsigned long window) {
    auto d = openDisplay(display);
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(d.get(), "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(d.get(), "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(d.get(), window, False, NoEventMask, &event);
    XFlush(d.get());
}

cv::Mat screenshot(const std::string& display) {
    const std::string path = tempRoot() + "/screen.png";
    shell("DISPLAY=" + display + " import -window root " + path + " 2>/dev/null");
    return cv::imread(path, cv::IMREAD_COLOR);
}

std::string keep(const cv::Mat& picture, const std::string& name) {
    const std::string path = tempRoot() + "/" + name + ".png";
    cv::imwrite(path, picture);
    return path;
}

void pressKey(const std::string& display, const std::string& key, unsigned long window) {
    std::string command = "DISPLAY=" + display + " xdotool";
    if (window) command += " windowfocus --sync " + std::to_string(window);
    command += " key " + key;
    shell(command + " 2>/dev/null");
}

void click(const std::string& display, int x, int y) {
    shell("DISPLAY=" + display + " xdotool mousemove --sync " + std::to_string(x) + " " +
          std::to_string(y) + " click 1 2>/dev/null");
}

std::string readText(const cv::Mat& picture, const std::string& language) {
    // OCR reads dark text on light ground best, at about three times screen size.
    cv::Mat big;
    cv::resize(picture, big, cv::Size(), 3.0, 3.0, cv::INTER_CUBIC);
    const std::string path = keep(big, "ocr");
    std::string text = shell("tesseract " + path + " stdout -l " + language + " 2>/dev/null");
    std::string out;
    bool blank = false;
    for (unsigned char c : text) {
        if (std::isspace(c)) {
            blank = !out.empty();
            continue;
        }
        if (blank) out += ' ';
        blank = false;
        out += static_cast<char>(c < 128 ? std::tolower(c) : c);
    }
    return out;
}

std::string buildDir() { return buildDirectory(); }

std::string sourceDir() { return sourceDirectory(); }

std::string freshFolder(const std::string& name) {
    const std::string folder = tempRoot() + "/" + name;
    shell("rm -rf '" + folder + "' && mkdir -p '" + folder + "'");
    return folder;
}

}  // namespace quorvtest
