#pragma once

#include <osg/AudioStream>

#include <atomic>

namespace quorvtest {

/// A sink as the program's sound library makes it: it plays between the movie's play and its
/// pause or stop, and whoever holds it pulls the samples from the stream on a thread of its own.
struct FollowingSink : osg::AudioSink {
    void play() override { on = true; }
    void pause() override { on = false; }
    void stop() override { on = false; }
    bool playing() const override { return on; }
    std::atomic<bool> on{false};
};

}  // namespace quorvtest
