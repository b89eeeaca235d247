#pragma once

#include <optional>
#include <string>

namespace quorv::markers {

/// Opens `path` for reading without ever blocking: a FIFO, a device or a folder in place of a
/// file is refused instead of waiting for a writer. Returns the descriptor (the caller closes
/// it), or -1 with `error`, if given, naming the file and saying why (`kind` names the kind of
/// file, e.g. "a pattern file").
int openRegularFile(const std::string& path, const std::string& kind, std::string* error);

/// The whole of a small text file (a pattern or a marker configuration), opened as
/// openRegularFile does. Nothing when it cannot be opened, is not a regular file or holds more
/// than `maxBytes`; then `error`, if given, names the file and says why.
std::optional<std::string> readSmallFile(const std::string& path, long maxBytes,
                                         const std::string& kind, std::string* error);

}  // namespace quorv::markers
