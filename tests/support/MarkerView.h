#pragma once

#include <osgart/CameraParameters.h>

#include <opencv2/core.hpp>
#include <osg/Matrixd>
#include <osg/Node>
#include <osg/Vec3d>

namespace quorvtest {

/// Where the points of a marker's frame appear in the camera picture: a marker's true pose
/// through the calibration, lens distortion included. This is where content that the program
/// hangs under the marker's transform belongs on the screen.
class MarkerView {
  public:
    MarkerView(const osgART::CameraParameters& camera, const cv::Matx34d& cameraFromMarker);

    /// The observed image position of a point in the marker's frame (mm; x right, y up along
    /// the printed pattern, z out of its face); pixel centres at integer coordinates.
    cv::Point2d observed(const osg::Vec3d& inMarker) const;

    /// The picture's pixels (CV_8U, 255 = covered) that `model`'s triangles cover when the
    /// model is placed in the marker's frame by `markerFromModel` (OSG's row-vector order:
    /// inMarker = inModel * markerFromModel). Transforms inside the model are applied.
    cv::Mat silhouette(osg::Node& model, const osg::Matrixd& markerFromModel, cv::Size size) const;

  private:
    osgART::CameraParameters _camera;
    cv::Matx34d _cameraFromMarker;
};

}  // namespace quorvtest
