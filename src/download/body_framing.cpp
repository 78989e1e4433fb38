// Reading an answer's framing fields: Transfer-Encoding, Content-Length, Content-Range.
#include "download/body_framing.h"

#include <optional>

#include "download/response.h"
#include "download/text.h"

namespace gor::download {
namespace {

bool TakeChar(std::string_view& text, char c) {
    if (text.empty() || text.front() != c) return false;
    text.remove_prefix(1);
    return true;
}

struct ByteRange {
    std::uint64_t first = 0, last = 0;
    std::optional<std::uint64_t> complete;  // the resource's length; unknown for "*"
};

// "bytes first-last/complete" (complete may be "*"); nothing for anything else.
std::optional<ByteRange> ParseContentRange(std::string_view value) {
    constexpr std::string_view kUnit = "bytes ";
    if (value.size() < kUnit.size() || !SameIgnoringCase(value.substr(0, kUnit.size()), kUnit)) {
        return std::nullopt;
    }
    value = TrimSpaces(value.substr(kUnit.size()));
    ByteRange range;
    if (!TakeDecimal(value, range.first) || !TakeChar(value, '-') ||
        !TakeDecimal(value, range.last) || !TakeChar(value, '/') || range.last < range.first) {
        return std::nullopt;
    }
    if (value == "*") return range;
    std::uint64_t complete = 0;
    if (!TakeDecimal(value, complete) || !value.empty() || complete <= range.last) {
        return std::nullopt;
    }
    range.complete = complete;
    return range;
}

}  // namespace

AnnouncedBody ReadAnnouncedBody(const AnswerHead& head) {
    AnnouncedBody body;
    const auto codings = head.Values("Transfer-Encoding");
    if (!codings.empty()) {
        // The only coding the control decodes; its length, if any, is not the body's.
        body.coded = true;
        body.chunked = codings.size() == 1 && SameIgnoringCase(codings.front(), "chunked");
        if (!body.chunked) body.failure = kUnsupportedCoding;
        return body;
    }
    // Fields that say the same number in other words ("10", "010") agree.
    std::optional<std::uint64_t> agreed;
    for (std::string_view value : head.Values("Content-Length")) {
        std::uint64_t length = 0;
        if (!TakeDecimal(value, length) || !value.empty()) {
            body.failure = kBadLength;
            return body;
        }
        if (agreed && *agreed != length) body.failure = kConflictingLengths;
        agreed = length;
    }
    if (agreed && !body.failure) body.length = static_cast<double>(*agreed);
    return body;
}

DownloadBody FrameDownloadBody(const AnswerHead& head, bool partial, std::uint64_t askedFrom,
                               double probeLength, std::uint64_t maxBody) {
    DownloadBody body;
    const AnnouncedBody announced = ReadAnnouncedBody(head);
    body.chunked = announced.chunked;
    if (announced.failure) {
        body.failure = announced.failure;
        return body;
    }
    if (partial) {
        // Asked for everything from `askedFrom` on: the piece must start there and run to the
        // end, of a resource as long as the probe said. A piece from elsewhere would be written
        // at the wrong place, one of another total spliced onto another file.
        const auto ranges = head.Values("Content-Range");
        const auto range = ranges.size() == 1 ? ParseContentRange(ranges.front()) : std::nullopt;
        if (!range || range->first != askedFrom ||
            (range->complete && *range->complete != range->last + 1) ||
            (probeLength != kUnknownLength && !range->complete)) {
            body.failure = kRangeNotAsked;
            return body;
        }
        const double pieceLength = static_cast<double>(range->last - range->first) + 1;
        if (announced.length != kUnknownLength && announced.length != pieceLength) {
            body.failure = kConflictingLengths;
            return body;
        }
        // The range says where the file ends; only HTTP's own framing says where the body does.
        body.end = static_cast<double>(range->last) + 1;
    } else {
        body.end = announced.length != kUnknownLength ? announced.length : probeLength;
    }
    body.untilClose = !body.chunked && announced.length == kUnknownLength;
    // A length announced before judges the file the body makes, whatever frames the body.
    if (probeLength != kUnknownLength && body.end != probeLength) {
        body.failure = kBodyNotAnnounced;
        return body;
    }
    if (body.end != kUnknownLength && body.end > static_cast<double>(maxBody)) {
        body.failure = kBodyTooLarge;
    }
    return body;
}

}  // namespace gor::download
