// Fuzz target: the answer-header scanner and the field parser. The blank line that ends a
// header is found alike whatever pieces the answer came in, and exactly where it first stands;
// a header outgrowing its bound is refused alike too; the fields, status code and verdict are
// what the plainly written rules give.
//
// Input: a first byte setting the piece size and the header bound, then the answer's bytes.
#include <cstdint>
#include <string>
#include <string_view>

#include "download/response.h"
#include "download/text.h"
#include "fuzz_check.h"

namespace {

using namespace gor::download;
using gor::fuzz::Require;

// The scan's verdict by the rule for the first `have` bytes of an answer whose first blank line
// starts at `blank`: complete when it is in and ends within `limit` bytes.
HeaderScan Reference(std::size_t blank, std::size_t have, std::size_t limit) {
    HeaderScan scan;
    const bool in = blank != std::string_view::npos && blank + 4 <= have;
    if (in && blank + 4 <= limit) {
        scan.verdict = HeaderScan::Verdict::Complete;
        scan.bodyStart = blank + 4;
    } else if (in || have >= limit) {
        scan.verdict = HeaderScan::Verdict::TooLarge;
    }
    return scan;
}

bool Same(const HeaderScan& a, const HeaderScan& b) {
    return a.verdict == b.verdict &&
           (a.verdict != HeaderScan::Verdict::Complete || a.bodyStart == b.bodyStart);
}

std::string Trim(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return std::string(text);
}

void CheckFields(const std::string& headerText) {
    HeaderMap fields;
    ParseHeaderFields(headerText, fields);
    HeaderMap expected;
    std::size_t start = 0;
    for (;;) {
        const auto end = headerText.find("\r\n", start);
        const std::string line = headerText.substr(start, end - start);
        const auto colon = line.find(':');
        if (colon != std::string::npos) {
            const std::string name = Trim(std::string_view(line).substr(0, colon));
            if (expected.find(name) == expected.end()) {
                expected[name] = Trim(std::string_view(line).substr(colon + 1));
            }
        }
        if (end == std::string::npos) break;
        start = end + 2;
    }
    Require(fields.size() == expected.size(), "another number of fields");
    for (const auto& [name, value] : expected) {
        const auto field = fields.find(name);
        Require(field != fields.end() && field->second == value, "field " + name + " misread");
        Require(TrimSpaces(field->first) == field->first, "a name keeps its blanks");
    }

    const std::string code = StatusCode(headerText);
    Require(code == (headerText.size() > 9 ? headerText.substr(9, 3) : ""), "status misread");
    const StatusVerdict verdict = JudgeStatus(code, headerText);
    Require(verdict.IsServerOk == (code == "200" || code == "206"), "IsServerOk misjudged");
    Require(verdict.Resumesupported == (code == "206"), "Resumesupported misjudged");
    Require(verdict.errorText.has_value() != verdict.IsServerOk, "errorText misjudged");
    if (verdict.errorText && code != "204" && code != "401" && code != "404") {
        Require(*verdict.errorText == headerText.substr(0, headerText.find("\r\n")),
                "a refused status not described by its first line");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::size_t piece = data[0] % 16 + 1;
    // Mostly the control's own bound; sometimes a small one, so inputs reach it.
    const std::size_t limit = data[0] & 0x80 ? 4 + (data[0] & 0x7f) : 64 * 1024;
    const std::string_view answer(reinterpret_cast<const char*>(data) + 1, size - 1);

    // The answer as it arrives, piece by piece, scanned as the control scans it.
    const std::size_t blank = answer.find("\r\n\r\n");
    HeaderScan scan;
    std::size_t have = 0;
    while (have < answer.size() && scan.verdict == HeaderScan::Verdict::Incomplete) {
        const std::size_t scanned = have;
        have = std::min(answer.size(), have + piece);
        scan = ScanAnswerHeader(answer.substr(0, have), scanned, limit);
        Require(Same(scan, Reference(blank, have, limit)),
                "not the first blank line within the bound");
    }
    Require(Same(scan, ScanAnswerHeader(answer.substr(0, have), 0, limit)),
            "pieces scan otherwise than the whole");
    if (scan.verdict == HeaderScan::Verdict::Complete) {
        CheckFields(std::string(answer.substr(0, scan.bodyStart - 4)));
    }
    return 0;
}
