// Movies shown on a rectangle under a marker.
#include "OsgArt.h"

#include <osg/Geode>
#include <osg/Geometry>
#include <osg/TextureRectangle>
#include <osgDB/ReadFile>
#include <osgDB/Registry>

#include <iostream>

osg::ImageStream* OsgArt::createMovieNode(osg::Group* parent, std::string fileName) {
    osg::ref_ptr<osg::Image> image =
        osgDB::readImageFile(fileName, osgDB::Registry::instance()->getOptions());
    osg::ref_ptr<osg::ImageStream> movie = dynamic_cast<osg::ImageStream*>(image.get());
    if (movie.valid())
        std::cout << "Got movie" << std::endl;
    else
        std::cout << "No movie!" << std::endl;
    if (!image.valid()) return nullptr;

    const float width = static_cast<float>(image->s());
    const float height = static_cast<float>(image->t());
    const float aspect = height / width;
    const float h = aspect * 180.0f;

    osg::ref_ptr<osg::Geode> geode = new osg::Geode;
    osg::ref_ptr<osg::TextureRectangle> texture = new osg::TextureRectangle(image.get());
    // Texel coordinates: the picture's first row along the top edge.
    geode->addDrawable(osg::createTexturedQuadGeometry(osg::Vec3(-90.0f, -h / 2.0f, 0.0f),
                                                       osg::Vec3(180.0f, 0.0f, 0.0f),
                                                       osg::Vec3(0.0f, h, 0.0f), 0.0f, height,
                                                       width, 0.0f));
    osg::StateSet* state = geode->getOrCreateStateSet();
    state->setTextureAttributeAndModes(0, texture.get(), osg::StateAttribute::ON);
    // The picture changes while the movie plays: a frame's drawing must be done with it before
    // the next update traversal brings in the next picture.
    state->setDataVariance(osg::Object::DYNAMIC);
    parent->addChild(geode.get());
    return movie.get();
}
