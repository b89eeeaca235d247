#pragma once

#include <map>
#include <mutex>
#include <osg/Referenced>
#include <osg/ref_ptr>
#include <string>
#include <vector>

namespace osgART {

/// Loads osgART plugin libraries at run time and keeps the object each one makes.
///
/// A plugin named N is the shared library "N.so". It is looked for, in order:
///  1. in each folder of the environment variable QUORV_PLUGIN_PATH (separated by ':');
///  2. in the folder "plugins" beside the running executable (a build tree);
///  3. in the installed plugin folder, found from the running executable's folder by the relative
///     path QUORV_INSTALLED_PLUGINS (bin/ to lib/<multiarch>/quorv/plugins/), so an installed
///     program finds its plugins under whatever prefix it was installed or unpacked.
/// The first file found is loaded; a file that fails to load does not hide a later one.
class PluginManager : public osg::Referenced {
  public:
    /// The process-wide manager. `erase` true drops it (the next call makes a new one).
    static PluginManager* instance(bool erase = false);

    /// Loads plugin `name` and makes its object. Returns an id for `get`, or -1 when the
    /// library is missing, does not load or makes no object. `resolveName` true searches the
    /// plugin folders for "name.so"; false passes `name` to the dynamic loader as it stands.
    int load(const std::string& name, bool resolveName = true);

    /// The object of a loaded plugin, or null for an id that `load` did not give.
    osg::Referenced* get(int id);

    /// The folders searched for plugins, in order.
    static std::vector<std::string> searchPath();

    /// What went wrong in the last failed `load`, for diagnostics.
    std::string lastError() const;

  protected:
    ~PluginManager() override = default;

  private:
    mutable std::mutex _mutex;
    std::map<int, osg::ref_ptr<osg::Referenced>> _objects;
    int _nextId = 0;
    std::string _lastError;
};

}  // namespace osgART
