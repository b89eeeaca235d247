#pragma once

#include <osg/Referenced>

/// Every osgART plugin library exports one C function with this name. It makes the plugin's
/// object (an osgART::Video or osgART::Tracker) and hands over a new, unreferenced instance;
/// the PluginManager takes the first counted reference.
#define OSGART_PLUGIN_ENTRY_NAME "osgart_create_plugin_object"

extern "C" {
typedef osg::Referenced* (*OsgArtPluginEntry)();
}

/// Defines the entry of a plugin library, making `Type` with its default constructor.
#define OSGART_PLUGIN_ENTRY(Type)                                                       \
    extern "C" __attribute__((visibility("default"))) osg::Referenced*                  \
    osgart_create_plugin_object() {                                                     \
        return new Type();                                                              \
    }
