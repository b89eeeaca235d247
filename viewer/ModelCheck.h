#pragma once

#include <cstddef>
#include <string>

// Checks made on a model file before osgDB is given it. osgDB's .osg reader descends one
// function call per nested group, so a file nested some tens of thousands of groups deep
// overflows the stack; the 3DS reader never returns on an empty file.

namespace quorv::viewer {

/// Nesting allowed in a .osg/.osgt model: far above any real model (the exhibit's character is
/// nested 6 deep, exporters' deepest skeletons some tens), far below what osgDB's reader
/// survives (10,000).
constexpr int kMaxModelDepth = 1000;

/// Whether the text of a .osg or .osgt file nests its braces no more than `limit` deep. Braces
/// inside double-quoted strings (with backslash escapes) do not count. A file with more closing
/// than opening braces is left to the reader. Needs no stack of its own: a count, one pass.
/// False with the reason in `reason` (if given).
bool checkModelDepth(const char* data, size_t size, int limit, std::string* reason);

/// The same for a file, read in blocks.
bool checkModelDepth(const std::string& path, int limit, std::string* reason);

/// Whether the model file at `path` may be handed to osgDB: a regular file (opened without
/// blocking, so a FIFO is refused rather than waited on), not empty, a .3ds file that starts
/// with the format's main chunk, a .osg/.osgt file no deeper than kMaxModelDepth. The reason
/// names the file.
bool checkModelFile(const std::string& path, std::string* reason);

}  // namespace quorv::viewer
