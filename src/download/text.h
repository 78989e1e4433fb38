// Text helpers shared by the URL, the request and the answer parsers: byte strings, one char
// per byte, and HTTP's line end and character classes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace gor::download {

// HTTP's line end, in the request and in every line of an answer (status line, fields, the
// empty line that ends a header, chunk sizes, trailers). An answer line ended otherwise, by
// a bare LF or a lone CR, is refused: see response.h.
inline constexpr std::string_view kLineEnd = "\r\n";

// A character of a token, so of a header field's name.
bool IsTokenChar(char c);
// A character that may stand in a field value or a status line's reason: any but the
// control characters, horizontal tab excepted.
bool IsFieldTextChar(char c);
// A blank inside a header line: space or horizontal tab.
inline bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// A decimal digit.
inline bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Reads the decimal digits at the front of `text`, at most `most` of them, into `value` and
// moves past them; false, with `text` as it was, when there are none or they overflow.
bool TakeDecimal(std::string_view& text, std::uint64_t& value,
                 std::size_t most = std::string_view::npos);

// `text` without its leading and trailing space characters.
std::string_view TrimSpaces(std::string_view text);

// `text` without its leading and trailing blanks (spaces and tabs), as a field value is read.
std::string_view TrimBlanks(std::string_view text);

// Piece `no` (from 0) of `str` split at every `cmp`; empty past the last piece and for an
// empty `str`. An empty `cmp` leaves `str` whole. Throws std::out_of_range for a negative `no`.
std::string ExtractString(const std::string& str, const std::string& cmp, std::int16_t no);

}  // namespace gor::download
