// Reading an HTTP answer's header block: where it ends, its status line and fields as HTTP/1.1
// writes them, and what the control makes of the status. Pure functions over bytes: no state,
// no I/O.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "download/text.h"

namespace gor::download {

// Why an answer header is refused (the description of the request's failure).
inline constexpr const char* kBadLineEnd = "Answer with a line not ended by CR LF";
inline constexpr const char* kBadStatusLine = "Answer with a malformed status line";
inline constexpr const char* kBadFieldLine = "Answer with a malformed header field";

// Header field names compare without regard to letter case.
struct CaseInsensitiveLess {
    bool operator()(const std::string& a, const std::string& b) const;
};
using HeaderMap = std::map<std::string, std::string, CaseInsensitiveLess>;

// What a scan of an answer's first bytes found.
struct HeaderScan {
    enum class Verdict { Complete, Incomplete, TooLarge, BadLineEnd };
    Verdict verdict = Verdict::Incomplete;
    std::size_t headerEnd = 0;  // when Complete: where the empty line that ends the header starts
    std::size_t bodyStart = 0;  // and just past it, where the body begins
};

// Looks for the empty line that ends the header in `collected`, an answer's first bytes as
// gathered so far across chunks. Its first `alreadyScanned` bytes were scanned before without
// finding it (0 for a first chunk). Every line of the header must end in CR LF: a bare LF or a
// CR followed by anything but LF is BadLineEnd, as soon as it is seen, so a CR LF CR LF that
// follows lines ended otherwise is never taken for the header's end. The header, empty line
// included, may take at most `limit` bytes: TooLarge when none ends within them, whatever the
// pieces it came in.
HeaderScan ScanAnswerHeader(std::string_view collected, std::size_t alreadyScanned,
                            std::size_t limit);

// An answer's status code and fields, as HTTP/1.1 writes them.
struct AnswerHead {
    std::string code;  // the three digits of the status code
    // In order of arrival; values without their surrounding blanks, a folded continuation
    // joined to its field's value with one space.
    std::vector<std::pair<std::string, std::string>> fields;
    const char* failure = nullptr;  // set (and the rest empty) when the header is malformed
};

// Reads `headerText`, a header block without its ending empty line, its lines split at CR LF.
// The status line is "HTTP/1." and one digit (a higher minor version reads as 1.1), a space,
// three digits, then a space and a reason or the line's end. A field line is a name of token
// characters, directly followed by ":" and the value; a line that starts with a blank
// continues the field before it (obsolete folding). A control character other than a tab
// anywhere (NUL, a lone CR or LF) makes the header malformed.
AnswerHead ReadAnswerHead(std::string_view headerText);

// An interim answer (1xx other than 101 Switching Protocols), which a client reads and skips:
// the final answer follows it on the same connection.
bool IsInterimStatus(std::string_view code);

// The values of every field named `name` (letter case ignored) in `headerText`, in order, as
// ReadAnswerHead reads them; none when the header is malformed.
std::vector<std::string> FieldValues(std::string_view headerText, std::string_view name);

// Whether `a` and `b` are the same text when letter case is ignored (as field names are).
bool SameIgnoringCase(std::string_view a, std::string_view b);

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
