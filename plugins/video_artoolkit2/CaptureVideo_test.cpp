#include "CaptureVideo.h"

#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>

#include <cstdio>
#include <set>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;

/// Frame i of the test clips is a flat grey of level 2·i, so a picture tells which frame it is.
int frameIndexOf(const osg::Image& image) {
    const unsigned char* p = image.data(image.s() / 2, image.t() / 2);
    return (p[0] + 1) / 2;
}

std::string writeClip(const std::string& name, int frames, cv::Size size) {
    const std::string path = ::testing::TempDir() + name;
    cv::VideoWriter writer(path, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 30.0, size);
    EXPECT_TRUE(writer.isOpened());
    for (int i = 0; i < frames; ++i) writer.write(cv::Mat(size, CV_8UC3, cv::Scalar::all(2 * i)));
    return path;
}

/// Calls update with new frame numbers until it brings a frame or the time is up.
bool waitForFrame(CaptureVideo& video, osg::FrameStamp& stamp, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        stamp.setFrameNumber(stamp.getFrameNumber() + 1);
        if (video.update(&stamp)) return true;
        std::this_thread::sleep_for(5ms);
    }
    return false;
}

FrameSource::Options optionsFor(const std::string& location) {
    FrameSource::Options options;
    options.location = location;
    return options;
}

TEST(CaptureVideo, PlaysAFileAtItsOwnSizeAndHandsOverOnlyTheNewestFrame) {
    const std::string clip = writeClip("quorv_clip.avi", 100, cv::Size(160, 120));
    osg::ref_ptr<CaptureVideo> video = new CaptureVideo(optionsFor(clip));
    ASSERT_TRUE(video->open());
    EXPECT_EQ(video->s(), 160);
    EXPECT_EQ(video->t(), 120);
    EXPECT_TRUE(video->hasSource());
    EXPECT_EQ(video->getPixelFormat(), static_cast<GLenum>(GL_BGR));

    osg::ref_ptr<osg::FrameStamp> stamp = new osg::FrameStamp;
    video->start();
    ASSERT_TRUE(waitForFrame(*video, *stamp, 3000ms));
    EXPECT_NE(video->captureThreadId(), 0);
    // A second call within the same frame number never changes the picture.
    EXPECT_FALSE(video->update(stamp.get()));

    // Nobody takes frames for a second: the next update brings a frame from about now, not the
    // oldest one still waiting.
    const int first = frameIndexOf(*video);
    std::this_thread::sleep_for(1000ms);
    ASSERT_TRUE(waitForFrame(*video, *stamp, 1000ms));
    const int later = frameIndexOf(*video);
    EXPECT_GE(later - first, 20) << "first " << first << " later " << later;
    const uint64_t counted = video->frameCount();
    EXPECT_GE(counted, 2u);

    video->close(true);
    EXPECT_EQ(video->captureThreadId(), 0);
    EXPECT_FALSE(video->hasSource());
}

TEST(CaptureVideo, ShowsBlackWithoutASourceAndPicksItUpWhenItAppears) {
    const std::string clip = ::testing::TempDir() + "quorv_late_clip.avi";
    std::remove(clip.c_str());
    osg::ref_ptr<CaptureVideo> video = new CaptureVideo(optionsFor(clip));
    ASSERT_TRUE(video->open());
    EXPECT_FALSE(video->hasSource());
    ASSERT_EQ(video->s(), 640);
    ASSERT_EQ(video->t(), 480);
    for (unsigned int i = 0; i < video->getTotalSizeInBytes(); i += 997) EXPECT_EQ(video->data()[i], 0);

    video->start();
    std::this_thread::sleep_for(200ms);
    writeClip("quorv_late_clip.avi", 60, cv::Size(320, 240));
    osg::ref_ptr<osg::FrameStamp> stamp = new osg::FrameStamp;
    ASSERT_TRUE(waitForFrame(*video, *stamp, 4000ms));
    EXPECT_TRUE(video->hasSource());
    // The picture keeps the size the video was opened with.
    EXPECT_EQ(video->s(), 640);
    EXPECT_EQ(video->t(), 480);
    video->close(true);
}

TEST(CaptureVideo, PlaysAnImageSequenceInALoop) {
    const std::string folder = ::testing::TempDir();
    for (int i = 0; i < 5; ++i) {
        char name[64];
        std::snprintf(name, sizeof(name), "quorv_seq_%03d.png", i);
        cv::imwrite(folder + name, cv::Mat(48, 64, CV_8UC3, cv::Scalar::all(2 * (i + 1))));
    }
    osg::ref_ptr<CaptureVideo> video = new CaptureVideo(optionsFor(folder + "quorv_seq_%03d.png"));
    ASSERT_TRUE(video->open());
    EXPECT_EQ(video->s(), 64);
    EXPECT_EQ(video->t(), 48);
    video->start();
    osg::ref_ptr<osg::FrameStamp> stamp = new osg::FrameStamp;
    // Five frames at 30 fps loop every 167 ms: over a second every frame shows up.
    std::set<int> seen;
    const auto end = std::chrono::steady_clock::now() + 1500ms;
    while (std::chrono::steady_clock::now() < end && seen.size() < 5) {
        if (waitForFrame(*video, *stamp, 500ms)) seen.insert(frameIndexOf(*video));
    }
    EXPECT_EQ(seen, (std::set<int>{1, 2, 3, 4, 5}));
    video->close(true);
}

}  // namespace
