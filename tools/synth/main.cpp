// quorv-synth: the synthetic camera. Renders a keyframe script (tools/synth/README.md) to a video
// file or a PNG sequence, and writes the true corners and pose of every shown marker per frame.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>
#include <string>

#include "SynthRenderer.h"
#include "SynthScript.h"

namespace {

const char* const kUsage =
    "usage: quorv-synth SCRIPT -o OUTPUT [options]\n"
    "  -o, --output PATH     .avi (Motion JPEG), .mkv (FFV1, lossless) or a PNG pattern such as\n"
    "                        frames/frame_%05d.png\n"
    "  --truth PATH          ground truth, JSON Lines (default: OUTPUT with .truth.jsonl in place\n"
    "                        of its extension; truth.jsonl beside a PNG pattern)\n"
    "  --quality Q           encode .avi with OpenCV's Motion JPEG encoder at quality 1..100\n"
    "                        (default: FFmpeg's Motion JPEG encoder, 4:2:0, about 13 KB a\n"
    "                        640x480 frame)\n"
    "  --frames FIRST:COUNT  render only these frames\n"
    "  --supersampling N     samples per pixel along each axis (default 3)\n"
    "  --no-video            write the ground truth only\n"
    "Overriding the script:\n"
    "  --size WxH  --fps F  --duration S  --calibration FILE  --seed N\n"
    "  --noise SIGMA  --blur SIGMA  --gradient STRENGTH  --gradient-angle DEG  --jpeg QUALITY\n"
    "  --exposure E  --contrast C  --motion-blur LENGTH[:ANGLE]\n";

int usage(const std::string& why = "") {
    if (!why.empty()) std::fprintf(stderr, "quorv-synth: %s\n", why.c_str());
    std::fputs(kUsage, stderr);
    return 2;
}

bool endsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

bool toDouble(const char* text, double& out) {
    char* end = nullptr;
    out = std::strtod(text, &end);
    return end && *end == '\0' && end != text;
}

std::string defaultTruthPath(const std::string& output) {
    if (output.find('%') != std::string::npos) {
        const auto slash = output.find_last_of('/');
        return slash == std::string::npos ? "truth.jsonl"
                                          : output.substr(0, slash) + "/truth.jsonl";
    }
    const auto slash = output.find_last_of('/');
    const auto dot = output.find_last_of('.');
    const bool hasExt = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    return (hasExt ? output.substr(0, dot) : output) + ".truth.jsonl";
}

}  // namespace

int main(int argc, char** argv) {
    std::string scriptPath, output, truthPath;
    int quality = 0, first = 0, count = -1;
    bool writeVideo = true;
    quorv::SynthRenderer::Options options;
    // Overrides are applied after the script is read.
    std::vector<std::pair<std::string, std::string>> overrides;

    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        if (arg == "-h" || arg == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "-o" || arg == "--output") {
            const char* v = value();
            if (!v) return usage("missing value for " + arg);
            output = v;
        } else if (arg == "--truth") {
            const char* v = value();
            if (!v) return usage("missing value for " + arg);
            truthPath = v;
        } else if (arg == "--quality") {
            const char* v = value();
            double q;
            if (!v || !toDouble(v, q) || q < 1 || q > 100) return usage("--quality wants 1..100");
            quality = static_cast<int>(q);
        } else if (arg == "--frames") {
            const char* v = value();
            if (!v || std::sscanf(v, "%d:%d", &first, &count) != 2 || first < 0 || count < 0)
                return usage("--frames wants FIRST:COUNT");
        } else if (arg == "--supersampling") {
            const char* v = value();
            double n;
            if (!v || !toDouble(v, n) || n < 1 || n > 8) return usage("--supersampling wants 1..8");
            options.supersampling = static_cast<int>(n);
        } else if (arg == "--no-video") {
            writeVideo = false;
        } else if (arg == "--size" || arg == "--fps" || arg == "--duration" ||
                   arg == "--calibration" || arg == "--seed" || arg == "--noise" ||
                   arg == "--blur" || arg == "--gradient" || arg == "--gradient-angle" ||
                   arg == "--jpeg" || arg == "--exposure" || arg == "--contrast" ||
                   arg == "--motion-blur") {
            const char* v = value();
            if (!v) return usage("missing value for " + arg);
            overrides.emplace_back(arg.substr(2), v);
        } else if (!arg.empty() && arg[0] == '-') {
            return usage("unknown option " + arg);
        } else if (scriptPath.empty()) {
            scriptPath = arg;
        } else {
            return usage("more than one script given");
        }
    }
    if (scriptPath.empty()) return usage("no script given");
    if (output.empty() && writeVideo) return usage("no output given (-o)");

    std::string error;
    auto script = quorv::SynthScript::load(scriptPath, &error);
    if (!script) {
        std::fprintf(stderr, "quorv-synth: %s\n", error.c_str());
        return 1;
    }
    for (const auto& [name, text] : overrides) {
        double v = 0;
        const bool numeric = toDouble(text.c_str(), v);
        bool ok = numeric;
        if (name == "size") {
            ok = std::sscanf(text.c_str(), "%dx%d", &script->width, &script->height) == 2 &&
                 script->width > 0 && script->height > 0;
        } else if (name == "motion-blur") {
            // LENGTH or LENGTH:ANGLE; the angle stays as the script has it when not given.
            const auto colon = text.find(':');
            double length = 0, angle = script->effects.motionAngle;
            ok = toDouble(text.substr(0, colon).c_str(), length) && length >= 0 &&
                 (colon == std::string::npos || toDouble(text.c_str() + colon + 1, angle));
            script->effects.motionBlur = length, script->effects.motionAngle = angle;
        } else if (name == "calibration") {
            script->calibrationPath = text;
            ok = true;
        } else if (!numeric) {
        } else if (name == "fps") {
            ok = v > 0, script->fps = v;
        } else if (name == "duration") {
            ok = v >= 0, script->duration = v;
        } else if (name == "seed") {
            ok = v >= 0, script->seed = static_cast<unsigned>(v);
        } else if (name == "noise") {
            ok = v >= 0, script->effects.noiseSigma = v;
        } else if (name == "blur") {
            ok = v >= 0, script->effects.blurSigma = v;
        } else if (name == "gradient") {
            ok = v >= 0 && v < 1, script->effects.gradient = v;
        } else if (name == "gradient-angle") {
            script->effects.gradientAngle = v;
        } else if (name == "exposure") {
            ok = v >= 0, script->effects.exposure = v;
        } else if (name == "contrast") {
            ok = v >= 0, script->effects.contrast = v;
        } else if (name == "jpeg") {
            ok = v >= 0 && v <= 100, script->effects.jpegQuality = static_cast<int>(v);
        }
        if (!ok) return usage("bad value '" + text + "' for --" + name);
    }

    auto renderer = quorv::SynthRenderer::create(*script, options, &error);
    if (!renderer) {
        std::fprintf(stderr, "quorv-synth: %s\n", error.c_str());
        return 1;
    }
    const int total = script->frameCount();
    if (count < 0) count = total - first;
    const int last = std::min(total, first + count);

    if (truthPath.empty()) truthPath = defaultTruthPath(output.empty() ? scriptPath : output);
    // Folders of the outputs are made as needed.
    for (const std::string& path : {output, truthPath}) {
        const auto parent = std::filesystem::path(path).parent_path();
        std::error_code ignored;
        if (!parent.empty()) std::filesystem::create_directories(parent, ignored);
    }
    const bool pngSequence = output.find('%') != std::string::npos;
    cv::VideoWriter video;
    const cv::Size size(renderer->width(), renderer->height());
    if (writeVideo && !pngSequence) {
        if (endsWith(output, ".avi") && quality > 0) {
            // OpenCV's own encoder honours a quality setting (full-resolution colour, bigger).
            video.open(output, cv::CAP_OPENCV_MJPEG, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'),
                       script->fps, size);
            video.set(cv::VIDEOWRITER_PROP_QUALITY, quality);
        } else if (endsWith(output, ".avi")) {
            // FFmpeg's encoder: half-resolution colour at its standard rate, as webcams send.
            video.open(output, cv::CAP_FFMPEG, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'),
                       script->fps, size);
        } else if (endsWith(output, ".mkv")) {
            video.open(output, cv::CAP_FFMPEG, cv::VideoWriter::fourcc('F', 'F', 'V', '1'),
                       script->fps, size);
        } else {
            return usage("output must end in .avi or .mkv, or be a PNG pattern with %d");
        }
        if (!video.isOpened()) {
            std::fprintf(stderr, "quorv-synth: %s: cannot open for writing\n", output.c_str());
            return 1;
        }
    }
    std::ofstream truth(truthPath, std::ios::trunc);
    if (!truth) {
        std::fprintf(stderr, "quorv-synth: %s: cannot open for writing\n", truthPath.c_str());
        return 1;
    }

    const auto start = std::chrono::steady_clock::now();
    for (int f = first; f < last; ++f) {
        truth << renderer->truth(f).toJson() << '\n';
        if (!writeVideo) continue;
        const cv::Mat frame = renderer->render(f);
        if (pngSequence) {
            char name[4096];
            std::snprintf(name, sizeof name, output.c_str(), f);
            if (!cv::imwrite(name, frame)) {
                std::fprintf(stderr, "quorv-synth: %s: cannot write\n", name);
                return 1;
            }
        } else {
            video.write(frame);
        }
    }
    video.release();
    truth.close();
    if (!truth) {
        std::fprintf(stderr, "quorv-synth: %s: write failed\n", truthPath.c_str());
        return 1;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const int rendered = std::max(0, last - first);
    std::printf("quorv-synth: %d frames %dx%d in %.2f s (%.1f ms/frame)%s%s, truth %s\n", rendered,
                size.width, size.height, seconds, rendered ? 1000.0 * seconds / rendered : 0.0,
                writeVideo ? " -> " : "", writeVideo ? output.c_str() : "", truthPath.c_str());
    return 0;
}
