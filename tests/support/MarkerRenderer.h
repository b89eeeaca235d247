#pragma once

// Test support: frames of pattern markers at known placements, drawn by the synthetic camera
// (quorv_synth), with the truth of where each marker's corners and pose are.

#include <synth/SynthRenderer.h>

#include <vector>

#include "Pattern.h"

namespace quorvtest {

/// A template as a 16x16 BGR picture, for the synthetic camera to draw as a marker's inside.
inline cv::Mat picture(const quorv::markers::PatternImage& pattern) {
    cv::Mat m(16, 16, CV_8UC3);
    m.forEach<cv::Vec3b>([&](cv::Vec3b& px, const int* at) {
        for (int p = 0; p < 3; ++p) px[p] = pattern.at(p, at[0], at[1]);
    });
    return m;
}

/// A marker to draw: its pattern (the black border is added), outer width in mm, placement.
struct Shown {
    quorv::markers::PatternImage pattern;
    double width;
    quorv::MarkerPlacement at;
};

struct Shot {
    cv::Mat image;            ///< BGR
    quorv::FrameTruth truth;  ///< the markers in the order given
};

/// One frame of `markers` over a flat grey page, seen through `camera`, with `effects` applied.
inline Shot shoot(const osgART::CameraParameters& camera, const std::vector<Shown>& markers,
                  const quorv::ImageEffects& effects = {}, int grey = 150) {
    quorv::SynthScript script;
    script.background = quorv::SynthScript::Background::Colour;
    script.backgroundRgb = {grey, grey, grey};
    script.effects = effects;
    std::vector<cv::Mat> pictures;
    for (const Shown& m : markers) {
        quorv::ScriptMarker marker;
        marker.name = "m" + std::to_string(pictures.size());
        marker.widthMm = m.width;
        marker.innerOnly = true;
        marker.keys = {{0.0, m.at}};
        script.markers.push_back(marker);
        pictures.push_back(picture(m.pattern));
    }
    const quorv::SynthRenderer renderer(script, camera, pictures, {});
    return {renderer.render(0), renderer.truth(0)};
}

}  // namespace quorvtest
