// The movie plugin as the program uses it: loaded by name into osgDB, reading a movie this test
// writes, played on a texture that is updated the way OSG's update traversal does it.
#include <gtest/gtest.h>
#include <support/Paths.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <opencv2/videoio.hpp>
#include <osg/ImageStream>
#include <osg/TextureRectangle>
#include <osgDB/FileUtils>
#include <osgDB/ReadFile>
#include <osgDB/Registry>
#include <set>
#include <thread>

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
constexpr int kPictures = 40;  // at 25 per second

/// Picture i of the test movie: grey level 6(i + 1) over its top half, black below.
cv::Mat testPicture(int index) {
    cv::Mat picture(128, 160, CV_8UC3, cv::Scalar::all(0));
    picture.rowRange(0, 64).setTo(cv::Scalar::all(6 * index + 6));
    return picture;
}

/// The index a picture of the test movie shows, read away from the edge the encoder blurs; -1
/// when it is none of them (upside down, say).
int indexShown(const osg::Image& image) {
    const auto mean = [&](int y0) {
        long sum = 0;
        for (int y = y0; y < y0 + 32; ++y) sum += image.data(80, y)[1] + image.data(40, y)[2];
        return sum / 64.0;
    };
    return mean(88) > 20 ? -1 : int(std::lround(mean(8) / 6)) - 1;
}

/// Kernel ids of the process's threads named as the playback threads are.
std::set<std::string> movieThreads() {
    std::set<std::string> threads;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::string name;
        if (std::getline(std::ifstream(task.path() / "comm") >> std::ws, name) &&
            name == "quorv-movie")
            threads.insert(task.path().filename().string());
    }
    return threads;
}

/// Whether the thread leaves /proc within 10 s: the kernel reaps an ended thread a moment after
/// its joiner has been released.
bool threadGone(const std::string& id) {
    for (const auto end = Clock::now() + 10s; Clock::now() < end; std::this_thread::sleep_for(2ms))
        if (!std::filesystem::exists("/proc/self/task/" + id)) return true;
    return false;
}

/// A movie on a rectangle texture, as the program shows it.
struct OnTexture {
    osg::ref_ptr<osg::ImageStream> stream;
    osg::ref_ptr<osg::TextureRectangle> texture;

    explicit OnTexture(const std::string& file)
        : stream(dynamic_cast<osg::ImageStream*>(osgDB::readRefImageFile(file).get())),
          texture(new osg::TextureRectangle(stream.get())) {}
    int shown() const { return indexShown(*stream); }

    /// Does what OSG's update traversal does for the texture, every 5 ms, until `done` holds or
    /// `limit` passes; returns the pictures that came, in order.
    Changes watch(std::chrono::milliseconds limit,
                  const std::function<bool(const Changes&)>& done = nullptr) {
        Changes changes;
        int last = shown();
        for (const auto end = Clock::now() + limit;
             Clock::now() < end && !(done && done(changes));) {
            (*texture->getUpdateCallback())(texture.get(), nullptr);
            if (shown() != last) changes.push_back(last = shown());
            std::this_thread::sleep_for(5ms);
        }
        return changes;
    }
};

std::function<bool(const Changes&)> reached(int index) {
    return [index](const Changes& c) { return !c.empty() && c.back() >= index; };
}

bool increasing(const Changes& c) {
    return std::adjacent_find(c.begin(), c.end(), std::greater_equal<int>()) == c.end();
}

/// Played till the process ends: released by static destruction, after osgDB's registry.
osg::ref_ptr<osg::ImageStream> keptUntilExit;

class MoviePlugin : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        osgDB::getLibraryFilePathList().push_front(quorvtest::buildPath("plugins"));
        osgDB::Registry::instance()->loadLibrary("osgdb_quorvmovie.so");
        for (osgDB::ReaderWriter* each : osgDB::Registry::instance()->getReaderWriterList())
            if (std::strcmp(each->className(), "Quorv movie reader") == 0) reader = each;
        // Named per process: ctest runs the tests of this file side by side.
        movie = ::testing::TempDir() + "quorv_movie_" + std::to_string(getpid()) + ".mpg";
        cv::VideoWriter writer(movie, cv::CAP_FFMPEG, cv::VideoWriter::fourcc('m', 'p', 'g', '1'),
                               25, {160, 128});
        for (int i = 0; i < kPictures; ++i) writer.write(testPicture(i));
    }
    static void TearDownTestSuite() { std::remove(movie.c_str()); }
    void SetUp() override { ASSERT_NE(reader, nullptr) << "osgdb_quorvmovie.so did not load"; }

    inline static osgDB::ReaderWriter* reader = nullptr;
    inline static std::string movie;
};

TEST_F(MoviePlugin, LoadsPausedOnTheFirstPictureAndPlaysPausesAndResumesWhereItFroze) {
    OnTexture movie(MoviePlugin::movie);
    ASSERT_TRUE(movie.stream.valid());
    EXPECT_EQ(movie.stream->getStatus(), osg::ImageStream::PAUSED);
    EXPECT_EQ(movie.stream->getPixelFormat(), static_cast<GLenum>(GL_BGR));
    EXPECT_EQ(movie.shown(), 0) << "not the first picture, or upside down";

    movie.stream->play();
    const Changes played = movie.watch(10s, reached(8));
    EXPECT_TRUE(reached(8)(played) && increasing(played)) << ::testing::PrintToString(played);
    movie.stream->pause();
    const int frozen = movie.shown();
    EXPECT_TRUE(movie.watch(1s).empty()) << "the picture moved while paused";
    // A second paused is 25 pictures: resuming must neither skip them nor start over. (This
    // thread may miss a picture or two when the machine is busy, hence the margin.)
    movie.stream->play();
    const Changes resumed = movie.watch(10s, reached(frozen + 6));
    EXPECT_TRUE(!resumed.empty() && resumed.front() > frozen && resumed.front() <= frozen + 6 &&
                increasing(resumed))
        << frozen << ", then " << ::testing::PrintToString(resumed);
}

TEST_F(MoviePlugin, LoopsOrWithoutLoopingStopsOnTheLastPictureAndPlaysAgainFromTheStart) {
    OnTexture movie(MoviePlugin::movie);
    ASSERT_TRUE(movie.stream.valid());
    movie.stream->play();
    const auto wrapped = [](const Changes& c) { return !increasing(c); };
    const Changes looped = movie.watch(20s, wrapped);
    ASSERT_TRUE(wrapped(looped));
    EXPECT_GE(looped[looped.size() - 2], kPictures - 6);  // margins for missed pictures
    EXPECT_LE(looped.back(), 4);

    movie.stream->setLoopingMode(osg::ImageStream::NO_LOOPING);
    const osg::ImageStream* stream = movie.stream.get();
    movie.watch(20s,
                [&](const Changes&) { return stream->getStatus() != osg::ImageStream::PLAYING; });
    ASSERT_EQ(movie.stream->getStatus(), osg::ImageStream::PAUSED);
    EXPECT_EQ(movie.shown(), kPictures - 1);
    movie.stream->play();
    const Changes again = movie.watch(10s, [](const Changes& c) { return c.size() >= 4; });
    EXPECT_TRUE(!again.empty() && again.front() <= 4 && increasing(again))
        << ::testing::PrintToString(again);
    // A rewind while paused shows the first picture at once and stays paused.
    movie.stream->pause();
    movie.stream->rewind();
    EXPECT_EQ(movie.watch(10s, [](const Changes& c) { return !c.empty(); }), Changes{0});
    EXPECT_EQ(movie.stream->getStatus(), osg::ImageStream::PAUSED);
}

TEST_F(MoviePlugin, QuitStopsAndJoinsThePlaybackThreadAndNoneOutlivesItsStream) {
    const std::set<std::string> before = movieThreads();
    OnTexture movie(MoviePlugin::movie);
    ASSERT_TRUE(movie.stream.valid());
    movie.stream->play();
    movie.watch(10s, reached(3));
    std::set<std::string> started = movieThreads();
    for (const std::string& id : before) started.erase(id);
    ASSERT_EQ(started.size(), 1u);
    movie.stream->quit(true);
    EXPECT_TRUE(threadGone(*started.begin()));
    EXPECT_NE(movie.stream->getStatus(), osg::ImageStream::PLAYING);

    // Playing after a quit goes on from the same place, on a new thread.
    const int stopped = movie.shown();
    movie.stream->play();
    const Changes resumed = movie.watch(10s, reached(stopped + 3));
    EXPECT_TRUE(!resumed.empty() && resumed.front() > stopped) << ::testing::PrintToString(resumed);
    // Neither a quit without waiting nor no quit at all leaves a thread behind its stream.
    movie.stream->quit(false);
    OnTexture second(MoviePlugin::movie);
    second.stream->play();
    second.watch(10s, reached(1));
    movie.texture = second.texture = nullptr;
    movie.stream = second.stream = nullptr;
    for (const std::string& id : movieThreads())
        EXPECT_TRUE(before.count(id) || threadGone(id)) << "thread " << id << " lives on";
}

// The program may end with its movies playing, one held by a static and one never released:
// their threads must be over before the libraries they decode with are torn down.
TEST_F(MoviePlugin, ProcessEndsCleanlyWithMoviesStillPlaying) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            // Runs after the exit handlers registered later, before the libraries' teardown.
            std::atexit([] {
                for (const std::string& id : movieThreads())
                    if (!threadGone(id)) std::_Exit(3);
            });
            keptUntilExit = OnTexture(movie).stream;
            osg::ref_ptr<osg::ImageStream> neverReleased = OnTexture(movie).stream;
            if (neverReleased) neverReleased->ref();  // never to be unref'ed
            if (!keptUntilExit || !neverReleased) std::exit(2);
            keptUntilExit->play();
            neverReleased->play();
            std::this_thread::sleep_for(300ms);
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(MoviePlugin, RefusesMissingBrokenAndStillImageFiles) {
    for (const char* extension : {"mpg", "mpeg", "mp4", "avi", "mov", "mkv", "png", "jpg"})
        EXPECT_EQ(reader->acceptsExtension(extension), extension[0] != 'p' && extension[0] != 'j');
    const std::string broken = ::testing::TempDir() + "quorv_broken_" + std::to_string(getpid());
    std::ofstream(broken + ".mpg") << "not a movie at all\n";
    std::ofstream(broken + ".png") << "not a picture either\n";
    using Result = osgDB::ReaderWriter::ReadResult;
    EXPECT_EQ(reader->readImage(broken + "_missing.mpg").status(), Result::FILE_NOT_FOUND);
    EXPECT_EQ(reader->readImage(broken + ".mpg").status(), Result::ERROR_IN_READING_FILE);
    EXPECT_EQ(reader->readImage(broken + ".png").status(), Result::FILE_NOT_HANDLED);
    EXPECT_FALSE(osgDB::readRefImageFile(broken + "_missing.mpg").valid());
}

}  // namespace
