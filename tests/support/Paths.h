#pragma once

#include <cstdlib>
#include <string>

namespace quorvtest {

/// The checkout this build was made from: $QUORV_SOURCE_DIR, else the one CMake configured.
inline std::string sourceDirectory() {
    if (const char* source = std::getenv("QUORV_SOURCE_DIR")) return source;
#ifdef QUORV_SOURCE_DIR_DEFAULT
    return QUORV_SOURCE_DIR_DEFAULT;
#else
    return "..";
#endif
}

/// The build folder: $QUORV_BUILD_DIR, else the one CMake configured.
inline std::string buildDirectory() {
    if (const char* build = std::getenv("QUORV_BUILD_DIR")) return build;
#ifdef QUORV_BUILD_DIR_DEFAULT
    return QUORV_BUILD_DIR_DEFAULT;
#else
    return ".";
#endif
}

}  // namespace quorvtest
