#include "MovieStream.h"

#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <osg/Notify>
#include <set>
#include <utility>

namespace {

using Clock = std::chrono::steady_clock;

/// Sound kept decoded ahead of the pulls, in frames: 0.75 s, within the one-second buffer.
constexpr size_t kSoundAhead = MovieAudio::kRate * 3 / 4;
/// A piece of sound this far (in frames, 10 ms) from where the last one ended is placed by its
/// time stamp, with silence before it or its overlap dropped; nearer, it follows on seamlessly.
constexpr int64_t kSoundSlack = MovieAudio::kRate / 100;
/// Longest wait of the playback thread while the sound paces it, so that the buffer is topped
/// up in time.
constexpr auto kSoundPoll = std::chrono::milliseconds(40);

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
    auto sound = std::make_unique<MovieSound>();
    std::string soundWhy;
    if (!sound->open(path, decoder->framesPerSecond(), &soundWhy)) {
        if (!soundWhy.empty())
            osg::notify(osg::WARN) << "Quorv movie: " << path << ": " << soundWhy
                                   << "; the movie plays without sound" << std::endl;
        sound.reset();
    }
    return new MovieStream(std::move(decoder), first, std::move(sound));
}

MovieStream::MovieStream(std::unique_ptr<MovieDecoder> decoder, const cv::Mat& first,
                         std::unique_ptr<MovieSound> sound)
    : _framesPerSecond(decoder->framesPerSecond()),
      _decoder(std::move(decoder)),
      _sound(std::move(sound)) {
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
    if (_sound) {
        _audio = new MovieAudio;
        setAudioStreams({_audio});
    }
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
    soundPlays(true);
    startThread();
}

void MovieStream::soundPlays(bool playing) {
    if (!_audio) return;
    _audio->setPlaying(playing);
    if (osg::ref_ptr<osg::AudioSink> sink = _audio->sink()) playing ? sink->play() : sink->pause();
}

void MovieStream::pause() {
    _status = PAUSED;
    soundPlays(false);
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
    if (_audio) {
        _audio->setPlaying(false);
        if (osg::ref_ptr<osg::AudioSink> sink = _audio->sink()) sink->stop();
    }
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
        // The next round starts where the sound started it; without sound ahead, at the end of
        // this round's pictures.
        if (_roundStarts.empty()) {
            _roundStart += _nextIndex / _framesPerSecond;
        } else {
            _roundStart = double(_roundStarts.front()) / MovieAudio::kRate;
            _roundStarts.pop_front();
        }
        _pendingIndex = 0;
        _nextIndex = 1;
        return true;
    }
    if (looping)
        osg::notify(osg::WARN) << "Quorv movie: cannot go back to the start of " << _decoder->path()
                               << "; playback stops" << std::endl;
    return false;
}

bool MovieStream::soundWanted() const {
    return _audio && !_soundOver && _audio->sink().valid() && _audio->buffered() < kSoundAhead;
}

void MovieStream::restartSound() {
    if (!_audio) return;
    _audio->clear();
    _soundOver = !_sound->restart();
    _piece.clear();
    _pieceDone = 0;
    _soundWritten = _soundRound = 0;
    _roundStarts.clear();
    _roundStart = 0;
}

void MovieStream::feedSound(bool looping) {
    if (_pieceDone >= _piece.size() / MovieAudio::kChannels) {
        const MovieSound::Step step = _sound->next(_piece, &_piecePosition);
        _pieceDone = 0;
        if (!_sound->failure().empty() && !_soundWarned) {
            _soundWarned = true;
            osg::notify(osg::WARN)
                << "Quorv movie: " << _decoder->path() << ": " << _sound->failure()
                << "; silence for the rest of it" << std::endl;
        }
        if (step == MovieSound::Step::End) {
            // Silence to the end of the pictures, then the next round from there.
            const int64_t end = _soundRound + _sound->endPosition();
            if (_soundWritten < end) {
                _soundWritten += _audio->push(nullptr, size_t(end - _soundWritten));
                if (_soundWritten < end) return;  // the rest when there is room
            }
            if (!looping || _sound->endPosition() <= 0) {  // no round to go on with
                _soundOver = true;
                return;
            }
            _soundRound = end;
            _roundStarts.push_back(end);
            if (!_sound->restart()) _soundOver = true;
            return;
        }
        if (step != MovieSound::Step::Sound) return;
    }
    const size_t frames = _piece.size() / MovieAudio::kChannels;
    const int64_t at = _soundRound + _piecePosition + int64_t(_pieceDone);
    if (at > _soundWritten + kSoundSlack) {  // a gap: silence up to the piece
        _soundWritten += _audio->push(nullptr, size_t(at - _soundWritten));
        if (_soundWritten < at) return;
    } else if (at + kSoundSlack < _soundWritten) {  // an overlap: what is already there stays
        _pieceDone = std::min(frames, _pieceDone + size_t(_soundWritten - at));
    }
    const size_t taken =
        _audio->push(&_piece[_pieceDone * MovieAudio::kChannels], frames - _pieceDone);
    _pieceDone += taken;
    _soundWritten += int64_t(taken);
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
            restartSound();
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
        // One step of sound decoding per turn, then the pictures get theirs: a track that ends
        // early has the rest of the file read for its picture count, a few packets a step.
        const bool feeding = soundWanted();
        if (feeding) {
            const bool looping = _handoff.looping;
            lock.unlock();
            feedSound(looping);
            lock.lock();
            if (_handoff.quit || _handoff.rewind || !_handoff.playing) continue;
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
                lock.unlock();
                soundPlays(false);  // silence from the next pull, not the buffer's leftovers
                lock.lock();
            }
            continue;  // requests may have come while decoding
        }
        const Clock::time_point now = Clock::now();
        double heard = 0;
        // Paced by the sound while there is sound to come: the picture is due when the sound
        // heard reaches it. A track that could not go on leaves the pictures to the steady clock.
        if (_audio && !(_soundOver && _audio->buffered() == 0) && _audio->clock(now, &heard)) {
            inRun = false;
            const double ahead = _roundStart + _pendingIndex / _framesPerSecond - heard;
            if (ahead > 0) {
                const auto wait = std::chrono::duration_cast<Clock::duration>(
                    std::chrono::duration<double>(ahead));
                if (!feeding)
                    _handoff.wake.wait_until(lock,
                                             now + std::min<Clock::duration>(wait, kSoundPoll));
                continue;
            }
        } else {
            if (!inRun) {
                inRun = true;
                runStart = now;
                runPictures = 0;
            }
            const Clock::time_point due = runStart + period * (runPictures + 1);
            if (now < due) {
                if (!feeding) _handoff.wake.wait_until(lock, due);  // or until a request
                continue;
            }
            if (now - due > 2 * period) {
                runStart = now;  // late: go on from here, don't rush to catch up
                runPictures = 0;
            } else {
                ++runPictures;
            }
        }
        std::swap(_pending, _handoff.picture);
        _handoff.pictureIndex = _pendingIndex;
        _handoff.fresh = true;
        _hasPending = false;
    }
}
