#pragma once

// What every harness checks beyond "no crash": a parser's promises to its callers. A broken
// promise stops the fuzzer like a crash, so it keeps the input that broke it.

#include <cstdio>
#include <string>

namespace quorv::fuzz {

inline void require(bool kept, const char* promise) {
    if (kept) return;
    std::fprintf(stderr, "contract broken: %s\n", promise);
    __builtin_trap();
}

/// A refusal must say why.
inline void requireReason(const std::string& error) {
    require(!error.empty(), "a refusal comes with a reason");
}

/// `v` written with every digit it needs to read back exactly.
inline std::string exactNumber(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", v);
    return text;
}

}  // namespace quorv::fuzz
