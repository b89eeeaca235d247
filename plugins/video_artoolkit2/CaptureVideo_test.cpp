#include "CaptureVideo.h"

#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>
#include <set>
#include <thread>

namespace {

using namespace std::chrono_literals;
const std::string kPrefix = ::testing::TempDir() + "quorv_capture_" + std::to_string(getpid());

/// Frame i of the test clips is a flat grey of level 2·i, so a picture tells which frame it is.
int frameIndexOf(const osg::Image& image) {
    return (image.data(image.s() / 2, image.t() / 2)[0] + 1) / 2;
}

/// Writes the clip elsewhere and moves it into place, so that it appears whole.
std::string writeClip(const std::string& path, int frames, cv::Size size) {
    cv::VideoWriter writer(path + ".tmp.avi", cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 30,
                           size);
    for (int i = 0; i < frames; ++i) writer.write(cv::Mat(size, CV_8UC3, cv::Scalar::all(2 * i)));
    writer.release();
    std::rename((path + ".tmp.avi").c_str(), path.c_str());
    return path;
}

/// The video of `location`, opened and started.
osg::ref_ptr<CaptureVideo> started(const std::string& location) {
    FrameSource::Options options;
    options.location = location;
    osg::ref_ptr<CaptureVideo> video = new CaptureVideo(options);
    EXPECT_TRUE(video->open());
    video->start();
    return video;
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

TEST(CaptureVideo, PlaysAFileAtItsOwnSizeAndHandsOverOnlyTheNewestFrame) {
    auto video = started(writeClip(kPrefix + ".avi", 100, {160, 120}));
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

TEST(CaptureVideo, ShowsBlackWithoutASourceAndPicksItUpWhenItAppears) {
    const std::string late = kPrefix + "_late.avi";
    std::remove(late.c_str());
    auto video = started(late);
    EXPECT_FALSE(video->hasSource());
    ASSERT_EQ(video->s() * 1000 + video->t(), 640480);
    EXPECT_EQ(*std::max_element(video->data(), video->data() + video->getTotalSizeInBytes()), 0);
    writeClip(late, 60, {320, 240});
    osg::ref_ptr<osg::FrameStamp> stamp = new osg::FrameStamp;
    ASSERT_TRUE(nextFrame(*video, *stamp));
    EXPECT_TRUE(video->hasSource());
    EXPECT_EQ(video->s() * 1000 + video->t(), 640480) << "not the size it was opened with";
}

TEST(CaptureVideo, PlaysAnImageSequenceInALoop) {
    for (int i = 0; i < 5; ++i)
        cv::imwrite(kPrefix + "_" + std::to_string(i) + ".png",
                    cv::Mat(48, 64, CV_8UC3, cv::Scalar::all(2 * i + 2)));
    auto video = started(kPrefix + "_%d.png");
    EXPECT_EQ(video->s() * 1000 + video->t(), 64048);
    osg::ref_ptr<osg::FrameStamp> stamp = new osg::FrameStamp;
    std::set<int> seen;
    for (int i = 0; i < 100 && seen.size() < 5 && nextFrame(*video, *stamp); ++i)
        seen.insert(frameIndexOf(*video));
    EXPECT_EQ(seen, (std::set<int>{1, 2, 3, 4, 5}));
}

}  // namespace
