// The routes to the update host chosen from a proxy settings record, as the log names them.
#include <gtest/gtest.h>

#include "launcher/proxy_choice.h"

namespace gor::launcher {
namespace {

TEST(ProxyChoice, RoutesFromTheSettings) {
    using enum platform::ProxySource;
    const struct {
        platform::ProxySource source;
        const char *proxies, *bypass, *host, *routes;
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
    };
    for (const auto& c : cases) {
        const platform::ProxySettings settings{c.source, c.proxies, c.bypass, {}};
        EXPECT_EQ(DescribeRoutes(settings, ChooseRoutes(settings, c.host)), c.routes)
            << c.proxies << " | " << c.bypass << " | " << c.host;
    }
}

// The proxy set by hand decides where auto-detection and the script failed or were slow.
TEST(ProxyChoice, ManualProxyAfterDetection) {
    using enum platform::ProxySource;
    const platform::ProxyStart start{{Named, "m:8080", "", ""}, true};
    const platform::ProxySettings failed{None, "", "", "auto-detection: found no script"};
    const platform::ProxySettings found{Script, "s:3128", "", ""};
    const struct {
        std::optional<platform::ProxySettings> detected;
        const char* routes;
    } cases[] = {
        {failed, "m:8080 (named; auto-detection: found no script)"},
        {std::nullopt, "m:8080 (named; the system gave no answer within 5 s)"},
        {found, "s:3128 (script)"},
    };
    for (const auto& c : cases) {
        const platform::ProxySettings settings = SettingsToUse(start, c.detected);
        EXPECT_EQ(DescribeRoutes(settings, ChooseRoutes(settings, "x")), c.routes);
    }
}

}  // namespace
}  // namespace gor::launcher
