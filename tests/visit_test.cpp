// A whole visit, end to end: the real program with its real plugins and sound library, fed the
// minute-long demo feed (exhibit/demo/demo-feed.avi) as its camera, while the screen and the sound
// are recorded; then checked part by part against the feed's ground truth: what it prints, the
// movie and the phrase. (Where content stands on its marker and how the keys move the character
// are checked on synthetic footage, in exhibit_content_test.) The movie's sound is told from the
// phrase by its two sides, which differ, where the phrase's do not.
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
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>
#include <thread>

#include "SoundLibrary.h"
#include "support/ExhibitRun.h"
#include "synth/FrameTruth.h"

namespace {

using namespace std::chrono_literals;
using namespace quorvtest;
using Marker = quorv::FrameTruth::Marker;

const std::string kMovie = "patt.camara", kPlay = "patt.roundplay",
                  kExhibit = sourceDirectory() + "/exhibit/",
                  kFeed = kExhibit + "demo/demo-feed.avi";
constexpr int kFrames = 1800;
constexpr double kFps = 30, kMovieFps = 25;
// Audio as the program mixes it: 22050 Hz, 16-bit stereo, 4096-sample buffers, the phrase at
// half volume.
constexpr long kRate = 22050, kBuffer = 4096, kVolume = 64;
// The movie's width on its marker (mm), as the exhibit's set-up declares it.
constexpr double kMovieWidth = 180;

/// The frame number on screen, or -1 when the two rows of cells are not crisp black and white,
/// disagree or fail their parity (something drawn over them, a window all black or white).
int frameNumber(const cv::Mat& screen) {
    cv::Mat grey;
    cv::cvtColor(screen, grey, cv::COLOR_BGR2GRAY);
    int value[2] = {0, 0}, ones[2] = {0, 0};
    for (int k = 0; k < 24; ++k) {  // the top row from the left, the bottom row from the middle
        const int r = k / 12, c = k % 12;
        const double level = cv::mean(grey(cv::Rect(448 * r + 16 * c + 4, 464 * r + 4, 8, 8)))[0];
        if (level > 70 && level < 185) return -1;
        value[r] |= (level <= 70 && c < 11) << c, ones[r] += level <= 70;
    }
    return value[0] == value[1] && ones[0] % 2 && ones[1] % 2 ? value[0] : -1;
}

/// The movie's pictures, to tell which one a screenshot shows. Most of the movie stands still;
/// only what moves tells its frames apart, so each pixel is weighed by how much it changes.
struct MovieIndex {
    cv::Mat rows, weights;
    double aspect = 0.75;

    /// Small, grey and blurred, without the border (a quad's edges on screen are not exact).
    static cv::Mat small(const cv::Mat& picture) {
        cv::Mat grey;
        cv::resize(picture, grey, {136, 104}, 0, 0, cv::INTER_AREA);
        cv::cvtColor(grey, grey, cv::COLOR_BGR2GRAY);
        grey.convertTo(grey, CV_32F);
        cv::GaussianBlur(grey, grey, {5, 5}, 1.2);
        return grey(cv::Rect(4, 4, 128, 96)).clone().reshape(1, 1);
    }
    cv::Mat weighed(const cv::Mat& row) const {
        cv::Mat out = row.mul(weights);
        out -= cv::mean(out)[0];
        return out / std::max(cv::norm(out), 1e-9);
    }
    MovieIndex() {
        cv::VideoCapture movie(kExhibit + "videos_Tovarin/Tovarin.mpg", cv::CAP_FFMPEG);
        cv::Mat all, mean;
        for (cv::Mat picture; movie.read(picture); aspect = double(picture.rows) / picture.cols)
            all.push_back(small(picture));
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

/// One run of the visit: what it recorded, and which movie pictures its screenshots showed on
/// patt.camara where the truth puts the movie.
struct Visit {
    const std::vector<quorv::FrameTruth> truth =
        *quorv::FrameTruth::readFile(kExhibit + "demo/demo-feed.truth.jsonl");
    const osgART::CameraParameters camera =
        *osgART::CameraParameters::read(kExhibit + "camera_para.dat");
    const MovieIndex index;
    // What the run recorded: the first screenshot of each feed frame (its first pass only), and
    // when it was taken (seconds) with the audio capture's size then.
    std::map<int, std::vector<uchar>> shots;
    std::map<int, std::pair<double, long>> shotAt;
    std::vector<int16_t> sound;  ///< what the mixer played
    std::string output, errors;
    int exitStatus = -1;
    // What the screenshots showed.
    std::vector<std::pair<int, int>> movie;  ///< feed frame, movie frame on patt.camara
    int unreadable = 0;                      ///< quads showing no movie frame

    /// The marker `name` when it is in view in frame `f`.
    const Marker* marker(int f, const std::string& name) const {
        for (const Marker& m : truth[f].markers)
            if (m.name == name && m.inView) return &m;
        return nullptr;
    }
    /// Where a point of the marker frame lands in the picture: the program draws its content
    /// through the calibration's ideal pinhole.
    cv::Point2d project(const Marker& m, const cv::Vec3d& p) const {
        const cv::Vec3d c = cv::Matx34d(m.cameraFromMarker.data()) * cv::Vec4d(p[0], p[1], p[2], 1);
        const cv::Vec3d h = cv::Matx34d(camera.mat[0].data()) * cv::Vec4d(c[0], c[1], c[2], 1);
        return {h[0] / h[2], h[1] / h[2]};
    }
    /// The audio buffer being mixed when frame `f` (or a later one) first came on screen.
    long bufferAt(int f) const {
        const auto found = shotAt.lower_bound(f);
        return (found == shotAt.end() ? *shotAt.rbegin() : *found).second.second / 4 / kBuffer;
    }

    void run() {
        const std::string audio = freshFolder("visit") + "/capture.raw";
        XServer server;
        ExhibitRun quorv(server, kExhibit, kFeed, ExhibitRun::Confirm::Later,
                         {{"SDL_AUDIODRIVER", "disk"},
                          {"SDL_DISKAUDIOFILE", audio},
                          {"SDL_DISKAUDIODELAY", "186"}});
        // The recorder: screenshots over and over, from before the notice is confirmed.
        std::atomic<int> latest{-1};
        std::atomic<bool> stop{false};
        std::thread recorder([&] {
            for (const auto start = std::chrono::steady_clock::now(); !stop;
                 std::this_thread::sleep_for(2ms)) {
                const cv::Mat screen = quorv.picture();
                const std::chrono::duration<double> t = std::chrono::steady_clock::now() - start;
                struct stat info {};
                stat(audio.c_str(), &info);
                const int frame = frameNumber(screen);
                if (frame >= 0 && latest - frame > 100) latest = kFrames;  // it started again
                if (frame < 0 || latest - frame > 100 || shots.count(frame)) continue;
                cv::imencode(".jpg", screen, shots[frame], {cv::IMWRITE_JPEG_QUALITY, 95});
                shotAt[frame] = {t.count(), info.st_size};
                latest = std::max(latest.load(), frame);
            }
        });
        auto waitFor = [&](int f) { until([&] { return latest >= f || !quorv.running(); }, 120s); };
        if (quorv.confirm(ExhibitRun::Confirm::Return)) waitFor(kFrames - 3);
        exitStatus = quorv.quit();
        stop = true;
        recorder.join();
        output = quorv.output(), errors = quorv.problem();
        const std::string bytes = shell("cat " + audio);
        sound.assign((const int16_t*)bytes.data(), (const int16_t*)bytes.data() + bytes.size() / 2);
    }

    /// Reads the movie picture off each screenshot where patt.camara is whole, not tilted away,
    /// clear of the edges, and no other marker's content (kept within a box over its marker) may
    /// cover the movie's quad.
    void look() {
        const double w = kMovieWidth / 2, h = w * index.aspect;
        const std::vector<cv::Vec3d> quad = {{-w, h, 0}, {w, h, 0}, {w, -h, 0}, {-w, -h, 0}};
        const std::vector<cv::Point2f> flat = {{0, 0}, {256, 0}, {256, 192}, {0, 192}};
        const cv::Rect inner(8, 8, 624, 464);
        auto hull = [&](const Marker& m, const std::vector<cv::Vec3d>& points) {
            std::vector<cv::Point2f> seen, out;
            for (const cv::Vec3d& p : points) seen.push_back(project(m, p));
            cv::convexHull(seen, out);
            return out;
        };
        for (const auto& [f, jpeg] : shots) {
            const Marker* m = marker(f, kMovie);
            if (!m || !m->fullyInView || m->tiltDeg >= 45) continue;
            const std::vector<cv::Point2f> shape = hull(*m, quad);
            bool clear = (cv::boundingRect(shape) & inner) == cv::boundingRect(shape);
            for (const Marker& other : truth[f].markers) {
                if (&other == m || !other.inView || !clear) continue;
                std::vector<cv::Vec3d> box;
                for (int i = 0; i < 8; ++i)
                    box.emplace_back(i & 1 ? 70 : -70, i & 2 ? 100 : -70, i & 4 ? 90 : 0);
                std::vector<cv::Point2f> overlap;
                clear = cv::intersectConvexConvex(shape, hull(other, box), overlap) < 1;
            }
            if (!clear) continue;
            // The quad flattened, its first row along its top edge (marker +y).
            std::vector<cv::Point2f> corners;
            for (const cv::Vec3d& corner : quad) corners.push_back(project(*m, corner));
            cv::Mat flattened;
            cv::warpPerspective(cv::imdecode(jpeg, cv::IMREAD_COLOR), flattened,
                                cv::getPerspectiveTransform(corners, flat), {256, 192});
            const int shown = index.which(flattened);
            shown < 0 ? void(++unreadable) : void(movie.emplace_back(f, shown));
        }
    }
};

TEST(VisitTest, AWholeVisitMatchesItsRecording) {
    Visit visit;
    ASSERT_TRUE(visit.truth.size() == kFrames && visit.index.rows.rows > 100);
    visit.run();
    {
        SCOPED_TRACE("standard output and exit");
        EXPECT_EQ(visit.exitStatus, 0) << visit.errors;
        const std::string m = "ADDMARKER\nIN\nOUT\nEND ADDMARKER\n";
        EXPECT_EQ(visit.output, "yeah\n" + m + m + m + "Got movie\n");
        ASSERT_GT(visit.shots.size(), 500u) << "too few screenshots with a frame number";
    }
    visit.look();
    {
        SCOPED_TRACE("the movie");
        // It runs while its marker is tracked (in full view) and only then, keeping to the clock:
        // across an absence it holds and then resumes where it froze, so between the last
        // picture before and the first after it advances by no more than the time tracked.
        const int length = visit.index.rows.rows;
        ASSERT_GT(visit.movie.size(), 300u) << "too few screenshots of the movie";
        EXPECT_LT(visit.unreadable, int(visit.movie.size()) / 19) << "quads showing no movie";
        int resumes = 0;
        double advanced = 0, trackedInView = 0;
        for (size_t i = 0; i + 1 < visit.movie.size(); ++i) {
            const auto [a, from] = visit.movie[i];
            const auto [b, to] = visit.movie[i + 1];
            double tracked = 0;
            bool away = false;
            // The time between two screenshots shared out among the feed frames between them: a
            // recorder held up on a busy machine misses frames, not the time they took.
            for (auto s = visit.shotAt.find(a), n = std::next(s); s->first < b; s = n++)
                for (int f = s->first; f < n->first; ++f) {
                    const Marker* m = visit.marker(f, kMovie);
                    if (m && m->fullyInView)
                        tracked += (n->second.first - s->second.first) / (n->first - s->first);
                    away = away || !m;
                }
            const int advance = ((to - from) % length + length * 3 / 2) % length - length / 2;
            if (!away) advanced += advance, trackedInView += tracked;
            resumes += away;
            EXPECT_TRUE(!away || (advance >= -2 && advance <= 1.5 * kMovieFps * tracked + 4))
                << "feed " << a << " to " << b << ", movie " << from << " to " << to << " in "
                << tracked << " s tracked";
        }
        EXPECT_GE(resumes, 3) << "patt.camara leaves and comes back three times";
        EXPECT_GT(advanced, 0.5 * kMovieFps * trackedInView) << "it does not run while in view";
    }
    {
        SCOPED_TRACE("the phrase");
        SDL_AudioSpec format;
        Uint8* wav = nullptr;
        Uint32 size = 0;
        ASSERT_TRUE(
            SDL_LoadWAV((kExhibit + "sounds_Tovarin/frase.wav").c_str(), &format, &wav, &size));
        std::vector<int16_t> phrase((int16_t*)wav, (int16_t*)(wav + size));
        for (int16_t& sample : phrase) sample = int16_t(sample * kVolume / 128);
        SDL_FreeWAV(wav);
        const long length = long(phrase.size() / 2);  // stereo sample frames
        long cuts = 0;
        // The phrase is the same on both sides (to a dither of 1) and the movie's sound is not,
        // so the movie is all there is of the difference between the sides, and the phrase is
        // found in their sum: where its first half second matches best, once per sighting.
        const long frames = long(visit.sound.size() / 2);
        cv::Mat mid(1, int(frames), CV_32F), side(1, int(frames), CV_32F), scores;
        for (long i = 0; i < frames; ++i) {
            mid.at<float>(int(i)) = (visit.sound[2 * i] + visit.sound[2 * i + 1]) / 2.0f;
            side.at<float>(int(i)) = (visit.sound[2 * i] - visit.sound[2 * i + 1]) / 2.0f;
        }
        auto moving = [&](long from, long n) {  // whether the movie is heard there
            return cv::countNonZero(cv::abs(side.colRange(int(from), int(from + n))) > 1) > 0;
        };
        std::vector<std::pair<long, long>> phrases;  ///< where each phrase starts and stops
        cv::Mat speech(1, int(length), CV_32F);
        for (int i = 0; i < speech.cols; ++i) speech.at<float>(i) = phrase[2 * i];
        const int lead = kRate / 5;  // past the silence it starts with and the dip of the movie
        cv::matchTemplate(mid, speech.colRange(lead, lead + kRate / 2), scores,
                          cv::TM_CCORR_NORMED);
        for (int i = 0; i < scores.cols; ++i) {
            if (scores.at<float>(i) < 0.8) continue;
            if (phrases.empty() || i - lead - phrases.back().first > length)
                phrases.emplace_back(i - lead, 0);
            else if (scores.at<float>(i) > scores.at<float>(int(phrases.back().first + lead)))
                phrases.back().first = i - lead;
        }
        std::vector<std::pair<int, int>> sightings;
        for (int f = 1; f < kFrames; ++f) {
            const bool now = visit.marker(f, kPlay), before = visit.marker(f - 1, kPlay);
            if (now && !before) sightings.emplace_back(f, kFrames);
            if (!now && before) sightings.back().second = f;
        }
        ASSERT_EQ(phrases.size(), sightings.size()) << "once per sighting, and never otherwise";
        for (size_t k = 0; k < sightings.size(); ++k) {
            SCOPED_TRACE("sighting " + std::to_string(k));
            const auto [seen, gone] = sightings[k];
            const long start = phrases[k].first;
            // Heard, window by window of voice: the phrase alone, to the sample, where the movie
            // is silent; under the movie, what is left once the phrase is taken away is weak.
            long heard = 0, voiced = 0, wrong = 0, misses = 0;
            for (int w = 0; w + 1024 <= length && start + w + 1024 <= frames; w += 1024) {
                const cv::Mat said = speech.colRange(w, w + 1024),
                              got = mid.colRange(int(start) + w, int(start) + w + 1024);
                const double voice = said.dot(said), rest = std::pow(cv::norm(got, said), 2);
                // Windows of voice louder than the movie ducked under it.
                if (voice < 1024.0 * 1500 * 1500) continue;
                voiced = w + 1023;
                const bool alike = rest <= (moving(start + w, 1024) ? voice / 2 : 1024);
                if (!alike) ++misses;
                if (alike) wrong += misses, misses = 0, heard = w + 1023;
            }
            phrases[k].second = start + (heard < voiced ? heard : length);
            EXPECT_EQ(wrong, 0) << "not the phrase from its start";
            // It starts in the pass that draws the sighting's first frame, so no later than the
            // buffer mixed when that frame was seen on screen (give or take one), and earlier
            // only by the time drawing and the screenshot took. Taken away while it sounds, it
            // stops the same way in the pass that draws the first frame without it (its last
            // window of voice heard may end a little before, in a pause of the phrase).
            const long shown = visit.bufferAt(seen), lost = visit.bufferAt(gone);
            EXPECT_NEAR(start / kBuffer, shown - 3, 5) << "the start against the sighting's buffer";
            const bool taken = (gone - seen) / kFps < double(length) / kRate;
            cuts += taken;
            EXPECT_EQ(heard < voiced, taken) << "cut off when, and only when, taken away";
            EXPECT_TRUE(!taken || std::abs((start + heard) / kBuffer - lost + 3) <= 5)
                << "not cut at the loss, in buffer " << lost;
        }
        EXPECT_EQ(cuts, 1) << "patt.roundplay is taken away once while the phrase sounds";

        SCOPED_TRACE("the movie's sound");
        // The movie's sound track as FFmpeg decodes it for the mixer, twice (the movie starts
        // over after its last picture): where each buffer heard comes from, and how loud it is.
        const long loop = long(visit.index.rows.rows / kMovieFps * kRate);
        const std::string track =
            shell("ffmpeg -v error -i " + kExhibit +
                  "videos_Tovarin/Tovarin.mpg -vn -ac 2 -ar 22050 -f s16le -");
        ASSERT_GE(long(track.size() / 4), loop);
        const int16_t* pcm = reinterpret_cast<const int16_t*>(track.data());
        cv::Mat reference(1, int(2 * loop), CV_32F);
        for (long i = 0; i < 2 * loop; ++i)
            reference.at<float>(int(i)) = (pcm[2 * (i % loop)] - pcm[2 * (i % loop) + 1]) / 2.0f;
        auto part = [&](long b) { return side.colRange(int(b * kBuffer), int((b + 1) * kBuffer)); };
        long absent = 0, present = 0, misheard = 0, jumps = 0, resumes = 0, ducked = 0, level = 0;
        // Heard when and only when patt.camara is tracked (in view for 20 frames either side).
        for (const auto& [f, shot] : visit.shotAt) {
            int tracked = 0;
            for (int g = std::max(0, f - 20); g <= std::min(kFrames - 1, f + 20); ++g)
                tracked += visit.marker(g, kMovie) && visit.marker(g, kMovie)->fullyInView;
            const bool heard =
                moving(std::min(visit.bufferAt(f), frames / kBuffer - 1) * kBuffer, kBuffer);
            if (tracked == 0 || tracked == 41) (heard ? present : absent) += heard != (tracked > 0);
        }
        EXPECT_EQ(present + absent, 0) << present << " heard away, " << absent << " not in view";
        long before = -1, next = 0;  // the last buffer heard, and where the sound goes on
        for (long b = 0; b < frames / kBuffer; ++b) {
            if (!moving(b * kBuffer, kBuffer)) continue;
            cv::Point at;
            double best = 0;
            cv::matchTemplate(reference, part(b), scores, cv::TM_CCOEFF_NORMED);
            cv::minMaxLoc(scores, nullptr, &best, nullptr, &at);
            misheard += best < 0.8;
            // After a pause it goes on where it stopped, not from the start. (A buffer whose
            // level changes on the way matches less well, and maybe elsewhere.)
            const long advance = ((at.x - next) % loop + loop * 3 / 2) % loop - loop / 2;
            if (best > 0.99) jumps += before >= 0 && std::abs(advance) > 64, next = at.x;
            resumes += before >= 0 && b > before + 1;
            before = b, next += kBuffer;
            if (best < 0.99) continue;
            // Lowered while the phrase sounds; back to its level within two buffers after.
            const cv::Mat heard = reference.colRange(at.x, at.x + int(kBuffer));
            const double db = 20 * std::log10(std::abs(part(b).dot(heard) / heard.dot(heard)));
            bool under = false, clear = true;
            for (const auto& [begin, end] : phrases) {
                under = under || (begin + kBuffer <= b * kBuffer && (b + 1) * kBuffer <= end);
                clear = clear && ((b + 1) * kBuffer <= begin || b * kBuffer >= end + 2 * kBuffer);
            }
            ducked += under;
            level += (under && std::abs(db - SoundLibrary::kDuckDecibels) > 1) ||
                     (clear && std::abs(db) > 1);
        }
        EXPECT_EQ(misheard, 0) << "buffers not from the movie's sound track";
        EXPECT_TRUE(jumps == 0 && resumes >= 3) << jumps << " jumps, " << resumes << " resumes";
        EXPECT_TRUE(level == 0 && ducked > 10) << level << " buffers at the wrong level";
    }
}

}  // namespace
