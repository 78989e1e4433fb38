// Tests of answer header parsing: the header scanner, extractstring, and fillheaders with
// getheader.
#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "download/gor_download.h"
#include "download/response.h"
#include "fakes/memory_file_system.h"
#include "fakes/scripted_socket.h"

namespace gor::download {
namespace {

using Verdict = HeaderScan::Verdict;

// Feeds `answer` to the scanner the way the control collects it: the pieces end at
// `pieceEnds`, each scan sees all bytes so far and is told how many it saw before. Stops at
// the first verdict other than Incomplete, as the control does.
HeaderScan Feed(std::string_view answer, const std::vector<std::size_t>& pieceEnds,
                std::size_t limit) {
    HeaderScan scan;
    std::size_t scanned = 0;
    for (const std::size_t end : pieceEnds) {
        scan = ScanAnswerHeader(answer.substr(0, end), scanned, limit);
        if (scan.verdict != Verdict::Incomplete) break;
        scanned = end;
    }
    return scan;
}

TEST(ScanAnswerHeader, FindsTheBlankLineWholeInTwoPiecesAndByteByByte) {
    const std::string x13(13, 'x');
    const std::tuple<std::string, std::string, std::size_t, Verdict> cases[] = {
        // header (blank line included), what follows it, limit, verdict
        {"HTTP/1.1 200 OK\r\nA: 1\r\n\r\n", "body\r\n\r\n", 64, Verdict::Complete},
        {"\r\n\r\n", "", 64, Verdict::Complete},
        {"", "HTTP/1.1 200 OK\r\nA: 1\r\n\r", 64, Verdict::Incomplete},
        // Every line ends in CR LF: a bare LF or a lone CR is refused where it stands, so a
        // CR LF CR LF after it is never the header's end.
        {"", "\n\r\n\r\nx", 64, Verdict::BadLineEnd},
        {"", "\r\n\r\r\n\r\n\n", 64, Verdict::BadLineEnd},
        {"", "HTTP/1.1 200 OK\nA: 1\n\nab\r\n\r\ncd", 64, Verdict::BadLineEnd},
        {"", x13 + "\rx", 16, Verdict::BadLineEnd},
        // The limit counts the blank line: a header that ends on it fits, one byte more does not.
        {x13.substr(1) + "\r\n\r\n", "body", 16, Verdict::Complete},
        {"", x13 + "\r\n\r\n", 16, Verdict::TooLarge},
        {"", x13 + "xx", 16, Verdict::Incomplete},
        {"", x13 + "xxx", 16, Verdict::TooLarge},
    };
    for (const auto& [header, rest, limit, verdict] : cases) {
        const std::string answer = header + rest;
        std::vector<std::vector<std::size_t>> splits = {{answer.size()}, {}};
        for (std::size_t end = 1; end <= answer.size(); ++end) splits.back().push_back(end);
        for (std::size_t cut = 1; cut < answer.size(); ++cut)
            splits.push_back({cut, answer.size()});
        for (const auto& pieceEnds : splits) {
            SCOPED_TRACE(testing::PrintToString(answer) + " pieces " +
                         testing::PrintToString(pieceEnds));
            const HeaderScan scan = Feed(answer, pieceEnds, limit);
            EXPECT_EQ(scan.verdict, verdict);
            if (verdict == Verdict::Complete) {
                EXPECT_EQ(scan.bodyStart, header.size());
            }
        }
    }
}

TEST(ExtractString, PicksOnePieceOfASplitText) {
    const std::tuple<const char*, const char*, std::int16_t, const char*> cases[] = {
        {"a,b,c", ",", 0, "a"}, {"a,b,c", ",", 2, "c"},    {"a,b,c", ",", 3, ""},
        {",a", ",", 0, ""},     {"a,", ",", 1, ""},        {"", ",", 0, ""},
        {"abc", "", 0, "abc"},  {"x--y--z", "--", 1, "y"},
    };
    for (const auto& [str, cmp, no, piece] : cases) {
        EXPECT_EQ(GorDownload::extractstring(str, cmp, no), piece) << str << " " << no;
    }
    EXPECT_THROW(GorDownload::extractstring("a,b", ",", -1), std::out_of_range);
}

class FillHeaders : public ::testing::Test {
  protected:
    test::MemoryFileSystem files;
    GorDownload control{std::make_unique<test::ScriptedSocket>(), files};
};

TEST_F(FillHeaders, StoresFieldsCaseInsensitivelyFirstWins) {
    control.fillheaders(
        "HTTP/1.1 200 OK\r\nContent-Length:  300 \r\ncontent-length: 9\r\nEmpty:\r\n"
        "Spaced: \t v a \t\r\nHost: a:b\r\nFolded: x\r\n \t y \r\n\r\nAfter: body\r\n\r\n");
    EXPECT_EQ(control.getheader("CONTENT-LENGTH"), "300");
    EXPECT_EQ(control.getheader("spaced"), "v a");
    EXPECT_EQ(control.getheader("Host"), "a:b");
    EXPECT_EQ(control.getheader("Folded"), "x y");
    for (const char* absent : {"Empty", "After"}) EXPECT_EQ(control.getheader(absent), "");
}

TEST_F(FillHeaders, TakesTheCodeOfAnHttp1StatusLineOnly) {
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"HTTP/1.0 206", "206", "earlier"},  // accepted: errorText untouched
        {"HTTP/1.2 200 OK", "200", "earlier"},
        {"HTTP/1.1 2000 OK", "", "HTTP/1.1 2000 OK"},
        {"HTTP/1.1 20", "", "HTTP/1.1 20"},
        {"HTTP/1.1", "", "HTTP/1.1"},
        {"", "", ""},
    };
    for (const auto& [statusLine, code, errorText] : cases) {
        control.fillheaders("earlier\r\n\r\n");
        control.fillheaders(std::string(statusLine) + "\r\n\r\n");
        EXPECT_EQ(control.Responsecode(), code);
        EXPECT_EQ(control.errorText(), errorText);
    }
}

TEST_F(FillHeaders, WithoutBlankLineResetsTheVerdictButKeepsTheTexts) {
    control.fillheaders("HTTP/1.1 206 Partial\r\nA: 1\r\n\r\n");
    control.fillheaders("HTTP/1.1 404 Not Found\r\n\r\n");
    control.fillheaders("HTTP/1.1 200 OK\r\nA: 1\r\n");
    EXPECT_EQ(control.Responsecode() + control.getheader("A"), "");
    EXPECT_FALSE(control.IsServerOk() || control.Resumesupported());
    EXPECT_EQ(control.errorText(), "File not found");
}

}  // namespace
}  // namespace gor::download
