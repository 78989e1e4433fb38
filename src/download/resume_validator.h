// The validator that ties the bytes of a partial file to one file on the server, for If-Range.
#pragma once

#include <string>
#include <string_view>

namespace gor::download {

// The validator to send as If-Range with a resumed request, from the answer the held bytes
// came from: its strong ETag; else, when it carries no ETag at all, its Last-Modified date if
// that is strong (at least one second before the answer's Date, RFC 9110 §8.8.2.2); else none
// (empty). A weak ETag ("W/...") names no exact file, and the date beside it is never sent in
// its place (§13.1.5).
std::string ResumeValidator(std::string_view etag, std::string_view lastModified,
                            std::string_view date);

// Whether a resumed piece fails to carry the validator it was asked with (one ResumeValidator
// gave): a tag must come back as its ETag, a date as its Last-Modified, exactly; a piece without
// it is not shown to be of that file. None sent: nothing to compare.
bool ForeignPiece(std::string_view pieceEtag, std::string_view pieceLastModified,
                  std::string_view validator);

}  // namespace gor::download
