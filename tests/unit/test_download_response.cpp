// Tests of answer header parsing: extractstring, and fillheaders with getheader.
#include <gtest/gtest.h>

#include <stdexcept>

#include "download/gor_download.h"
#include "fakes/memory_file_system.h"
#include "fakes/scripted_socket.h"

namespace gor::download {
namespace {

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
        "HTTP/1.1 200 OK\r\nContent-Length:  300 \r\ncontent-length: 9\r\nno colon\r\n"
        "Empty:\r\n  Spaced Name  :  v a  \r\nHost: a:b\r\n\r\nAfter: body\r\n\r\n");
    EXPECT_EQ(control.getheader("CONTENT-LENGTH"), "300");
    EXPECT_EQ(control.getheader("spaced name"), "v a");
    EXPECT_EQ(control.getheader("Host"), "a:b");
    for (const char* absent : {"Empty", "After", "no colon"})
        EXPECT_EQ(control.getheader(absent), "");
}

TEST_F(FillHeaders, TakesTheCodeFromCharactersTenToTwelve) {
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"HTTP/1.0 206", "206", "earlier"},  // accepted: errorText untouched
        {"HTTP/1.1 20", "20", "HTTP/1.1 20"},
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
