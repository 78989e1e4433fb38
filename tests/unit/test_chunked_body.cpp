// The chunked-body decoder over a table of streams, each given whole, in two pieces at every
// place it can be cut, and byte by byte: the body, whether it ended, and why it failed.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "download/chunked_body.h"

namespace gor::download {
namespace {

struct Outcome {
    std::string body;
    bool finished = false;
    std::string failure;
    std::size_t left = 0;  // bytes after the body's end, not taken

    bool operator==(const Outcome&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Outcome& o) {
    return out << "{body '" << o.body << "', finished " << o.finished << ", failure '" << o.failure
               << "', left " << o.left << "}";
}

Outcome DecodePieces(const std::vector<std::string_view>& pieces) {
    ChunkedDecoder decoder;
    Outcome outcome;
    for (std::string_view piece : pieces) {
        while (!piece.empty() && !decoder.Finished() && !decoder.Failed()) {
            outcome.body += decoder.Decode(piece);
        }
        if (decoder.Finished()) outcome.left += piece.size();
    }
    outcome.finished = decoder.Finished();
    outcome.failure = decoder.Failed() ? decoder.Failure() : "";
    EXPECT_EQ(decoder.Decoded(), outcome.body.size());
    return outcome;
}

struct Case {
    const char* name;
    std::string stream;
    Outcome outcome;
};

const std::string kLong(kMaxChunkLine, 'a');

const Case kCases[] = {
    {"one chunk", "5\r\nhello\r\n0\r\n\r\n", {"hello", true, "", 0}},
    {"several chunks, upper and lower hex",
     "3\r\nabc\r\nA\r\n0123456789\r\nb\r\nABCDEFGHIJK\r\n0\r\n\r\n",
     {"abc0123456789ABCDEFGHIJK", true, "", 0}},
    {"data holding CR LF and digits",
     "6\r\n\r\n0\r\n\r\r\n0\r\n\r\n",
     {"\r\n0\r\n\r", true, "", 0}},
    {"leading zeros", "0000000000000000000003\r\nxyz\r\n000\r\n\r\n", {"xyz", true, "", 0}},
    {"extensions", "3;name=value;x=\"q;\"\r\nabc\r\n0 ; last\r\n\r\n", {"abc", true, "", 0}},
    {"blanks before an extension", "3 \t;e\r\nabc\r\n0\r\n\r\n", {"abc", true, "", 0}},
    {"trailer fields", "2\r\nok\r\n0\r\nExpires: never\r\nX-Sum: 12\r\n\r\n", {"ok", true, "", 0}},
    {"bytes after the end are not body", "1\r\nz\r\n0\r\n\r\nHTTP/1.1 200", {"z", true, "", 12}},
    {"empty body", "0\r\n\r\n", {"", true, "", 0}},
    {"incomplete: no last chunk", "3\r\nabc\r\n", {"abc", false, "", 0}},
    {"incomplete: no trailer end", "3\r\nabc\r\n0\r\nX: y\r\n", {"abc", false, "", 0}},
    {"size missing", "\r\nabc\r\n0\r\n\r\n", {"", false, kBadChunkSize, 0}},
    {"size not hex", "g\r\n", {"", false, kBadChunkSize, 0}},
    {"size with a sign", "+3\r\nabc\r\n", {"", false, kBadChunkSize, 0}},
    {"size with 0x", "0x3\r\nabc\r\n", {"", false, kBadChunkSize, 0}},
    {"garbage after the size", "3 x\r\nabc\r\n", {"", false, kBadChunkSize, 0}},
    {"size overflowing 64 bits", "10000000000000000\r\n", {"", false, kChunkSizeOverflow, 0}},
    {"largest size is read", "ffffffffffffffff\r\nab", {"ab", false, "", 0}},
    {"size line too long", "1;" + kLong + "\r\nx\r\n0\r\n\r\n", {"", false, kChunkLineTooLong, 0}},
    {"size line just fits", "1;" + kLong.substr(2) + "\r\nx\r\n0\r\n\r\n", {"x", true, "", 0}},
    {"bare LF after the size", "3\nabc\r\n", {"", false, kBadChunkSize, 0}},
    {"CR without LF after the size", "3\rabc\r\n", {"", false, kChunkBadLineEnd, 0}},
    {"LF inside an extension", "3;a\nabc\r\n", {"", false, kChunkBadLineEnd, 0}},
    {"garbage where CR LF belongs", "3\r\nabcd\r\n0\r\n\r\n", {"abc", false, kNoChunkDataEnd, 0}},
    {"LF alone after the data", "3\r\nabc\n0\r\n\r\n", {"abc", false, kNoChunkDataEnd, 0}},
    {"CR then garbage after the data", "3\r\nabc\rx0\r\n\r\n", {"abc", false, kNoChunkDataEnd, 0}},
    {"trailer line too long", "0\r\n" + kLong + "x\r\n\r\n", {"", false, kChunkLineTooLong, 0}},
    {"bare LF in the trailer", "0\r\nX: y\n\r\n", {"", false, kChunkBadLineEnd, 0}},
    {"folded trailer field", "0\r\nX: y\r\n \tz\r\n\r\n", {"", true, "", 0}},
    {"trailer without a colon", "0\r\nX y\r\n\r\n", {"", false, kBadTrailer, 0}},
    {"NUL in a trailer value", std::string("0\r\nX: \0\r\n\r\n", 10), {"", false, kBadTrailer, 0}},
};

TEST(ChunkedDecoder, StreamsWholeInTwoPiecesAndByteByByte) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        const std::string_view s = c.stream;
        EXPECT_EQ(DecodePieces({s}), c.outcome);
        // Every cut near the ends and in short streams; a sample of the long lines' middles.
        for (std::size_t cut = 1; cut < s.size(); cut += cut < 64 || cut + 64 > s.size() ? 1 : 61) {
            ASSERT_EQ(DecodePieces({s.substr(0, cut), s.substr(cut)}), c.outcome)
                << "cut at " << cut;
        }
        std::vector<std::string_view> bytes;
        for (std::size_t i = 0; i < s.size(); ++i) bytes.push_back(s.substr(i, 1));
        EXPECT_EQ(DecodePieces(bytes), c.outcome);
    }
}

TEST(ChunkedDecoder, TrailerSectionIsBounded) {
    // Short trailer lines without end: refused once the section outgrows its bound.
    std::string stream = "0\r\n";
    while (stream.size() < kMaxTrailerSection + 100) stream += "X-Pad: 0123456789\r\n";
    EXPECT_EQ(DecodePieces({stream}).failure, kTrailerTooLarge);
}

TEST(ChunkedDecoder, HandsBackOneRunOfDataPerCall) {
    ChunkedDecoder decoder;
    std::string_view in = "3\r\nabc\r\n2\r\nde\r\n0\r\n\r\n";
    EXPECT_EQ(decoder.Decode(in), "abc");
    EXPECT_EQ(decoder.Decode(in), "de");
    EXPECT_EQ(decoder.Decode(in), "");
    EXPECT_TRUE(decoder.Finished());
    EXPECT_TRUE(in.empty());
}

}  // namespace
}  // namespace gor::download
