// The number rule: reading the number a text begins with, and writing one back as text.
#include "download/number_rule.h"

#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace gor::download {
namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n';
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Exponents are read with saturation at this value: far beyond the reach of any text that
// reaches this rule, so a saturated exponent still overflows or underflows as the exact one.
constexpr long long kExponentLimit = 1'000'000'000;

}  // namespace

double NumberRule(std::string_view text) {
    // Blanks may stand anywhere, even between digits ("8 0" reads 80): drop them first.
    std::string kept;
    kept.reserve(text.size());
    for (char c : text) {
        if (!IsBlank(c)) kept += c;
    }

    std::size_t i = 0;
    const std::size_t n = kept.size();
    bool negative = false;
    if (i < n && (kept[i] == '+' || kept[i] == '-')) negative = kept[i++] == '-';
    const std::size_t wholeStart = i;
    while (i < n && IsDigit(kept[i])) ++i;
    const std::string_view whole(kept.data() + wholeStart, i - wholeStart);
    std::string_view fraction;
    if (i < n && kept[i] == '.') {
        const std::size_t fractionStart = ++i;
        while (i < n && IsDigit(kept[i])) ++i;
        fraction = std::string_view(kept.data() + fractionStart, i - fractionStart);
    }
    if (whole.empty() && fraction.empty()) return 0;

    // An exponent counts only when digits follow the E (and its sign): "5E" reads 5.
    std::string_view exponent;
    if (i < n && (kept[i] == 'E' || kept[i] == 'e')) {
        std::size_t j = i + 1;
        if (j < n && (kept[j] == '+' || kept[j] == '-')) ++j;
        if (j < n && IsDigit(kept[j])) {
            while (j < n && IsDigit(kept[j])) ++j;
            exponent = std::string_view(kept.data() + i + 1, j - i - 1);
            i = j;
        }
    }

    // Hand the C library the digits and a power of ten only ("1.5" as "15e-1"): without a
    // decimal point the conversion reads the same whatever locale is in force.
    long long power = 0;
    bool powerNegative = false;
    for (char c : exponent) {
        if (c == '-') powerNegative = true;
        if (IsDigit(c) && power < kExponentLimit) power = power * 10 + (c - '0');
    }
    if (powerNegative) power = -power;
    power -= static_cast<long long>(fraction.size());
    std::string digits(whole);
    digits.append(fraction);
    digits.append("e").append(std::to_string(power));
    const double value = std::strtod(digits.c_str(), nullptr);
    if (std::isinf(value)) throw std::overflow_error("Overflow");
    return negative ? -value : value;  // a value too small for a double has read as 0
}

std::string NumberText(double value) {
    if (value == 0) return "0";  // also for -0
    const bool whole = value == std::trunc(value) && std::fabs(value) < 1e15;
    char buffer[64];
    const int length = std::snprintf(buffer, sizeof buffer, whole ? "%.0f" : "%.15g", value);
    std::string text(buffer, length);
    // printf writes the decimal point of the locale in force; the text always has a period.
    const std::string_view point = std::localeconv()->decimal_point;
    if (const auto at = text.find(point); point != "." && at != std::string::npos) {
        text.replace(at, point.size(), ".");
    }
    return text;
}

}  // namespace gor::download
