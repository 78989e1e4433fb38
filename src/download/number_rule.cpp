// The number rule: reading the number a text begins with, and writing one back as text.
#include "download/number_rule.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <stdexcept>
#include <vector>

#include "download/text.h"

namespace gor::download {
namespace {

// What the rule skips inside a number's text: blanks, and line feeds too.
bool IsSkipped(char c) {
    return IsBlank(c) || c == '\n';
}

// Exponents are read with saturation at this value: far beyond the reach of any text that
// reaches this rule, so a saturated exponent still overflows or underflows as the exact one.
constexpr long long kExponentLimit = 1'000'000'000;

// Whole numbers below this are written as all their digits; others with this many
// significant digits.
constexpr double kWholeLimit = 1e15;
constexpr int kSignificantDigits = 15;

// All decimal digits of a finite, nonzero |value| and the place of its decimal point (the
// value is 0.<digits> times ten to that). A double is a whole number times a power of two,
// and 2^-n is 5^n / 10^n: the digits come from multiplying the whole number by 2 or 5.
struct Digits {
    std::string digits;
    int point;
};
Digits ExactDigits(double value) {
    int binaryExponent = 0;
    const double fraction = std::frexp(std::fabs(value), &binaryExponent);
    constexpr int kMantissaBits = std::numeric_limits<double>::digits;
    auto whole = static_cast<std::uint64_t>(std::ldexp(fraction, kMantissaBits));
    const int shift = binaryExponent - kMantissaBits;  // |value| = whole * 2^shift

    std::vector<std::uint8_t> lowFirst;  // decimal digits, least significant first
    for (; whole != 0; whole /= 10) lowFirst.push_back(whole % 10);
    const int factor = shift >= 0 ? 2 : 5;
    for (int step = 0; step < std::abs(shift); ++step) {
        int carry = 0;
        for (auto& digit : lowFirst) {
            const int product = digit * factor + carry;
            digit = static_cast<std::uint8_t>(product % 10);
            carry = product / 10;
        }
        if (carry != 0) lowFirst.push_back(static_cast<std::uint8_t>(carry));
    }
    Digits exact{std::string(lowFirst.size(), '0'), static_cast<int>(lowFirst.size())};
    std::transform(lowFirst.rbegin(), lowFirst.rend(), exact.digits.begin(),
                   [](std::uint8_t digit) { return static_cast<char>('0' + digit); });
    if (shift < 0) exact.point += shift;
    return exact;
}

// Rounds exact digits to kSignificantDigits, half to even as printf does in the default
// rounding mode; a carry out of the first digit moves the decimal point.
void RoundToSignificant(std::string& digits, int& point) {
    if (digits.size() <= static_cast<std::size_t>(kSignificantDigits)) return;
    const std::string_view rest = std::string_view(digits).substr(kSignificantDigits);
    const bool half = rest.front() == '5' && rest.find_first_not_of('0', 1) == rest.npos;
    const bool lastOdd = (digits[kSignificantDigits - 1] - '0') % 2 == 1;
    const bool up = half ? lastOdd : rest.front() >= '5';
    digits.resize(kSignificantDigits);
    if (!up) return;
    auto last = digits.find_last_not_of('9');
    if (last == std::string::npos) {  // 999... becomes 1000...
        digits.assign(kSignificantDigits, '0').front() = '1';
        ++point;
        return;
    }
    ++digits[last];
    std::fill(digits.begin() + last + 1, digits.end(), '0');
}

}  // namespace

double NumberRule(std::string_view text) {
    // Blanks may stand anywhere, even between digits ("8 0" reads 80): drop them first.
    std::string kept;
    kept.reserve(text.size());
    for (char c : text) {
        if (!IsSkipped(c)) kept += c;
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
    if (i < n && kept[i] == 'E') {
        std::size_t j = i + 1;
        if (j < n && (kept[j] == '+' || kept[j] == '-')) ++j;
        if (j < n && IsDigit(kept[j])) {
            while (j < n && IsDigit(kept[j])) ++j;
            exponent = std::string_view(kept.data() + i + 1, j - i - 1);
            i = j;
        }
    }

    // Hand the C library the digits and a power of ten only ("1.5" as "15e-1"): without a
    // decimal point the conversion reads the same whatever locale is in force. atof rather
    // than strtod: on Windows that is the system C runtime's, not a copy linked into the exe.
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
    const double value = std::atof(digits.c_str());
    if (std::isinf(value)) throw std::overflow_error("Overflow");
    return negative ? -value : value;  // a value too small for a double has read as 0
}

std::string NumberText(double value) {
    if (value == 0) return "0";  // also for -0
    if (std::isnan(value)) return "NAN";
    if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
    if (value == std::trunc(value) && std::fabs(value) < kWholeLimit) {
        return std::to_string(static_cast<long long>(value));
    }
    // As printf's %.15G writes it, whatever the locale: the digits rounded half to even,
    // trailing zeros dropped, and the form with an exponent when that is below -4 or at
    // least the number of digits.
    auto [digits, point] = ExactDigits(value);
    RoundToSignificant(digits, point);
    digits.erase(digits.find_last_not_of('0') + 1);
    const int exponent = point - 1;
    std::string text = value < 0 ? "-" : "";
    if (exponent < -4 || exponent >= kSignificantDigits) {
        text += digits.front();
        if (digits.size() > 1) text.append(".").append(digits, 1);
        const std::string magnitude = std::to_string(std::abs(exponent));
        text.append(exponent < 0 ? "E-" : "E+").append(magnitude.size() < 2 ? "0" : "");
        text += magnitude;
    } else if (point <= 0) {
        text.append("0.").append(-point, '0').append(digits);
    } else if (static_cast<std::size_t>(point) >= digits.size()) {
        text.append(digits).append(point - digits.size(), '0');  // rounded to a whole number
    } else {
        text.append(digits, 0, point).append(".").append(digits, point);
    }
    return text;
}

}  // namespace gor::download
