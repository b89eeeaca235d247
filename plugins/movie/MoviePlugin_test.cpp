// The movie plugin as the program uses it: loaded by name into osgDB, reading a movie this test
// writes, played on a texture that is updated the way OSG's update traversal does it.
#include "testing/FollowingSink.h"

#include <gtest/gtest.h>
#include <support/Paths.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <opencv2/videoio.hpp>
#include <osg/ImageStream>
#include <osg/TextureRectangle>
#include <osgDB/FileUtils>
#include <osgDB/ReadFile>
#include <osgDB/Registry>
#include <thread>
#include <vector>

#if defined(__SANITIZE_THREAD__)
// FFmpeg decodes with slice threads of its own that synchronise through C11 atomics in code built
// without ThreadSanitizer, which therefore reports their hand-offs as races. Accesses made by
// FFmpeg's own code are its business; everything of ours stays checked.
extern "C" const char* __tsan_default_suppressions() {
    return "called_from_lib:libavcodec.so\ncalled_from_lib:libavutil.so\n";
}
#endif

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Changes = std::vector<int>;

/// How many playback threads (named "quorv-movie") the process has once it has `wanted`, or after
/// 10 s: the kernel reaps an ended thread a moment after its joiner has been released.
int movieThreads(int wanted) {
    for (const auto end = Clock::now() + 10s;; std::this_thread::sleep_for(2ms)) {
        int alive = 0;
        for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
            std::string name;
            alive +=
                std::getline(std::ifstream(task.path() / "comm"), name) && name == "quorv-movie";
        }
        if (alive == wanted || Clock::now() > end) return alive;
    }
}

bool increasing(const Changes& c) {
    return std::adjacent_find(c.begin(), c.end(), std::greater_equal<int>()) == c.end();
}

TEST(MoviePlugin, PlaysInOrderLoopsAndLeavesNoThreadBehind) {
    osgDB::getLibraryFilePathList().push_front(quorvtest::buildPath("plugins"));
    osgDB::Registry::instance()->loadLibrary("osgdb_quorvmovie.so");
    // Picture i of 40, at 25 a second: grey level 6(i + 1) over the top half, black below.
    const std::string file =
        ::testing::TempDir() + "quorv_movie_" + std::to_string(getpid()) + ".mpg";
    {
        cv::VideoWriter writer(file, cv::CAP_FFMPEG, cv::VideoWriter::fourcc('m', 'p', 'g', '1'),
                               25, {160, 128});
        for (int i = 0; i < 40; ++i) {
            cv::Mat picture(128, 160, CV_8UC3, cv::Scalar::all(0));
            picture.rowRange(0, 64).setTo(cv::Scalar::all(6 * i + 6));
            writer.write(picture);
        }
    }
    // On a rectangle texture, as the program shows it.
    osg::ref_ptr<osg::ImageStream> movie =
        dynamic_cast<osg::ImageStream*>(osgDB::readRefImageFile(file).get());
    ASSERT_TRUE(movie.valid());
    osg::ref_ptr<osg::TextureRectangle> texture = new osg::TextureRectangle(movie.get());
    // The picture shown, read away from the edge the encoder blurs; -1 when the bottom half is
    // not black (upside down, say).
    const auto shown = [&] {
        const cv::Mat picture(movie->t(), movie->s(), CV_8UC3, movie->data());
        return cv::mean(picture.rowRange(88, 120))[1] > 20
                   ? -1
                   : int(std::lround(cv::mean(picture.rowRange(8, 40))[1] / 6)) - 1;
    };
    // Does what OSG's update traversal does for the texture, every 5 ms, until `done` holds or
    // `limit` passes; returns the pictures that came, in order.
    const auto watch = [&](std::chrono::seconds limit, auto done) {
        Changes changes;
        for (auto [end, last] = std::pair{Clock::now() + limit, shown()};
             Clock::now() < end && !done(changes); std::this_thread::sleep_for(5ms)) {
            (*texture->getUpdateCallback())(texture.get(), nullptr);
            if (shown() != last) changes.push_back(last = shown());
        }
        return changes;
    };
    EXPECT_EQ(movie->getStatus(), osg::ImageStream::PAUSED);
    EXPECT_EQ(movie->getPixelFormat(), static_cast<GLenum>(GL_BGR));
    EXPECT_EQ(shown(), 0) << "not the first picture, or upside down";
    // It plays its pictures in order and starts again after the last. (That it holds while
    // paused and resumes where it froze is seen on screen in visit_test.) Margins for pictures
    // missed on a busy machine.
    movie->play();
    const Changes played = watch(20s, [](const Changes& c) { return !increasing(c); });
    EXPECT_TRUE(played.size() >= 10 && played.back() <= 4 && played[played.size() - 2] >= 40 - 6)
        << ::testing::PrintToString(played);

    // No thread of a playing movie outlives its stream; a quit ends its one playback thread.
    texture = nullptr;
    movie = nullptr;
    EXPECT_EQ(movieThreads(0), 0) << "a thread outlived its stream";
    movie = dynamic_cast<osg::ImageStream*>(osgDB::readRefImageFile(file).get());
    movie->play();
    EXPECT_EQ(movieThreads(1), 1);
    movie->quit(true);
    EXPECT_EQ(movieThreads(0), 0) << "quit left its thread";
    EXPECT_NE(movie->getStatus(), osg::ImageStream::PLAYING);
    std::remove(file.c_str());
}

/// Writes a movie with ffmpeg's command line from `inputs` and opens it; null when that fails.
osg::ref_ptr<osg::ImageStream> ffmpegMovie(std::string& file, const std::string& inputs) {
    file = ::testing::TempDir() + "quorv_" + std::to_string(getpid()) + file;
    osgDB::getLibraryFilePathList().push_front(quorvtest::buildPath("plugins"));
    osgDB::Registry::instance()->loadLibrary("osgdb_quorvmovie.so");
    if (std::system(("ffmpeg -v error -y " + inputs + " -b:v 2M " + file).c_str())) return nullptr;
    return dynamic_cast<osg::ImageStream*>(osgDB::readRefImageFile(file).get());
}

std::vector<int16_t> pull(osg::AudioStream& sound, size_t frames) {
    std::vector<int16_t> samples(2 * frames, 1);
    sound.consumeAudioBuffer(samples.data(), 4 * frames);
    return samples;
}

// Each sound track is offered (as 22050-Hz stereo S16) or refused with a message naming the file; a
// pause gives silence at the next pull, and playing goes on from the sample after the last one
// given (a 1-kHz sine continues: x[n] = 2 cos(w) x[n-1] - x[n-2]); the movie plays to its end.
TEST(MoviePlugin, SoundTracksAndPicturesInStep) {
    if (std::system("command -v ffmpeg >/dev/null") != 0) GTEST_SKIP() << "no ffmpeg";
    const char* rows[][3] = {
        // file, its sound, what stderr says (and then the movie has no sound) or "" for nothing
        {"silent.mpg", "", ""},
        {"tone.mpg", "-f lavfi -i sine=f=1000:r=44100:d=1.2 -c:a mp2", ""},
        {"mono.avi", "-f lavfi -i sine=f=1000:r=8000:d=1.2 -c:a pcm_s16le", ""},
        {"short.mkv", "-f lavfi -i sine=f=1000:r=48000:d=0.3 -c:a pcm_s16le", ""},
        {"rate.mkv", "-f lavfi -i sine=f=1000:r=44100:d=1.2 -ar 3 -c:a pcm_s16le", "rate of 3 Hz"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row[0]);
        std::string file = row[0];
        ::testing::internal::CaptureStderr();
        osg::ref_ptr<osg::ImageStream> movie =
            ffmpegMovie(file, std::string("-f lavfi -i color=gray:s=160x128:r=25:d=1.2 ") + row[1]);
        const std::string said = ::testing::internal::GetCapturedStderr();
        const bool sounds = *row[1] && !*row[2], told = *row[2];
        ASSERT_TRUE(movie.valid() && movie->getAudioStreams().size() == (sounds ? 1u : 0u) &&
                    (said.find(file) != said.npos && said.find(row[2]) != said.npos) == told)
            << said;
        if (!sounds) continue;
        osg::AudioStream& sound = *movie->getAudioStreams()[0];
        osg::ref_ptr<quorvtest::FollowingSink> sink = new quorvtest::FollowingSink;
        sound.setAudioSink(sink.get());
        movie->setLoopingMode(osg::ImageStream::NO_LOOPING);
        movie->play();
        for (int i = 0; i < 5000 && std::abs(pull(sound, 1)[0]) < 1000; ++i)
            std::this_thread::sleep_for(1ms);  // up to the first loud sample
        const std::vector<int16_t> before = pull(sound, 256);
        movie->pause();
        EXPECT_EQ(pull(sound, 256), std::vector<int16_t>(512, 0)) << "sound while paused";
        movie->play();
        // The next four samples continue the sine (each from the two predicted before it).
        double a = before[508], b = before[510], error = std::abs(a) + std::abs(b) < 500 ? 1e9 : 0;
        const std::vector<int16_t> after = pull(sound, 4);
        for (int i = 0; i < 8; i += 2) {
            std::tie(a, b) = std::pair(b, 2 * std::cos(2 * M_PI / 22.05) * b - a);
            error = std::max(error, std::abs(after[i] - b));
        }
        EXPECT_LT(error, 300) << "not the sample after the last one";
        for (int i = 0; i < 1000 && movie->getStatus() == osg::ImageStream::PLAYING; ++i)
            pull(sound, 441), movie->update(nullptr), std::this_thread::sleep_for(20ms);
        EXPECT_FALSE(movie->getStatus() == osg::ImageStream::PLAYING || sink->on) << "no end";
        std::remove(file.c_str());
    }

    // Pictures follow the sound as heard: every 0.8 s the picture turns white and a 1-kHz tone
    // starts together; a sink pulls 4096 frames at real-time pace with a delay of 0.186 s, a tone
    // being heard `delay` after the end of its pull; over two rounds of the movie and a pause,
    // each picture's change comes within 40 ms of its tone.
    std::string file = "sync.mpg";
    osg::ref_ptr<osg::ImageStream> movie = ffmpegMovie(
        file,
        "-f lavfi -i \"nullsrc=s=160x128:r=25:d=3.2,geq=lum='if(between(mod(T+0.02,0.8),"
        "0.41,0.61),235,16)':cb=128:cr=128\" -f lavfi -i \"aevalsrc='if(between(mod(t,0.8),"
        "0.4,0.6),0.5*sin(2*PI*1000*t),0)':s=44100:d=3.2\" -c:a mp2");
    ASSERT_TRUE(movie.valid() && movie->getAudioStreams().size() == 1);
    osg::AudioStream& sound = *movie->getAudioStreams()[0];
    osg::ref_ptr<quorvtest::FollowingSink> sink = new quorvtest::FollowingSink;
    sink->setDelay(4096 / 22050.0);
    sound.setAudioSink(sink.get());
    std::vector<double> tones, pictures;  // seconds from `start`
    std::atomic<bool> done{false};
    const auto start = Clock::now();
    const auto since = [&] { return std::chrono::duration<double>(Clock::now() - start).count(); };
    std::thread audio([&] {  // a tone starts after 45 ms of quiet
        for (int k = 0, quiet = 0; !done; ++k) {
            std::this_thread::sleep_until(start + std::chrono::microseconds(k * 185760));
            const std::vector<int16_t> samples = pull(sound, 4096);
            for (int j = 0; j < 4096; ++j, ++quiet) {
                if (std::abs(samples[2 * j]) < 2000) continue;
                if (quiet > 1000)
                    tones.push_back(since() + (j - 4096) / 22050.0 + sink->getDelay());
                quiet = 0;
            }
        }
    });
    movie->play();
    for (bool white = false, paused = false; pictures.size() < 8 && since() < 20;
         std::this_thread::sleep_for(2ms)) {
        movie->update(nullptr);
        const bool now = cv::mean(cv::Mat(movie->t(), movie->s(), CV_8UC3, movie->data()))[1] > 128;
        if (!std::exchange(white, now) && now) pictures.push_back(since());
        if (pictures.size() == 3 && since() > pictures[2] + 0.3 && !std::exchange(paused, true)) {
            movie->pause();  // between two changes
            std::this_thread::sleep_for(600ms);
            movie->play();
        }
    }
    done = true;
    audio.join();
    ASSERT_TRUE(pictures.size() == 8 && tones.size() == 8) << tones.size() << " tones";
    std::vector<double>& offsets = pictures;
    for (size_t i = 0; i < 8; ++i) offsets[i] -= tones[i];
    std::sort(offsets.begin(), offsets.end());
    const double worst = std::max(-offsets.front(), offsets.back());
    std::printf("picture - sound offset over 8 changes: median %+.1f ms, worst |%.1f| ms\n",
                1e3 * (offsets[3] + offsets[4]) / 2, 1e3 * worst);
    EXPECT_LE(worst, 0.040);
    std::remove(file.c_str());
}

}  // namespace
