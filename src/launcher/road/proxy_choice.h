// Which way the requests take to the update host: through the proxies the system's settings
// name for it, in their order, or direct; and how the log names that choice.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/system_proxy.h"

namespace gor::launcher {

// Auto-detection and the configuration script may take this long at most (detection that
// finds nothing included); where they are still running then, the proxy set by hand decides.
inline constexpr double kProxyLookupSeconds = 5;
// Both are asked at once. Auto-detection's answer comes first, as in Windows' own HTTP stack,
// but the script's is kept waiting for it only this long: each has a fair share of the bound.
inline constexpr double kAutoDetectionShareSeconds = kProxyLookupSeconds / 2;

// The log's line for a proxy that answers 407 Proxy Authentication Required.
inline constexpr const char* kProxyAsksForCredentials =
    "the proxy asks for credentials: signing in to a proxy is not supported";

// One way to the update host: through the proxy at `host` and `port`, or direct (`host` empty).
struct ProxyRoute {
    std::string host, port;
};

// What auto-detection and the script answered so far: nothing while one has not.
struct ProxyAnswers {
    std::optional<platform::ProxySettings> autoDetection, script;
};

// The settings that decide the routes, `elapsed` seconds after the lookup began, as Windows'
// own HTTP stack falls back: what auto-detection answered, else the script, else (where
// neither was asked, both gave no answer, source None, or had none within
// kProxyLookupSeconds) those set by hand, with why the others gave none. Nothing while an
// answer still to come may change the choice: auto-detection is waited for until
// kAutoDetectionShareSeconds where the script has answered, until kProxyLookupSeconds else.
std::optional<platform::ProxySettings> SettingsToUse(const platform::ProxyStart& start,
                                                     const ProxyAnswers& answers, double elapsed);

// The routes to try for the update host `host` at `port`, in order, never none: the usable
// proxies of `settings.proxies` (HTTP ones only; a port missing is 80 on Windows, 1080 in the
// environment, as curl takes it; another scheme's proxy, a script's SOCKS or HTTPS entry and
// a port that is no number from 1 to 65535 are skipped, and said so in `skipped`, for the
// log, without user information), with a direct route where the list says DIRECT (and
// nothing after it); only a direct route when the list names no usable proxy or
// `settings.bypass` names the host (Windows: "<local>" for a name without a dot, "*" as a
// wildcard, an IPv6 address in brackets, an entry with a port for that port only; the
// environment: curl's no_proxy, "*" or a name that is the host or a domain it is in).
std::vector<ProxyRoute> ChooseRoutes(const platform::ProxySettings& settings, std::string_view host,
                                     std::string_view port, std::string* skipped = nullptr);

// "host:port", an IPv6 address in brackets.
std::string HostPort(std::string_view host, std::string_view port);

// The choice for the log: "127.0.0.1:3128 (named)", "a:80, then direct (script)", "direct".
std::string DescribeRoutes(const platform::ProxySettings& settings,
                           const std::vector<ProxyRoute>& routes);

}  // namespace gor::launcher
