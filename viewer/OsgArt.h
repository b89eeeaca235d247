#pragma once

#include <osgart/Calibration.h>
#include <osgart/Marker.h>
#include <osgart/Tracker.h>
#include <osgart/Video.h>
#include <osgart/VideoGeode.h>
#include <osgart/VideoLayer.h>

#include <osg/Camera>
#include <osg/Group>
#include <osg/ImageStream>
#include <osg/MatrixTransform>
#include <osg/Vec3d>
#include <osgViewer/Viewer>

#include <map>
#include <string>
#include <utility>

class EventControl;

/// A registered marker: the tracker's marker and the transform that follows it.
using MarkerBinding = std::pair<osg::ref_ptr<osgART::Marker>, osg::ref_ptr<osg::MatrixTransform>>;
/// Pattern name to binding, in byte-wise key order; the first binding of a name is kept.
using MarkerRegistry = std::map<std::string, MarkerBinding>;

/// The application's one viewer: on construction it loads the video and tracker plugins, opens
/// the camera, loads the calibration, builds the scene (root, calibrated camera, live video
/// background), installs the standard handlers and starts the video. Reached through
/// `instance()`; never destroyed by the application.
class OsgArt : public osgViewer::Viewer {
public:
    /// The process-wide viewer, made on the first call. A start-up failure ends the process
    /// with exit code -1 after one line on the notification stream.
    static OsgArt* instance();

    /// Registers a pattern with the tracker and gives it a transform under the camera. The
    /// tracker is handed "single;folder\pattern;width;0;0" (or "multi;folder\pattern" when
    /// `single` is false). A pattern the tracker refuses ends the process with exit code -1.
    bool addMarker(std::string folder, std::string pattern, bool single, int width);

    /// The transform (or marker) registered under `name`, or null. Borrowed pointers.
    osg::MatrixTransform* getMarkerTransform(std::string name);
    osgART::Marker* getMarker(std::string name);
    /// Whether the marker registered under `name` is seen in the latest image.
    bool isMarkerVisible(std::string name);
    /// Whether the registered marker whose transform is this very object is seen.
    bool isTransformVisible(osg::ref_ptr<osg::MatrixTransform> transform);

    /// Stops the video capture (waiting for its thread) and the viewer's own threads. For the
    /// end of the process: the viewer itself is never destroyed, and no thread of it may still
    /// run while the libraries' static data is torn down.
    void stopThreads();

    /// The live video source (borrowed).
    osgART::Video* getVideo() const { return video.get(); }

    /// The marker registry, in key order (read-only view, for inspection).
    const MarkerRegistry& getMarkers() const { return markers; }

    /// Hangs `model` under `parent` behind two new transforms: a placement transform (an
    /// osg::MatrixTransform translating by `offset`, appended as the parent's last child) and
    /// under it a scale transform (an osg::PositionAttitudeTransform scaling by `scale`). So the
    /// model is scaled about its own origin and then moved; the offset is not scaled. A null
    /// model is reported as " could not find model " and the two transforms are still attached.
    static void attachModel(osg::Group* parent, osg::Node* model, osg::Vec3d offset, osg::Vec3d scale);

    /// Reads a movie file through osgDB and shows it on a 180-unit-wide rectangle (keeping the
    /// picture's aspect) centred on `parent`'s origin in its x-y plane, facing +z. Prints "Got
    /// movie" or "No movie!". Returns the movie's stream, or null when the file gave none (a
    /// still picture is shown all the same). The stream is owned by the scene.
    osg::ImageStream* createMovieNode(osg::Group* parent, std::string fileName);

    /// The live video background: a layer sized to the video holding a geode that textures
    /// one quad with the video image. Returns a new, unreferenced layer.
    static osgART::VideoLayer* createVideoBackground(osgART::Video* video);
    /// Adds to `geode` one quad spanning (0, 0)-(w, h) in pixels, textured so that the image's
    /// first row lies along the top edge (y = h).
    static void createVideoQuad(osgART::VideoGeode* geode, float w, float h);

protected:
    OsgArt();
    ~OsgArt() override;

    osg::ref_ptr<osg::Group> root;
    osg::ref_ptr<osgART::Video> video;
    osg::ref_ptr<osgART::Tracker> tracker;
    osg::ref_ptr<osgART::Calibration> calibration;
    osg::ref_ptr<osg::Camera> camera;
    MarkerRegistry markers;
    EventControl* eventControl = nullptr;

private:
    static OsgArt* _instance;
};
