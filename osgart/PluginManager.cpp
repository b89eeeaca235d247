#include "PluginManager.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <sstream>

#include "Plugin.h"

namespace osgART {
namespace {

std::string executableFolder() {
    char buffer[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
    if (n <= 0) return ".";
    std::string path(buffer, static_cast<size_t>(n));
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

bool isFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

osg::ref_ptr<PluginManager>& holder() {
    static osg::ref_ptr<PluginManager> manager;
    return manager;
}

}  // namespace

PluginManager* PluginManager::instance(bool erase) {
    static std::mutex creation;
    std::lock_guard<std::mutex> lock(creation);
    if (erase) {
        holder() = nullptr;
        return nullptr;
    }
    if (!holder()) holder() = new PluginManager;
    return holder().get();
}

std::vector<std::string> PluginManager::searchPath() {
    std::vector<std::string> folders;
    if (const char* env = std::getenv("QUORV_PLUGIN_PATH")) {
        std::stringstream list(env);
        std::string folder;
        while (std::getline(list, folder, ':'))
            if (!folder.empty()) folders.push_back(folder);
    }
    const std::string here = executableFolder();
    folders.push_back(here + "/plugins");
#ifdef QUORV_INSTALLED_PLUGINS
    folders.push_back(here + "/" QUORV_INSTALLED_PLUGINS);
#endif
    return folders;
}

int PluginManager::load(const std::string& name, bool resolveName) {
    std::vector<std::string> candidates;
    if (resolveName) {
        for (const std::string& folder : searchPath()) {
            const std::string path = folder + "/" + name + ".so";
            if (isFile(path)) candidates.push_back(path);
        }
    } else {
        candidates.push_back(name);
    }

    std::string errors;
    for (const std::string& path : candidates) {
        // Plugins stay loaded for the life of the process: the objects they make may be held
        // anywhere, up to exit.
        void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!library) {
            errors += std::string(dlerror()) + "; ";
            continue;
        }
        auto entry = reinterpret_cast<OsgArtPluginEntry>(dlsym(library, OSGART_PLUGIN_ENTRY_NAME));
        if (!entry) {
            errors += path + ": no " OSGART_PLUGIN_ENTRY_NAME "; ";
            continue;
        }
        osg::ref_ptr<osg::Referenced> object = entry();
        if (!object) {
            errors += path + ": made no object; ";
            continue;
        }
        std::lock_guard<std::mutex> lock(_mutex);
        const int id = _nextId++;
        _objects[id] = object;
        return id;
    }
    std::lock_guard<std::mutex> lock(_mutex);
    _lastError = candidates.empty() ? name + ": not found in the plugin folders" : errors;
    return -1;
}

osg::Referenced* PluginManager::get(int id) {
    std::lock_guard<std::mutex> lock(_mutex);
    const auto found = _objects.find(id);
    return found == _objects.end() ? nullptr : found->second.get();
}

std::string PluginManager::lastError() const {
    std::lock_guard<std::mutex> lock(_mutex);
    return _lastError;
}

}  // namespace osgART
