#include "FramePacer.h"

#include <X11/Xlib.h>
#include <osgart/Video.h>
#include <poll.h>

#include <algorithm>
#include <osgViewer/api/X11/GraphicsWindowX11>

FramePacer::FramePacer(osgViewer::Viewer& viewer, osgART::Video* video)
    : _viewer(viewer), _video(video) {}

void FramePacer::wait(Clock::time_point deadline) {
    deadline = std::min(deadline, Clock::now() + kIdle);
    std::vector<pollfd> fds;
    // The windows are asked for anew each time: one closed by the window manager has closed
    // its connection too.
    osgViewer::ViewerBase::Windows windows;
    _viewer.getWindows(windows);
    for (osgViewer::GraphicsWindow* window : windows) {
        auto* x11 = dynamic_cast<osgViewer::GraphicsWindowX11*>(window);
        Display* display = x11 && x11->valid() ? x11->getEventDisplay() : nullptr;
        if (!display) continue;
        // Events Xlib has already read from the connection do not show on its socket.
        if (XPending(display) > 0) return;
        fds.push_back({ConnectionNumber(display), POLLIN, 0});
    }
    const int ready = _video ? _video->frameReadyFd() : -1;
    if (ready >= 0) fds.push_back({ready, POLLIN, 0});
    for (int fd : _watched) fds.push_back({fd, POLLIN, 0});
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return;
        const int n = poll(fds.data(), fds.size(), static_cast<int>(left.count()));
        if (n != 0) return;  // something arrived (or poll failed: draw rather than hang)
    }
}
