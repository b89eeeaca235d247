// Pattern files: any text is either refused with a reason or read as a pattern that, written in
// the classic layout and read again, is the same pattern and the same text.

#include "Pattern.h"

#include <cstddef>
#include <cstdint>

#include "Contract.h"

using quorv::fuzz::require;
using quorv::markers::Pattern;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string error;
    const auto pattern = Pattern::parse(text, &error);
    if (!pattern) {
        quorv::fuzz::requireReason(error);
        return 0;
    }
    const std::string written = pattern->toText();
    const auto again = Pattern::parse(written, &error);
    require(again.has_value(), "a written pattern reads back");
    for (int k = 0; k < 4; ++k)
        require(again->block(k) == pattern->block(k), "a written pattern reads back unchanged");
    require(again->toText() == written, "writing a pattern read back gives the same text");
    return 0;
}
