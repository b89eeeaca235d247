// quorv-calibrate: calibrates a webcam from a printed chessboard, seen live or in a video file or a
// folder of pictures, and writes the camera file the exhibit reads (tools/calibrate/README.md).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <opencv2/calib3d.hpp>
#include <opencv2/highgui.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>
#include <string>
#include <vector>

#include "Calibrator.h"

namespace {

const char* const kUsage =
    "usage: quorv-calibrate sheet OUT.png [board options]\n"
    "       quorv-calibrate SOURCE -o CAMERA.dat [--classic CLASSIC.dat] [options]\n"
    "       quorv-calibrate --camera N|/dev/videoN -o CAMERA.dat [options]\n"
    "  SOURCE             a video file, a folder of pictures or a picture pattern such as\n"
    "                     frames/f_%03d.png (headless)\n"
    "  --camera N|PATH    the live camera, in a window (interactive)\n"
    "  --interactive      show a SOURCE in the window as if it were the live camera\n"
    "  -o PATH            the camera file (176 bytes) to write\n"
    "  --classic PATH     also write the classic 136-byte form, fitted to the views\n"
    "  --size WxH         picture size asked of the live camera (default 640x480)\n"
    "Board options: --cols N --rows N (inner corners, default 9 x 6) --square-mm S (default 25)\n";

int usage(const std::string& why = "") {
    if (!why.empty()) std::fprintf(stderr, "quorv-calibrate: %s\n", why.c_str());
    std::fputs(kUsage, stderr);
    return 2;
}

/// The pictures of a folder, in name order.
std::vector<std::string> picturesIn(const std::string& folder) {
    std::vector<std::string> out;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        std::string ext = entry.path().extension().string();
        std::transform(ext.begin(), ext.end(), ext.begin(), ::tolower);
        if (ext == ".png" || ext == ".jpg" || ext == ".jpeg" || ext == ".bmp" || ext == ".tif" ||
            ext == ".tiff" || ext == ".pgm" || ext == ".ppm")
            out.push_back(entry.path().string());
    }
    std::sort(out.begin(), out.end());
    return out;
}

/// Where pictures come from: a folder, or anything cv::VideoCapture opens.
class Source {
  public:
    bool open(const std::string& what, bool camera, cv::Size size) {
        if (!camera && std::filesystem::is_directory(what)) {
            _files = picturesIn(what);
            _isFolder = true;
            return !_files.empty();
        }
        if (camera) {
            char* end = nullptr;
            const long index = std::strtol(what.c_str(), &end, 10);
            if (end && *end == '\0' && end != what.c_str())
                _capture.open(int(index));
            else
                _capture.open(what, cv::CAP_V4L2);
            _capture.set(cv::CAP_PROP_FRAME_WIDTH, size.width);
            _capture.set(cv::CAP_PROP_FRAME_HEIGHT, size.height);
        } else {
            _capture.open(what);
        }
        return _capture.isOpened();
    }
    bool next(cv::Mat& frame) {
        if (!_isFolder) return _capture.read(frame) && !frame.empty();
        while (_next < _files.size()) {
            frame = cv::imread(_files[_next++], cv::IMREAD_COLOR);
            if (!frame.empty()) return true;
        }
        return false;
    }
    /// Milliseconds between frames (33 when the source does not say).
    int frameMs() const {
        const double fps = _isFolder ? 0.0 : _capture.get(cv::CAP_PROP_FPS);
        return fps > 1.0 && fps < 240.0 ? int(std::lround(1000.0 / fps)) : 33;
    }

  private:
    cv::VideoCapture _capture;
    std::vector<std::string> _files;
    size_t _next = 0;
    bool _isFolder = false;
};

cv::Mat toGrey(const cv::Mat& frame) {
    cv::Mat grey;
    if (frame.channels() == 1)
        grey = frame;
    else
        cv::cvtColor(frame, grey, frame.channels() == 4 ? cv::COLOR_BGRA2GRAY : cv::COLOR_BGR2GRAY);
    return grey;
}

/// The live picture with what the collector knows drawn over it: the cells the board has
/// covered (green), the board found now, how long it has been still, the counts and the keys.
void drawOverlay(cv::Mat& shown, const quorv::ViewCollector& views, const quorv::Board& board,
                 const std::optional<quorv::BoardView>& found, double stillness,
                 const std::string& message) {
    using quorv::ViewCollector;
    cv::Mat tint = shown.clone();
    const cv::Mat& cover = views.coverage();
    for (int r = 0; r < ViewCollector::kGridRows; ++r)
        for (int c = 0; c < ViewCollector::kGridCols; ++c) {
            const cv::Rect cell(c * shown.cols / ViewCollector::kGridCols,
                                r * shown.rows / ViewCollector::kGridRows,
                                shown.cols / ViewCollector::kGridCols,
                                shown.rows / ViewCollector::kGridRows);
            if (cover.at<int>(r, c) > 0)
                cv::rectangle(tint, cell, cv::Scalar(0, 200, 0), cv::FILLED);
            cv::rectangle(tint, cell, cv::Scalar(255, 255, 255), 1);
        }
    cv::addWeighted(tint, 0.3, shown, 0.7, 0.0, shown);
    if (found) {
        cv::drawChessboardCorners(shown, board.patternSize(), found->corners, true);
        // Stillness bar under the board: full means a view is taken.
        const cv::Rect bar(10, shown.rows - 44, int((shown.cols - 20) * std::min(1.0, stillness)),
                           8);
        cv::rectangle(shown, bar, cv::Scalar(0, 220, 255), cv::FILLED);
    }
    char status[200];
    std::snprintf(status, sizeof status, "views %zu  blurred %d  repeats %d  covered %.0f%%",
                  views.views().size(), views.blurred(), views.duplicates(),
                  100.0 * views.coveredShare());
    cv::rectangle(shown, cv::Rect(0, 0, shown.cols, 46), cv::Scalar(0, 0, 0), cv::FILLED);
    cv::putText(shown, status, {8, 18}, cv::FONT_HERSHEY_SIMPLEX, 0.5, cv::Scalar(255, 255, 255), 1,
                cv::LINE_AA);
    cv::putText(shown, message, {8, 38}, cv::FONT_HERSHEY_SIMPLEX, 0.5, cv::Scalar(0, 255, 255), 1,
                cv::LINE_AA);
    cv::putText(shown,
                "hold the board still to take a view   space: take now   Enter: finish   Esc: quit",
                {8, shown.rows - 12}, cv::FONT_HERSHEY_SIMPLEX, 0.4, cv::Scalar(255, 255, 255), 1,
                cv::LINE_AA);
}

const char* outcomeWords(quorv::ViewCollector::Outcome o) {
    switch (o) {
        case quorv::ViewCollector::Outcome::Taken:
            return "view taken";
        case quorv::ViewCollector::Outcome::Blurred:
            return "too blurred: hold the board still";
        case quorv::ViewCollector::Outcome::Duplicate:
            return "already have this view: move the board";
    }
    return "";
}

}  // namespace

int main(int argc, char** argv) {
    quorv::Board board;
    std::string source, output, classic, sheetPath;
    bool camera = false, interactive = false;
    cv::Size cameraSize(640, 480);
    std::vector<std::string> args(argv + 1, argv + argc);
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= args.size()) return false;
            out = args[++i];
            return true;
        };
        std::string v;
        if (a == "-h" || a == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (a == "sheet" && i == 0) {
            if (!value(sheetPath)) return usage("sheet wants an output file");
        } else if (a == "--cols" || a == "--rows" || a == "--square-mm") {
            if (!value(v)) return usage(a + " wants a number");
            const double n = std::atof(v.c_str());
            if (a == "--square-mm") {
                if (!(n > 0)) return usage("--square-mm wants a positive size");
                board.squareMm = n;
            } else {
                if (n < 2 || n > 50 || n != std::floor(n)) return usage(a + " wants 2..50 corners");
                (a == "--cols" ? board.cols : board.rows) = int(n);
            }
        } else if (a == "-o" || a == "--output") {
            if (!value(output)) return usage("-o wants a file");
        } else if (a == "--classic") {
            if (!value(classic)) return usage("--classic wants a file");
        } else if (a == "--camera") {
            if (!value(source)) return usage("--camera wants an index or a device");
            camera = interactive = true;
        } else if (a == "--interactive") {
            interactive = true;
        } else if (a == "--size") {
            if (!value(v) ||
                std::sscanf(v.c_str(), "%dx%d", &cameraSize.width, &cameraSize.height) != 2)
                return usage("--size wants WxH");
        } else if (!a.empty() && a[0] != '-' && source.empty()) {
            source = a;
        } else {
            return usage("unexpected '" + a + "'");
        }
    }
    if (!sheetPath.empty()) {
        const cv::Mat sheet = quorv::chessboardSheet(board);
        if (sheet.empty())
            return usage("the board does not fit on an A4 sheet: use smaller squares");
        if (!quorv::writeSheet(sheetPath, sheet)) {
            std::fprintf(stderr, "quorv-calibrate: cannot write %s\n", sheetPath.c_str());
            return 1;
        }
        std::printf("wrote %s: %d x %d inner corners, squares %g mm, A4 at 300 dpi\n",
                    sheetPath.c_str(), board.cols, board.rows, board.squareMm);
        return 0;
    }
    if (source.empty()) return usage("no camera, video or folder given");
    if (output.empty()) return usage("no camera file to write (-o)");

    Source input;
    if (!input.open(source, camera, cameraSize)) {
        std::fprintf(stderr, "quorv-calibrate: cannot open %s\n", source.c_str());
        return 1;
    }
    const char* window = "quorv-calibrate";
    if (interactive) cv::namedWindow(window, cv::WINDOW_AUTOSIZE);
    const int frameMs = input.frameMs();
    // Half a second without the corners moving more than a pixel takes a view.
    const int stillFrames = std::max(3, 500 / frameMs);

    std::optional<quorv::ViewCollector> views;
    std::vector<cv::Point2f> previous;
    int still = 0, frames = 0, missed = 0;
    bool armed = true, quit = false;
    std::string message = "show the whole board to the camera";
    cv::Mat frame;
    while (input.next(frame)) {
        ++frames;
        if (!views) views.emplace(board, frame.size());
        if (frame.size() != views->imageSize())
            continue;  // a folder holding another camera's pictures
        const std::optional<quorv::BoardView> found = quorv::findBoard(toGrey(frame), board);
        if (!found) ++missed;
        if (!interactive) {
            if (found) views->offer(*found);
            continue;
        }
        // Live: a view is offered once the board has been still for a moment, and the next only
        // after it has moved.
        double motion = 1e9;
        if (found && previous.size() == found->corners.size()) {
            motion = 0.0;
            for (size_t i = 0; i < previous.size(); ++i)
                motion += cv::norm(found->corners[i] - previous[i]) / previous.size();
        }
        previous = found ? found->corners : std::vector<cv::Point2f>();
        still = motion < 1.0 ? still + 1 : 0;
        if (motion > 3.0) armed = true;
        const int key = cv::waitKey(camera ? 1 : frameMs) & 0xff;
        if ((found && armed && still >= stillFrames) || (found && key == ' ')) {
            message = outcomeWords(views->offer(*found));
            armed = false;
        }
        cv::Mat shown = frame.channels() == 3 ? frame.clone() : cv::Mat();
        if (shown.empty()) cv::cvtColor(frame, shown, cv::COLOR_GRAY2BGR);
        drawOverlay(shown, *views, board, found, armed ? double(still) / stillFrames : 0.0,
                    message);
        cv::imshow(window, shown);
        if (key == 27 || key == 'q') {
            quit = true;
            break;
        }
        if (key == 13 || key == 10 || key == 'c') break;
    }
    if (interactive) cv::destroyAllWindows();
    if (quit) {
        std::puts("quit: nothing written");
        return 1;
    }
    if (!views) {
        std::fprintf(stderr, "quorv-calibrate: no pictures in %s\n", source.c_str());
        return 1;
    }
    std::printf(
        "%d frames: %zu views taken, %d rejected as blurred, %d as near-duplicates, "
        "%d without the whole board\n",
        frames, views->views().size(), views->blurred(), views->duplicates(), missed);
    const std::optional<quorv::Calibration> solve = quorv::calibrate(*views);
    if (!solve) {
        std::printf("verdict: %s\n", quorv::verdict(*views, nullptr).c_str());
        std::fprintf(stderr, "quorv-calibrate: too few views to calibrate; nothing written\n");
        return 1;
    }
    const osgART::CameraParameters camFile = solve->brown9();
    if (!camFile.write(output)) {
        std::fprintf(stderr, "quorv-calibrate: cannot write %s\n", output.c_str());
        return 1;
    }
    std::printf("RMS reprojection error: %.3f px (of the written file: %.3f px)\n", solve->rms,
                quorv::reprojectionRms(camFile, *solve, *views));
    std::printf("focal lengths: fx %.2f px, fy %.2f px\n", solve->K(0, 0), solve->K(1, 1));
    std::printf("principal point: (%.2f, %.2f) px\n", solve->K(0, 2), solve->K(1, 2));
    std::printf("lens: k1 %.5f, k2 %.5f, p1 %.6f, p2 %.6f\n", solve->dist[0], solve->dist[1],
                solve->dist[2], solve->dist[3]);
    std::printf("board corners cover %.0f%% of the picture; most tipped view %.0f degrees\n",
                100.0 * views->coveredShare(), solve->largestTilt());
    std::printf("wrote %s (176 bytes)\n", output.c_str());
    if (!classic.empty()) {
        quorv::Calibration refined;
        const osgART::CameraParameters fitted = quorv::fitClassic(*solve, *views, &refined);
        if (!fitted.write(classic)) {
            std::fprintf(stderr, "quorv-calibrate: cannot write %s\n", classic.c_str());
            return 1;
        }
        const auto k = fitted.intrinsics();
        std::printf(
            "wrote %s (136 bytes), fitted to the views: RMS reprojection error %.3f px; focal "
            "lengths fx %.2f px, fy %.2f px; principal point (%.2f, %.2f) px; lens centre "
            "(%.2f, %.2f) px, f %.3f; its lens is within %.3f px of the calibrated one over the "
            "whole picture\n",
            classic.c_str(), quorv::reprojectionRms(fitted, refined, *views), k.fx, k.fy, k.cx,
            k.cy, fitted.dist[0], fitted.dist[1], fitted.dist[2], quorv::lensGap(camFile, fitted));
    }
    std::printf("verdict: %s\n", quorv::verdict(*views, &*solve).c_str());
    return 0;
}
