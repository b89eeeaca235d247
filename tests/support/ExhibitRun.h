#pragma once

// The harness of the whole-program tests: the real build/quorv with its real plugins, run in an
// exhibit folder on a private X server and fed a video as its camera. It confirms the loading
// notice, reads the screen, types keys (xdotool), and keeps the program's standard output,
// standard error and exit status.

#include <chrono>
#include <functional>
#include <map>
#include <opencv2/core.hpp>
#include <string>

#include "support/Paths.h"

namespace quorvtest {

/// A private X server (scripts/private-x.sh, 1280x960), stopped when this goes.
struct XServer {
    XServer();
    ~XServer();
    std::string display;  ///< ":N", for DISPLAY
    int pid = 0;
};

/// Runs a shell command; returns what it printed on standard output.
std::string shell(const std::string& command);
/// Asks `done` every `step` until it says yes or `limit` has passed; returns its last answer.
bool until(const std::function<bool()>& done, std::chrono::milliseconds limit,
           std::chrono::milliseconds step = std::chrono::milliseconds(20));
/// A fresh empty folder under this test process's temporary folder.
std::string freshFolder(const std::string& name);
/// Saves a picture for a person to look at after a failure; returns its path.
std::string keep(const cv::Mat& picture, const std::string& name);
/// A video of 30 copies of `picture` (MJPEG, 30 fps) at `path`; returns the path.
std::string stillVideo(const cv::Mat& picture, const std::string& path);
/// What the screen shows in `area` (BGR).
cv::Mat grab(const std::string& display, const cv::Rect& area);

/// One run of the program, in a 640x480 window at the screen's top-left corner (so window pixel
/// (x, y) shows camera pixel (x, y)). Killed when this goes, if it still runs.
class ExhibitRun {
  public:
    /// How the notice is confirmed on start (Later: by the test; Launcher: by the program's
    /// launcher, the test waits for the notice and then the viewer).
    enum class Confirm { Later, Return, Click, Launcher };
    /// Variables set on top of the run's defaults.
    using Environment = std::map<std::string, std::string>;

    ExhibitRun(const XServer& server, const std::string& exhibitFolder, const std::string& video,
               Confirm how = Confirm::Return, const Environment& environment = {},
               const std::string& program = buildPath("quorv"));
    ~ExhibitRun();

    /// Where the loading notice is on the screen, waiting up to `limit` while the program runs;
    /// empty when it is not up.
    cv::Rect notice(std::chrono::milliseconds limit) const;
    /// Confirms the notice (Return, or a click on its button) and waits for the viewer's window.
    bool confirm(Confirm how);
    /// Whether a loading notice came up in confirm().
    bool noticed() const { return _noticed; }
    /// Whether the viewer's window is up after the notice; otherwise `problem()` says why.
    bool ready() const { return _viewer != 0; }
    std::string problem() const { return _problem + "; standard error:\n" + errors(); }

    /// What the viewer's window shows now (BGR, 640x480).
    cv::Mat picture() const { return grab(_display, kWindow); }
    /// Looks at the window until `wanted` accepts what it shows, for up to `limit`; returns the
    /// last picture looked at, accepted or not.
    cv::Mat pictureWhen(const std::function<bool(const cv::Mat&)>& wanted,
                        std::chrono::milliseconds limit) const;
    /// Types `key` (an X key name such as "i") `times` times into the viewer's window.
    void press(const std::string& key, int times = 1) const;
    /// Asks the viewer's window to close, the way a window manager does.
    void close() const;
    /// Escape, then the exit status (-1 when the program did not end).
    int quit() { return press("Escape"), wait(); }
    bool running() const;
    /// Sends `number` (SIGTERM, ...) to the program, as a supervisor or a terminal does.
    void signal(int number) const;
    /// The exit status (0-255, 128+signal when killed), or -1 when it did not end in `limit`.
    int wait(std::chrono::milliseconds limit = std::chrono::seconds(20)) const {
        return until([this] { return !running(); }, limit), _status;
    }
    std::string output() const { return shell("cat " + _out); }  ///< standard output so far
    std::string errors() const { return shell("cat " + _err); }  ///< standard error so far

    static inline const cv::Rect kWindow{0, 0, 640, 480};

  private:
    std::string _display, _out, _err, _problem;
    int _pid = -1;
    mutable int _status = -1;
    mutable unsigned long _notice = 0, _viewer = 0;
    bool _noticed = false;
};

}  // namespace quorvtest
