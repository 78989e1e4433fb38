// Reading an HTTP answer's header block: where it ends, its fields, its status code and what
// the control makes of that status. Pure functions over bytes: no state, no I/O.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace gor::download {

// The empty line that ends an answer header.
inline constexpr std::string_view kHeaderEnd = "\r\n\r\n";

// Header field names compare without regard to letter case.
struct CaseInsensitiveLess {
    bool operator()(const std::string& a, const std::string& b) const;
};
using HeaderMap = std::map<std::string, std::string, CaseInsensitiveLess>;

// What a scan of an answer's first bytes found.
struct HeaderScan {
    enum class Verdict { Complete, Incomplete, TooLarge };
    Verdict verdict = Verdict::Incomplete;
    std::size_t bodyStart = 0;  // when Complete: just past the blank line, where the body begins
};

// Looks for the blank line that ends the header in `collected`, an answer's first bytes as
// gathered so far across chunks. Its first `alreadyScanned` bytes were scanned before without
// finding it (0 for a first chunk); since the blank line may straddle two chunks, the search
// starts again three bytes before their end. The header, blank line included, may take at
// most `limit` bytes: TooLarge when none ends within them, whatever the pieces it came in.
HeaderScan ScanAnswerHeader(std::string_view collected, std::size_t alreadyScanned,
                            std::size_t limit);

// Adds the fields of `headerText` (lines split at CR LF) to `headers`: a line's name is the
// text before its first ":", its value the text after it, both with spaces trimmed. Lines
// without a colon (the status line among them) are skipped; the first field of a name wins.
void ParseHeaderFields(std::string_view headerText, HeaderMap& headers);

// The values of every field named `name` (letter case ignored) in `headerText`, in order,
// read as ParseHeaderFields reads them.
std::vector<std::string_view> FieldValues(std::string_view headerText, std::string_view name);

// Whether `a` and `b` are the same text when letter case is ignored (as field names are).
bool SameIgnoringCase(std::string_view a, std::string_view b);

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

}  // namespace gor::download
