#include "CaptureVideo.h"

#include <gtest/gtest.h>

#include <opencv2/videoio.hpp>
#include <thread>

namespace {

using namespace std::chrono_literals;
const std::string kPrefix = ::testing::TempDir() + "quorv_capture_" + std::to_string(getpid());

/// Frame i of the test clips is a flat grey of level 2·i, so a picture tells which frame it is.
int frameIndexOf(const osg::Image& image) {
    return (image.data(image.s() / 2, image.t() / 2)[0] + 1) / 2;
}

/// Calls update with new frame numbers until it brings a frame, for up to 20 s.
bool nextFrame(CaptureVideo& video, osg::FrameStamp& stamp) {
    for (auto end = std::chrono::steady_clock::now() + 20s; std::chrono::steady_clock::now() < end;
         std::this_thread::sleep_for(5ms)) {
        stamp.setFrameNumber(stamp.getFrameNumber() + 1);
        if (video.update(&stamp)) return true;
    }
    return false;
}

// A black picture without a source, the source picked up again when it comes back, and image
// sequences played in a loop are seen on screen (bad_inputs_test, program_test).
TEST(CaptureVideo, PlaysAFileAtItsOwnSizeAndHandsOverOnlyTheNewestFrame) {
    {
        cv::VideoWriter out(kPrefix + ".avi", cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 30,
                            {160, 120});
        for (int i = 0; i < 100; ++i) out.write(cv::Mat(120, 160, CV_8UC3, cv::Scalar::all(2 * i)));
    }
    osg::ref_ptr<CaptureVideo> video = new CaptureVideo({kPrefix + ".avi"});
    ASSERT_TRUE(video->open());
    video->start();
    EXPECT_EQ(video->s() * 1000 + video->t(), 160120);
    osg::ref_ptr<osg::FrameStamp> stamp = new osg::FrameStamp;
    ASSERT_TRUE(nextFrame(*video, *stamp));
    EXPECT_TRUE(video->hasSource() && video->captureThreadId() != 0);
    EXPECT_FALSE(video->update(stamp.get())) << "a second update in one frame changed the picture";
    // Nobody takes frames for a while: the next one handed over is the newest, not the one after
    // the last taken. (A longer wait each time, for a busy machine.)
    int skipped = 0;
    for (auto idle = 250ms; skipped < 2 && idle <= 4s; idle *= 2) {
        // Two frames in a row first: the second is as new as a frame can be.
        ASSERT_TRUE(nextFrame(*video, *stamp) && nextFrame(*video, *stamp));
        const int before = frameIndexOf(*video);
        std::this_thread::sleep_for(idle);
        ASSERT_TRUE(nextFrame(*video, *stamp));
        skipped = (frameIndexOf(*video) - before + 100) % 100;
    }
    EXPECT_GE(skipped, 2);
    video->close(true);
    EXPECT_FALSE(video->hasSource() || video->captureThreadId() != 0);
}

}  // namespace
