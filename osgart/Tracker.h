#pragma once

#include "Calibration.h"
#include "Marker.h"

#include <osg/Image>
#include <osg/Referenced>
#include <osg/ref_ptr>

#include <string>
#include <vector>

namespace osgART {

/// Finds markers in images. A tracker plugin's object derives from this class and supplies the
/// marker factory and the analysis; the calibration and the image are kept here.
class Tracker : public osg::Referenced {
public:
    Tracker() : _calibration(new Calibration) {}

    /// The tracker's calibration; never null.
    Calibration* getOrCreateCalibration() { return _calibration.get(); }

    /// The image to analyse (normally the Video). Tells the calibration its size.
    virtual void setImage(osg::Image* image) {
        _image = image;
        if (image && image->s() > 0 && image->t() > 0) _calibration->setSize(image->s(), image->t());
    }
    osg::Image* getImage() const { return _image.get(); }

    /// Makes a marker from a configuration string and registers it with the tracker, or
    /// returns null when the string or the files it names are not usable. Forms:
    ///   single;folder\pattern;width;centerX;centerY
    ///   multi;folder\configuration
    /// The backslash separates folders in these strings on every platform.
    virtual Marker* addMarker(const std::string& configuration) = 0;

    /// Analyses the current image and updates every registered marker.
    virtual void update() = 0;

    const std::vector<osg::ref_ptr<Marker>>& getMarkers() const { return _markers; }

protected:
    ~Tracker() override = default;

    osg::ref_ptr<Calibration> _calibration;
    osg::ref_ptr<osg::Image> _image;
    std::vector<osg::ref_ptr<Marker>> _markers;
};

}  // namespace osgART
