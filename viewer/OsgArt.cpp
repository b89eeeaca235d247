#include "OsgArt.h"

#include <EventControl.h>
#include <osgart/PluginManager.h>
#include <osgart/TrackerCallback.h>
#include <osgart/Utils.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <osg/Geometry>
#include <osg/Notify>
#include <osgViewer/ViewerEventHandlers>

OsgArt* OsgArt::_instance = nullptr;

OsgArt* OsgArt::instance() {
    if (!_instance) _instance = new OsgArt;
    return _instance;
}

OsgArt::OsgArt() {
    eventControl = new EventControl;
    root = new osg::Group;
    setSceneData(root.get());

    addEventHandler(new osgViewer::StatsHandler);
    addEventHandler(new osgViewer::WindowSizeHandler);
    addEventHandler(new osgViewer::ThreadingHandler);
    addEventHandler(new osgViewer::HelpHandler(nullptr));

    // Both plugins are loaded before either is used.
    const int videoId =
        osgART::PluginManager::instance(false)->load("osgart_video_artoolkit2", true);
    const int trackerId =
        osgART::PluginManager::instance(false)->load("osgart_tracker_artoolkit2", true);

    video = dynamic_cast<osgART::Video*>(osgART::PluginManager::instance(false)->get(videoId));
    if (!video.valid()) {
        osg::notify(osg::FATAL) << "Could not initialize video plugin!" << std::endl;
        exit(-1);
    }
    video->open();

    tracker =
        dynamic_cast<osgART::Tracker*>(osgART::PluginManager::instance(false)->get(trackerId));
    if (!tracker.valid()) {
        osg::notify(osg::FATAL) << "Could not initialize tracker plugin!" << std::endl;
        exit(-1);
    }
    calibration = tracker->getOrCreateCalibration();

    std::cout << "yeah" << std::endl;

    if (!calibration->load("camera_para.dat")) {
        osg::notify(osg::FATAL) << "Non existing or incompatible calibration file: "
                                << calibration->lastError() << std::endl;
        exit(-1);
    }

    tracker->setImage(video.get());
    osgART::TrackerCallback::addOrSet(root.get(), tracker.get());

    osg::ref_ptr<osgART::VideoLayer> layer = createVideoBackground(video.get());
    layer->getOrCreateStateSet()->setRenderBinDetails(0, "RenderBin",
                                                      osg::StateSet::USE_RENDERBIN_DETAILS);
    camera = calibration->createCamera();
    camera->addChild(layer.get());
    root->addChild(camera.get());
    // The live picture covers every pixel of the window, so only depth is cleared before each
    // frame: clearing the colour as well is a whole-window fill that nobody sees, and with a
    // software renderer it costs as much as drawing a model.
    getCamera()->setClearMask(GL_DEPTH_BUFFER_BIT);

    markers.clear();
    video->start();
    addEventHandler(eventControl);
}

OsgArt::~OsgArt() {
    if (video.valid()) video->close(true);
    eventControl = nullptr;  // released with the view's other event handlers
    if (_instance == this) _instance = nullptr;
}

void OsgArt::stopThreads() {
    stopThreading();
    if (video.valid()) video->close(true);
}

osgART::VideoLayer* OsgArt::createVideoBackground(osgART::Video* video) {
    auto* layer = new osgART::VideoLayer;
    layer->setSize(*video);
    auto* geode = new osgART::VideoGeode(osgART::VideoGeode::USE_TEXTURE_2D, video);
    createVideoQuad(geode, static_cast<float>(video->s()), static_cast<float>(video->t()));
    layer->addChild(geode);
    return layer;
}

void OsgArt::createVideoQuad(osgART::VideoGeode* geode, float w, float h) {
    float smax, tmax;
    if (geode->getTextureMode() == osgART::VideoGeode::USE_TEXTURE_RECTANGLE) {
        smax = w;
        tmax = h;
    } else {
        const unsigned int W = static_cast<unsigned int>(w);
        const unsigned int H = static_cast<unsigned int>(h);
        smax = static_cast<float>(double(w) / double(osgART::nextPowerOfTwo(W)));
        tmax = static_cast<float>(double(h) / double(osgART::nextPowerOfTwo(H)));
    }

    auto* quad = new osg::Geometry;
    auto* vertices = new osg::Vec3Array;
    quad->setVertexArray(vertices);
    auto* texCoords = new osg::Vec2Array;
    quad->setTexCoordArray(0, texCoords);

    vertices->push_back(osg::Vec3f(0.0f, 0.0f, 0.0f));
    vertices->push_back(osg::Vec3f(w, 0.0f, 0.0f));
    vertices->push_back(osg::Vec3f(w, h, 0.0f));
    vertices->push_back(osg::Vec3f(0.0f, h, 0.0f));
    texCoords->push_back(osg::Vec2f(0.0f, tmax));
    texCoords->push_back(osg::Vec2f(smax, tmax));
    texCoords->push_back(osg::Vec2f(smax, 0.0f));
    texCoords->push_back(osg::Vec2f(0.0f, 0.0f));

    quad->addPrimitiveSet(new osg::DrawArrays(GL_QUADS, 0, 4));
    geode->addDrawable(quad);
}
