#include "Calibration.h"

#include <sys/stat.h>

namespace osgART {

bool Calibration::load(const std::string& fileName) {
    // Anything but a regular file is refused before it is opened: opening a FIFO would wait
    // for a writer forever.
    struct stat st {};
    if (::stat(fileName.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        _error = fileName + ": not a regular file";
        return false;
    }
    std::string why;
    auto params = CameraParameters::read(fileName, &why);
    if (params && !params->validate(&why)) why = fileName + ": unusable: " + why;
    if (!params || !why.empty()) {
        _error = why;
        return false;
    }
    _file = params;
    _error.clear();
    rescale();
    return true;
}

void Calibration::setSize(int width, int height) {
    _width = width;
    _height = height;
    rescale();
}

void Calibration::rescale() {
    if (!_file) return;
    _scaled = (_width > 0 && _height > 0) ? _file->scaled(_width, _height) : *_file;
}

osg::Matrixd Calibration::projectionMatrix() const {
    const CameraParameters::Intrinsics k = _scaled.intrinsics();
    const double w = _scaled.xsize - 1.0;
    const double h = _scaled.ysize - 1.0;
    const double n = kNear, f = kFar;
    // Rows of the GL projection; osg::Matrixd stores row vectors, so element (row i, column j)
    // of the GL matrix goes to (j, i) here.
    const double gl[4][4] = {
        {2.0 * k.fx / w, 2.0 * k.skew / w, 1.0 - 2.0 * k.cx / w, 0.0},
        {0.0, 2.0 * k.fy / h, 2.0 * k.cy / h - 1.0, 0.0},
        {0.0, 0.0, (f + n) / (n - f), 2.0 * f * n / (n - f)},
        {0.0, 0.0, -1.0, 0.0},
    };
    osg::Matrixd m;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) m(j, i) = gl[i][j];
    return m;
}

osg::Camera* Calibration::createCamera() const {
    osg::Camera* camera = new osg::Camera;
    camera->setReferenceFrame(osg::Transform::ABSOLUTE_RF);
    camera->setRenderOrder(osg::Camera::NESTED_RENDER);
    camera->setClearMask(0);
    camera->setComputeNearFarMode(osg::CullSettings::DO_NOT_COMPUTE_NEAR_FAR);
    camera->setProjectionMatrix(projectionMatrix());
    camera->setViewMatrix(osg::Matrixd::identity());
    return camera;
}

}  // namespace osgART
