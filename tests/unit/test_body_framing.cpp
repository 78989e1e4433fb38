// How a download answer's header frames its body: chunked, of a length, or until the close
// (judged by the probe's length), partial answers checked against what was asked, lengths that
// are no number, conflicts and the size cap.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "download/body_framing.h"

namespace gor::download {
namespace {

constexpr std::uint64_t kCap = 1000;

struct Case {
    const char* fields;  // header fields after the status line, each ending in CR LF
    bool partial;
    std::uint64_t askedFrom;
    double probeLength;
    bool chunked;
    double end;
    const char* failure;
};

const Case kCases[] = {
    // A 200 answer: its own length, else until the close, judged by the probe's.
    {"Content-Length: 300\r\n", false, 0, 300, false, 300, nullptr},
    {"content-length:  300 \r\nContent-Length: 0300\r\n", false, 0, -1, false, 300, nullptr},
    {"Content-Length: 8\r\n", false, 0, 11, false, -1, kBodyNotAnnounced},
    {"", false, 0, 500, false, 500, nullptr},
    {"Content-Length:\r\n", false, 0, -1, false, -1, kBadLength},
    {"Content-Length: abc\r\n", false, 0, 500, false, 0, kBadLength},
    {"Content-Length: 1e999\r\n", false, 0, 500, false, 0, kBadLength},
    {"Content-Length: 18446744073709551616\r\n", false, 0, 500, false, 0, kBadLength},
    {"Content-Length: 10\r\nContent-Length: +10\r\n", false, 0, 500, false, 0, kBadLength},
    {"Content-Length: 300\r\nContent-Length: 30\r\n", false, 0, 500, false, -1,
     kConflictingLengths},
    // Chunked coding wins over any length; the probe's still judges where it ends.
    {"Transfer-Encoding: chunked\r\nContent-Length: 300\r\n", false, 0, 500, true, 500, nullptr},
    {"transfer-encoding:  Chunked\r\n", false, 0, -1, true, -1, nullptr},
    {"Transfer-Encoding: gzip, chunked\r\n", false, 0, -1, false, -1, kUnsupportedCoding},
    {"Transfer-Encoding: chunked\r\nTransfer-Encoding: chunked\r\n", false, 0, -1, false, -1,
     kUnsupportedCoding},
    // A 206 answer: the piece asked for, to the resource's end.
    {"Content-Range: bytes 5-9/10\r\nContent-Length: 5\r\n", true, 5, 10, false, 10, nullptr},
    {"Content-Range: bytes 5-9/*\r\n", true, 5, -1, false, 10, nullptr},
    {"Content-Range: bytes 0-9/10\r\n", true, 0, -1, false, 10, nullptr},
    {"Content-Range: bytes 0-9/10\r\n", true, 5, 10, false, -1, kRangeNotAsked},
    {"Content-Range: bytes 5-8/10\r\n", true, 5, 10, false, -1, kRangeNotAsked},
    {"Content-Range: bytes 5-4/10\r\n", true, 5, 10, false, -1, kRangeNotAsked},
    {"Content-Range: bytes 5-9/9\r\n", true, 5, 10, false, -1, kRangeNotAsked},
    {"Content-Range: bytes x-9/10\r\n", true, 5, 10, false, -1, kRangeNotAsked},
    {"Content-Range: items 5-9/10\r\n", true, 5, 10, false, -1, kRangeNotAsked},
    {"Content-Length: 5\r\n", true, 5, 10, false, -1, kRangeNotAsked},
    {"Content-Range: bytes 5-9/10\r\nContent-Length: 10\r\n", true, 5, 10, false, -1,
     kConflictingLengths},
    {"Content-Range: bytes 5-9/10\r\nTransfer-Encoding: chunked\r\n", true, 5, 10, true, 10,
     nullptr},
    // A resumed piece of another file: another total, or none where one is known.
    {"Content-Range: bytes 5-10/11\r\n", true, 5, 10, false, -1, kBodyNotAnnounced},
    {"Content-Range: bytes 5-9/*\r\n", true, 5, 10, false, -1, kRangeNotAsked},
    // The size cap, whoever announced the length.
    {"Content-Length: 1000\r\n", false, 0, -1, false, 1000, nullptr},
    {"Content-Length: 1001\r\n", false, 0, -1, false, 1001, kBodyTooLarge},
    {"", false, 0, 1e30, false, 1e30, kBodyTooLarge},
    {"Content-Range: bytes 999-1000/1001\r\n", true, 999, -1, false, 1001, kBodyTooLarge},
};

TEST(FrameDownloadBody, Table) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(std::string(c.fields) + (c.partial ? " (206)" : " (200)"));
        const std::string header =
            std::string(c.partial ? "HTTP/1.1 206 Partial Content\r\n" : "HTTP/1.1 200 OK\r\n") +
            c.fields;
        AnswerHead head;
        head.Read(std::string_view(header).substr(0, header.size() - 2));
        const DownloadBody body =
            FrameDownloadBody(head, c.partial, c.askedFrom, c.probeLength, kCap);
        EXPECT_EQ(body.chunked, c.chunked);
        EXPECT_EQ(body.failure ? body.failure : "", std::string(c.failure ? c.failure : ""));
        if (!body.failure) {
            EXPECT_EQ(body.end, c.end);
            EXPECT_EQ(body.untilClose, !c.chunked && !strstr(c.fields, "ength:"));
        }
    }
}

}  // namespace
}  // namespace gor::download
