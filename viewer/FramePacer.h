#pragma once

#include <chrono>
#include <osgViewer/Viewer>
#include <vector>

namespace osgART {
class Video;
}

/// Paces the frame loop: between two frames it waits until there is something new to show,
/// instead of drawing the same picture again as fast as the machine allows. Something new is
/// a camera picture waiting to be brought in, an input event for one of the viewer's windows
/// (keys, the window being closed, exposed or resized), or a deadline the caller knows of,
/// such as a playing movie's next picture. With nothing new it still returns after `kIdle`,
/// so the loop never sleeps for long on a source that cannot say when it has a picture.
class FramePacer {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kIdle{100};

    /// `video` may be null, or a source that cannot signal its pictures: then only events and
    /// deadlines wake the loop.
    FramePacer(osgViewer::Viewer& viewer, osgART::Video* video);

    /// Returns once something new is there to draw, or at `deadline` (or kIdle from now,
    /// whichever comes first).
    void wait(Clock::time_point deadline = Clock::time_point::max());

    /// Also wakes when `fd` polls readable (ignored when negative).
    void watch(int fd) {
        if (fd >= 0) _watched.push_back(fd);
    }

    /// `seconds` as a clock duration.
    static Clock::duration after(double seconds) {
        return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    }

  private:
    osgViewer::Viewer& _viewer;
    osgART::Video* _video;
    std::vector<int> _watched;
};
