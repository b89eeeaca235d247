#include "EventControl.h"

#include <OsgArt.h>

#include <osg/MatrixTransform>

#include <cmath>

namespace {

constexpr double kTurn = 0.17453292519943295;  // 10 degrees, in radians
const char* const kCharacterMarker = "patt.tovex";

}  // namespace

bool EventControl::handle(const osgGA::GUIEventAdapter& ea, osgGA::GUIActionAdapter&) {
    OsgArt* viewer = OsgArt::instance();
    osg::Matrixd current;
    osg::Matrixd step;

    if (ea.getEventType() != osgGA::GUIEventAdapter::KEYDOWN) return false;
    if (!viewer->isMarkerVisible(kCharacterMarker)) return false;

    // The nodes the set-up hung under the marker; a key is ignored when they are not there.
    osg::MatrixTransform* marker = viewer->getMarkerTransform(kCharacterMarker);
    if (!marker || marker->getNumChildren() == 0) return false;
    auto* holder = dynamic_cast<osg::MatrixTransform*>(marker->getChild(0));
    if (!holder || holder->getNumChildren() == 0) return false;
    auto* placement = dynamic_cast<osg::MatrixTransform*>(holder->getChild(0));
    if (!placement) return false;

    const int key = ea.getKey();
    switch (key) {
        case 'I':
        case 'i':
        case 'K':
        case 'k': {
            // Heading: the placement transform's signed turn about z.
            current = placement->getMatrix();
            double angle = 0.0, x = 0.0, y = 0.0, z = 0.0;
            current.getRotate().getRotate(angle, x, y, z);
            const double heading = angle * z;
            current = holder->getMatrix();
            const double s = std::sin(heading), c = std::cos(heading);
            const osg::Vec3f move = (key == 'I' || key == 'i')
                                        ? osg::Vec3f(static_cast<float>(s * -2.0), static_cast<float>(c + c), 0.0f)
                                        : osg::Vec3f(static_cast<float>(s + s), static_cast<float>(c * -2.0), 0.0f);
            step.makeTranslate(move);
            current.mult(current, step);
            holder->setMatrix(current);
            break;
        }
        case 'J':
        case 'j':
        case 'L':
        case 'l': {
            current = placement->getMatrix();
            const double turn = (key == 'J' || key == 'j') ? kTurn : -kTurn;
            step.makeRotate(turn, osg::Vec3f(0.0f, 0.0f, 1.0f));
            current.mult(current, step);
            placement->setMatrix(current);
            break;
        }
        default:
            break;
    }
    return true;
}
