#pragma once

// Where tests find the checkout, the build, and the committed reference files of tests/data.

#include <cstdlib>
#include <string>

namespace quorvtest {

/// The checkout this build was made from: $QUORV_SOURCE_DIR, else the one CMake configured
/// (every target that includes this file is given QUORV_SOURCE_DIR_DEFAULT and
/// QUORV_BUILD_DIR_DEFAULT).
inline std::string sourceDirectory() {
    if (const char* source = std::getenv("QUORV_SOURCE_DIR")) return source;
    return QUORV_SOURCE_DIR_DEFAULT;
}

/// The build folder: $QUORV_BUILD_DIR, else the one CMake configured.
inline std::string buildDirectory() {
    if (const char* build = std::getenv("QUORV_BUILD_DIR")) return build;
    return QUORV_BUILD_DIR_DEFAULT;
}

/// A committed reference file of tests/data (see its README).
inline std::string testDataPath(const std::string& name) {
    return sourceDirectory() + "/tests/data/" + name;
}

/// A file of the build folder (the program, the tools).
inline std::string buildPath(const std::string& name) { return buildDirectory() + "/" + name; }

}  // namespace quorvtest
