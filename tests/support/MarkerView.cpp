#include "MarkerView.h"

#include <opencv2/imgproc.hpp>
#include <osg/Drawable>
#include <osg/NodeVisitor>
#include <osg/Transform>
#include <osg/TriangleFunctor>
#include <vector>

namespace quorvtest {
namespace {

/// Collects every triangle of a scene graph, in the frame of the graph's root.
class TriangleCollector : public osg::NodeVisitor {
  public:
    TriangleCollector() : osg::NodeVisitor(TRAVERSE_ALL_CHILDREN) {}

    void apply(osg::Drawable& drawable) override {
        osg::TriangleFunctor<Sink> sink;
        sink.matrix = osg::computeLocalToWorld(getNodePath());
        sink.out = &triangles;
        drawable.accept(sink);
    }

    std::vector<osg::Vec3d> triangles;  ///< three points per triangle

  private:
    struct Sink {
        osg::Matrixd matrix;
        std::vector<osg::Vec3d>* out = nullptr;
        void operator()(const osg::Vec3& a, const osg::Vec3& b, const osg::Vec3& c) {
            for (const osg::Vec3& v : {a, b, c}) out->push_back(osg::Vec3d(v) * matrix);
        }
    };
};

}  // namespace

MarkerView::MarkerView(const osgART::CameraParameters& camera, const cv::Matx34d& cameraFromMarker)
    : _camera(camera), _cameraFromMarker(cameraFromMarker) {}

cv::Point2d MarkerView::observed(const osg::Vec3d& inMarker) const {
    const cv::Vec3d inCamera =
        _cameraFromMarker * cv::Vec4d(inMarker.x(), inMarker.y(), inMarker.z(), 1.0);
    double h[3];
    for (int row = 0; row < 3; ++row)
        h[row] = _camera.mat[row][0] * inCamera[0] + _camera.mat[row][1] * inCamera[1] +
                 _camera.mat[row][2] * inCamera[2] + _camera.mat[row][3];
    cv::Point2d out;
    _camera.observedFromIdeal(h[0] / h[2], h[1] / h[2], out.x, out.y);
    return out;
}

cv::Mat MarkerView::silhouette(osg::Node& model, const osg::Matrixd& markerFromModel,
                               cv::Size size) const {
    TriangleCollector collector;
    model.accept(collector);
    cv::Mat covered(size, CV_8U, cv::Scalar(0));
    // Vertices at 1/16 pixel; OpenCV's pixel centres are at integer coordinates, as ours.
    constexpr int kShift = 4;
    for (size_t i = 0; i + 2 < collector.triangles.size(); i += 3) {
        cv::Point corners[3];
        for (int k = 0; k < 3; ++k) {
            const cv::Point2d p = observed(collector.triangles[i + k] * markerFromModel);
            corners[k] = cv::Point(cvRound(p.x * (1 << kShift)), cvRound(p.y * (1 << kShift)));
        }
        cv::fillConvexPoly(covered, corners, 3, cv::Scalar(255), cv::LINE_8, kShift);
    }
    return covered;
}

}  // namespace quorvtest
