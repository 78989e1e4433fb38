// Why the control refuses an answer, and the bounds it holds answers to: the one home of every
// failure text of the download's data path (the description of its DownloadError) and of the
// sizes past which an answer is refused. Each text is one array, so a failure held as a
// `const char*` compares with it by address as well as by text.
#pragma once

#include <cstddef>

namespace gor::download {

// An answer header is collected across chunks up to this size, its empty line and any interim
// answers before it included.
inline constexpr std::size_t kMaxAnswerHeader = std::size_t{64} * 1024;
// A chunk-size line (size and extensions) or a trailer field line longer than this is refused:
// no honest server needs more, and nothing else bounds a line that never ends.
inline constexpr std::size_t kMaxChunkLine = std::size_t{4} * 1024;
// The trailer section as a whole, for the same reason: endless short lines.
inline constexpr std::size_t kMaxTrailerSection = std::size_t{64} * 1024;

// The answer's header.
inline constexpr char kHeaderTooLarge[] = "Answer header too large";
inline constexpr char kBadLineEnd[] = "Answer with a line not ended by CR LF";
inline constexpr char kBadStatusLine[] = "Answer with a malformed status line";
inline constexpr char kBadFieldLine[] = "Answer with a malformed header field";

// The answer's framing and body.
inline constexpr char kBodyTooLarge[] = "Answer body too large";
inline constexpr char kConflictingLengths[] = "Answer with conflicting lengths";
inline constexpr char kBadLength[] = "Answer with a Content-Length that is no number";
inline constexpr char kBodyNotAnnounced[] = "Answer body not of the length announced before";
inline constexpr char kUnsupportedCoding[] = "Answer in an unsupported transfer coding";
inline constexpr char kRangeNotAsked[] = "Partial answer for another range than asked";
inline constexpr char kResumeMismatch[] = "Partial answer that does not continue the bytes held";

// A body that is not valid chunked coding.
inline constexpr char kBadChunkSize[] = "Chunked body: bad chunk size";
inline constexpr char kChunkSizeOverflow[] = "Chunked body: chunk size too large";
inline constexpr char kChunkLineTooLong[] = "Chunked body: line too long";
inline constexpr char kTrailerTooLarge[] = "Chunked body: trailer section too large";
inline constexpr char kChunkBadLineEnd[] = "Chunked body: bad line end";
inline constexpr char kNoChunkDataEnd[] = "Chunked body: no line end after chunk data";
inline constexpr char kBadTrailer[] = "Chunked body: malformed trailer field";

}  // namespace gor::download
