// quorv-bench-tracker: runs the marker tracker over footage, prints the median time of each
// stage and, on request, every frame's detections as JSON lines for scoring by other tools.

#include <MarkerTracker.h>
#include <dirent.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>
#include <string>
#include <vector>

namespace {

using quorv::markers::MarkerTracker;

const char* const kUsage =
    "usage: quorv-bench-tracker INPUT --camera FILE --pattern FILE:WIDTH [--pattern ...]\n"
    "                           [--json OUT] [--repeat N] [--threads N] [--threshold "
    "fixed|adaptive]\n"
    "                           [--downscale 1|2|4]\n"
    "  INPUT            a video file, a PNG sequence pattern (frames/f_%05d.png) or a folder of\n"
    "                   PNG files (taken in name order)\n"
    "  --camera FILE    camera parameter file (136 or 176 bytes); rescaled to the frame size\n"
    "  --pattern F:W    a pattern file and its marker width in mm (default width 80)\n"
    "  --json OUT       write each frame's detections as JSON lines to OUT ('-' = standard\n"
    "                   output; the timing summary then goes to standard error)\n"
    "  --repeat N       run over the footage N times (timings from every pass, JSON from the\n"
    "                   first); default 1\n"
    "  --threads N      OpenCV worker threads; default 1 (one core)\n";

int usage(const std::string& why) {
    if (!why.empty()) std::fprintf(stderr, "quorv-bench-tracker: %s\n", why.c_str());
    std::fputs(kUsage, stderr);
    return 2;
}

/// Frames from a video file, a printf-style PNG pattern or a folder of PNG files.
class FrameSource {
  public:
    bool open(const std::string& input) {
        _files.clear();
        _next = 0;
        if (DIR* dir = opendir(input.c_str())) {
            while (dirent* entry = readdir(dir)) {
                const std::string name = entry->d_name;
                if (name.size() > 4 && name.compare(name.size() - 4, 4, ".png") == 0)
                    _files.push_back(input + "/" + name);
            }
            closedir(dir);
            std::sort(_files.begin(), _files.end());
            return !_files.empty();
        }
        if (input.find('%') != std::string::npos) {
            char name[4096];
            for (int i = 0;; ++i) {
                std::snprintf(name, sizeof name, input.c_str(), i);
                if (!std::ifstream(name)) {
                    if (i == 0) continue;  // sequences may start at 0 or 1
                    break;
                }
                _files.push_back(name);
            }
            return !_files.empty();
        }
        _video = std::make_unique<cv::VideoCapture>(input);
        return _video->isOpened();
    }
    bool read(cv::Mat& frame) {
        if (_video) return _video->read(frame) && !frame.empty();
        if (_next >= _files.size()) return false;
        frame = cv::imread(_files[_next++], cv::IMREAD_COLOR);
        return !frame.empty();
    }

  private:
    std::unique_ptr<cv::VideoCapture> _video;
    std::vector<std::string> _files;
    size_t _next = 0;
};

double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
    return v[v.size() / 2];
}

std::string baseName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

struct Series {
    std::vector<double> grey, threshold, contours, corners, identify, pose, total, candidates;
    void add(const quorv::markers::StageTimings& t, int refined) {
        candidates.push_back(refined);
        grey.push_back(t.grey);
        threshold.push_back(t.threshold);
        contours.push_back(t.contours);
        corners.push_back(t.corners);
        identify.push_back(t.identify);
        pose.push_back(t.pose);
        total.push_back(t.total);
    }
};

}  // namespace

int main(int argc, char** argv) {
    std::string input, cameraPath, jsonPath;
    std::vector<std::pair<std::string, double>> patterns;
    int repeat = 1, threads = 1;
    quorv::markers::TrackerParameters params;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc) return false;
            out = argv[++i];
            return true;
        };
        std::string v;
        if (arg == "-h" || arg == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--camera") {
            if (!value(cameraPath)) return usage("--camera wants a file");
        } else if (arg == "--json") {
            if (!value(jsonPath)) return usage("--json wants a file or -");
        } else if (arg == "--pattern") {
            if (!value(v)) return usage("--pattern wants FILE[:WIDTH]");
            const size_t colon = v.rfind(':');
            double width = 80;
            if (colon != std::string::npos) {
                char* end = nullptr;
                width = std::strtod(v.c_str() + colon + 1, &end);
                if (*end != '\0' || !(width > 0)) return usage("bad width in --pattern " + v);
                v = v.substr(0, colon);
            }
            patterns.emplace_back(v, width);
        } else if (arg == "--repeat") {
            if (!value(v) || (repeat = std::atoi(v.c_str())) < 1)
                return usage("--repeat wants N >= 1");
        } else if (arg == "--threads") {
            if (!value(v) || (threads = std::atoi(v.c_str())) < 1)
                return usage("--threads wants N >= 1");
        } else if (arg == "--threshold") {
            if (!value(v) || (v != "fixed" && v != "adaptive"))
                return usage("--threshold fixed|adaptive");
            params.detector.threshold.method =
                v == "fixed" ? quorv::markers::ThresholdParameters::Method::Fixed
                             : quorv::markers::ThresholdParameters::Method::Adaptive;
        } else if (arg == "--downscale") {
            if (!value(v)) return usage("--downscale wants 1, 2 or 4");
            params.detector.threshold.downscale = std::atoi(v.c_str());
        } else if (!arg.empty() && arg[0] == '-') {
            return usage("unknown option " + arg);
        } else if (input.empty()) {
            input = arg;
        } else {
            return usage("more than one input");
        }
    }
    if (input.empty()) return usage("no input");
    if (cameraPath.empty()) return usage("no camera file (--camera)");
    if (patterns.empty()) return usage("no pattern (--pattern)");
    cv::setNumThreads(threads);

    std::string error;
    auto camera = osgART::CameraParameters::read(cameraPath, &error);
    if (!camera) {
        std::fprintf(stderr, "quorv-bench-tracker: %s\n", error.c_str());
        return 1;
    }
    MarkerTracker tracker(params);
    std::vector<std::string> names;
    for (const auto& [path, width] : patterns) {
        const int p = tracker.loadPattern(path, &error);
        if (p < 0) {
            std::fprintf(stderr, "quorv-bench-tracker: %s\n", error.c_str());
            return 1;
        }
        tracker.addSingle(p, width);
        names.push_back(baseName(path));
    }

    std::ofstream jsonFile;
    std::ostream* json = nullptr;
    if (jsonPath == "-") {
        json = &std::cout;
    } else if (!jsonPath.empty()) {
        jsonFile.open(jsonPath);
        if (!jsonFile) {
            std::fprintf(stderr, "quorv-bench-tracker: cannot write %s\n", jsonPath.c_str());
            return 1;
        }
        json = &jsonFile;
    }
    FILE* summary = jsonPath == "-" ? stderr : stdout;

    Series series;
    int frames = 0, withDetection = 0;
    cv::Size size;
    for (int pass = 0; pass < repeat; ++pass) {
        FrameSource source;
        if (!source.open(input)) {
            std::fprintf(stderr, "quorv-bench-tracker: cannot read %s\n", input.c_str());
            return 1;
        }
        cv::Mat frame;
        for (int index = 0; source.read(frame); ++index) {
            if (frame.size() != size) {
                size = frame.size();
                tracker.setCamera(camera->scaled(size.width, size.height));
            }
            tracker.update(frame);
            const quorv::markers::DetectionResult& result = tracker.lastDetection();
            series.add(result.timings, result.candidates);
            if (pass > 0) continue;
            ++frames;
            if (!result.detections.empty()) ++withDetection;
            if (!json) continue;
            char buffer[256];
            *json << "{\"frame\":" << index << ",\"detections\":[";
            for (size_t i = 0; i < result.detections.size(); ++i) {
                const auto& d = result.detections[i];
                // Patterns are single markers in load order, so pattern index = marker index.
                const auto& state = tracker.marker(d.pattern);
                std::snprintf(buffer, sizeof buffer,
                              "%s{\"pattern\":\"%s\",\"confidence\":%.4f,\"corners\":[",
                              i ? "," : "", names[d.pattern].c_str(), d.confidence);
                *json << buffer;
                for (int k = 0; k < 4; ++k) {
                    std::snprintf(buffer, sizeof buffer, "%s[%.4f,%.4f]", k ? "," : "",
                                  d.observed[k].x, d.observed[k].y);
                    *json << buffer;
                }
                *json << "],\"camera_from_marker\":[";
                const cv::Matx34d m = state.cameraFromMarker.matrix();
                for (int e = 0; e < 12; ++e) {
                    std::snprintf(buffer, sizeof buffer, "%s%.6f", e ? "," : "", m(e / 4, e % 4));
                    *json << buffer;
                }
                *json << "]," << (state.valid ? "\"tracked\":true" : "\"tracked\":false") << "}";
            }
            *json << "]}\n";
        }
    }
    if (series.total.empty()) {
        std::fprintf(stderr, "quorv-bench-tracker: no frames in %s\n", input.c_str());
        return 1;
    }
    std::fprintf(summary,
                 "frames %d (%dx%d), %zu runs, patterns %zu, frames with a detection %d\n"
                 "median ms: grey %.3f  threshold %.3f  contours %.3f  corners %.3f  identify %.3f"
                 "  pose %.3f  total %.3f\n"
                 "median candidates refined per frame %.0f\n",
                 frames, size.width, size.height, series.total.size(), patterns.size(),
                 withDetection, median(series.grey), median(series.threshold),
                 median(series.contours), median(series.corners), median(series.identify),
                 median(series.pose), median(series.total), median(series.candidates));
    return 0;
}
