#include "ModelviewMatrix.h"

namespace quorv::markers {

osg::Matrixd modelviewFromPose(const Pose& cameraFromMarker) {
    const double flip[3] = {1.0, -1.0, -1.0};
    osg::Matrixd m;  // identity, so the last row of M is (0, 0, 0, 1)
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) m(j, i) = flip[i] * cameraFromMarker.rotation(i, j);
        m(3, i) = flip[i] * cameraFromMarker.translation[i];
    }
    return m;
}

}  // namespace quorv::markers
