// URL assignment: cutting an assigned URL into the connection's host, port and request path.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace gor::download {

// Character positions inside a URL are 16-bit signed values, counted from 1.
inline constexpr std::size_t kMaxUrlPosition = 32767;

// Derives `host`, `port` and `path` from `url`, writing each field as soon as its step has
// run: port "80"; host = url with every "http://" removed (one pass, left to right) and
// spaces trimmed; path = host from its first "/" on, or "/" when there is none; host cut
// before its first ":", port = the number after that colon when any text follows it.
// Throws std::overflow_error when a "/" or ":" stands beyond position 32767, or a ":" at
// 32767 has text after it; the fields already written keep their new values.
void AssignUrl(std::string_view url, std::string& host, std::string& port, std::string& path);

// The port a URL's port text names, as a connection takes it: a number 1..65535 when `text`
// is plain decimal digits naming one ("080" is 80); nothing for any other text.
std::optional<std::uint16_t> ParsePort(std::string_view text);

}  // namespace gor::download
