#include "MovieSoundSink.h"

MovieSoundSink::MovieSoundSink(osg::AudioStream* stream, double delay, bool closed)
    : _stream(stream), _closed(closed) {
    setDelay(delay);
}

void MovieSoundSink::play() { _played = true; }

void MovieSoundSink::pause() { _played = false; }

void MovieSoundSink::stop() { _played = false; }

bool MovieSoundSink::playing() const { return _played && !_closed; }

bool MovieSoundSink::pull(void* buffer, size_t bytes) {
    if (!playing()) return false;
    osg::ref_ptr<osg::AudioStream> stream;
    if (!_stream.lock(stream)) return false;
    stream->consumeAudioBuffer(buffer, bytes);
    return true;
}

void MovieSoundSink::close() { _closed = true; }
