// Fuzz target: the answer-header scanner and reader. The empty line that ends a header is
// found alike whatever pieces the answer came in, and exactly where it first stands, unless a
// line before it ends otherwise than in CR LF; a header outgrowing its bound is refused alike
// too; the status code, fields and verdict are what the plainly written rules give.
//
// Input: a first byte setting the piece size and the header bound, then the answer's bytes.
#include <cstdint>
#include <string>
#include <string_view>

#include "answer_model.h"
#include "download/response.h"
#include "download/text.h"
#include "fuzz_check.h"

namespace {

using namespace gor::download;
using gor::fuzz::Require;

// The scan's verdict by the rule for the first `have` bytes of an answer whose first CR LF
// CR LF starts at `blank` and whose first broken line end (a LF without CR before it, a CR
// followed by another byte than LF) stands at `bad`: refused when that comes before the empty
// line, else complete when the empty line is in and ends within `limit` bytes.
HeaderScan Reference(std::size_t blank, std::size_t bad, std::size_t have, std::size_t limit) {
    HeaderScan scan;
    const std::size_t end = std::min(have, limit);
    if (bad < end && bad < blank) {
        scan.verdict = HeaderScan::Verdict::BadLineEnd;
    } else if (blank != std::string_view::npos && blank + 4 <= end) {
        scan.verdict = HeaderScan::Verdict::Complete;
        scan.headerEnd = blank;
        scan.bodyStart = blank + 4;
    } else if (have >= limit) {
        scan.verdict = HeaderScan::Verdict::TooLarge;
    }
    return scan;
}

bool Same(const HeaderScan& a, const HeaderScan& b) {
    return a.verdict == b.verdict && (a.verdict != HeaderScan::Verdict::Complete ||
                                      (a.bodyStart == b.bodyStart && a.headerEnd == b.headerEnd));
}

void CheckHead(const std::string& headerText) {
    AnswerHead head;
    const char* failure = head.Read(headerText);
    std::string code;
    gor::fuzz::FieldList expected;
    const bool wellFormed = gor::fuzz::ReadHeaderPlainly(headerText, code, expected);
    Require(wellFormed == (failure == nullptr), "a malformed header misjudged");
    if (!wellFormed) {
        Require(head.code().empty() && head.fields().empty(), "a malformed header has fields");
        return;
    }
    Require(head.code() == code, "status misread");
    Require(head.fields().size() == expected.size() &&
                std::equal(expected.begin(), expected.end(), head.fields().begin(),
                           [](const auto& a, const auto& b) {
                               return a.first == b.first && a.second == b.second;
                           }),
            "fields misread");
    Require(IsInterimStatus(code) == (code[0] == '1' && code != "101"),
            "an interim answer misjudged");

    const StatusVerdict verdict = JudgeStatus(head);
    Require(verdict.IsServerOk == (code == "200" || code == "206"), "IsServerOk misjudged");
    Require(verdict.Resumesupported == (code == "206"), "Resumesupported misjudged");
    Require(verdict.errorText.has_value() != verdict.IsServerOk, "errorText misjudged");
    if (verdict.errorText && code != "204" && code != "401" && code != "404") {
        Require(*verdict.errorText == headerText.substr(0, headerText.find(kLineEnd)),
                "a refused status not described by its first line");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::size_t piece = data[0] % 16 + 1;
    // Mostly the control's own bound; sometimes a small one, so inputs reach it.
    const std::size_t limit = data[0] & 0x80 ? 4 + (data[0] & 0x7f) : kMaxAnswerHeader;
    const std::string_view answer(reinterpret_cast<const char*>(data) + 1, size - 1);

    // The answer as it arrives, piece by piece, scanned as the control scans it.
    const std::size_t blank = answer.find("\r\n\r\n");
    const std::size_t bad = gor::fuzz::FirstBadLineEnd(answer);
    HeaderScan scan;
    std::size_t have = 0;
    while (have < answer.size() && scan.verdict == HeaderScan::Verdict::Incomplete) {
        const std::size_t scanned = have;
        have = std::min(answer.size(), have + piece);
        scan = ScanAnswerHeader(answer.substr(0, have), scanned, limit);
        // A CR on the last byte so far is judged once the byte after it is in.
        const std::size_t badSoFar = bad == have - 1 && answer[bad] == '\r' ? answer.npos : bad;
        Require(Same(scan, Reference(blank, badSoFar, have, limit)),
                "not the first empty line within the bound");
    }
    Require(Same(scan, ScanAnswerHeader(answer.substr(0, have), 0, limit)),
            "pieces scan otherwise than the whole");
    if (scan.verdict == HeaderScan::Verdict::Complete) {
        CheckHead(std::string(answer.substr(0, scan.headerEnd)));
    }
    return 0;
}
