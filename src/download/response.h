// Reading an HTTP answer's header block: where it ends, its status line and fields as HTTP/1.1
// writes them, and what the control makes of the status. Pure: bytes in, results out, no I/O.
#pragma once

#include <forward_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "download/answer_limits.h"
#include "download/text.h"

namespace gor::download {

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

// An answer's header, read once: its text kept, and its status line, status code and fields
// as views into that text (a folded field's joined value is kept beside it). Neither copied
// nor moved, so the views stay valid; Read again to reuse it.
class AnswerHead {
  public:
    using Field = std::pair<std::string_view, std::string_view>;  // name, value

    AnswerHead() = default;
    AnswerHead(const AnswerHead&) = delete;
    AnswerHead& operator=(const AnswerHead&) = delete;

    // Reads `headerText`, a header block without its ending empty line, its lines split at
    // CR LF. The status line is "HTTP/1." and one digit (a higher minor version reads as 1.1),
    // a space, three digits, then a space and a reason or the line's end. A field line is a
    // name of token characters, directly followed by ":" and the value, which is kept without
    // its surrounding blanks (spaces and tabs); a line that starts with a blank continues the
    // field before it (obsolete folding), joined with one space. A control character other
    // than a tab anywhere (NUL, a lone CR or LF) makes the header malformed. Returns why a
    // malformed header is refused (kBadStatusLine, kBadFieldLine), and then holds no code and
    // no fields; nullptr when it is well formed.
    const char* Read(std::string_view headerText);
    // Forgets the header: no text, no code, no fields.
    void Clear();

    std::string_view text() const { return text_; }
    // The first line of the text, whether or not it is a status line.
    std::string_view statusLine() const { return statusLine_; }
    std::string_view code() const { return code_; }  // the three digits; empty when refused
    const std::vector<Field>& fields() const { return fields_; }  // in order of arrival
    // The values of every field named `name` (letter case ignored), in order.
    std::vector<std::string_view> Values(std::string_view name) const;
    // The value of the first field named `name`, empty when there is none.
    std::string_view Value(std::string_view name) const;

  private:
    std::string text_;
    std::string_view statusLine_, code_;
    std::vector<Field> fields_;
    std::forward_list<std::string> joined_;  // values of folded fields, joined from their lines
};

// An interim answer (1xx other than 101 Switching Protocols), which a client reads and skips:
// the final answer follows it on the same connection.
bool IsInterimStatus(std::string_view code);

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
StatusVerdict JudgeStatus(const AnswerHead& head);

}  // namespace gor::download
