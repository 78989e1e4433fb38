// What an answer's own header says about its body: chunked or of a length, where a partial
// answer starts and ends, and whether the control accepts that at all. Pure functions over
// the header block; no I/O.
#pragma once

#include <cstdint>
#include <string_view>

namespace gor::download {

// A length that is not known; compared by exact equality.
inline constexpr double kUnknownLength = -1;

// Why the control refuses an answer's body (the description of the download's failure).
inline constexpr const char* kBodyTooLarge = "Answer body too large";
inline constexpr const char* kConflictingLengths = "Answer with conflicting lengths";
inline constexpr const char* kUnsupportedCoding = "Answer in an unsupported transfer coding";
inline constexpr const char* kRangeNotAsked = "Partial answer for another range than asked";

struct AnnouncedBody {
    bool coded = false;    // a Transfer-Encoding field is present: no length is the body's
    bool chunked = false;  // and it is chunked, the one coding the control decodes
    double length = kUnknownLength;  // Content-Length by the number rule; unknown when empty
    const char* failure = nullptr;   // set when the framing cannot be trusted
};

// Reads Transfer-Encoding and Content-Length. Any coding but chunked alone cannot be decoded;
// Content-Length fields that differ leave the body's end in doubt. Both are failures. Throws
// std::overflow_error for a length beyond any number.
AnnouncedBody ReadAnnouncedBody(std::string_view headerText);

struct DownloadBody {
    bool chunked = false;
    // The write position in the target file at which the body is complete, or unknown (the
    // body then ends with the last chunk or at the server's close).
    double end = kUnknownLength;
    const char* failure = nullptr;
};

// The body of a download answer as the answer itself announces it: for a 206, its
// Content-Range (which must start at `askedFrom` and run to the resource's end); for a 200,
// its own Content-Length, else `probeLength`, the length the probe learnt. A body that would
// end past `maxBody` bytes is refused. Throws like ReadAnnouncedBody.
DownloadBody FrameDownloadBody(std::string_view headerText, bool partial, std::uint64_t askedFrom,
                               double probeLength, std::uint64_t maxBody);

}  // namespace gor::download
