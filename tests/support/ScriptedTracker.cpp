// A tracker for tests, built as a plugin with the real tracker's name and placed in its own
// folder (build/tests/scripted-plugins) so that tests pick it with QUORV_PLUGIN_PATH. It finds
// nothing in images: the tests themselves set its markers seen or lost (Marker::setTracked).
//
// QUORV_TRACKER_LOG names a file that gets one line per marker request: the configuration
// string as received.
// QUORV_TRACKER_REFUSE lists pattern names (comma-separated) whose requests are refused.
#include <osgart/Plugin.h>
#include <osgart/Tracker.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace {

class ScriptedTracker : public osgART::Tracker {
  public:
    osgART::Marker* addMarker(const std::string& configuration) override {
        if (const char* log = std::getenv("QUORV_TRACKER_LOG"))
            std::ofstream(log, std::ios::app) << configuration << "\n";
        // The pattern name: the second field, after its last backslash.
        std::istringstream fields(configuration);
        std::string name;
        if (!std::getline(fields, name, ';') || !std::getline(fields, name, ';')) return nullptr;
        name = name.substr(name.rfind('\\') + 1);
        const char* refuse = std::getenv("QUORV_TRACKER_REFUSE");
        std::istringstream refused(refuse ? refuse : "");
        for (std::string each; std::getline(refused, each, ',');)
            if (each == name) return nullptr;
        _markers.push_back(new osgART::Marker(name));
        return _markers.back().get();
    }

    void update() override {}
};

}  // namespace

OSGART_PLUGIN_ENTRY(ScriptedTracker)
