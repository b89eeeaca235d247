#include "SmallFile.h"

#include <fstream>

namespace quorv::markers {

std::optional<std::string> readSmallFile(const std::string& path, long maxBytes,
                                         const std::string& kind, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (error) *error = path + ": cannot open";
        return std::nullopt;
    }
    // One byte more than allowed tells an oversized file without reading all of it.
    std::string text(static_cast<size_t>(maxBytes) + 1, '\0');
    in.read(text.data(), maxBytes + 1);
    text.resize(static_cast<size_t>(in.gcount()));
    if (static_cast<long>(text.size()) > maxBytes) {
        if (error) *error = path + ": too large for " + kind;
        return std::nullopt;
    }
    return text;
}

}  // namespace quorv::markers
