#pragma once

// Where the tracker's tests find their committed data and put what they make.

#include <support/Paths.h>

#include <string>

namespace quorv::markers {

/// A file of plugins/tracker_artoolkit2/testdata.
inline std::string testDataPath(const std::string& name) {
    return quorvtest::sourceDirectory() + "/plugins/tracker_artoolkit2/testdata/" + name;
}

/// The build folder (where the tools are).
inline std::string buildPath(const std::string& name) {
    return quorvtest::buildDirectory() + "/" + name;
}

}  // namespace quorv::markers
