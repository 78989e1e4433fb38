// The number rule: reading the number a text begins with, and writing one back as text.
#include "download/number_rule.h"

#include <charconv>
#include <cmath>
#include <stdexcept>
#include <system_error>

namespace gor::download {
namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n';
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Decimal magnitude of a number too large or too small for a double: positive means too
// large. Only its sign matters, so the exponent is read with saturation.
long Magnitude(std::string_view whole, std::string_view fraction, std::string_view exponent) {
    long exp = 0;
    bool expNegative = false;
    for (char c : exponent) {
        if (c == '-') expNegative = true;
        if (IsDigit(c) && exp < 1'000'000) exp = exp * 10 + (c - '0');
    }
    if (expNegative) exp = -exp;
    const auto firstWhole = whole.find_first_not_of('0');
    if (firstWhole != std::string_view::npos) {
        return static_cast<long>(whole.size() - firstWhole) + exp;
    }
    const auto firstFraction = fraction.find_first_not_of('0');
    return exp - static_cast<long>(firstFraction);
}

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

    // Rebuild the number in the one form every conversion reads alike ("1." and ".5" included).
    std::string number(whole.empty() ? std::string_view("0") : whole);
    if (!fraction.empty()) number.append(".").append(fraction);
    if (!exponent.empty()) number.append("e").append(exponent);
    double value = 0;
    const char* last = number.data() + number.size();
    const auto [end, ec] = std::from_chars(number.data(), last, value, std::chars_format::general);
    if (ec == std::errc::result_out_of_range) {
        if (Magnitude(whole, fraction, exponent) > 0) throw std::overflow_error("Overflow");
        value = 0;
    } else if (ec != std::errc() || end != last) {
        return 0;  // cannot happen for the text scanned above
    }
    return negative ? -value : value;
}

std::string NumberText(double value) {
    if (value == 0) return "0";  // also for -0
    char buffer[64];
    std::to_chars_result written;
    if (value == std::trunc(value) && std::fabs(value) < 1e15) {
        written = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 0);
    } else {
        written =
            std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15);
    }
    return std::string(buffer, written.ptr);
}

}  // namespace gor::download
