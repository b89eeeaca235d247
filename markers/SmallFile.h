#pragma once

#include <optional>
#include <string>

namespace quorv::markers {

/// The whole of a small text file (a pattern or a marker configuration). Nothing when it cannot
/// be opened or holds more than `maxBytes`; then `error`, if given, names the file and says
/// why (`kind` names the kind of file, e.g. "a pattern file").
std::optional<std::string> readSmallFile(const std::string& path, long maxBytes,
                                         const std::string& kind, std::string* error);

}  // namespace quorv::markers
