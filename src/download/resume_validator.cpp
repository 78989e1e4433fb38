// If-Range validators: which of an answer's ETag and Last-Modified can name one exact file.
#include "download/resume_validator.h"

#include <cstdint>

#include "download/http_date.h"

namespace gor::download {

// A date only names one file when that file cannot have changed again within the same second.
namespace {
constexpr std::int64_t kStrongDateMargin = 1;
}  // namespace

std::string ResumeValidator(std::string_view etag, std::string_view lastModified,
                            std::string_view date) {
    if (!etag.empty()) {
        // A strong entity tag is a quoted string; anything else cannot be compared exactly.
        const bool strong = etag.size() >= 2 && etag.front() == '"' && etag.back() == '"';
        return strong ? std::string(etag) : std::string();
    }
    const auto modified = ParseHttpDate(lastModified);
    const auto answered = ParseHttpDate(date);
    if (!modified || !answered || *answered - *modified < kStrongDateMargin) return {};
    return std::string(lastModified);
}

bool ForeignPiece(std::string_view pieceEtag, std::string_view pieceLastModified,
                  std::string_view validator) {
    if (validator.empty()) return false;
    // A strong tag is quoted; a date never starts with a quote.
    return (validator.front() == '"' ? pieceEtag : pieceLastModified) != validator;
}

}  // namespace gor::download
