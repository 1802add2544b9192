#pragma once

// Put in front of src/markdown/MarkdownNodes.cpp in the fuzz build (see CMakeLists.txt).
//
// clang 14 crashes in its front end, whatever the optimisation and sanitizer flags, while
// it defines the out-of-line defaulted comparisons of the node types. The types refer to
// themselves through std::vector and std::variant: defaulting inl::Emphasis::operator==
// instantiates std::vector<InlineNode>'s and std::variant's operator==, which ask whether
// the very operator being defined may throw (its noexcept), and clang recurses into
// it (the crash trace shows Sema working out that implicit noexcept). Comparing whole lists here,
// while the node operators are still plain declarations, instantiates the container
// comparisons first; the file then compiles unchanged, fully instrumented.

#include "MarkdownNodes.h"

namespace parlote::fuzzing {

inline bool sameBlocks(const Blocks& a, const Blocks& b) {
    return a == b;
}
inline bool sameInlines(const Inlines& a, const Inlines& b) {
    return a == b;
}

}  // namespace parlote::fuzzing
