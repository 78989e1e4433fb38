// Reading an HTTP answer's header block: its end, its status line, its fields and its verdict.
#include "download/response.h"

#include <algorithm>

namespace gor::download {
namespace {

constexpr char kCr = kLineEnd[0];
constexpr char kLf = kLineEnd[1];

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// "HTTP/1." DIGIT SP 3DIGIT [ SP reason ]: the status code, or nothing when the line is not one.
std::optional<std::string_view> StatusLineCode(std::string_view line) {
    constexpr std::string_view kVersion = "HTTP/1.";
    if (line.substr(0, kVersion.size()) != kVersion) return std::nullopt;
    line.remove_prefix(kVersion.size());
    if (line.size() < 5 || !IsDigit(line[0]) || line[1] != ' ') return std::nullopt;
    const std::string_view code = line.substr(2, 3);
    if (!std::all_of(code.begin(), code.end(), IsDigit)) return std::nullopt;
    const std::string_view rest = line.substr(5);
    if (!rest.empty() && rest[0] != ' ') return std::nullopt;
    if (!std::all_of(rest.begin(), rest.end(), IsFieldTextChar)) return std::nullopt;
    return code;
}

}  // namespace

bool SameIgnoringCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](char x, char y) { return Lower(x) == Lower(y); });
}

HeaderScan ScanAnswerHeader(std::string_view collected, std::size_t alreadyScanned,
                            std::size_t limit) {
    // Every byte before `alreadyScanned` was judged, except that a CR on the last one could not
    // yet be told from a lone CR: the scan resumes there.
    const std::size_t end = std::min(collected.size(), limit);
    for (std::size_t i = alreadyScanned > 0 ? alreadyScanned - 1 : 0; i < end; ++i) {
        if (collected[i] == kCr) {
            if (i + 1 < collected.size() && collected[i + 1] != kLf) {
                return {HeaderScan::Verdict::BadLineEnd};
            }
        } else if (collected[i] == kLf) {
            if (i == 0 || collected[i - 1] != kCr) return {HeaderScan::Verdict::BadLineEnd};
            // A line end right after another: the empty line that ends the header.
            if (i >= 3 && collected[i - 2] == kLf) {
                return {HeaderScan::Verdict::Complete, i + 1 - 2 * kLineEnd.size(), i + 1};
            }
        }
    }
    if (collected.size() >= limit) return {HeaderScan::Verdict::TooLarge};
    return {HeaderScan::Verdict::Incomplete};
}

void AnswerHead::Clear() {
    text_.clear();
    statusLine_ = code_ = {};
    fields_.clear();
    joined_.clear();
}

const char* AnswerHead::Read(std::string_view headerText) {
    Clear();
    text_.assign(headerText);
    const std::string_view text = text_;
    statusLine_ = text.substr(0, text.find(kLineEnd));
    const auto malformed = [this](const char* why) {
        code_ = {};
        fields_.clear();
        joined_.clear();
        return why;
    };
    const auto code = StatusLineCode(statusLine_);
    if (!code) return malformed(kBadStatusLine);
    code_ = *code;
    for (std::size_t start = statusLine_.size() + kLineEnd.size(); start < text.size();) {
        auto end = text.find(kLineEnd, start);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view line = text.substr(start, end - start);
        start = end + kLineEnd.size();
        if (!std::all_of(line.begin(), line.end(), IsFieldTextChar)) {
            return malformed(kBadFieldLine);
        }
        if (!line.empty() && IsBlank(line.front())) {
            // Obsolete folding: the value goes on, the line break read as one space.
            if (fields_.empty()) return malformed(kBadFieldLine);
            std::string_view& value = fields_.back().second;
            const std::string_view more = TrimBlanks(line);
            if (more.empty()) continue;
            std::string joined(value);
            joined.append(value.empty() ? "" : " ").append(more);
            value = joined_.emplace_front(std::move(joined));
            continue;
        }
        const auto colon = line.find(':');
        if (colon == 0 || colon == std::string_view::npos ||
            !std::all_of(line.begin(), line.begin() + colon, IsTokenChar)) {
            return malformed(kBadFieldLine);
        }
        fields_.emplace_back(line.substr(0, colon), TrimBlanks(line.substr(colon + 1)));
    }
    return nullptr;
}

std::vector<std::string_view> AnswerHead::Values(std::string_view name) const {
    std::vector<std::string_view> values;
    for (const auto& [fieldName, value] : fields_) {
        if (SameIgnoringCase(fieldName, name)) values.push_back(value);
    }
    return values;
}

std::string_view AnswerHead::Value(std::string_view name) const {
    for (const auto& [fieldName, value] : fields_) {
        if (SameIgnoringCase(fieldName, name)) return value;
    }
    return {};
}

bool IsInterimStatus(std::string_view code) {
    return code.size() == 3 && code[0] == '1' && code != "101";
}

StatusVerdict JudgeStatus(const AnswerHead& head) {
    const std::string_view code = head.code();
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
        verdict.errorText = std::string(head.statusLine());
    }
    return verdict;
}

}  // namespace gor::download
