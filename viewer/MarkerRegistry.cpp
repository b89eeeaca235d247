// The marker registry of OsgArt: registration of patterns with the tracker and the lookups by
// pattern name and by transform.
#include "OsgArt.h"

#include <osgart/Utils.h>

#include <osg/Notify>

#include <cstdio>
#include <cstdlib>
#include <iostream>

bool OsgArt::addMarker(std::string folder, std::string pattern, bool single, int width) {
    std::cout << "ADDMARKER" << std::endl;
    osg::ref_ptr<osg::MatrixTransform> transform = new osg::MatrixTransform;

    std::string configuration;
    if (single)
        configuration = "single;" + folder + "\\" + pattern + ";" + std::to_string(width) + ";0;0";
    else
        configuration = "multi;" + folder + "\\" + pattern;

    std::printf("IN\n");
    std::fflush(stdout);
    osg::ref_ptr<osgART::Marker> marker = tracker->addMarker(configuration);
    std::printf("OUT\n");
    std::fflush(stdout);
    if (!marker.valid()) {
        osg::notify(osg::FATAL) << "Could not add marker!" << std::endl;
        exit(-1);
    }
    marker->setActive(true);
    osgART::attachDefaultEventCallbacks(transform.get(), marker.get());
    transform->getOrCreateStateSet()->setRenderBinDetails(100, "RenderBin",
                                                          osg::StateSet::USE_RENDERBIN_DETAILS);
    transform->setName("marker");
    camera->addChild(transform.get());

    markers.insert(std::make_pair(pattern, MarkerBinding(marker, transform)));
    std::cout << "END ADDMARKER" << std::endl;
    return true;
}

osg::MatrixTransform* OsgArt::getMarkerTransform(std::string name) {
    const auto found = markers.find(name);
    return found == markers.end() ? nullptr : found->second.second.get();
}

osgART::Marker* OsgArt::getMarker(std::string name) {
    const auto found = markers.find(name);
    return found == markers.end() ? nullptr : found->second.first.get();
}

bool OsgArt::isMarkerVisible(std::string name) {
    osgART::Marker* marker = getMarker(name);
    return marker && marker->valid();
}

bool OsgArt::isTransformVisible(osg::ref_ptr<osg::MatrixTransform> transform) {
    for (const auto& entry : markers)
        if (entry.second.second == transform) return entry.second.first->valid();
    return false;
}
