// Reading an HTTP answer's header block: its end, its fields, its status and its verdict.
#include "download/response.h"

#include <algorithm>
#include <stdexcept>

namespace gor::download {
namespace {

constexpr std::string_view kLineEnd = "\r\n";

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

bool CaseInsensitiveLess::operator()(const std::string& a, const std::string& b) const {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [](char x, char y) { return Lower(x) < Lower(y); });
}

std::size_t FindHeaderEnd(std::string_view data, std::size_t from) {
    return data.find(kHeaderEnd, from);
}

std::string_view TrimSpaces(std::string_view text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

void ParseHeaderFields(std::string_view headerText, HeaderMap& headers) {
    std::size_t start = 0;
    while (start <= headerText.size()) {
        auto end = headerText.find(kLineEnd, start);
        if (end == std::string_view::npos) end = headerText.size();
        const std::string_view line = headerText.substr(start, end - start);
        const auto colon = line.find(':');
        if (colon != std::string_view::npos) {
            // emplace keeps an existing field: the first of a name wins.
            headers.emplace(std::string(TrimSpaces(line.substr(0, colon))),
                            std::string(TrimSpaces(line.substr(colon + 1))));
        }
        start = end + kLineEnd.size();
    }
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

std::string ExtractString(const std::string& str, const std::string& cmp, std::int16_t no) {
    if (no < 0) throw std::out_of_range("Subscript out of range");
    if (str.empty()) return {};
    if (cmp.empty()) return no == 0 ? str : std::string();
    std::size_t start = 0;
    for (std::int16_t piece = 0; piece < no; ++piece) {
        const auto at = str.find(cmp, start);
        if (at == std::string::npos) return {};
        start = at + cmp.size();
    }
    const auto end = str.find(cmp, start);
    return str.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

}  // namespace gor::download
