#include "MarkerRenderer.h"

#include <random>

namespace quorvtest {

using quorv::markers::PatternImage;

PatternImage randomPattern(unsigned seed) {
    std::mt19937 rng(seed);
    PatternImage p;
    for (int block = 0; block < 16; ++block) {
        const bool dark = block == 3 || block == 12 || block == 15 || (block != 0 && rng() % 2);
        for (int cell = 0; cell < 16 * 3; ++cell)
            p.at(cell / 16, block / 4 * 4 + cell % 16 / 4, block % 4 * 4 + cell % 4) =
                dark ? 20 : 240;
    }
    return p;
}

Shot shoot(const osgART::CameraParameters& camera, const std::vector<Shown>& markers,
           const quorv::ImageEffects& effects, int grey) {
    quorv::SynthScript script;
    script.background = quorv::SynthScript::Background::Colour;
    script.backgroundRgb = {grey, grey, grey};
    script.effects = effects;
    std::vector<cv::Mat> pictures;
    for (const Shown& shown : markers) {
        quorv::ScriptMarker m;
        m.name = "m" + std::to_string(pictures.size());
        m.widthMm = shown.width;
        m.innerOnly = true;
        m.keys.push_back({0.0, shown.at});
        script.markers.push_back(m);
        cv::Mat picture(16, 16, CV_8UC3);
        for (int i = 0; i < 256; ++i)
            for (int plane = 0; plane < 3; ++plane)
                picture.at<cv::Vec3b>(i / 16, i % 16)[plane] =
                    shown.pattern.at(plane, i / 16, i % 16);
        pictures.push_back(picture);
    }
    const quorv::SynthRenderer renderer(script, camera, pictures, {});
    return {renderer.render(0), renderer.truth(0)};
}

}  // namespace quorvtest
