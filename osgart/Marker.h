#pragma once

#include <osg/Matrixd>
#include <osg/Referenced>

#include <string>

namespace osgART {

/// One marker that a tracker looks for. The tracker sets its validity and pose after each
/// analysed image; everything else reads them.
class Marker : public osg::Referenced {
public:
    explicit Marker(const std::string& name = std::string()) : _name(name) {}

    /// The pattern name, the file name of its pattern (or configuration) without folder.
    const std::string& getName() const { return _name; }

    /// An inactive marker is not looked for and never valid.
    virtual void setActive(bool active) {
        _active = active;
        if (!active) _valid = false;
    }
    bool isActive() const { return _active; }

    /// True while the tracker sees the marker in the latest analysed image.
    bool valid() const { return _valid; }

    /// The marker's pose as an OpenGL modelview under Calibration::createCamera's projection:
    /// marker frame (origin at the centre, x right, y up, z out of the face, in the width's
    /// units) to the right-handed eye frame (x right, y up, looking down -z).
    const osg::Matrixd& getTransform() const { return _transform; }

    /// Called by the tracker after each analysed image.
    void setTracked(bool valid, const osg::Matrixd& transform = osg::Matrixd()) {
        _valid = valid && _active;
        if (_valid) _transform = transform;
    }

protected:
    ~Marker() override = default;

private:
    std::string _name;
    bool _active = false;
    bool _valid = false;
    osg::Matrixd _transform;
};

}  // namespace osgART
