// Reading HTTP dates and Retry-After (RFC 9110 §5.6.7, §10.2.3).
#include "download/http_date.h"

#include <algorithm>
#include <array>

#include "download/response.h"
#include "download/text.h"

namespace gor::download {
namespace {

constexpr std::array<std::string_view, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Reads 1 to `most` decimal digits from the front of `text`.
std::optional<int> TakeDigits(std::string_view& text, std::size_t most) {
    std::uint64_t value = 0;
    if (!TakeDecimal(text, value, most)) return std::nullopt;
    return static_cast<int>(value);
}

bool Take(std::string_view& text, std::string_view expected) {
    if (!text.starts_with(expected)) return false;
    text.remove_prefix(expected.size());
    return true;
}

std::optional<int> TakeMonth(std::string_view& text) {
    for (std::size_t m = 0; m < kMonths.size(); ++m) {
        if (text.size() >= 3 && SameIgnoringCase(text.substr(0, 3), kMonths[m])) {
            text.remove_prefix(3);
            return static_cast<int>(m) + 1;
        }
    }
    return std::nullopt;
}

// "hh:mm:ss" as seconds into the day.
std::optional<int> TakeTime(std::string_view& text) {
    const auto h = TakeDigits(text, 2);
    if (!h || !Take(text, ":")) return std::nullopt;
    const auto m = TakeDigits(text, 2);
    if (!m || !Take(text, ":")) return std::nullopt;
    const auto s = TakeDigits(text, 2);
    if (!s || *h > 23 || *m > 59 || *s > 60) return std::nullopt;
    return *h * 3600 + *m * 60 + *s;
}

// Days from 1970-01-01 to a civil date (Howard Hinnant's days_from_civil).
std::int64_t DaysFromCivil(std::int64_t y, int m, int d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy =
        (153 * static_cast<unsigned>(m > 2 ? m - 3 : m + 9) + 2) / 5 + static_cast<unsigned>(d) - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

std::optional<std::int64_t> Seconds(int year, int month, int day, int time) {
    if (day < 1 || day > 31) return std::nullopt;
    return DaysFromCivil(year, month, day) * 86400 + time;
}

}  // namespace

std::optional<std::int64_t> ParseHttpDate(std::string_view text) {
    text = TrimSpaces(text);
    const std::size_t comma = text.find(',');
    if (comma == std::string_view::npos) {
        // asctime: "Sun Nov  6 08:49:37 1994"
        if (text.size() < 4 || text[3] != ' ') return std::nullopt;
        text.remove_prefix(4);
        const auto month = TakeMonth(text);
        if (!month || !Take(text, " ")) return std::nullopt;
        Take(text, " ");  // a one-digit day is padded with a space
        const auto day = TakeDigits(text, 2);
        if (!day || !Take(text, " ")) return std::nullopt;
        const auto time = TakeTime(text);
        if (!time || !Take(text, " ")) return std::nullopt;
        const auto year = TakeDigits(text, 4);
        if (!year || !text.empty()) return std::nullopt;
        return Seconds(*year, *month, *day, *time);
    }
    text.remove_prefix(comma + 1);
    if (!Take(text, " ")) return std::nullopt;
    const auto day = TakeDigits(text, 2);
    if (!day) return std::nullopt;
    const bool obsolete = Take(text, "-");  // RFC 850: "06-Nov-94"
    if (!obsolete && !Take(text, " ")) return std::nullopt;
    const auto month = TakeMonth(text);
    if (!month || !Take(text, obsolete ? "-" : " ")) return std::nullopt;
    auto year = TakeDigits(text, 4);
    if (!year || !Take(text, " ")) return std::nullopt;
    // A two-digit year that would lie more than 50 years ahead is taken in the last century.
    if (obsolete && *year < 100) *year += *year < 70 ? 2000 : 1900;
    const auto time = TakeTime(text);
    if (!time || !Take(text, " GMT") || !text.empty()) return std::nullopt;
    return Seconds(*year, *month, *day, *time);
}

std::optional<double> RetryAfterSeconds(std::string_view retryAfter, std::string_view date) {
    retryAfter = TrimSpaces(retryAfter);
    if (retryAfter.empty()) return std::nullopt;
    if (retryAfter.find_first_not_of("0123456789") == std::string_view::npos) {
        double seconds = 0;  // any number of digits, capped digit by digit: never infinite
        for (const char c : retryAfter)
            seconds = std::min(seconds * 10 + (c - '0'), kLongestRetryAfter);
        return seconds;
    }
    const auto until = ParseHttpDate(retryAfter);
    const auto now = ParseHttpDate(date);
    if (!until || !now) return std::nullopt;
    return *until > *now ? std::min(static_cast<double>(*until - *now), kLongestRetryAfter) : 0.0;
}

}  // namespace gor::download
