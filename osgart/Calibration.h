#pragma once

#include <optional>
#include <osg/Camera>
#include <osg/Referenced>
#include <string>

#include "CameraParameters.h"

namespace osgART {

/// A tracker's camera calibration: the parameters read from a camera parameter file, fitted
/// to the size of the video that the tracker analyses.
class Calibration : public osg::Referenced {
  public:
    /// Near and far planes of the projection, in the marker width's units (mm).
    static constexpr double kNear = 10.0;
    static constexpr double kFar = 8000.0;

    /// Reads a camera parameter file (either of its two forms). Returns false on a missing,
    /// short, oversized or nonsensical file, on parameters that cannot map the image
    /// (CameraParameters::validate) and on anything but a regular file, and keeps the previous
    /// parameters then; lastError() says why.
    bool load(const std::string& fileName);

    /// Sets the size of the images that will be analysed; the parameters are rescaled to it.
    void setSize(int width, int height);

    bool isLoaded() const { return _file.has_value(); }
    /// The parameters at the video size (or at the file's size before any setSize).
    const CameraParameters& parameters() const { return _scaled; }
    /// Why the last load failed.
    const std::string& lastError() const { return _error; }

    /// The OpenGL projection for the current parameters: right-handed eye frame, x right,
    /// y up, looking down -z; pixel (u, v) of the image maps to x_ndc = 2u/(W-1) - 1 and
    /// y_ndc = 1 - 2v/(H-1).
    osg::Matrixd projectionMatrix() const;

    /// A camera drawing its children with that projection, in absolute reference frame, nested
    /// in the view's own camera and sharing its viewport.
    osg::Camera* createCamera() const;

  protected:
    ~Calibration() override = default;

  private:
    void rescale();

    std::optional<CameraParameters> _file;
    CameraParameters _scaled;
    int _width = 0;
    int _height = 0;
    std::string _error;
};

}  // namespace osgART
