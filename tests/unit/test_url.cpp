// Tests of URL assignment (host, port, path, the 16-bit position limit) and the number rule.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "download/number_rule.h"
#include "download/url.h"

namespace gor::download {
namespace {

TEST(Url, DerivesHostPortAndPath) {
    const char* cases[][5] = {
        // url, host, port, path, the port a connection takes (0: none)
        {"http://srv/dir/a.bin", "srv", "80", "/dir/a.bin", "80"},
        {"srv/a.bin", "srv", "80", "/a.bin", "80"},
        {"srv", "srv", "80", "/", "80"},
        {"srv:81", "srv", "81", "/", "81"},
        {"srv:/x", "srv", "80", "/x", "80"},
        {"srv:abc/x", "srv", "0", "/x", "0"},
        {"srv: 81/x", "srv", "81", "/x", "81"},
        {"srv:81x/y", "srv", "81", "/y", "81"},
        {"srv:-5", "srv", "-5", "/", "0"},
        {"srv:65535", "srv", "65535", "/", "65535"},
        {"srv:70000", "srv", "70000", "/", "0"},
        {"srv:0081", "srv", "81", "/", "81"},
        {"srv/a:b", "srv", "80", "/a:b", "80"},
        {"HTTP://srv/x", "HTTP", "80", "//srv/x", "80"},
        {"srv/get?u=http://x", "srv", "80", "/get?u=x", "80"},
        {"hthttp://tp://srv", "http", "80", "//srv", "80"},  // one pass: a new "http://" stays
        {"  srv/a b  ", "srv", "80", "/a b", "80"},
        {"", "", "80", "/", "80"},
    };
    for (const auto& c : cases) {
        std::string host, port, path;
        AssignUrl(c[0], host, port, path);
        EXPECT_EQ(host + "|" + port + "|" + path, std::string(c[1]) + "|" + c[2] + "|" + c[3]);
        EXPECT_EQ(std::to_string(ParsePort(port).value_or(0)), c[4]) << c[0];
    }
    for (const char* text : {"", "http", "0", "65536", "99999999999999999999", "8 0"})
        EXPECT_FALSE(ParsePort(text)) << text;
    EXPECT_EQ(ParsePort("080"), 80);
}

TEST(Url, SeparatorsBeyondSixteenBitPositionsOverflowAfterFieldsChanged) {
    const std::string a6(32766, 'a'), a7(32767, 'a');
    const std::string cases[][4] = {
        // url (or "!" + url when it overflows), host, port, path
        {a6 + "/x", a6, "80", "/x"},                // "/" at 32767
        {"!" + a7 + "/x", a7 + "/x", "80", "old"},  // "/" at 32768
        {a6 + ":", a6, "80", "/"},                  // ":" at 32767, nothing after it
        {"!" + a6 + ":81", a6, "80", "/"},          // ":" at 32767, text after it
        {"!" + a7 + ":", a7 + ":", "80", "/"},      // ":" at 32768
    };
    for (const auto& c : cases) {
        std::string host = "old", port = "old", path = "old";
        const bool overflows = c[0][0] == '!';
        const std::string url = overflows ? c[0].substr(1) : c[0];
        if (overflows) {
            EXPECT_THROW(AssignUrl(url, host, port, path), std::overflow_error);
        } else {
            AssignUrl(url, host, port, path);
        }
        EXPECT_TRUE(host == c[1] && port == c[2] && path == c[3]) << url.size();
    }
}

TEST(NumberRule, ReadsTheNumberATextBeginsWith) {
    const std::pair<const char*, double> cases[] = {
        {"81", 81},    {"81x", 81},    {"8 0", 80},  {" \t\n4\t2\n", 42}, {"-5", -5},
        {"+7", 7},     {"- 5", -5},    {"1.5", 1.5}, {".5", 0.5},         {"1.2.3", 1.2},
        {"1E3", 1000}, {"25E-1", 2.5}, {"5E", 5},    {"5E+x", 5},         {"abc", 0},
        {"", 0},       {"-", 0},       {".", 0},     {"&H10", 0},         {"1E-400", 0},
        {"1e3", 1},
    };
    for (const auto& [text, value] : cases) EXPECT_EQ(NumberRule(text), value) << text;
    EXPECT_THROW(NumberRule("1E400"), std::overflow_error);
    EXPECT_THROW(NumberRule(std::string(400, '9')), std::overflow_error);
}

TEST(NumberRule, WritesNumbersBackAsText) {
    const std::pair<double, const char*> cases[] = {
        {81, "81"},      {-5, "-5"}, {-0.0, "0"}, {1.5, "1.5"}, {1e14 + 1, "100000000000001"},
        {1e20, "1E+20"},
    };
    for (const auto& [value, text] : cases) EXPECT_EQ(NumberText(value), text);
    EXPECT_EQ(NumberText(-HUGE_VAL), "-INF");
}

// printf's %.15G, correctly rounded in the native C library, is the measure: random doubles
// of every magnitude and exact halves at the sixteenth digit (rounded to even).
TEST(NumberRule, WritesFifteenSignificantDigitsAsPrintfDoes) {
    std::vector<double> values;
    std::mt19937_64 random(20261207);
    while (values.size() < 600) {
        const std::uint64_t bits = random();
        double value = 0;
        std::memcpy(&value, &bits, sizeof value);
        if (std::isfinite(value)) values.push_back(value);
    }
    for (int k = 0; k < 200; ++k) {
        for (double tie : {1e14 + k + 0.5, 1e13 + k + 0.25})
            values.insert(values.end(), {tie, -tie});
    }
    for (double value : values) {
        char expected[64];
        std::snprintf(expected, sizeof expected, "%.15G", value);
        if (value == std::trunc(value) && std::fabs(value) < 1e15) continue;  // all digits
        ASSERT_EQ(NumberText(value), expected) << std::hexfloat << value;
    }
}

TEST(NumberRule, ReadsAndWritesAPeriodUnderALocaleWithADecimalComma) {
    const std::string before = std::setlocale(LC_NUMERIC, nullptr);
    if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8")) GTEST_SKIP() << "scripts/setup makes de_DE";
    EXPECT_EQ(NumberRule("1.5"), 1.5);
    EXPECT_EQ(NumberText(1.25), "1.25");
    std::setlocale(LC_NUMERIC, before.c_str());
}

}  // namespace
}  // namespace gor::download
