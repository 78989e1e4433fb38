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

// The log's line for a proxy that answers 407 Proxy Authentication Required.
inline constexpr const char* kProxyAsksForCredentials =
    "the proxy asks for credentials: signing in to a proxy is not supported";

// One way to the update host: through the proxy at `host` and `port`, or direct (`host` empty).
struct ProxyRoute {
    std::string host, port;
};

// The settings that decide the routes, as Windows' own HTTP stack falls back: what
// auto-detection or the script answered (`detected`), or, where they were not asked, gave no
// answer (source None) or had none within kProxyLookupSeconds (`detected` empty), those set
// by hand, with why the others gave none.
platform::ProxySettings SettingsToUse(const platform::ProxyStart& start,
                                      const std::optional<platform::ProxySettings>& detected);

// The routes to try for the update host `host`, in order, never none: the usable proxies of
// `settings.proxies` (HTTP ones only; a port missing is 80 on Windows, 1080 in the
// environment, as curl takes it; another scheme's proxy, a script's SOCKS or HTTPS entry and
// a port that is no number from 1 to 65535 are skipped, and said so in `skipped`, for the
// log), with a direct route where the list says DIRECT (and nothing
// after it); only a direct route when the list names no usable proxy or `settings.bypass`
// names the host (Windows: "<local>" for a name without a dot, "*" as a wildcard; the
// environment: curl's no_proxy, "*" or a name that is the host or a domain it is in).
std::vector<ProxyRoute> ChooseRoutes(const platform::ProxySettings& settings, std::string_view host,
                                     std::string* skipped = nullptr);

// "host:port", an IPv6 address in brackets.
std::string HostPort(std::string_view host, std::string_view port);

// The choice for the log: "127.0.0.1:3128 (named)", "a:80, then direct (script)", "direct".
std::string DescribeRoutes(const platform::ProxySettings& settings,
                           const std::vector<ProxyRoute>& routes);

}  // namespace gor::launcher
