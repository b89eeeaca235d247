#include "MarkerDetector.h"

#include <chrono>
#include <cstdio>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace quorv::markers {
namespace {

using Clock = std::chrono::steady_clock;

double millisecondsSince(Clock::time_point& start) {
    const Clock::time_point now = Clock::now();
    const double ms = std::chrono::duration<double, std::milli>(now - start).count();
    start = now;
    return ms;
}

/// A candidate after identification.
struct Candidate {
    RefinedQuad corners;
    Match match;
};

cv::Mat toGrey(const cv::Mat& image, bool rgb) {
    cv::Mat grey;
    switch (image.channels()) {
        case 1:
            return image;
        case 3:
            cv::cvtColor(image, grey, rgb ? cv::COLOR_RGB2GRAY : cv::COLOR_BGR2GRAY);
            return grey;
        case 4:
            cv::cvtColor(image, grey, rgb ? cv::COLOR_RGBA2GRAY : cv::COLOR_BGRA2GRAY);
            return grey;
        default:
            return cv::Mat();
    }
}

}  // namespace

Match MarkerDetector::identify(const PatternSample& sample, const RefinedQuad& corners) const {
    Match m = _matcher.match(sample.image, _params.match, sample.shortestSide, corners.edgeBlur);
    // A marker smeared more across one pair of sides than the other moved during the
    // exposure: compare it with templates smeared alike, along the sample's rows by the blur
    // of the sides across them (1 and 3) and along its columns by that of sides 0 and 2.
    const auto& blur = corners.sideBlur;
    const double across = 0.5 * (blur[1] + blur[3]), along = 0.5 * (blur[0] + blur[2]);
    if (m.confidence < _params.match.smearedBelow &&
        std::max(across, along) > _params.match.smearedFromPx) {
        const auto& q = corners.observed;
        const double cellCols = 0.5 * (cv::norm(q[1] - q[0]) + cv::norm(q[2] - q[3])) / 32.0;
        const double cellRows = 0.5 * (cv::norm(q[3] - q[0]) + cv::norm(q[2] - q[1])) / 32.0;
        const double k = _params.match.smearScale;
        const Match smeared = _matcher.matchSmeared(sample.image, _params.match,
                                                    k * across / cellCols, k * along / cellRows);
        if (smeared.confidence > m.confidence) m = smeared;
    }
    return m;
}

bool MarkerDetector::fullBorder(const cv::Mat& image, bool rgb, const RefinedQuad& corners,
                                const Match& match) const {
    const auto& q = corners.observed;
    const std::array<double, 4> depths =
        borderDepths(image, rgb, q, _matcher.block(match.pattern, match.dir));
    for (int k = 0; k < 4; ++k) {
        if (depths[k] < 0) continue;
        // Depth from side k is measured across it, along the two sides that meet it.
        const double across =
            0.5 * (cv::norm(q[(k + 2) % 4] - q[(k + 1) % 4]) + cv::norm(q[k] - q[(k + 3) % 4]));
        const double slack =
            _params.match.borderSlackPx + _params.match.borderSlackBlur * corners.sideBlur[k];
        if (std::abs(depths[k] - 0.25) * across > slack) return false;
    }
    return true;
}

DetectionResult MarkerDetector::detect(const cv::Mat& image, bool rgb) const {
    DetectionResult result;
    StageTimings& time = result.timings;
    const Clock::time_point begin = Clock::now();
    Clock::time_point t = begin;
    if (image.empty() || image.depth() != CV_8U || _camera.xsize <= 0) return result;

    // 1. Grey image at full resolution (corners are refined on it).
    const cv::Mat grey = toGrey(image, rgb);
    if (grey.empty()) return result;
    result.grey = grey;
    time.grey = millisecondsSince(t);

    // 2. Dark pixels, on a shrunk image.
    const BinaryImage binary = threshold(grey, _params.threshold);
    time.threshold = millisecondsSince(t);

    // 3. Outlines of dark regions that are convex quadrilaterals.
    const std::vector<Quad> quads = findQuads(binary, grey.size(), _params.candidates);
    time.contours = millisecondsSince(t);

    // 4. Largest first: sub-pixel corners at full resolution, then the pattern area sampled
    // and matched against every pattern in every orientation. A quad inside the square of a
    // marker already identified is a dark block of its pattern, never a marker of its own,
    // and is not looked at further.
    std::vector<Candidate> candidates;
    candidates.reserve(quads.size());
    std::vector<std::vector<cv::Point2f>> identified;
    double identifyTime = 0;
    for (const Quad& quad : quads) {
        const cv::Point2f centre =
            0.25f * (quad.corners[0] + quad.corners[1] + quad.corners[2] + quad.corners[3]);
        bool inside = false;
        for (const auto& square : identified)
            inside = inside || (cv::pointPolygonTest(square, centre, false) > 0 &&
                                cv::contourArea(square) > 2 * quad.area);
        if (inside) continue;
        Candidate c{refineCorners(grey, quad, _camera, _params.corners), Match()};
        if (!c.corners.ok) continue;
        const Clock::time_point sampling = Clock::now();
        const PatternSample sample = samplePattern(image, rgb, c.corners.observed, _params.match);
        if (sample.borderOk) c.match = identify(sample, c.corners);
        if (c.match.pattern >= 0 && c.match.confidence < _params.match.fullBorderBelow &&
            !fullBorder(image, rgb, c.corners, c.match))
            c.match = Match();
        if (c.match.pattern >= 0 && c.match.confidence >= _params.match.minConfidence)
            identified.emplace_back(c.corners.observed.begin(), c.corners.observed.end());
        identifyTime += std::chrono::duration<double, std::milli>(Clock::now() - sampling).count();
        candidates.push_back(c);
    }
    result.candidates = static_cast<int>(candidates.size());
    time.corners = millisecondsSince(t) - identifyTime;
    time.identify = identifyTime;

    // 5. Each pattern goes to its best candidate, if that is confident enough.
    std::vector<int> best(_matcher.size(), -1);
    for (size_t i = 0; i < candidates.size(); ++i) {
        const Match& m = candidates[i].match;
        if (m.pattern < 0 || m.confidence < _params.match.minConfidence) continue;
        int& b = best[m.pattern];
        if (b < 0 || m.confidence > candidates[b].match.confidence) b = static_cast<int>(i);
    }
    for (int p = 0; p < _matcher.size(); ++p) {
        if (best[p] < 0) continue;
        const Candidate& c = candidates[best[p]];
        Detection d;
        d.pattern = p;
        d.confidence = c.match.confidence;
        d.dir = c.match.dir;
        // Block `dir` is the pattern turned dir x 90 degrees counter-clockwise, so the
        // pattern's upper-left corner is the candidate's corner (4 - dir) % 4; the rest follow
        // clockwise.
        for (int k = 0; k < 4; ++k) {
            const int from = (4 - d.dir + k) % 4;
            d.observed[k] = c.corners.observed[from];
            d.ideal[k] = c.corners.ideal[from];
        }
        result.detections.push_back(d);
    }
    time.identify += millisecondsSince(t);
    time.total = std::chrono::duration<double, std::milli>(Clock::now() - begin).count();

    if (!_params.debugFolder.empty()) writeDebugImages(grey, binary, quads, result);
    return result;
}

std::optional<Detection> MarkerDetector::findNear(const DetectionResult& last, const cv::Mat& image,
                                                  bool rgb,
                                                  const std::array<cv::Point2d, 4>& expected,
                                                  int pattern) const {
    if (last.grey.empty() || pattern < 0 || pattern >= _matcher.size()) return std::nullopt;
    Quad quad;
    for (int k = 0; k < 4; ++k) {
        quad.corners[k] = cv::Point2f(expected[k]);
        if (expected[k].x < 1 || expected[k].y < 1 || expected[k].x > last.grey.cols - 2 ||
            expected[k].y > last.grey.rows - 2)
            return std::nullopt;
    }
    CornerParameters search = _params.corners;
    search.searchRadius = std::max(search.searchRadius, 8.0);
    const RefinedQuad refined = refineCorners(last.grey, quad, _camera, search);
    if (!refined.ok) return std::nullopt;
    PatternSample sample = samplePattern(image, rgb, refined.observed, _params.match);
    const Match m =
        _matcher.match(sample.image, _params.match, sample.shortestSide, refined.edgeBlur);
    if (m.pattern != pattern || m.dir != 0 || m.confidence < _params.match.minConfidence ||
        (m.confidence < _params.match.fullBorderBelow && !fullBorder(image, rgb, refined, m)))
        return std::nullopt;
    Detection d;
    d.pattern = pattern;
    d.confidence = m.confidence;
    d.observed = refined.observed;
    d.ideal = refined.ideal;
    return d;
}

void MarkerDetector::writeDebugImages(const cv::Mat& grey, const BinaryImage& binary,
                                      const std::vector<Quad>& quads,
                                      const DetectionResult& result) const {
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "/%06d-", _debugFrame++);
    const std::string base = _params.debugFolder + prefix;
    cv::imwrite(base + "1-threshold.png", binary.dark);
    cv::Mat canvas;
    cv::cvtColor(grey, canvas, cv::COLOR_GRAY2BGR);
    for (const Quad& q : quads)
        for (int k = 0; k < 4; ++k)
            cv::line(canvas, q.corners[k], q.corners[(k + 1) % 4], cv::Scalar(0, 200, 255), 1);
    for (const Detection& d : result.detections) {
        for (int k = 0; k < 4; ++k)
            cv::line(canvas, d.observed[k], d.observed[(k + 1) % 4], cv::Scalar(0, 255, 0), 1);
        cv::circle(canvas, d.observed[0], 4, cv::Scalar(0, 0, 255), 2);
        cv::putText(canvas, std::to_string(d.pattern), d.observed[0], cv::FONT_HERSHEY_SIMPLEX, 0.5,
                    cv::Scalar(255, 0, 0), 1);
    }
    cv::imwrite(base + "2-candidates.png", canvas);
}

}  // namespace quorv::markers
