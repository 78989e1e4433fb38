// Invariant checks of the fuzz targets: a broken one prints what broke and aborts, which
// libFuzzer reports as a finding and saves the input that caused it.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

namespace gor::fuzz {

[[noreturn]] inline void Broken(const std::string& what) {
    std::fprintf(stderr, "\nINVARIANT BROKEN: %s\n", what.c_str());
    std::abort();
}

inline void Require(bool holds, const std::string& what) {
    if (!holds) Broken(what);
}

}  // namespace gor::fuzz
