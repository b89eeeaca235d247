#include <osgart/Plugin.h>
#include <osgart/Tracker.h>

#include <cstdlib>
#include <osg/GL>
#include <osg/Notify>

#include "MarkerConfig.h"
#include "MarkerTracker.h"
#include "ModelviewMatrix.h"

#ifndef GL_BGR
#define GL_BGR 0x80E0
#endif
#ifndef GL_BGRA
#define GL_BGRA 0x80E1
#endif

namespace {

using quorv::markers::MarkerConfig;
using quorv::markers::MarkerTracker;

/// The pattern-marker tracker: osgART's Tracker on the quorv_markers detector.
///
/// Markers come from configuration strings (MarkerConfig). Each analysed image gives every
/// marker its validity and, when valid, its modelview: the pose fitted to the corners as they
/// appear in the raw, distorted image, with the camera matrix alone, so that content drawn
/// with Calibration's projection over the un-warped video background lands on the marker as
/// the visitor sees it.
class ArToolKitTracker : public osgART::Tracker {
  public:
    ArToolKitTracker() : _tracker(parameters()) {}

    osgART::Marker* addMarker(const std::string& configuration) override {
        std::string error;
        auto config = MarkerConfig::parse(configuration, &error);
        const int index = config ? _tracker.addMarker(*config, &error) : -1;
        if (index < 0) {
            osg::notify(osg::WARN) << "tracker: cannot make marker \"" << configuration
                                   << "\": " << error << std::endl;
            return nullptr;
        }
        osg::ref_ptr<osgART::Marker> marker = new osgART::Marker(config->name());
        _markers.push_back(marker);
        _trackerIndex.push_back(index);
        return marker.get();
    }

    void update() override {
        cv::Mat frame;
        bool rgb = false;
        if (_image.valid() && wrap(*_image, frame, rgb)) {
            syncCamera();
            for (size_t i = 0; i < _markers.size(); ++i)
                _tracker.setActive(_trackerIndex[i], _markers[i]->isActive());
            _tracker.update(frame, rgb);
        }
        for (size_t i = 0; i < _markers.size(); ++i) {
            const auto& state = _tracker.marker(_trackerIndex[i]);
            const bool valid = !frame.empty() && state.valid;
            _markers[i]->setTracked(
                valid, valid ? quorv::markers::modelviewFromPose(state.drawingCameraFromMarker)
                             : osg::Matrixd());
        }
    }

  protected:
    ~ArToolKitTracker() override = default;

  private:
    /// The defaults, with the debug switch taken from the environment: QUORV_TRACKER_DEBUG names
    /// a folder that receives every frame's stage images.
    static quorv::markers::TrackerParameters parameters() {
        quorv::markers::TrackerParameters params;
        if (const char* folder = std::getenv("QUORV_TRACKER_DEBUG"))
            params.detector.debugFolder = folder;
        return params;
    }

    /// A cv::Mat header over the image's pixels (no copy); false for layouts not handled.
    static bool wrap(osg::Image& image, cv::Mat& frame, bool& rgb) {
        if (!image.data() || image.s() <= 0 || image.t() <= 0 ||
            image.getDataType() != GL_UNSIGNED_BYTE)
            return false;
        int type;
        switch (image.getPixelFormat()) {
            case GL_BGR:
                type = CV_8UC3;
                rgb = false;
                break;
            case GL_RGB:
                type = CV_8UC3;
                rgb = true;
                break;
            case GL_BGRA:
                type = CV_8UC4;
                rgb = false;
                break;
            case GL_RGBA:
                type = CV_8UC4;
                rgb = true;
                break;
            case GL_LUMINANCE:
                type = CV_8UC1;
                rgb = false;
                break;
            default:
                return false;
        }
        frame = cv::Mat(image.t(), image.s(), type, image.data(), image.getRowStepInBytes());
        return true;
    }

    /// Hands the calibration (already at the image size) to the detector when it changed.
    void syncCamera() {
        const osgART::CameraParameters& now = _calibration->parameters();
        const osgART::CameraParameters& had = _tracker.camera();
        if (now.xsize == had.xsize && now.ysize == had.ysize && now.mat == had.mat &&
            now.dist == had.dist && now.model == had.model)
            return;
        _tracker.setCamera(now);
    }

    MarkerTracker _tracker;
    /// The tracker's index of each marker in _markers.
    std::vector<int> _trackerIndex;
};

}  // namespace

OSGART_PLUGIN_ENTRY(ArToolKitTracker)
