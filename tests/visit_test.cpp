// A whole visit, end to end: the real program with its real plugins and sound library, fed the
// minute-long demo feed (exhibit/demo/demo-feed.avi) as its camera, while the screen and the sound
// are recorded; then checked part by part against the feed's ground truth.
//
// Each frame of the feed carries its number in two rows of cells (scripts/make-demo-feed.sh), so
// each screenshot says which frame it shows, and the truth file says where each marker was then.
// SDL's disk driver writes each mixed audio buffer to a file and then waits one buffer period, so
// the file's size when a frame is first seen on screen tells which buffer was being mixed then.
#include <SDL.h>
#include <gtest/gtest.h>
#include <osgart/CameraParameters.h>
#include <sys/stat.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>
#include <osg/ComputeBoundsVisitor>
#include <osgDB/ReadFile>
#include <thread>

#include "support/ExhibitRun.h"
#include "synth/FrameTruth.h"

namespace {

using namespace std::chrono_literals;
using namespace quorvtest;
using Marker = quorv::FrameTruth::Marker;

const std::string kCharacter = "patt.tovex", kMovie = "patt.camara", kPlay = "patt.roundplay";
constexpr int kFrames = 1800;
constexpr double kFps = 30, kMovieFps = 25;
// Audio as the program mixes it: 22050 Hz, 16-bit stereo, 4096-sample buffers, the phrase at
// half volume.
constexpr long kAudioRate = 22050, kBuffer = 4096, kPhraseVolume = 64;
const std::vector<quorv::FrameTruth> kNoTruth;
const osgART::CameraParameters kNoCamera;
// The exhibit's placement (marker frame, mm) and the keys' steps, as its set-up declares them.
constexpr double kHolderY = 30, kCharacterScale = 20, kMovieWidth = 180, kWalk = 2, kTurnDeg = 10;
// The keys, while the character's marker is held still facing the camera (feed frames
// 1065-1485): walk forward, turn a quarter left, walk (now to the left), turn back part of the
// way, walk back. A key takes effect in one of the frame loop's next passes: the frames shown
// while a batch is typed and kSettle frames after it are not checked.
const std::vector<std::pair<std::string, int>> kKeys = {
    {"i", 8}, {"j", 9}, {"i", 8}, {"l", 4}, {"k", 6}};
constexpr int kHoldStart = 1065, kHoldEnd = 1485, kSettle = 20;

/// The frame number on screen, or -1 when the two rows of cells are not crisp black and white,
/// disagree or fail their parity (something drawn over them, a window all black or white).
int frameNumber(const cv::Mat& screen) {
    cv::Mat grey;
    cv::cvtColor(screen, grey, cv::COLOR_BGR2GRAY);
    auto row = [&](int x0, int y0) {
        int value = 0, ones = 0;
        for (int k = 0; k < 12; ++k) {
            const double level = cv::mean(grey(cv::Rect(x0 + 16 * k + 4, y0 + 4, 8, 8)))[0];
            if (level > 70 && level < 185) return -1;
            value |= (level <= 70 && k < 11) << k;
            ones += level <= 70;
        }
        return ones % 2 == 1 ? value : -1;
    };
    return row(0, 0) == row(640 - 12 * 16, 480 - 16) ? row(0, 0) : -1;
}

/// The movie's pictures, to tell which one a screenshot shows. Most of the movie stands still;
/// only what moves tells its frames apart, so each pixel is weighed by how much it changes.
struct MovieIndex {
    cv::Mat rows, weights;
    double aspect = 0.75;

    /// Small, grey and blurred, without the border (a quad's edges on screen are not exact).
    static cv::Mat small(const cv::Mat& picture) {
        cv::Mat sized, grey;
        cv::resize(picture, sized, {136, 104}, 0, 0, cv::INTER_AREA);
        cv::cvtColor(sized, grey, cv::COLOR_BGR2GRAY);
        grey.convertTo(grey, CV_32F);
        cv::GaussianBlur(grey, grey, {5, 5}, 1.2);
        return grey(cv::Rect(4, 4, 128, 96)).clone().reshape(1, 1);
    }
    cv::Mat weighed(const cv::Mat& row) const {
        cv::Mat out = row.mul(weights);
        out -= cv::mean(out)[0];
        return out / std::max(cv::norm(out), 1e-9);
    }
    explicit MovieIndex(const std::string& path) {
        cv::VideoCapture movie(path, cv::CAP_FFMPEG);
        cv::Mat all, mean;
        for (cv::Mat picture; movie.read(picture); aspect = double(picture.rows) / picture.cols)
            all.push_back(small(picture));
        if (all.empty()) return;
        cv::reduce(all, mean, 0, cv::REDUCE_AVG);
        const cv::Mat centred = all - cv::repeat(mean, all.rows, 1);
        cv::reduce(centred.mul(centred), weights, 0, cv::REDUCE_AVG);
        cv::sqrt(weights, weights);
        for (int r = 0; r < all.rows; ++r) rows.push_back(weighed(all.row(r)));
    }
    /// The movie frame that `picture` shows, or -1 when none matches well.
    int which(const cv::Mat& picture) const {
        double best = 0;
        cv::Point where;
        cv::minMaxLoc(rows * weighed(small(picture)).t(), nullptr, &best, nullptr, &where);
        return best > 0.7 ? where.y : -1;
    }
};

/// Where the keys have put the character after the first `batches` batches: the holder's walk
/// (marker x, y) and its turn.
struct CharacterState {
    double x = 0, y = kHolderY, heading = 0;  // radians

    explicit CharacterState(int batches) {
        for (int b = 0; b < batches; ++b)
            for (int i = 0; i < kKeys[b].second; ++i) {
                const char key = kKeys[b].first[0];
                const double step = key == 'i' ? kWalk : key == 'k' ? -kWalk : 0;
                x -= step * std::sin(heading), y += step * std::cos(heading);
                heading += (key == 'j' ? 1 : key == 'l' ? -1 : 0) * kTurnDeg * CV_PI / 180;
            }
    }
    /// A point of the model (model units) in the marker frame.
    cv::Vec3d place(const osg::Vec3& p) const {
        const double px = kCharacterScale * p.x(), py = kCharacterScale * p.y();
        return {x + std::cos(heading) * px - std::sin(heading) * py,
                y + std::sin(heading) * px + std::cos(heading) * py, kCharacterScale * p.z()};
    }
};

osg::BoundingBox modelBounds(const std::string& path) {
    osg::ComputeBoundsVisitor bounds;
    if (osg::ref_ptr<osg::Node> node = osgDB::readNodeFile(path)) node->accept(bounds);
    return bounds.getBoundingBox();
}

/// One run of the visit: what it recorded, with the feed's truth and the exhibit's own files.
struct Visit {
    struct Shot {                 ///< the first screenshot of a feed frame (its first pass only)
        std::vector<uchar> jpeg;  ///< what the window showed
        double time;              ///< when, in seconds
        long audioBytes;          ///< the audio capture's size then
    };
    const std::string exhibit = sourceDir() + "/exhibit", feed = exhibit + "/demo/demo-feed.avi";
    const std::vector<quorv::FrameTruth> truth =
        quorv::FrameTruth::readFile(exhibit + "/demo/demo-feed.truth.jsonl").value_or(kNoTruth);
    const osgART::CameraParameters camera =
        osgART::CameraParameters::read(exhibit + "/camera_para.dat").value_or(kNoCamera);
    const osg::BoundingBox character = modelBounds(exhibit + "/media_Tovarin/tarmeliaCentrado.osg");
    const osg::BoundingBox play = modelBounds(exhibit + "/media_Tovarin/Play.3ds");
    std::map<int, Shot> shots;
    std::vector<std::pair<int, int>> keyFrames;  ///< latest frame on screen before, after a batch
    std::vector<int16_t> sound;                  ///< what the mixer played
    std::string output, errors;
    int exitStatus = -1;

    /// The marker `name` when it is in view in frame `f`.
    const Marker* marker(int f, const std::string& name) const {
        for (const Marker& m : truth[f].markers)
            if (m.name == name && m.inView) return &m;
        return nullptr;
    }
    /// Where a point of the marker frame lands in the picture: the program draws its content
    /// through the calibration's ideal pinhole.
    cv::Point2d project(const Marker& m, const cv::Vec3d& p) const {
        const auto& T = m.cameraFromMarker;
        cv::Vec4d c(0, 0, 0, 1), h;
        for (int r = 0; r < 3; ++r) c[r] = cv::Vec4d(&T[4 * r]).dot({p[0], p[1], p[2], 1});
        for (int r = 0; r < 3; ++r) h[r] = cv::Vec4d(camera.mat[r].data()).dot(c);
        return {h[0] / h[2], h[1] / h[2]};
    }
    /// How many batches of keys the character had taken in frame `f`; -1 while one was on its way.
    int batchesAt(int f) const {
        int n = 0;
        for (const auto& [before, after] : keyFrames) {
            if (f > before && f < after + kSettle) return -1;
            n += f >= after + kSettle;
        }
        return n;
    }
    /// The audio buffer being mixed when frame `f` (or a later one) first came on screen.
    long bufferAt(int f) const {
        const auto found = shots.lower_bound(f);
        const Shot& shot = found == shots.end() ? shots.rbegin()->second : found->second;
        return shot.audioBytes / 4 / kBuffer;
    }

    void run() {
        const std::string audio = freshFolder("visit") + "/capture.raw";
        const std::map<std::string, std::string> disk = {{"SDL_AUDIODRIVER", "disk"},
                                                         {"SDL_DISKAUDIOFILE", audio},
                                                         {"SDL_DISKAUDIODELAY", "186"}};
        XServer server;
        ExhibitRun quorv(server, {exhibit, feed, ExhibitRun::Confirm::Later, disk});
        // The recorder: screenshots over and over, from before the notice is confirmed.
        std::atomic<int> latest{-1};
        std::atomic<bool> stop{false};
        std::thread recorder([&] {
            const auto start = std::chrono::steady_clock::now();
            for (; !stop; std::this_thread::sleep_for(2ms)) {
                const cv::Mat screen = grab(server.display(), ExhibitRun::kWindow);
                struct stat info {};
                const long bytes = stat(audio.c_str(), &info) == 0 ? info.st_size : 0;
                const int frame = screen.empty() ? -1 : frameNumber(screen);
                if (frame >= 0 && latest - frame > 100) latest = kFrames;  // it started again
                if (frame < 0 || latest - frame > 100 || shots.count(frame)) continue;
                const std::chrono::duration<double> t = std::chrono::steady_clock::now() - start;
                cv::imencode(".jpg", screen, shots[frame].jpeg, {cv::IMWRITE_JPEG_QUALITY, 95});
                shots[frame].time = t.count(), shots[frame].audioBytes = bytes;
                latest = std::max(latest.load(), frame);
            }
        });
        auto waitForFrame = [&](int frame) {
            for (const auto end = std::chrono::steady_clock::now() + 120s;
                 latest < frame && quorv.running() && std::chrono::steady_clock::now() < end;)
                std::this_thread::sleep_for(5ms);
        };
        if (quorv.confirm(ExhibitRun::Confirm::Return)) {
            waitForFrame(kHoldStart);
            for (const auto& [key, times] : kKeys) {  // each state seen for 20 frames at least
                keyFrames.emplace_back(latest, 0);
                quorv.press(key, times);
                waitForFrame((keyFrames.back().second = latest) + kSettle + 20);
            }
            waitForFrame(kFrames - 3);
        }
        exitStatus = quorv.quit();
        stop = true;
        recorder.join();
        output = quorv.output();
        errors = quorv.problem();
        std::ifstream in(audio, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), {});
        sound.resize(bytes.size() / 2);
        std::memcpy(sound.data(), bytes.data(), sound.size() * 2);
    }
};

/// What the screenshots showed, against where the truth puts each marker's content: the
/// character's bounding box as the keys placed it, the Play model's box and the movie's quad,
/// each projected and grown by a margin for the tracker's pose error and lens distortion.
struct Seen {
    std::vector<int> strays;  ///< frames with content where no marker in view puts any
    std::map<std::string, std::vector<int>> missing;  ///< frames a marker's content was missing
    std::map<std::string, int> checked;
    std::vector<std::pair<int, int>> movie;             ///< feed frame, movie frame on patt.camara
    std::map<int, std::vector<cv::Point2d>> character;  ///< batches of keys: centroids in the hold

    Seen(const Visit& visit, const MovieIndex& movieIndex) {
        const double w = kMovieWidth / 2, h = w * movieIndex.aspect;
        const std::vector<cv::Vec3d> quad = {{-w, h, 0}, {w, h, 0}, {w, -h, 0}, {-w, -h, 0}};
        cv::VideoCapture video(visit.feed, cv::CAP_FFMPEG);
        cv::Mat fed, shot, difference, channels[3], drawn;
        for (int f = 0; video.read(fed) && f < kFrames; ++f) {
            const int batches = visit.batchesAt(f);
            if (!visit.shots.count(f) || batches < 0) continue;
            shot = cv::imdecode(visit.shots.at(f).jpeg, cv::IMREAD_COLOR);
            cv::absdiff(shot, fed, difference);
            cv::split(difference, channels);
            drawn = cv::max(cv::max(channels[0], channels[1]), channels[2]) > 45;
            cv::morphologyEx(drawn, drawn, cv::MORPH_OPEN, cv::Mat::ones(3, 3, CV_8U));
            const CharacterState state(batches);
            std::vector<std::tuple<const Marker*, cv::Mat, cv::Mat>> contents;  // shape, region
            cv::Mat allowed = cv::Mat::zeros(480, 640, CV_8U);
            for (const Marker& m : visit.truth[f].markers) {
                if (!m.inView) continue;
                std::vector<cv::Point> outline, hull;
                for (int i = 0; i < 8; ++i) {
                    const osg::Vec3 c =
                        (m.name == kCharacter ? visit.character : visit.play).corner(i);
                    const cv::Vec3d p =
                        m.name == kCharacter ? state.place(c) : cv::Vec3d(c.x(), c.y(), c.z());
                    outline.push_back(visit.project(m, m.name == kMovie ? quad[i % 4] : p));
                }
                cv::convexHull(outline, hull);
                cv::Mat shape = cv::Mat::zeros(480, 640, CV_8U), region;
                cv::fillConvexPoly(shape, hull, 255);
                cv::dilate(shape, region, cv::getStructuringElement(cv::MORPH_ELLIPSE, {17, 17}));
                allowed |= region;
                // Checked where the marker is whole, not tilted away, clear of the edges.
                const cv::Rect inner(8, 8, 624, 464), box = cv::boundingRect(hull);
                bool clear = m.fullyInView && m.tiltDeg < 45 && (box & inner) == box;
                for (const auto& corner : m.corners)
                    clear = clear && inner.contains({int(corner[0]), int(corner[1])});
                if (clear) contents.emplace_back(&m, shape, region);
            }
            if (cv::countNonZero(drawn & ~allowed) > 15) strays.push_back(f);
            for (const auto& [m, shape, region] : contents) {
                cv::Mat others = cv::Mat::zeros(480, 640, CV_8U);
                for (const auto& other : contents)
                    if (std::get<0>(other) != m) others |= std::get<2>(other);
                if (cv::countNonZero(others & shape) > 0) continue;  // overlapping: not told apart
                const cv::Mat own = drawn & region & ~others;
                const double fill = m->name == kCharacter ? 0.15 : m->name == kPlay ? 0.4 : 0.6;
                ++checked[m->name];
                if (cv::countNonZero(own & shape) < fill * cv::countNonZero(shape))
                    missing[m->name].push_back(f);
                const cv::Moments moments = cv::moments(own, true);
                if (m->name == kCharacter && f > kHoldStart - 30 && f < kHoldEnd && moments.m00 > 0)
                    character[batches].emplace_back(moments.m10 / moments.m00,
                                                    moments.m01 / moments.m00);
                if (m->name != kMovie) continue;
                // The quad flattened, its first row along its top edge (marker +y).
                std::vector<cv::Point2f> from, to = {{0, 0}, {256, 0}, {256, 192}, {0, 192}};
                for (const cv::Vec3d& corner : quad) from.push_back(visit.project(*m, corner));
                cv::warpPerspective(shot, difference, cv::getPerspectiveTransform(from, to),
                                    {256, 192});
                movie.emplace_back(f, movieIndex.which(difference));
            }
        }
    }
};

TEST(VisitTest, AWholeVisitMatchesItsRecording) {
    Visit visit;
    const MovieIndex movieIndex(visit.exhibit + "/videos_Tovarin/Tovarin.mpg");
    ASSERT_TRUE(visit.truth.size() == kFrames && visit.camera.xsize == 640 &&
                visit.character.valid() && visit.play.valid() && movieIndex.rows.rows > 100);
    visit.run();
    {
        SCOPED_TRACE("standard output and exit");
        EXPECT_EQ(visit.exitStatus, 0) << visit.errors;
        const std::string m = "ADDMARKER\nIN\nOUT\nEND ADDMARKER\n";
        EXPECT_EQ(visit.output, "yeah\n" + m + m + m + "Got movie\n");
        ASSERT_EQ(visit.keyFrames.size(), kKeys.size()) << visit.errors;
        EXPECT_LT(visit.keyFrames.back().second, kHoldEnd) << "keys after the hold";
        ASSERT_GT(visit.shots.size(), 500u) << "too few screenshots with a frame number";
    }
    Seen seen(visit, movieIndex);
    {
        SCOPED_TRACE("content on the markers, nothing where no marker is");
        EXPECT_TRUE(seen.strays.empty())
            << seen.strays.size() << " screenshots with content where no marker is, e.g. "
            << keep(cv::imdecode(visit.shots.at(seen.strays[0]).jpeg, 1), "visit-stray");
        for (const std::string& name : {kCharacter, kPlay, kMovie}) {
            EXPECT_GT(seen.checked[name], 100) << name;
            EXPECT_EQ(seen.missing.count(name), 0u)
                << name << ": content missing in " << seen.missing.at(name).size() << " of "
                << seen.checked[name] << " screenshots, e.g. frame " << seen.missing.at(name)[0];
        }
    }
    {
        SCOPED_TRACE("the movie");
        // It runs while its marker is tracked (in full view) and only then, keeping to the clock:
        // across an absence it holds and then resumes where it froze, so between the last
        // picture before and the first after it advances by no more than the time tracked.
        const int length = movieIndex.rows.rows;
        std::vector<std::pair<int, int>> readable;
        std::copy_if(seen.movie.begin(), seen.movie.end(), std::back_inserter(readable),
                     [](auto& shown) { return shown.second >= 0; });
        EXPECT_GT(readable.size(), seen.movie.size() * 19 / 20) << "quads showing no movie";
        int resumes = 0;
        double advanced = 0, trackedInView = 0;
        for (size_t i = 0; i + 1 < readable.size(); ++i) {
            const auto [a, aIndex] = readable[i];
            const auto [b, bIndex] = readable[i + 1];
            double tracked = 0;
            bool away = false;
            for (auto s = visit.shots.find(a); s->first < b; ++s) {
                const Marker* m = visit.marker(s->first, kMovie);
                if (m && m->fullyInView) tracked += std::next(s)->second.time - s->second.time;
                away = away || !m;
            }
            const int advance = ((bIndex - aIndex) % length + length * 3 / 2) % length - length / 2;
            if (!away) advanced += advance, trackedInView += tracked;
            resumes += away;
            EXPECT_TRUE(!away || (advance >= -2 && advance <= 1.5 * kMovieFps * tracked + 4))
                << "not resumed where it froze: feed frames " << a << " -> " << b
                << ", movie frames " << aIndex << " -> " << bIndex;
        }
        EXPECT_GE(resumes, 3) << "patt.camara leaves and comes back three times";
        EXPECT_GT(advanced, 0.5 * kMovieFps * trackedInView) << "it does not run while in view";
    }
    {
        SCOPED_TRACE("the phrase");
        SDL_AudioSpec spec;
        Uint8* wav = nullptr;
        Uint32 size = 0;
        const std::string path = visit.exhibit + "/sounds_Tovarin/frase.wav";
        ASSERT_TRUE(SDL_LoadWAV(path.c_str(), &spec, &wav, &size));
        std::vector<int16_t> phrase(size / 2);
        for (size_t i = 0; i < phrase.size(); ++i)
            phrase[i] = int16_t(reinterpret_cast<int16_t*>(wav)[i] * kPhraseVolume / 128);
        SDL_FreeWAV(wav);
        auto silent = [](auto& sound, long i) { return !sound[2 * i] && !sound[2 * i + 1]; };
        const long length = long(phrase.size() / 2);  // stereo sample frames
        long first = 0, last = length - 1, cuts = 0;
        while (silent(phrase, first)) ++first;
        while (silent(phrase, last)) --last;
        // The stretches of sound (the phrase's own pauses are shorter than half a second), and
        // the sightings of patt.roundplay (its first frame, and the first frame without it).
        std::vector<std::pair<long, long>> sounds;
        std::vector<std::pair<int, int>> sightings;
        for (long i = 0; i < long(visit.sound.size() / 2); ++i) {
            if (silent(visit.sound, i)) continue;
            if (sounds.empty() || i - sounds.back().second > kAudioRate / 2)
                sounds.emplace_back(i, i);
            sounds.back().second = i;
        }
        for (int f = 1; f < kFrames; ++f) {
            if (visit.marker(f, kPlay) && !visit.marker(f - 1, kPlay))
                sightings.emplace_back(f, kFrames);
            if (!visit.marker(f, kPlay) && visit.marker(f - 1, kPlay)) sightings.back().second = f;
        }
        ASSERT_EQ(sounds.size(), sightings.size()) << "once per sighting, and never otherwise";
        for (size_t k = 0; k < sounds.size(); ++k) {
            SCOPED_TRACE("sighting " + std::to_string(k));
            const long start = sounds[k].first - first, heard = sounds[k].second - start;
            long wrong = 0;  // the phrase from its beginning, and nothing else
            for (long i = std::max(0L, -start); i <= heard && i < length; ++i)
                for (int c = 0; c < 2; ++c)
                    wrong += std::abs(visit.sound[2 * (start + i) + c] - phrase[2 * i + c]) > 1;
            EXPECT_EQ(wrong, 0) << "not the phrase from its start";
            EXPECT_LE(heard, last) << "the phrase went on or came again";
            // It starts in the pass that draws the sighting's first frame, so no later than the
            // buffer mixed when that frame was seen on screen (give or take one), and earlier
            // only by the time drawing and the screenshot took.
            const long shown = visit.bufferAt(sightings[k].first);
            EXPECT_TRUE(start / kBuffer <= shown + 2 && start / kBuffer >= shown - 8)
                << "started in buffer " << start / kBuffer << ", the sighting seen in " << shown;
            if ((sightings[k].second - sightings[k].first) / kFps > double(length) / kAudioRate) {
                EXPECT_EQ(heard, last) << "the phrase was cut short";
                continue;
            }
            // Taken away while the phrase sounds: it stops in the pass that draws the first frame
            // without it (the same allowance as for the start), after the last sound heard and
            // before the next one the phrase would have made.
            ++cuts;
            EXPECT_LT(heard, last) << "the phrase was not cut off";
            long next = heard + 1;
            while (next < length && silent(phrase, next)) ++next;
            const long lost = visit.bufferAt(sightings[k].second);
            EXPECT_TRUE(sounds[k].second / kBuffer <= lost + 2 &&
                        (start + next) / kBuffer >= lost - 8)
                << "cut between buffers " << sounds[k].second / kBuffer << " and "
                << (start + next) / kBuffer << ", lost in " << lost;
        }
        EXPECT_EQ(cuts, 1) << "patt.roundplay is taken away once while the phrase sounds";
    }
    {
        SCOPED_TRACE("the keys");
        // The character's outline (its median centroid in each state) moves as the projected
        // centre of its box predicts. A turn swings the arms round by an amount the box does not
        // predict; turns are checked by the direction of the walk that follows.
        const Marker& hold = *visit.marker(1260, kCharacter);
        const osg::Vec3 centre = visit.character.center();
        auto median = [](std::vector<cv::Point2d> v) {
            const auto middle = v.begin() + v.size() / 2;
            std::nth_element(v.begin(), middle, v.end(),
                             [](auto& p, auto& q) { return p.x < q.x; });
            const double x = middle->x;
            std::nth_element(v.begin(), middle, v.end(),
                             [](auto& p, auto& q) { return p.y < q.y; });
            return cv::Point2d(x, middle->y);
        };
        for (int b = 0; b < int(kKeys.size()); ++b) {
            const auto before = seen.character.find(b), after = seen.character.find(b + 1);
            ASSERT_TRUE(before != seen.character.end() && after != seen.character.end()) << b;
            const cv::Point2d moved = median(after->second) - median(before->second);
            const cv::Point2d predicted = visit.project(hold, CharacterState(b + 1).place(centre)) -
                                          visit.project(hold, CharacterState(b).place(centre));
            if (kKeys[b].first == "j" || kKeys[b].first == "l") continue;
            EXPECT_LE(cv::norm(moved - predicted), 0.3 * cv::norm(predicted))
                << kKeys[b].second << " x " << kKeys[b].first << ": moved " << moved
                << " px, predicted " << predicted;
        }
    }
}

}  // namespace
