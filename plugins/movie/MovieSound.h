#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct AVFormatContext;
struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwrContext;

/// Decodes the first audio stream of a movie file with FFmpeg's libraries into the program's one
/// mixer format: signed 16-bit stereo at 22050 Hz, interleaved. Each piece of sound comes with
/// its place in the movie's time, counted in output frames from the movie's first picture, so
/// that sound and pictures (decoded elsewhere, numbered from that picture) share one time line.
///
/// While demuxing, it also counts the packets of the first video stream: when the sound ends, the
/// movie's length is that count over the pictures' frame rate, which is where a loop starts over.
///
/// Not thread safe: one thread at a time uses a decoder.
class MovieSound {
  public:
    static constexpr int kRate = 22050;
    static constexpr int kChannels = 2;
    /// Sample rates outside this range are refused as not a sound track anyone can hear.
    static constexpr int kMinRate = 1000;
    static constexpr int kMaxRate = 384000;
    /// More channels than this is a damaged header, not a sound track.
    static constexpr int kMaxChannels = 64;
    /// A track that fails this many packets in a row is given up; the rest of it is silence.
    static constexpr int kMaxFailures = 32;

    MovieSound() = default;
    MovieSound(const MovieSound&) = delete;
    MovieSound& operator=(const MovieSound&) = delete;
    ~MovieSound();

    /// Opens the first audio stream of `path`; `framesPerSecond` is the pictures' rate. False when
    /// there is none (`why` left empty) or it cannot be played (the reason in `why`).
    bool open(const std::string& path, double framesPerSecond, std::string* why);

    enum class Step {
        Sound,    ///< `out` holds a piece of sound, first frame at `*position`
        Nothing,  ///< a packet gave no sound; call again
        End,      ///< the track is over; `endPosition()` is the movie's length
    };
    /// Decodes the next piece of sound into `out` (replacing its contents).
    Step next(std::vector<int16_t>& out, int64_t* position);

    /// Back to the start of the movie (reopens the file, the one exact way for every container).
    bool restart();

    /// The movie's length in output frames: the pictures counted at the end of the track, or the
    /// end of the sound when the file has no picture packets.
    int64_t endPosition() const;

    /// Why the track was given up (the rest of it is silence); empty while it decodes.
    const std::string& failure() const { return _failure; }

  private:
    bool openFile(std::string* why);
    void close();
    /// Converts `frame` (null to drain the resampler), which starts `seconds` into the movie,
    /// into `out`, setting `*position` to its first output frame; false on a conversion error.
    bool convert(const AVFrame* frame, std::vector<int16_t>& out, double seconds,
                 int64_t* position);
    /// Gives the rest of the track up (silence), remembering the first reason.
    Step fail(const std::string& why);

    std::string _path;
    double _framesPerSecond = 25;
    AVFormatContext* _format = nullptr;
    AVCodecContext* _codec = nullptr;
    SwrContext* _resampler = nullptr;
    AVPacket* _packet = nullptr;
    AVFrame* _frame = nullptr;
    int _audioIndex = -1;
    int _videoIndex = -1;
    double _origin = 0;  ///< seconds in the file's time of the movie's first picture
    // The resampler's input layout, rebuilt when a frame brings another.
    int _inFormat = -1, _inRate = 0, _inChannels = 0;
    int64_t _videoPackets = 0;
    int64_t _soundEnd = 0;  ///< output frame after the last one given
    /// The pictures' end as the file's header counts them, 0 when it does not: sound past it is
    /// dropped rather than heard over the start of the next round.
    int64_t _headerEnd = 0;
    int _failures = 0;
    bool _draining = false;  ///< the demuxer is at its end; the decoder gives what it holds
    bool _over = false;
    std::string _failure;
};
