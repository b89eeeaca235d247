#pragma once

#include <opencv2/core.hpp>

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace quorvtest {

/// A private X server (Xvfb) for whole-program tests, on a display number of its own.
class XServer {
public:
    explicit XServer(int width = 1280, int height = 1024);
    ~XServer();
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;

    /// ":N", for DISPLAY.
    const std::string& display() const { return _display; }

private:
    int _pid = -1;
    std::string _display;
};

/// A program run in the background with its standard output and error kept in files.
class Process {
public:
    struct Options {
        std::string program;
        std::vector<std::string> arguments;
        std::string workingDirectory;
        /// Variables set (or, with an empty value, removed) on top of this process's environment.
        std::map<std::string, std::string> environment;
    };

    explicit Process(const Options& options);
    ~Process();  ///< kills the program if it still runs
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    /// Waits for the end; returns the exit status (0-255), 128+signal when killed by a signal,
    /// or -1 when it did not end in time.
    int wait(std::chrono::milliseconds limit);
    bool running();
    void kill();
    int pid() const { return _pid; }

    std::string standardOutput() const;
    std::string standardError() const;

private:
    int _pid = -1;
    int _status = -1;
    std::string _out;
    std::string _err;
};

/// Runs a shell command, returns what it printed on standard output (and its status).
std::string shell(const std::string& command, int* status = nullptr);

/// The X window whose name is `name` on `display`, waiting up to `limit`; 0 when none.
unsigned long findWindow(const std::string& display, const std::string& name,
                         std::chrono::milliseconds limit);
/// The geometry of a window in root coordinates.
cv::Rect windowGeometry(const std::string& display, unsigned long window);
/// Whether the window still exists and is mapped.
bool windowMapped(const std::string& display, unsigned long window);
/// Asks a window to close the way a window manager does (WM_DELETE_WINDOW).
void requestClose(const std::string& display, unsigned long window);

/// The whole screen (BGR).
cv::Mat screenshot(const std::string& display);
/// Saves a picture for a person to look at when a test fails; returns the path.
std::string keep(const cv::Mat& picture, const std::string& name);

/// Key presses and clicks, through xdotool (XTEST), after focusing `window` when it is given.
void pressKey(const std::string& display, const std::string& key, unsigned long window = 0);
void click(const std::string& display, int x, int y);

/// Text read from a screen region by OCR (tesseract), lower-cased, with runs of white space as
/// one blank.
std::string readText(const cv::Mat& picture, const std::string& language = "spa");

/// The build and source folders of this checkout.
std::string buildDir();
std::string sourceDir();
/// A fresh empty folder under the test temporary folder.
std::string freshFolder(const std::string& name);

}  // namespace quorvtest
