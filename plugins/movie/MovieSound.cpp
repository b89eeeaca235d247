#include "MovieSound.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

#include <cmath>

namespace {

/// Packets of other streams read in one call before giving the caller a turn: a file whose
/// sound ends early is read to its end picture packet by picture packet.
constexpr int kPacketsPerCall = 16;

std::string errorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

}  // namespace

MovieSound::~MovieSound() { close(); }

bool MovieSound::open(const std::string& path, double framesPerSecond, std::string* why) {
    _path = path;
    _framesPerSecond = framesPerSecond;
    return openFile(why);
}

bool MovieSound::restart() {
    close();
    return openFile(nullptr);
}

void MovieSound::close() {
    swr_free(&_resampler);
    avcodec_free_context(&_codec);
    avformat_close_input(&_format);
    av_packet_free(&_packet);
    av_frame_free(&_frame);
    _audioIndex = _videoIndex = -1;
    _inFormat = -1;
    _inRate = _inChannels = 0;
    _videoPackets = _soundEnd = _headerEnd = 0;
    _failures = 0;
    _draining = _over = false;
    _failure.clear();
}

bool MovieSound::openFile(std::string* why) {
    const auto refuse = [&](const std::string& reason) {
        if (why) *why = reason;
        close();
        return false;
    };
    if (avformat_open_input(&_format, _path.c_str(), nullptr, nullptr) < 0 ||
        avformat_find_stream_info(_format, nullptr) < 0)
        return refuse("FFmpeg cannot read its streams");
    for (unsigned i = 0; i < _format->nb_streams; ++i) {
        AVStream* stream = _format->streams[i];
        const AVMediaType type = stream->codecpar->codec_type;
        if (type == AVMEDIA_TYPE_AUDIO && _audioIndex < 0)
            _audioIndex = static_cast<int>(i);
        else if (type == AVMEDIA_TYPE_VIDEO && _videoIndex < 0 &&
                 !(stream->disposition & AV_DISPOSITION_ATTACHED_PIC))
            _videoIndex = static_cast<int>(i);
        else
            stream->discard = AVDISCARD_ALL;
    }
    if (_audioIndex < 0) return refuse("");
    const AVCodecParameters* parameters = _format->streams[_audioIndex]->codecpar;
    const int channels = parameters->ch_layout.nb_channels;
    if (channels < 1 || channels > kMaxChannels)
        return refuse("its sound has " + std::to_string(channels) + " channels");
    if (parameters->sample_rate < kMinRate || parameters->sample_rate > kMaxRate)
        return refuse("its sound's rate of " + std::to_string(parameters->sample_rate) +
                      " Hz is outside " + std::to_string(kMinRate) + "-" +
                      std::to_string(kMaxRate) + " Hz");
    const AVCodec* decoder = avcodec_find_decoder(parameters->codec_id);
    if (!decoder)
        return refuse(std::string("FFmpeg has no decoder for its sound (") +
                      avcodec_get_name(parameters->codec_id) + ")");
    _codec = avcodec_alloc_context3(decoder);
    if (!_codec || avcodec_parameters_to_context(_codec, parameters) < 0)
        return refuse("its sound's parameters are unusable");
    _codec->thread_count = 1;  // sound is cheap; no threads of FFmpeg's own
    _codec->pkt_timebase = _format->streams[_audioIndex]->time_base;
    if (const int code = avcodec_open2(_codec, decoder, nullptr); code < 0)
        return refuse("its sound decoder does not open (" + errorText(code) + ")");
    _packet = av_packet_alloc();
    _frame = av_frame_alloc();
    if (!_packet || !_frame) return refuse("out of memory");
    // Movie time 0 is the first picture, the one the picture decoder numbers 0.
    const AVStream* video = _videoIndex >= 0 ? _format->streams[_videoIndex] : nullptr;
    if (video && video->start_time != AV_NOPTS_VALUE)
        _origin = video->start_time * av_q2d(video->time_base);
    else if (_format->start_time != AV_NOPTS_VALUE)
        _origin = _format->start_time / double(AV_TIME_BASE);
    else
        _origin = 0;
    if (video && video->nb_frames > 0)
        _headerEnd = std::llround(double(video->nb_frames) / _framesPerSecond * kRate);
    return true;
}

int64_t MovieSound::endPosition() const {
    if (_videoPackets > 0) return std::llround(double(_videoPackets) / _framesPerSecond * kRate);
    return _soundEnd;
}

MovieSound::Step MovieSound::fail(const std::string& why) {
    // The rest of the track is silence; the demuxer goes on counting pictures to the end.
    if (_failure.empty()) _failure = why;
    return Step::Nothing;
}

MovieSound::Step MovieSound::next(std::vector<int16_t>& out, int64_t* position) {
    out.clear();
    if (_over || !_format) return Step::End;
    for (int otherPackets = 0; otherPackets < kPacketsPerCall;) {
        if (_failure.empty()) {
            const int received = avcodec_receive_frame(_codec, _frame);
            if (received == 0) {
                const int64_t pts = _frame->best_effort_timestamp;
                const double seconds =
                    pts == AV_NOPTS_VALUE
                        ? _soundEnd / double(kRate)
                        : pts * av_q2d(_format->streams[_audioIndex]->time_base) - _origin;
                const bool converted = convert(_frame, out, seconds, position);
                av_frame_unref(_frame);
                if (!converted) return fail("its sound cannot be converted");
                if (out.empty() || (_headerEnd > 0 && *position >= _headerEnd)) {
                    out.clear();
                    return Step::Nothing;
                }
                _failures = 0;
                _soundEnd = *position + static_cast<int64_t>(out.size() / kChannels);
                return Step::Sound;
            }
            if (received == AVERROR_EOF) {
                convert(nullptr, out, _soundEnd / double(kRate), position);
                _over = true;
                if (out.empty()) return Step::End;
                _soundEnd = *position + static_cast<int64_t>(out.size() / kChannels);
                return Step::Sound;
            }
            if (received != AVERROR(EAGAIN) && ++_failures >= kMaxFailures)
                return fail("its sound does not decode (" + errorText(received) + ")");
        }
        if (_draining) {  // a given-up track at the end of the file
            _over = true;
            return Step::End;
        }
        if (av_read_frame(_format, _packet) < 0) {
            _draining = true;
            if (_failure.empty()) avcodec_send_packet(_codec, nullptr);
            continue;
        }
        if (_packet->stream_index == _videoIndex) {
            ++_videoPackets;
            ++otherPackets;
        } else if (_packet->stream_index == _audioIndex && _failure.empty()) {
            const int sent = avcodec_send_packet(_codec, _packet);
            if (sent < 0 && sent != AVERROR(EAGAIN) && ++_failures >= kMaxFailures) {
                av_packet_unref(_packet);
                return fail("its sound does not decode (" + errorText(sent) + ")");
            }
        } else {
            ++otherPackets;
        }
        av_packet_unref(_packet);
    }
    return Step::Nothing;
}

bool MovieSound::convert(const AVFrame* frame, std::vector<int16_t>& out, double seconds,
                         int64_t* position) {
    out.clear();
    if (frame && (frame->format != _inFormat || frame->sample_rate != _inRate ||
                  frame->ch_layout.nb_channels != _inChannels || !_resampler)) {
        // A frame may differ from the header, or from the frame before it: rebuild.
        swr_free(&_resampler);
        _inFormat = frame->format;
        _inRate = frame->sample_rate;
        _inChannels = frame->ch_layout.nb_channels;
        if (_inRate < kMinRate || _inRate > kMaxRate || _inChannels < 1 ||
            _inChannels > kMaxChannels)
            return false;
        AVChannelLayout in{};
        if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
            av_channel_layout_default(&in, _inChannels);
        else if (av_channel_layout_copy(&in, &frame->ch_layout) < 0)
            return false;
        AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;  // FFmpeg 5 takes it non-const
        const int made =
            swr_alloc_set_opts2(&_resampler, &stereo, AV_SAMPLE_FMT_S16, kRate, &in,
                                static_cast<AVSampleFormat>(_inFormat), _inRate, 0, nullptr);
        av_channel_layout_uninit(&in);
        if (made < 0 || swr_init(_resampler) < 0) {
            swr_free(&_resampler);
            return false;
        }
    }
    if (!_resampler) return true;
    // What the resampler still holds from earlier frames comes out first.
    *position = std::llround(seconds * kRate) - swr_get_delay(_resampler, kRate);
    const int inSamples = frame ? frame->nb_samples : 0;
    const int capacity = swr_get_out_samples(_resampler, inSamples);
    if (capacity < 0) return false;
    out.resize(static_cast<size_t>(capacity) * kChannels);
    auto* target = reinterpret_cast<uint8_t*>(out.data());
    const int made =
        swr_convert(_resampler, &target, capacity,
                    frame ? const_cast<const uint8_t**>(frame->extended_data) : nullptr, inSamples);
    if (made < 0) return false;
    out.resize(static_cast<size_t>(made) * kChannels);
    return true;
}
