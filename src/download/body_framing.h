// What an answer's own header says about its body: chunked or of a length, where a partial
// answer starts and ends, and whether the control accepts that at all. Pure functions over
// the answer's head; no I/O.
#pragma once

#include <cstdint>
#include <string_view>

#include "download/answer_limits.h"
#include "download/response.h"

namespace gor::download {

// "No length known", wherever a length is held as a number (the control's contentLength, the
// length the launcher checks a download against); compared by exact equality.
inline constexpr double kUnknownLength = -1;

struct AnnouncedBody {
    bool coded = false;    // a Transfer-Encoding field is present: no length is the body's
    bool chunked = false;  // and it is chunked, the one coding the control decodes
    double length = kUnknownLength;  // Content-Length; unknown without one
    const char* failure = nullptr;   // set when the framing cannot be trusted
};

// Reads Transfer-Encoding and Content-Length. Any coding but chunked alone cannot be decoded
// (kUnsupportedCoding); a Content-Length is decimal digits and nothing else, blanks around
// them aside (kBadLength otherwise, also for a number beyond 64 bits); Content-Length fields
// that name different numbers leave the body's end in doubt (kConflictingLengths).
AnnouncedBody ReadAnnouncedBody(const AnswerHead& head);

struct DownloadBody {
    bool chunked = false;
    // The body has no length of its own: it ends at the server's close.
    bool untilClose = false;
    // The write position in the target file that the body must reach: where a body of a length
    // is complete, and where a chunked body's last chunk or the close of a body read until the
    // close must find it. Unknown only when nothing announced a length.
    double end = kUnknownLength;
    const char* failure = nullptr;
};

// The body of a download answer as the answer itself frames it: chunked coding, else its own
// Content-Length, else it runs until the close. For a 206, its Content-Range must start at
// `askedFrom`, run to the resource's end, agree with a Content-Length beside it, and name the
// resource's total when the probe learnt one. `probeLength`, the length the probe learnt,
// judges every body but never frames one: a file that would end elsewhere is refused
// (kBodyNotAnnounced). A body that would end past `maxBody` bytes is refused.
DownloadBody FrameDownloadBody(const AnswerHead& head, bool partial, std::uint64_t askedFrom,
                               double probeLength, std::uint64_t maxBody);

}  // namespace gor::download
