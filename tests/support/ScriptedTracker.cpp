// A tracker for tests, built as a plugin with the real tracker's name and placed in its own
// folder (build/tests/scripted-plugins) so that tests pick it with QUORV_PLUGIN_PATH. It finds
// nothing in images: the tests themselves set its markers seen or lost (Marker::setTracked).
//
// QUORV_TRACKER_LOG names a file that gets one line per marker request: the configuration
// string as received ("-": the standard output). A request for the pattern named by
// QUORV_TRACKER_REFUSE is refused.
#include <osgart/Plugin.h>
#include <osgart/Tracker.h>

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>

namespace {

class ScriptedTracker : public osgART::Tracker {
  public:
    osgART::Marker* addMarker(const std::string& configuration) override {
        const char* log = std::getenv("QUORV_TRACKER_LOG");
        if (log && std::string(log) == "-")
            std::cout << configuration << std::endl;
        else if (log)
            std::ofstream(log, std::ios::app) << configuration << "\n";
        // The pattern name: after the folder's backslash, up to the next field.
        std::string name = configuration.substr(configuration.find('\\') + 1);
        name = name.substr(0, name.find(';'));
        const char* refused = std::getenv("QUORV_TRACKER_REFUSE");
        if (refused && name == refused) return nullptr;
        return _markers.emplace_back(new osgART::Marker(name)).get();
    }

    void update() override {}
};

}  // namespace

OSGART_PLUGIN_ENTRY(ScriptedTracker)
