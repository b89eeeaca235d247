#include "ExhibitClip.h"

#include <support/JsonValue.h>

#include <algorithm>
#include <fstream>
#include <opencv2/videoio.hpp>
#include <sstream>

#include "support/Desktop.h"

namespace quorvtest {
namespace {

using quorv::markers::testing::JsonValue;

/// The printed picture of an exhibit marker: "patt.tovex" → data_Tovarin/tovex-marker.png.
std::string markerImage(const std::string& marker) {
    const std::string pattern = marker.substr(marker.find('.') + 1);
    return ExhibitClip::exhibitFolder() + "/data_Tovarin/" + pattern + "-marker.png";
}

std::string script(const std::vector<ExhibitClip::Key>& keys, const ExhibitClip::Options& options) {
    std::ostringstream out;
    out << "size 640 480\n"
        << "fps " << options.fps << "\n"
        << "duration " << options.duration << "\n"
        << "calibration " << ExhibitClip::exhibitFolder() << "/camera_para.dat\n"
        << "background colour " << options.background[0] << " " << options.background[1] << " "
        << options.background[2] << "\n"
        << "seed " << options.seed << "\n";
    std::vector<std::string> markers;
    for (const ExhibitClip::Key& key : keys)
        if (std::find(markers.begin(), markers.end(), key.marker) == markers.end())
            markers.push_back(key.marker);
    for (const std::string& marker : markers)
        out << "marker " << marker << " " << markerImage(marker) << " 120\n";
    for (const ExhibitClip::Key& key : keys)
        out << "key " << key.marker << " " << key.time << " " << key.x << " " << key.y << " "
            << key.z << " " << key.roll << " " << key.pitch << " " << key.yaw << " "
            << (key.shown ? "shown" : "hidden") << "\n";
    return out.str();
}

ExhibitClip::Marker markerFromJson(const JsonValue& value) {
    ExhibitClip::Marker marker;
    marker.name = value["name"].string;
    for (size_t i = 0; i < 4; ++i)
        marker.corners[i] = {value["corners"][i][0].number, value["corners"][i][1].number};
    for (int i = 0; i < 12; ++i)
        marker.cameraFromMarker(i / 4, i % 4) = value["camera_from_marker"][size_t(i)].number;
    return marker;
}

}  // namespace

std::string ExhibitClip::exhibitFolder() { return sourceDir() + "/exhibit"; }

ExhibitClip ExhibitClip::render(const std::string& folder, const std::string& name,
                                const std::vector<Key>& keys, const Options& options,
                                std::string* error) {
    ExhibitClip clip;
    const std::string scriptPath = folder + "/" + name + ".txt";
    const std::string truthPath = folder + "/" + name + ".truth.jsonl";
    clip._video = folder + "/" + name + ".mkv";
    std::ofstream(scriptPath) << script(keys, options);

    int status = -1;
    const std::string log = shell(buildDir() + "/quorv-synth " + scriptPath + " -o " + clip._video +
                                      " --truth " + truthPath + " 2>&1",
                                  &status);
    if (status != 0) {
        if (error) *error = "quorv-synth failed: " + log;
        return {};
    }

    std::ifstream truth(truthPath);
    for (std::string line; std::getline(truth, line);) {
        JsonValue value;
        if (!JsonValue::parse(line, value)) {
            if (error) *error = "unreadable truth line: " + line;
            return {};
        }
        std::vector<Marker> markers;
        for (const JsonValue& marker : value["markers"].array)
            markers.push_back(markerFromJson(marker));
        clip._truth.push_back(std::move(markers));
    }

    // The same decoder as the program's video plugin, so the frames are what it shows.
    cv::VideoCapture video(clip._video, cv::CAP_FFMPEG);
    for (cv::Mat frame; video.read(frame) && !frame.empty();) clip._frames.push_back(frame.clone());
    if (clip._frames.empty() || clip._frames.size() != clip._truth.size()) {
        if (error)
            *error = "clip has " + std::to_string(clip._frames.size()) + " frames and " +
                     std::to_string(clip._truth.size()) + " truth lines";
        return {};
    }
    return clip;
}

const ExhibitClip::Marker* ExhibitClip::marker(size_t index, const std::string& name) const {
    for (const Marker& marker : _truth.at(index))
        if (marker.name == name) return &marker;
    return nullptr;
}

}  // namespace quorvtest
