#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <opencv2/core.hpp>
#include <string>

#include "support/Desktop.h"

namespace quorvtest {

/// The real program with its real plugins, run in an exhibit folder on a private X server and
/// fed a video file as its camera, in a 640x480 window at the screen's top-left corner, so that
/// window pixel (x, y) shows camera pixel (x, y). The loading notice is confirmed on start.
class ExhibitRun {
  public:
    ExhibitRun(const XServer& server, const std::string& exhibitFolder, const std::string& video);
    ~ExhibitRun();
    ExhibitRun(const ExhibitRun&) = delete;
    ExhibitRun& operator=(const ExhibitRun&) = delete;

    /// Whether the notice was confirmed and the viewer's window is up; otherwise `problem()`
    /// says what went wrong.
    bool ready() const { return _viewer != 0; }
    std::string problem() const;

    /// What the viewer's window shows now (BGR, 640x480).
    cv::Mat picture() const;
    /// Looks at the window until `wanted` accepts what it shows, for up to `limit`; returns the
    /// last picture looked at, accepted or not.
    cv::Mat pictureWhen(const std::function<bool(const cv::Mat&)>& wanted,
                        std::chrono::milliseconds limit) const;

    /// Types `key` (an X key name such as "i") `times` times into the viewer's window.
    void press(const std::string& key, int times = 1) const;

    /// Escape, then the exit status (-1 when the program did not end).
    int quit();

    static const cv::Rect kWindow;

  private:
    const XServer& _server;
    std::unique_ptr<Process> _process;
    unsigned long _viewer = 0;
    std::string _problem;
};

}  // namespace quorvtest
