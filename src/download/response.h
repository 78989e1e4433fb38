// Reading an HTTP answer's header block: where it ends, its fields, its status code and what
// the control makes of that status. Pure functions over bytes; no I/O.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "download/gor_download.h"

namespace gor::download {

// The empty line that ends an answer header.
inline constexpr std::string_view kHeaderEnd = "\r\n\r\n";

// Position of the first CR LF CR LF in `data` at or after `from`, or npos.
std::size_t FindHeaderEnd(std::string_view data, std::size_t from = 0);

// Adds the fields of `headerText` (lines split at CR LF) to `headers`: a line's name is the
// text before its first ":", its value the text after it, both with spaces trimmed. Lines
// without a colon (the status line among them) are skipped; the first field of a name wins.
void ParseHeaderFields(std::string_view headerText, HeaderMap& headers);

// The characters at positions 10 to 12 (from 1) of the header block: the status code of a
// status line "HTTP/1.1 200 OK". Shorter or empty when the block is shorter.
std::string StatusCode(std::string_view headerText);

struct StatusVerdict {
    bool IsServerOk = false;
    bool Resumesupported = false;
    std::optional<std::string> errorText;  // set for every status the control refuses
};

// What a status code means to the control: "200" and "206" are accepted ("206" also tells
// that byte ranges are answered); "204", "401" and "404" have their own texts; any other code
// (redirects included, which are never followed) is described by the header's first line.
StatusVerdict JudgeStatus(std::string_view code, const std::string& headerText);

// Piece `no` (from 0) of `str` split at every `cmp`; empty past the last piece and for an
// empty `str`. An empty `cmp` leaves `str` whole. Throws std::out_of_range for a negative `no`.
std::string ExtractString(const std::string& str, const std::string& cmp, std::int16_t no);

// `text` without its leading and trailing space characters.
std::string_view TrimSpaces(std::string_view text);

}  // namespace gor::download
