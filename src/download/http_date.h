// The times an answer states: HTTP dates (Date, Last-Modified, Retry-After) and the wait a
// busy host asks for. Pure functions over field values; no I/O, no clock.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace gor::download {

// An HTTP date in any of the three forms HTTP/1.1 asks a recipient to read ("Sun, 06 Nov 1994
// 08:49:37 GMT", "Sunday, 06-Nov-94 08:49:37 GMT", "Sun Nov  6 08:49:37 1994"), as seconds
// since 1970 (UTC); nothing for anything else. The weekday is not checked against the date.
std::optional<std::int64_t> ParseHttpDate(std::string_view text);

// The longest wait a Retry-After counts as, in seconds (a day): far past any wait a start
// makes, and small enough that no number of digits can overflow what is figured from it.
inline constexpr double kLongestRetryAfter = 24 * 60 * 60;

// The wait a Retry-After field asks for, in seconds: its delay in seconds, or its date taken
// against the answer's own Date (the client's clock never enters: a host that names a date
// without a Date of its own names no wait), at most kLongestRetryAfter. A date in the past is
// no wait (0). Nothing when the field is missing or unreadable.
std::optional<double> RetryAfterSeconds(std::string_view retryAfter, std::string_view date);

}  // namespace gor::download
