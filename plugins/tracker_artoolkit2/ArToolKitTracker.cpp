#include <osgart/Plugin.h>
#include <osgart/Tracker.h>

#include <osg/Notify>

namespace {

/// Pattern-marker tracker. Holds the calibration; marker detection is not in yet, so every
/// marker request is refused.
class ArToolKitTracker : public osgART::Tracker {
public:
    osgART::Marker* addMarker(const std::string& configuration) override {
        osg::notify(osg::WARN) << "tracker: cannot make marker \"" << configuration
                               << "\": marker detection is not available" << std::endl;
        return nullptr;
    }
    void update() override {}
};

}  // namespace

OSGART_PLUGIN_ENTRY(ArToolKitTracker)
