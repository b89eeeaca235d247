#include "SoundLibrary.h"

#include <SDL.h>
#include <SDL_mixer.h>
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <thread>

namespace {

using namespace std::chrono_literals;

/// A 22050 Hz, 16-bit stereo WAV file of this process: a level of 3000 for `seconds`.
std::string writeWav(const std::string& name, double seconds) {
    const std::vector<int16_t> pcm(size_t(seconds * 44100), 3000);
    const uint32_t n = uint32_t(pcm.size() * 2);
    // "RIFF", size, "WAVE", "fmt ", 16, PCM in 2 channels, rate, byte rate, 4-byte frames of
    // 16 bits, "data", size.
    const uint32_t header[] = {0x46464952, 36 + n, 0x45564157, 0x20746d66, 16, 0x20001,
                               22050,      88200,  0x100004,   0x61746164, n};
    const std::string path = ::testing::TempDir() + name + std::to_string(getpid()) + ".wav";
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(header), sizeof header)
        .write(reinterpret_cast<const char*>(pcm.data()), n);
    return path;
}

/// A movie's sound track as the movie plugin hands it out: a level of 8000 on both channels, at
/// `rate`; it counts the frames pulled.
struct FakeMovieSound : osg::AudioStream {
    explicit FakeMovieSound(int rate) : rate(rate) {}
    void setAudioSink(osg::AudioSink* audioSink) override { sink = audioSink; }
    void consumeAudioBuffer(void* const buffer, const size_t bytes) override {
        std::fill_n(static_cast<int16_t*>(buffer), bytes / 2, int16_t(8000));
        frames += long(bytes / 4);
    }
    int audioFrequency() const override { return rate; }
    int audioNbChannels() const override { return 2; }
    SampleFormat audioSampleFormat() const override { return SAMPLE_FORMAT_S16; }
    osg::Object* cloneType() const override { return nullptr; }
    osg::Object* clone(const osg::CopyOp&) const override { return nullptr; }
    const int rate;
    std::atomic<long> frames{0};
    osg::ref_ptr<osg::AudioSink> sink;
};

// Recorded by SDL's disk driver: the movie's 8000 under a sound of 1500 (3000 at half volume).
TEST(SoundLibrary, AMovieIsMixedUnderTheSoundsDuckedAndLetGoBeforeTheDeviceCloses) {
    const std::string phrase = writeWav("quorv_phrase", 0.5),
                      file = ::testing::TempDir() + "quorv_mix" + std::to_string(getpid());
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", file.c_str(), 1);
    setenv("SDL_DISKAUDIODELAY", "40", 1);
    osg::ref_ptr<FakeMovieSound> movie = new FakeMovieSound(22050),
                                 other = new FakeMovieSound(44100);
    auto library = std::make_unique<SoundLibrary>();
    ASSERT_TRUE(library->loadSound("phrase", phrase));
    EXPECT_TRUE(!library->attachMovieSound(other.get()) && !other->sink) << "another format";
    osg::ref_ptr<MovieSoundSink> sink = library->attachMovieSound(movie.get());
    ASSERT_TRUE(sink && movie->sink == sink && !sink->playing());
    EXPECT_NEAR(sink->getDelay(), 4096 / 22050.0, 1e-9);
    std::this_thread::sleep_for(200ms);  // a few buffers mixed
    EXPECT_EQ(movie->frames, 0) << "pulled before it played";
    sink->play();
    while (movie->frames < 22050) std::this_thread::sleep_for(2ms);
    library->playSound("phrase", 0);
    while (Mix_Playing(library->channelOf("phrase"))) std::this_thread::sleep_for(2ms);
    const long ended = movie->frames;
    while (movie->frames < ended + 22050) std::this_thread::sleep_for(2ms);
    // The movie's playback thread goes on calling its sink while the library goes.
    std::atomic<bool> done{false};
    std::thread playback([&] {
        for (bool on = false; !done; on = !on) on ? sink->play() : sink->pause();
    });
    library.reset();
    const long last = movie->frames;
    std::this_thread::sleep_for(100ms);
    done = true;
    playback.join();
    sink->play();
    EXPECT_TRUE(movie->frames == last && !sink->playing()) << "pulled after the library went";

    std::ifstream in(file, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), {}};
    const int16_t* left = reinterpret_cast<const int16_t*>(bytes.data());
    const long frames = long(bytes.size() / 4);
    // The phrase is the longest stretch of one level other than the movie's own or silence.
    long run = 0, longest = 0, ducked = -1, phraseEnd = -1, back = -1, clicks = 0;
    for (long i = 1; i < frames; ++i) {
        const int now = left[2 * i], step = std::abs(now - left[2 * i - 2]);
        run = step ? 0 : run + 1;
        if (now % 8000 && run > longest)
            longest = run, ducked = now - 1500, phraseEnd = i, back = -1;
        if (now == 8000 && phraseEnd >= 0 && back < 0) back = i;
        clicks += step > 10 && std::abs(step - 1500) > 10 && step != 8000;
    }
    EXPECT_NEAR(20 * std::log10(ducked / 8000.0), SoundLibrary::kDuckDecibels, 0.05);
    EXPECT_TRUE(back > phraseEnd && back - phraseEnd < 22050 / 2) << "not back within 0.5 s";
    EXPECT_EQ(clicks, 0) << "a jump in the movie's level";
}

TEST(SoundLibrary, EachKeyPlaysOnceOnAChannelOfItsOwnAndStopHaltsIt) {
    const std::string shortSound = writeWav("quorv_short", 0.1),
                      longSound = writeWav("quorv_long", 3);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    SoundLibrary library;
    EXPECT_FALSE(library.loadSound("missing", ::testing::TempDir() + "no_such_file.wav") ||
                 library.loadSound("garbage", __FILE__));
    // The same key again keeps its first sound and channel, yet uses up a channel.
    ASSERT_TRUE(library.loadSound("a", shortSound) && library.loadSound("a", longSound));
    ASSERT_TRUE(library.loadSound("b", longSound));
    const int a = library.channelOf("a"), b = library.channelOf("b");
    EXPECT_FALSE(library.playSound("A", 0) || library.playSound("b ", 0));
    EXPECT_TRUE(library.playSound("a", 0) && library.playSound("b", 0));
    EXPECT_FALSE(library.playSound("a", 0)) << "a playing sound is not restarted";
    for (int c = 0; c < 16; ++c) EXPECT_EQ(Mix_Playing(c) != 0, c == a || c == b) << c;
    ASSERT_NE(Mix_GetChunk(a), nullptr);
    EXPECT_LT(Mix_GetChunk(a)->alen, 22050u * 4) << "not the sound loaded first";
    // A pause is stamped with SDL's millisecond clock, and a stamp of 0 reads as "not paused":
    // the clock must have started, as in any running exhibit.
    while (SDL_GetTicks() == 0) std::this_thread::sleep_for(1ms);
    EXPECT_TRUE(library.stopSound("b", false, 0) && !Mix_Playing(b));
    EXPECT_FALSE(library.stopSound("b", false, 0) || library.stopSound("b", true, 0));
    EXPECT_TRUE(library.playSound("b", 0));
    EXPECT_TRUE(library.stopSound("b", true, 0) && Mix_Playing(b)) << "a restart plays again";
    // 16 channels: 3 taken, the 13 others, and no more; a failed load took none.
    for (int i = 0; i < 13; ++i) EXPECT_TRUE(library.loadSound(std::to_string(i), shortSound));
    EXPECT_FALSE(library.loadSound("one too many", shortSound));
}

// Whether a play after a stop starts the sound over is heard in the whole visit (visit_test).
TEST(SoundLibrary, NoAudioDeviceIsReportedInOneLine) {
    SDL_QuitSubSystem(SDL_INIT_AUDIO);  // SDL keeps the driver it chose until then
    setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    ::testing::internal::CaptureStdout();
    osg::ref_ptr<FakeMovieSound> movie = new FakeMovieSound(22050);
    osg::ref_ptr<MovieSoundSink> sink;
    {
        SoundLibrary library;
        (sink = library.attachMovieSound(movie.get()))->play();
    }
    EXPECT_TRUE(movie->sink == sink && !sink->playing()) << "the movie plays silently";
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.rfind("Imposible de inicializar audio", 0), 0u) << out;
    EXPECT_TRUE(out.size() > 32 && out.find('\n') == out.size() - 1) << "not one line, with why";
}

}  // namespace
