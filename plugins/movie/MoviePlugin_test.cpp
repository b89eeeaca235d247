// The movie plugin as the program uses it: loaded by name into osgDB, reading movies this test
// writes, played on a texture that is updated the way OSG's update traversal does it.
#include <gtest/gtest.h>
#include <support/Paths.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
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
#include <string>
#include <thread>
#include <vector>

#if defined(__SANITIZE_THREAD__)
// FFmpeg decodes with slice threads of its own that synchronise through C11 atomics in code built
// without ThreadSanitizer, which therefore reports their hand-offs as races. Accesses made by
// FFmpeg's own code are its business; everything of ours stays checked.
extern "C" const char* __tsan_default_suppressions() {
    return "called_from_lib:libavcodec.so\n"
           "called_from_lib:libavutil.so\n";
}
#endif

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Changes = std::vector<int>;

constexpr int kPictures = 40;
constexpr double kFramesPerSecond = 25.0;
const cv::Size kSize(160, 120);
constexpr std::chrono::milliseconds kMovieLength{kPictures * 1000 / 25};

/// Picture i of the test movie: a white band over rows 0-19, then i in binary in rows 20-79,
/// eight 20-pixel columns, white for 1, least significant bit on the left; black below.
cv::Mat testPicture(int index) {
    cv::Mat picture(kSize, CV_8UC3, cv::Scalar::all(0));
    picture.rowRange(0, 20).setTo(cv::Scalar::all(255));
    for (int bit = 0; bit < 8; ++bit)
        if (index >> bit & 1) picture(cv::Rect(bit * 20, 20, 20, 60)).setTo(cv::Scalar::all(255));
    return picture;
}

/// The index a picture of the test movie shows, read away from block edges that the encoder
/// blurs; -1 when the image is not one of them (upside down, say).
int indexShown(const osg::Image& image) {
    auto mean = [&](int x0, int y0, int width, int height) {
        long sum = 0;
        for (int y = y0; y < y0 + height; ++y)
            for (int x = x0; x < x0 + width; ++x) sum += image.data(x, y)[1];
        return sum / (width * height);
    };
    if (mean(0, 4, kSize.width, 12) < 200 || mean(0, 90, kSize.width, 26) > 50) return -1;
    int index = 0;
    for (int bit = 0; bit < 8; ++bit)
        if (mean(bit * 20 + 5, 30, 10, 40) > 128) index |= 1 << bit;
    return index;
}

/// Kernel ids of the process's threads named as the playback threads are.
std::set<std::string> movieThreads() {
    std::set<std::string> threads;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(task.path() / "comm");
        std::string name;
        if (std::getline(comm, name) && name == "quorv-movie")
            threads.insert(task.path().filename().string());
    }
    return threads;
}

/// Waits up to a second for a thread to leave /proc: the kernel reaps an ended thread a moment
/// after its joiner has been released.
bool threadGone(const std::string& id) {
    const auto end = Clock::now() + 1s;
    while (std::filesystem::exists("/proc/self/task/" + id)) {
        if (Clock::now() > end) return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

/// A movie on a rectangle texture, as the program shows it.
struct OnTexture {
    osg::ref_ptr<osg::ImageStream> stream;
    osg::ref_ptr<osg::TextureRectangle> texture;

    explicit OnTexture(const std::string& file) {
        stream = dynamic_cast<osg::ImageStream*>(osgDB::readRefImageFile(file).get());
        if (stream) texture = new osg::TextureRectangle(stream.get());
    }
    int shown() const { return indexShown(*stream); }

    /// Does what OSG's update traversal does for the texture, every 5 ms, until `done` holds or
    /// `limit` passes; returns the pictures that came, in order.
    Changes watch(std::chrono::milliseconds limit,
                  const std::function<bool(const Changes&)>& done = nullptr) {
        Changes changes;
        int last = shown();
        for (const auto end = Clock::now() + limit; Clock::now() < end;) {
            if (done && done(changes)) break;
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

osgDB::ReaderWriter* movieReader() {
    for (osgDB::ReaderWriter* reader : osgDB::Registry::instance()->getReaderWriterList())
        if (std::strcmp(reader->className(), "Quorv movie reader") == 0) return reader;
    return nullptr;
}

/// Played till the process ends: released by static destruction, after osgDB's registry.
osg::ref_ptr<osg::ImageStream> keptUntilExit;

class MoviePlugin : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        osgDB::getLibraryFilePathList().push_front(quorvtest::buildDirectory() + "/plugins");
        osgDB::Registry::instance()->loadLibrary("osgdb_quorvmovie.so");
        // Named per process: ctest runs the tests of this file side by side.
        _movie = ::testing::TempDir() + "quorv_movie_" + std::to_string(getpid()) + ".mpg";
        cv::VideoWriter writer(_movie, cv::CAP_FFMPEG, cv::VideoWriter::fourcc('m', 'p', 'g', '1'),
                               kFramesPerSecond, kSize);
        for (int i = 0; i < kPictures; ++i) writer.write(testPicture(i));
    }
    static void TearDownTestSuite() { std::remove(_movie.c_str()); }

    void SetUp() override {
        ASSERT_NE(movieReader(), nullptr) << "osgdb_quorvmovie.so did not load";
        _threadsBefore = movieThreads();
    }

    static std::string _movie;
    std::set<std::string> _threadsBefore;
};

std::string MoviePlugin::_movie;

TEST_F(MoviePlugin, LoadsPausedHoldingTheFirstPictureTopRowFirst) {
    OnTexture movie(_movie);
    ASSERT_TRUE(movie.stream.valid());
    EXPECT_NE(movie.stream->getStatus(), osg::ImageStream::PLAYING);
    EXPECT_EQ(movie.stream->s(), kSize.width);
    EXPECT_EQ(movie.stream->t(), kSize.height);
    EXPECT_EQ(movie.stream->r(), 1);
    ASSERT_NE(movie.stream->data(), nullptr);
    EXPECT_EQ(movie.stream->getDataType(), static_cast<GLenum>(GL_UNSIGNED_BYTE));
    EXPECT_EQ(movie.stream->getPixelFormat(), static_cast<GLenum>(GL_BGR));
    EXPECT_DOUBLE_EQ(movie.stream->getFrameRate(), kFramesPerSecond);
    ASSERT_NE(movie.texture->getUpdateCallback(), nullptr) << "the texture would never update";
    EXPECT_EQ(movie.shown(), 0);  // -1 if the rows were flipped

    // Nothing plays until asked to.
    EXPECT_TRUE(movie.watch(300ms).empty());
    EXPECT_NE(movie.stream->getStatus(), osg::ImageStream::PLAYING);
}

TEST_F(MoviePlugin, PlaysFreezesWhilePausedAndResumesWhereItFroze) {
    OnTexture movie(_movie);
    ASSERT_TRUE(movie.stream.valid());
    movie.stream->play();
    EXPECT_EQ(movie.stream->getStatus(), osg::ImageStream::PLAYING);
    const Changes played = movie.watch(5s, reached(8));
    ASSERT_FALSE(played.empty());
    EXPECT_GE(played.back(), 8);
    EXPECT_TRUE(increasing(played));

    movie.stream->pause();
    EXPECT_EQ(movie.stream->getStatus(), osg::ImageStream::PAUSED);
    const int frozen = movie.shown();
    const std::vector<unsigned char> picture(
        movie.stream->data(), movie.stream->data() + movie.stream->getTotalSizeInBytes());
    EXPECT_TRUE(movie.watch(1s).empty());
    EXPECT_EQ(std::memcmp(picture.data(), movie.stream->data(), picture.size()), 0);

    // A second paused is 25 pictures: resuming must neither skip them nor start over. (This
    // thread may miss a picture or two when the machine is busy, hence the margin.)
    movie.stream->play();
    const Changes resumed = movie.watch(3s, reached(frozen + 6));
    ASSERT_FALSE(resumed.empty());
    EXPECT_GT(resumed.front(), frozen);
    EXPECT_LE(resumed.front(), frozen + 6);
    EXPECT_TRUE(increasing(resumed));
}

TEST_F(MoviePlugin, LoopsFromTheLastPictureToTheFirst) {
    OnTexture movie(_movie);
    ASSERT_TRUE(movie.stream.valid());
    EXPECT_EQ(movie.stream->getLoopingMode(), osg::ImageStream::LOOPING);
    movie.stream->play();
    auto wrapped = [](const Changes& c) { return !c.empty() && !increasing(c); };
    const Changes changes = movie.watch(2 * kMovieLength + 3s, wrapped);
    ASSERT_TRUE(wrapped(changes));
    EXPECT_GE(changes[changes.size() - 2], kPictures - 6);  // margins for missed pictures
    EXPECT_LE(changes.back(), 4);
    EXPECT_EQ(movie.stream->getStatus(), osg::ImageStream::PLAYING);
}

TEST_F(MoviePlugin, WithoutLoopingStopsOnTheLastPictureAndPlaysAgainFromTheStart) {
    OnTexture movie(_movie);
    ASSERT_TRUE(movie.stream.valid());
    movie.stream->setLoopingMode(osg::ImageStream::NO_LOOPING);
    movie.stream->play();
    const auto stream = movie.stream;
    movie.watch(2 * kMovieLength + 3s,
                [&](const Changes&) { return stream->getStatus() != osg::ImageStream::PLAYING; });
    ASSERT_EQ(movie.stream->getStatus(), osg::ImageStream::PAUSED);
    EXPECT_EQ(movie.shown(), kPictures - 1);
    EXPECT_TRUE(movie.watch(300ms).empty());

    movie.stream->play();
    const Changes again = movie.watch(3s, [](const Changes& c) { return c.size() >= 4; });
    ASSERT_FALSE(again.empty());
    EXPECT_LE(again.front(), 4);
    EXPECT_TRUE(increasing(again));

    // A rewind while paused shows the first picture at once and stays paused.
    movie.stream->pause();
    movie.stream->rewind();
    EXPECT_EQ(movie.watch(2s, [](const Changes& c) { return !c.empty(); }), Changes{0});
    EXPECT_EQ(movie.stream->getStatus(), osg::ImageStream::PAUSED);
}

TEST_F(MoviePlugin, QuitStopsAndJoinsThePlaybackThread) {
    OnTexture movie(_movie);
    ASSERT_TRUE(movie.stream.valid());
    movie.stream->play();
    movie.watch(3s, reached(3));
    std::set<std::string> started = movieThreads();
    for (const std::string& id : _threadsBefore) started.erase(id);
    ASSERT_EQ(started.size(), 1u);

    movie.stream->quit(true);
    EXPECT_TRUE(threadGone(*started.begin()));
    EXPECT_NE(movie.stream->getStatus(), osg::ImageStream::PLAYING);
    const int stopped = movie.shown();
    EXPECT_TRUE(movie.watch(300ms).empty());

    // Playing after a quit goes on from the same place on a new thread.
    movie.stream->play();
    const Changes resumed = movie.watch(3s, reached(stopped + 3));
    ASSERT_FALSE(resumed.empty());
    EXPECT_GT(resumed.front(), stopped);

    // Neither a quit without waiting nor no quit at all leaves a thread behind its stream.
    movie.stream->quit(false);
    OnTexture second(_movie);
    ASSERT_TRUE(second.stream.valid());
    second.stream->play();
    second.watch(3s, reached(1));
    movie.texture = second.texture = nullptr;
    movie.stream = second.stream = nullptr;
    for (const std::string& id : movieThreads())
        EXPECT_TRUE(_threadsBefore.count(id) || threadGone(id)) << "thread " << id << " lives on";
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
            keptUntilExit = OnTexture(_movie).stream;
            static osg::ImageStream* neverReleased = [] {
                osg::ref_ptr<osg::ImageStream> stream = OnTexture(_movie).stream;
                if (stream) stream->ref();  // never to be unref'ed
                return stream.get();
            }();
            if (!keptUntilExit || !neverReleased) std::exit(2);
            keptUntilExit->play();
            neverReleased->play();
            std::this_thread::sleep_for(300ms);
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(MoviePlugin, RefusesMissingBrokenAndStillImageFiles) {
    osgDB::ReaderWriter* reader = movieReader();
    for (const char* extension : {"mpg", "mpeg", "mp4", "avi", "mov", "mkv", "webm", "ogv"})
        EXPECT_TRUE(reader->acceptsExtension(extension)) << extension;
    for (const char* extension : {"png", "jpg", "jpeg", "bmp"})
        EXPECT_FALSE(reader->acceptsExtension(extension)) << extension;

    const std::string missing = ::testing::TempDir() + "quorv_no_such_movie.mpg";
    EXPECT_EQ(reader->readImage(missing).status(), osgDB::ReaderWriter::ReadResult::FILE_NOT_FOUND);
    EXPECT_FALSE(osgDB::readRefImageFile(missing).valid());

    const std::string broken = ::testing::TempDir() + "quorv_broken_" + std::to_string(getpid());
    std::ofstream(broken + ".mpg") << "not a movie at all\n";
    std::ofstream(broken + ".png") << "not a picture either\n";
    EXPECT_EQ(reader->readImage(broken + ".mpg").status(),
              osgDB::ReaderWriter::ReadResult::ERROR_IN_READING_FILE);
    EXPECT_EQ(reader->readImage(broken + ".png").status(),
              osgDB::ReaderWriter::ReadResult::FILE_NOT_HANDLED);
    std::remove((broken + ".mpg").c_str());
    std::remove((broken + ".png").c_str());
}

}  // namespace
