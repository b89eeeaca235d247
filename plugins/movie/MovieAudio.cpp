#include "MovieAudio.h"

#include <algorithm>
#include <cstring>

MovieAudio::MovieAudio() : _ring(kCapacity * kChannels) {}

void MovieAudio::setAudioSink(osg::AudioSink* sink) {
    std::lock_guard<std::mutex> lock(_mutex);
    _sink = sink;
}

osg::ref_ptr<osg::AudioSink> MovieAudio::sink() const {
    std::lock_guard<std::mutex> lock(_mutex);
    return _sink;
}

void MovieAudio::consumeAudioBuffer(void* const buffer, const size_t size) {
    auto* out = static_cast<int16_t*>(buffer);
    const size_t wanted = size / (kChannels * sizeof(int16_t));
    size_t given = 0;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        if (_playing) {
            given = std::min(wanted, _fill);
            // The ring's frames from _head on, in at most two pieces.
            const size_t first = std::min(given, kCapacity - _head);
            std::memcpy(out, &_ring[_head * kChannels], first * kChannels * sizeof(int16_t));
            std::memcpy(out + first * kChannels, _ring.data(),
                        (given - first) * kChannels * sizeof(int16_t));
            _head = (_head + given) % kCapacity;
            _fill -= given;
            _handedOut += static_cast<int64_t>(given);
            // A pull of silence alone leaves the clock where the last sound put it.
            if (given > 0) {
                _lastPull = Clock::now();
                _lastPullFrames = given;
            }
        }
    }
    std::memset(reinterpret_cast<char*>(buffer) + given * kChannels * sizeof(int16_t), 0,
                size - given * kChannels * sizeof(int16_t));
}

void MovieAudio::setPlaying(bool playing) {
    std::lock_guard<std::mutex> lock(_mutex);
    _playing = playing;
    _lastPullFrames = 0;  // the time since the last pull says nothing across a pause
}

void MovieAudio::clear() {
    std::lock_guard<std::mutex> lock(_mutex);
    _head = _fill = 0;
    _handedOut = 0;
    _lastPullFrames = 0;
}

size_t MovieAudio::buffered() const {
    std::lock_guard<std::mutex> lock(_mutex);
    return _fill;
}

size_t MovieAudio::push(const int16_t* frames, size_t count) {
    std::lock_guard<std::mutex> lock(_mutex);
    count = std::min(count, kCapacity - _fill);
    for (size_t done = 0; done < count;) {
        const size_t at = (_head + _fill + done) % kCapacity;
        const size_t piece = std::min(count - done, kCapacity - at);
        int16_t* target = &_ring[at * kChannels];
        if (frames)
            std::memcpy(target, frames + done * kChannels, piece * kChannels * sizeof(int16_t));
        else
            std::memset(target, 0, piece * kChannels * sizeof(int16_t));
        done += piece;
    }
    _fill += count;
    return count;
}

bool MovieAudio::clock(Clock::time_point now, double* seconds) const {
    osg::ref_ptr<osg::AudioSink> sink;
    double heard = 0;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        if (!_sink || !_playing) return false;
        sink = _sink;
        heard = double(_handedOut) / kRate;
        if (_lastPullFrames > 0)
            heard += std::min(std::chrono::duration<double>(now - _lastPull).count(),
                              double(_lastPullFrames) / kRate);
    }
    // The sink is asked outside the lock: it may take the audio device's lock, which is held
    // around the pulls that take ours.
    if (!sink->playing()) return false;
    *seconds = heard - sink->getDelay();
    return true;
}
