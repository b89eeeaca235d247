#include "MovieStream.h"

#include <pthread.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <osg/Notify>
#include <set>
#include <utility>

namespace {

using Clock = std::chrono::steady_clock;

/// Every stream whose playback thread may be running, so that those threads are stopped at
/// process exit before the libraries they decode with are torn down, even when the program
/// keeps its movies to the very end. Never destroyed: a stream released by a static destructor
/// after the exit handler has run still finds it.
class LiveStreams {
  public:
    static LiveStreams& instance() {
        static LiveStreams* streams = [] {
            auto* created = new LiveStreams;
            std::atexit([] { LiveStreams::instance().quitAll(); });
            return created;
        }();
        return *streams;
    }
    void add(osg::ImageStream* stream) {
        std::lock_guard<std::mutex> lock(_mutex);
        _streams.insert(stream);
    }
    void remove(osg::ImageStream* stream) {
        std::lock_guard<std::mutex> lock(_mutex);
        _streams.erase(stream);
    }

  private:
    void quitAll() {
        std::set<osg::ImageStream*> streams;
        {
            std::lock_guard<std::mutex> lock(_mutex);
            streams.swap(_streams);
        }
        for (osg::ImageStream* stream : streams) stream->quit(true);
    }

    std::mutex _mutex;
    std::set<osg::ImageStream*> _streams;
};

}  // namespace

osg::ref_ptr<MovieStream> MovieStream::open(const std::string& path, std::string* why) {
    auto decoder = std::make_unique<MovieDecoder>();
    cv::Mat first;
    if (!decoder->open(path, first, why)) return nullptr;
    return new MovieStream(std::move(decoder), first);
}

MovieStream::MovieStream(std::unique_ptr<MovieDecoder> decoder, const cv::Mat& first)
    : _framesPerSecond(decoder->framesPerSecond()), _decoder(std::move(decoder)) {
    LiveStreams::instance();  // made before any thread starts, so its exit handler runs first
    allocateImage(first.cols, first.rows, 1, GL_BGR, GL_UNSIGNED_BYTE, 1);
    setInternalTextureFormat(GL_RGB);
    std::memcpy(data(), first.data, getTotalSizeInBytes());
    setFileName(_decoder->path());
    // OSG's draw may still read the picture while the next frame's update replaces it, unless
    // the viewer knows the image changes.
    setDataVariance(osg::Object::DYNAMIC);
    _status = PAUSED;
    _handoff.looping = getLoopingMode() == LOOPING;
    dirty();
}

MovieStream::~MovieStream() { quit(true); }

void MovieStream::play() {
    if (_status == PLAYING) return;
    _status = PLAYING;
    {
        std::lock_guard<std::mutex> lock(_handoff.mutex);
        _handoff.playing = true;
        if (_finished) _handoff.rewind = true;
        _handoff.wake.notify_all();
    }
    _finished = false;
    startThread();
}

void MovieStream::pause() {
    _status = PAUSED;
    std::lock_guard<std::mutex> lock(_handoff.mutex);
    if (!_handoff.playing) return;
    _handoff.playing = false;
    _handoff.wake.notify_all();
}

void MovieStream::rewind() {
    {
        std::lock_guard<std::mutex> lock(_handoff.mutex);
        _handoff.rewind = true;
        _handoff.wake.notify_all();
    }
    _finished = false;
    startThread();
}

void MovieStream::quit(bool waitForThreadToExit) {
    {
        std::lock_guard<std::mutex> lock(_handoff.mutex);
        _handoff.quit = true;
        _handoff.playing = false;
        _handoff.wake.notify_all();
    }
    if (_status == PLAYING) _status = PAUSED;
    // Without waiting, the thread ends on its own; the next start or the destructor joins it.
    if (waitForThreadToExit && _thread.joinable()) _thread.join();
    if (!_thread.joinable()) LiveStreams::instance().remove(this);
}

void MovieStream::applyLoopingMode() {
    std::lock_guard<std::mutex> lock(_handoff.mutex);
    _handoff.looping = getLoopingMode() == LOOPING;
}

void MovieStream::startThread() {
    if (_thread.joinable()) {
        std::unique_lock<std::mutex> lock(_handoff.mutex);
        if (!_handoff.quit) return;  // running
        lock.unlock();
        _thread.join();  // told to quit without being waited for
    }
    {
        std::lock_guard<std::mutex> lock(_handoff.mutex);
        _handoff.quit = false;
    }
    LiveStreams::instance().add(this);
    _thread = std::thread(&MovieStream::playbackLoop, this);
    // Named from here so that the name is in place when play returns.
    pthread_setname_np(_thread.native_handle(), "quorv-movie");
}

void MovieStream::update(osg::NodeVisitor*) {
    bool taken = false;
    bool ended = false;
    int index = 0;
    {
        std::lock_guard<std::mutex> lock(_handoff.mutex);
        if (_handoff.fresh && (_status == PLAYING || _handoff.showPaused)) {
            std::swap(_spare, _handoff.picture);
            index = _handoff.pictureIndex;
            _handoff.fresh = false;
            _handoff.showPaused = false;
            taken = true;
        }
        if (_handoff.ended) {
            _handoff.ended = false;
            _handoff.playing = false;
            ended = true;
        }
    }
    // The copy runs outside the lock: `_spare` is ours until the next swap.
    if (taken && _spare.isContinuous() &&
        _spare.total() * _spare.elemSize() == getTotalSizeInBytes()) {
        std::memcpy(data(), _spare.data, getTotalSizeInBytes());
        _shownIndex = index;
        dirty();
    }
    if (ended) {
        _status = PAUSED;
        _finished = true;
    }
}

bool MovieStream::decodeNext(bool looping) {
    if (_decoder->read(_pending)) {
        _pendingIndex = _nextIndex++;
        return true;
    }
    if (looping && _decoder->restart() && _decoder->read(_pending)) {
        _pendingIndex = 0;
        _nextIndex = 1;
        return true;
    }
    if (looping)
        osg::notify(osg::WARN) << "Quorv movie: cannot go back to the start of " << _decoder->path()
                               << "; playback stops" << std::endl;
    return false;
}

void MovieStream::playbackLoop() {
    const auto period = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(1.0 / _framesPerSecond));
    Clock::time_point runStart;
    long runPictures = 0;  // handed over since runStart
    bool inRun = false;

    std::unique_lock<std::mutex> lock(_handoff.mutex);
    while (!_handoff.quit) {
        if (_handoff.rewind) {
            _handoff.rewind = false;
            lock.unlock();
            const bool restarted = _decoder->restart() && _decoder->read(_pending);
            lock.lock();
            if (restarted) {
                std::swap(_pending, _handoff.picture);
                _handoff.pictureIndex = 0;
                _handoff.fresh = true;
                _handoff.showPaused = true;
                _handoff.ended = false;
                _nextIndex = 1;
                _hasPending = false;
                _atEnd = false;
            }
            inRun = false;  // the schedule starts again from the first picture
            continue;
        }
        if (!_handoff.playing || _atEnd) {
            inRun = false;
            _handoff.wake.wait(lock);
            continue;
        }
        if (!_hasPending) {
            const bool looping = _handoff.looping;
            lock.unlock();
            const bool decoded = decodeNext(looping);
            lock.lock();
            _hasPending = decoded;
            if (!decoded) {
                _atEnd = true;
                _handoff.ended = true;
            }
            continue;  // requests may have come while decoding
        }
        const Clock::time_point now = Clock::now();
        if (!inRun) {
            inRun = true;
            runStart = now;
            runPictures = 0;
        }
        const Clock::time_point due = runStart + period * (runPictures + 1);
        if (now < due) {
            _handoff.wake.wait_until(lock, due);  // or until a request
            continue;
        }
        if (now - due > 2 * period) {
            runStart = now;  // late: go on from here, don't rush to catch up
            runPictures = 0;
        } else {
            ++runPictures;
        }
        std::swap(_pending, _handoff.picture);
        _handoff.pictureIndex = _pendingIndex;
        _handoff.fresh = true;
        _hasPending = false;
    }
}
