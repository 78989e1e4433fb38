// The routes to the update host chosen from a proxy settings record, as the log names them.
#include <gtest/gtest.h>

#include "launcher/road/proxy_choice.h"

namespace gor::launcher {
namespace {

TEST(ProxyChoice, RoutesFromTheSettings) {
    using enum platform::ProxySource;
    const struct {
        platform::ProxySource source;
        const char *proxies, *bypass, *host, *routes, *port = "80";
    } cases[] = {
        {None, "", "", "up.example.com", "direct (none set)"},
        {Named, "10.0.0.1:3128", "", "up.example.com", "10.0.0.1:3128 (named)"},
        {Named, "10.0.0.1", "<local>", "up.example.com", "10.0.0.1:80 (named)"},
        {Named, "p:1", "<local>", "updates", "direct (named, bypassing <local>)"},
        {Named, "p:1", "10.*; *.EXAMPLE.com", "up.example.com",
         "direct (named, bypassing 10.*; *.EXAMPLE.com)"},
        {Named, "ftp=f:21;http=h:8080 https=s:443", "", "x", "h:8080 (named)"},
        {Script, "PROXY a:81; PROXY [::1]:82; DIRECT; PROXY c:83", "", "x",
         "a:81, then [::1]:82, then direct (script)"},
        {AutoDetected, "DIRECT", "", "x", "direct (auto-detected)"},
        {Environment, "http://user:pw@127.0.0.1:3128/", "", "x", "127.0.0.1:3128 (environment)"},
        {Environment, "proxy", "", "x", "proxy:1080 (environment)"},
        {Environment, "socks5://s:1080", "", "x", "direct (environment)"},
        {Environment, "p:1", "a.org,example.com", "up.example.com",
         "direct (environment, bypassing a.org,example.com)"},
        {Environment, "p:1", ".example.com", "example.com",
         "direct (environment, bypassing .example.com)"},
        {Environment, "p:1", "ample.com", "up.example.com", "p:1 (environment)"},
        {Environment, "p:1", "*", "x", "direct (environment, bypassing *)"},
        // Skipped, with the next entry taken: a bad port, a script's SOCKS and HTTPS proxies.
        {Named, "p:99999;q:x;r:1", "", "x", "r:1 (named)"},
        {Script, "SOCKS s:1080; HTTPS h:443; PROXY a:81", "", "x", "a:81 (script)"},
        // A bypass entry with a port names that port only; an IPv6 address is in brackets.
        {Named, "p:1", "x:8080", "x", "p:1 (named)"},
        {Named, "p:1", "x:8080", "x", "direct (named, bypassing x:8080)", "8080"},
        {Named, "p:1", "[::1]", "::1", "direct (named, bypassing [::1])"},
        {Named, "p:1", "[::1]:8080", "::1", "direct (named, bypassing [::1]:8080)", "8080"},
    };
    for (const auto& c : cases) {
        const platform::ProxySettings settings{c.source, c.proxies, c.bypass, {}};
        EXPECT_EQ(DescribeRoutes(settings, ChooseRoutes(settings, c.host, c.port)), c.routes)
            << c.proxies << " | " << c.bypass << " | " << c.host;
    }
    // The log names a skipped entry without its user information.
    std::string skipped;
    ChooseRoutes({Environment, "http_proxy=http://user:secret@p:3128", "", {}}, "x", "80",
                 &skipped);
    EXPECT_EQ(skipped, "http_proxy=http://p:3128 (not an HTTP proxy)");
}

// The proxy set by hand decides where auto-detection and the script failed or were slow;
// auto-detection's answer comes first, but keeps a script's waiting only for its share.
TEST(ProxyChoice, ManualProxyAfterDetection) {
    using enum platform::ProxySource;
    const platform::ProxySettings failed{None, "", "", "auto-detection: found no script"};
    const platform::ProxySettings detected{AutoDetected, "d:1", "", ""};
    const platform::ProxySettings found{Script, "s:3128", "", ""};
    const struct {
        bool detecting, scripting;
        std::optional<platform::ProxySettings> autoDetection, script;
        double elapsed;
        const char* routes;  // "" while the wait goes on
    } cases[] = {
        {true, false, failed, {}, 0, "m:8080 (named; auto-detection: found no script)"},
        {true,
         true,
         {},
         {},
         5,
         "m:8080 (named; auto-detection: no answer within 5 s; the script: no answer within 5 s)"},
        {false, true, {}, found, 0, "s:3128 (script)"},
        {true, true, {}, found, 2.4, ""},
        {true, true, {}, found, 2.5, "s:3128 (script)"},
        {true, true, failed, found, 0, "s:3128 (script)"},
        {true, true, detected, found, 0, "d:1 (auto-detected)"},
        {true, true, failed, {}, 4.9, ""},
    };
    for (const auto& c : cases) {
        const platform::ProxyStart start{{Named, "m:8080", "", ""}, c.detecting, c.scripting};
        const auto settings = SettingsToUse(start, {c.autoDetection, c.script}, c.elapsed);
        EXPECT_EQ(settings ? DescribeRoutes(*settings, ChooseRoutes(*settings, "x", "80")) : "",
                  c.routes)
            << c.elapsed;
    }
}

}  // namespace
}  // namespace gor::launcher
