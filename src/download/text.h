// Text helpers shared by the URL and the answer parsers: byte strings, one char per byte.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace gor::download {

// `text` without its leading and trailing space characters.
std::string_view TrimSpaces(std::string_view text);

// Piece `no` (from 0) of `str` split at every `cmp`; empty past the last piece and for an
// empty `str`. An empty `cmp` leaves `str` whole. Throws std::out_of_range for a negative `no`.
std::string ExtractString(const std::string& str, const std::string& cmp, std::int16_t no);

}  // namespace gor::download
