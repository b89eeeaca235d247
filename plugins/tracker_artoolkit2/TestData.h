#pragma once

// Where the tracker's tests find their committed data and put what they make.

#include <cstdlib>
#include <string>

namespace quorv::markers {

/// A file of plugins/tracker_artoolkit2/testdata.
inline std::string testDataPath(const std::string& name) {
    const char* source = std::getenv("QUORV_SOURCE_DIR");
    return std::string(source ? source : QUORV_TRACKER_SOURCE_DIR) +
           "/plugins/tracker_artoolkit2/testdata/" + name;
}

/// The build folder (where the tools are).
inline std::string buildPath(const std::string& name) {
    const char* build = std::getenv("QUORV_BUILD_DIR");
    return std::string(build ? build : QUORV_TRACKER_BUILD_DIR) + "/" + name;
}

}  // namespace quorv::markers
