// Reading an HTTP answer's header block: its end, its fields, its status and its verdict.
#include "download/response.h"

#include <algorithm>

#include "download/text.h"

namespace gor::download {
namespace {

constexpr std::string_view kLineEnd = "\r\n";

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Calls `field(name, value)` for every line of `headerText` (split at CR LF) that holds a
// colon: the text before its first colon and the text after it, both with spaces trimmed.
// Lines without one (the status line among them) are skipped.
template <class Field>
void ForEachField(std::string_view headerText, Field&& field) {
    std::size_t start = 0;
    while (start <= headerText.size()) {
        auto end = headerText.find(kLineEnd, start);
        if (end == std::string_view::npos) end = headerText.size();
        const std::string_view line = headerText.substr(start, end - start);
        const auto colon = line.find(':');
        if (colon != std::string_view::npos) {
            field(TrimSpaces(line.substr(0, colon)), TrimSpaces(line.substr(colon + 1)));
        }
        start = end + kLineEnd.size();
    }
}

}  // namespace

bool SameIgnoringCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](char x, char y) { return Lower(x) == Lower(y); });
}

bool CaseInsensitiveLess::operator()(const std::string& a, const std::string& b) const {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [](char x, char y) { return Lower(x) < Lower(y); });
}

HeaderScan ScanAnswerHeader(std::string_view collected, std::size_t alreadyScanned,
                            std::size_t limit) {
    const std::size_t overlap = kHeaderEnd.size() - 1;
    const std::size_t from = alreadyScanned < overlap ? 0 : alreadyScanned - overlap;
    // Only the bytes within the limit are searched, so a header that fits is found and any
    // other is too large as soon as the limit is reached.
    const auto end = collected.substr(0, limit).find(kHeaderEnd, from);
    if (end != std::string_view::npos) {
        return {HeaderScan::Verdict::Complete, end + kHeaderEnd.size()};
    }
    if (collected.size() >= limit) return {HeaderScan::Verdict::TooLarge};
    return {HeaderScan::Verdict::Incomplete};
}

void ParseHeaderFields(std::string_view headerText, HeaderMap& headers) {
    ForEachField(headerText, [&](std::string_view name, std::string_view value) {
        // emplace keeps an existing field: the first of a name wins.
        headers.emplace(std::string(name), std::string(value));
    });
}

std::vector<std::string_view> FieldValues(std::string_view headerText, std::string_view name) {
    std::vector<std::string_view> values;
    ForEachField(headerText, [&](std::string_view fieldName, std::string_view value) {
        if (SameIgnoringCase(fieldName, name)) values.push_back(value);
    });
    return values;
}

std::string StatusCode(std::string_view headerText) {
    constexpr std::size_t kCodeStart = 9;  // "HTTP/1.1 " comes first
    if (headerText.size() <= kCodeStart) return {};
    return std::string(headerText.substr(kCodeStart, 3));
}

StatusVerdict JudgeStatus(std::string_view code, const std::string& headerText) {
    StatusVerdict verdict;
    if (code == "200") {
        verdict.IsServerOk = true;
    } else if (code == "206") {
        verdict.IsServerOk = true;
        verdict.Resumesupported = true;
    } else if (code == "204") {
        verdict.errorText = "Nothing to download";
    } else if (code == "401") {
        verdict.errorText = "Authorization Failed";
    } else if (code == "404") {
        verdict.errorText = "File not found";
    } else {
        verdict.errorText = ExtractString(headerText, std::string(kLineEnd), 0);
    }
    return verdict;
}

}  // namespace gor::download
