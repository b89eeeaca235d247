// quorv-mkpatt: the marker maker. Makes a pattern file from a marker image, a printable marker
// image from a pattern image, and tells how alike pattern files are.
#include <cstdio>
#include <cstdlib>
#include <opencv2/imgcodecs.hpp>
#include <string>
#include <vector>

#include "PatternCorrelation.h"
#include "PatternSampler.h"
#include "PrintableMarker.h"

namespace {

const char* const kUsage =
    "usage: quorv-mkpatt patt IMAGE -o OUT.patt [--inner]\n"
    "         Pattern file from an upright marker image. The image is the marker edge to edge\n"
    "         (black border included; its central 50 % is sampled), or with --inner only the\n"
    "         pattern inside the border.\n"
    "       quorv-mkpatt print PATTERN_IMAGE -o OUT.png [--width-mm 120] [--dpi 300]\n"
    "                    [--margin-mm 0] [--pixel-art]\n"
    "         Printable marker: the pattern image in the middle half, a black border of a\n"
    "         quarter of the width each side, the given size on paper at the given resolution.\n"
    "       quorv-mkpatt compare A.patt B.patt [...]\n"
    "         For each pair, the highest correlation over the four orientations (what a\n"
    "         detector could confuse them at); and each pattern against its own turns.\n";

int usage(const std::string& why = "") {
    if (!why.empty()) std::fprintf(stderr, "quorv-mkpatt: %s\n", why.c_str());
    std::fputs(kUsage, stderr);
    return 2;
}

bool toDouble(const char* text, double& out) {
    char* end = nullptr;
    out = std::strtod(text, &end);
    return end && *end == '\0' && end != text;
}

int makePatt(const std::string& input, const std::string& output, bool inner) {
    const cv::Mat image = cv::imread(input, cv::IMREAD_COLOR);
    if (image.empty()) {
        std::fprintf(stderr, "quorv-mkpatt: %s: cannot read image\n", input.c_str());
        return 1;
    }
    quorv::PatternSampler::Options options;
    if (inner) options.region = quorv::PatternSampler::Options::Region::InnerOnly;
    const auto upright = quorv::PatternSampler(options).sample(image);
    std::string error;
    if (!quorv::markers::Pattern::fromUpright(upright).save(output, &error)) {
        std::fprintf(stderr, "quorv-mkpatt: %s\n", error.c_str());
        return 1;
    }
    return 0;
}

int makePrintable(const std::string& input, const std::string& output,
                  const quorv::PrintableMarker::Options& options) {
    const cv::Mat pattern = cv::imread(input, cv::IMREAD_COLOR);
    if (pattern.empty()) {
        std::fprintf(stderr, "quorv-mkpatt: %s: cannot read image\n", input.c_str());
        return 1;
    }
    const quorv::PrintableMarker printer(options);
    const cv::Mat marker = printer.make(pattern);
    if (!printer.writePng(output, marker)) {
        std::fprintf(stderr, "quorv-mkpatt: %s: cannot write\n", output.c_str());
        return 1;
    }
    return 0;
}

int compare(const std::vector<std::string>& files) {
    std::vector<quorv::markers::Pattern> patterns;
    for (const auto& f : files) {
        std::string error;
        auto p = quorv::markers::Pattern::load(f, &error);
        if (!p) {
            std::fprintf(stderr, "quorv-mkpatt: %s\n", error.c_str());
            return 1;
        }
        patterns.push_back(*p);
    }
    double worst = -1.0;
    for (size_t i = 0; i < patterns.size(); ++i) {
        // A pattern that resembles itself turned makes its orientation unreliable.
        double self = -1.0;
        for (int k = 1; k < 4; ++k)
            self = std::max(self,
                            quorv::patternCorrelation(patterns[i].block(0), patterns[i].block(k)));
        std::printf("%-40s own turns %.3f\n", files[i].c_str(), self);
    }
    for (size_t i = 0; i < patterns.size(); ++i)
        for (size_t j = i + 1; j < patterns.size(); ++j) {
            const double c = quorv::worstCaseCorrelation(patterns[i], patterns[j]);
            worst = std::max(worst, c);
            std::printf("%-40s %-40s %.3f\n", files[i].c_str(), files[j].c_str(), c);
        }
    if (patterns.size() > 1) std::printf("highest %.3f\n", worst);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage();
    const std::string command = argv[1];
    if (command == "-h" || command == "--help") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    std::vector<std::string> inputs;
    std::string output;
    bool inner = false;
    quorv::PrintableMarker::Options print;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        auto number = [&](double& out) { return i + 1 < argc && toDouble(argv[++i], out); };
        double v = 0;
        if (arg == "-o" || arg == "--output") {
            if (i + 1 >= argc) return usage("missing value for " + arg);
            output = argv[++i];
        } else if (arg == "--inner") {
            inner = true;
        } else if (arg == "--width-mm") {
            if (!number(v) || v <= 0) return usage("--width-mm wants a positive number");
            print.widthMm = v;
        } else if (arg == "--dpi") {
            if (!number(v) || v < 10 || v > 4800) return usage("--dpi wants 10..4800");
            print.dpi = static_cast<int>(v);
        } else if (arg == "--margin-mm") {
            if (!number(v) || v < 0) return usage("--margin-mm wants millimetres");
            print.marginMm = v;
        } else if (arg == "--pixel-art") {
            print.pixelArt = true;
        } else if (!arg.empty() && arg[0] == '-') {
            return usage("unknown option " + arg);
        } else {
            inputs.push_back(arg);
        }
    }
    if (command == "compare") {
        if (inputs.empty()) return usage("compare wants pattern files");
        return compare(inputs);
    }
    if (command != "patt" && command != "print") return usage("unknown command " + command);
    if (inputs.size() != 1) return usage(command + " wants one input image");
    if (output.empty()) return usage("no output given (-o)");
    return command == "patt" ? makePatt(inputs[0], output, inner)
                             : makePrintable(inputs[0], output, print);
}
