// Placement of loaded models under marker transforms.
#include "OsgArt.h"

#include <osg/PositionAttitudeTransform>

#include <iostream>

void OsgArt::attachModel(osg::Group* parent, osg::Node* model, osg::Vec3d offset, osg::Vec3d scale) {
    osg::Matrixd matrix;
    if (!model) std::cout << " could not find model " << std::endl;

    osg::ref_ptr<osg::PositionAttitudeTransform> scaling = new osg::PositionAttitudeTransform;
    scaling->setScale(scale);
    osg::ref_ptr<osg::MatrixTransform> placement = new osg::MatrixTransform;
    matrix.makeTranslate(offset);
    placement->setMatrix(matrix);

    // Linked from the bottom up, so the parent never holds a half-built subtree.
    if (model) scaling->addChild(model);
    placement->addChild(scaling.get());
    parent->addChild(placement.get());
}
