// Fuzz target: the number rule. Every text reads as the number its start spells (blanks
// anywhere ignored) or 0, matches the C library's reading of that same prefix, never gives
// a value that is not finite, and writes back as text that reads as the same value.
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "download/number_rule.h"
#include "fuzz_check.h"

namespace {

using gor::download::NumberRule;
using gor::download::NumberText;
using gor::fuzz::Require;

bool Digit(char c) {
    return c >= '0' && c <= '9';
}

// The longest start of `text` (blanks already dropped) that spells a decimal number.
std::string NumberPrefix(const std::string& text) {
    std::size_t i = 0, n = text.size();
    if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
    std::size_t digits = 0;
    while (i < n && Digit(text[i])) ++i, ++digits;
    if (i < n && text[i] == '.') {
        ++i;
        while (i < n && Digit(text[i])) ++i, ++digits;
    }
    if (digits == 0) return "";
    if (i < n && text[i] == 'E') {
        std::size_t j = i + 1;
        if (j < n && (text[j] == '+' || text[j] == '-')) ++j;
        if (j < n && Digit(text[j])) {
            while (j < n && Digit(text[j])) ++j;
            i = j;
        }
    }
    return text.substr(0, i);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string kept;
    for (char c : text) {
        if (c != ' ' && c != '\t' && c != '\n') kept += c;
    }
    const std::string prefix = NumberPrefix(kept);
    const double reference = prefix.empty() ? 0 : std::strtod(prefix.c_str(), nullptr);

    double value = 0;
    try {
        value = NumberRule(text);
    } catch (const std::overflow_error&) {
        Require(std::isinf(reference), "overflow for a number a double holds: " + prefix);
        return 0;
    }
    Require(std::isfinite(value), "a number that is not finite");
    Require(NumberRule(kept) == value, "blanks change the number");
    // Below the smallest normal double the rule may read 0 where the C library keeps a
    // denormal; everything else is the same value.
    const bool tiny = std::fabs(reference) < DBL_MIN;
    Require(value == reference || (tiny && value == 0), "not the number " + prefix + " spells");

    // Written with 15 significant digits, the largest doubles round up past the largest one.
    const std::string written = NumberText(value);
    double reread = 0;
    try {
        reread = NumberRule(written);
    } catch (const std::overflow_error&) {
        Require(std::fabs(value) > 1.79769313486231e308, "written text overflows: " + written);
        return 0;
    }
    if (value == std::trunc(value) && std::fabs(value) < 1e15) {
        Require(reread == value, "a whole number does not write back exactly: " + written);
    } else {
        Require(std::fabs(reread - value) <= std::fabs(value) * 1e-14,
                "written text reads as another number: " + written);
    }
    Require(NumberText(reread) == written, "writing the number back is not stable: " + written);
    return 0;
}
