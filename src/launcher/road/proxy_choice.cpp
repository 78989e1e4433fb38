// Choosing the routes to the update host from the system's proxy settings: which settings
// decide, the proxy list's entries, Windows' bypass list and curl's no_proxy.
#include "launcher/road/proxy_choice.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <optional>
#include <utility>

#include "download/url.h"
#include "launcher/base/launch_log.h"

namespace gor::launcher {

using platform::ProxySettings;
using platform::ProxySource;

namespace {

constexpr auto npos = std::string_view::npos;
// Windows separates the entries of both lists by semicolons or blanks; no_proxy by commas.
constexpr std::string_view kListSeparators = " \t\r\n;";
constexpr std::string_view kNoProxySeparators = " \t\r\n,";

char Lower(char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

bool SameText(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](char x, char y) { return Lower(x) == Lower(y); });
}

// The list's next entry from `at` on (empty at its end); `at` moves past it.
std::string_view NextEntry(std::string_view list, std::size_t& at, std::string_view separators) {
    const std::size_t start = std::min(list.find_first_not_of(separators, at), list.size());
    at = std::min(list.find_first_of(separators, start), list.size());
    return list.substr(start, at - start);
}

// `text` matches `pattern`, in which "*" stands for any run of characters, ignoring case.
bool Matches(std::string_view pattern, std::string_view text) {
    std::size_t p = 0, t = 0, star = npos, resume = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = t;
        } else if (p < pattern.size() && Lower(pattern[p]) == Lower(text[t])) {
            ++p, ++t;
        } else if (star != npos) {
            p = star + 1;
            t = ++resume;
        } else {
            return false;
        }
    }
    return pattern.find_first_not_of('*', p) == npos;
}

// "host[:port]" or "[IPv6 address][:port]" cut into host and port (empty when none is
// given); an IPv6 address without brackets is all host. Nothing for a bracket left open.
std::optional<std::pair<std::string_view, std::string_view>> HostAndPort(std::string_view text) {
    if (text.starts_with('[')) {
        const std::size_t close = text.find(']');
        if (close == npos) return std::nullopt;
        const std::string_view rest = text.substr(close + 1);
        return std::pair{text.substr(1, close - 1),
                         rest.starts_with(':') ? rest.substr(1) : std::string_view()};
    }
    if (const std::size_t colon = text.find(':'); colon != npos && colon == text.rfind(':'))
        return std::pair{text.substr(0, colon), text.substr(colon + 1)};
    return std::pair{text, std::string_view()};
}

// An entry of Windows' bypass list, "[scheme://]host[:port]": "<local>" names every host
// without a dot; the host may hold "*" wildcards or be an IPv6 address in brackets; an entry
// with a port names the host at that port only.
bool InBypassList(std::string_view entry, std::string_view host, std::uint16_t port) {
    if (SameText(entry, "<local>")) return host.find('.') == npos;
    if (const std::size_t scheme = entry.find("://"); scheme != npos)
        entry.remove_prefix(scheme + 3);
    const auto pattern = HostAndPort(entry);
    if (!pattern || (!pattern->second.empty() && download::ParsePort(pattern->second) != port))
        return false;
    return Matches(pattern->first, host);
}

// An entry of no_proxy as curl reads it: "*" names every host, a name itself and every host
// in its domain, with or without a leading dot.
bool InNoProxy(std::string_view entry, std::string_view host) {
    if (entry == "*") return true;
    if (entry.starts_with('.')) entry.remove_prefix(1);
    if (entry.empty() || host.size() < entry.size()) return false;
    const std::size_t tail = host.size() - entry.size();
    return SameText(host.substr(tail), entry) && (tail == 0 || host[tail - 1] == '.');
}

bool Bypassed(const ProxySettings& settings, std::string_view host, std::uint16_t port) {
    const bool environment = settings.source == ProxySource::Environment;
    const std::string_view separators = environment ? kNoProxySeparators : kListSeparators;
    std::size_t at = 0;
    for (std::string_view entry; !(entry = NextEntry(settings.bypass, at, separators)).empty();) {
        if (environment ? InNoProxy(entry, host) : InBypassList(entry, host, port)) return true;
    }
    return false;
}

// A proxy list's entry as a route: nothing for another scheme's proxy or an entry without a
// host. Credentials in it are dropped: signing in to a proxy is not done.
std::optional<ProxyRoute> RouteOf(std::string_view entry, std::string_view defaultPort) {
    if (const std::size_t equals = entry.find('='); equals != npos) {
        if (!SameText(entry.substr(0, equals), "http")) return std::nullopt;
        entry.remove_prefix(equals + 1);
    }
    if (const std::size_t scheme = entry.find("://"); scheme != npos) {
        if (!SameText(entry.substr(0, scheme), "http")) return std::nullopt;
        entry.remove_prefix(scheme + 3);
    }
    entry = entry.substr(0, entry.find('/'));
    if (const std::size_t at = entry.rfind('@'); at != npos) entry.remove_prefix(at + 1);
    const auto hostPort = HostAndPort(entry);
    if (!hostPort || hostPort->first.empty()) return std::nullopt;
    const auto [host, port] = *hostPort;
    return ProxyRoute{std::string(host), std::string(port.empty() ? defaultPort : port)};
}

// The keywords before a script's proxies; only PROXY names an HTTP one.
bool IsScriptKeyword(std::string_view entry) {
    for (const std::string_view keyword : {"PROXY", "SOCKS", "SOCKS4", "SOCKS5", "HTTPS"}) {
        if (SameText(entry, keyword)) return true;
    }
    return false;
}

const char* SourceName(ProxySource source) {
    switch (source) {
        case ProxySource::Named:
            return "named";
        case ProxySource::Script:
            return "script";
        case ProxySource::AutoDetected:
            return "auto-detected";
        case ProxySource::Environment:
            return "environment";
        case ProxySource::None:
            break;
    }
    return "none set";
}

}  // namespace

std::optional<ProxySettings> SettingsToUse(const platform::ProxyStart& start,
                                           const ProxyAnswers& answers, double elapsed) {
    const auto found = [](const std::optional<ProxySettings>& answer) {
        return answer && answer->source != ProxySource::None;
    };
    if (found(answers.autoDetection)) return answers.autoDetection;
    const bool late = elapsed >= kProxyLookupSeconds;
    const bool detecting = start.askingAutoDetection && !answers.autoDetection;
    if (found(answers.script) && (!detecting || late || elapsed >= kAutoDetectionShareSeconds))
        return answers.script;
    if (!late && (detecting || (start.askingScript && !answers.script))) return std::nullopt;
    ProxySettings settings = start.manual;
    const auto note = [&settings](bool asked, const std::optional<ProxySettings>& answer,
                                  const char* what) {
        const std::string why =
            !asked ? std::string()
            : answer
                ? answer->failure
                : Joined({what, ": no answer within ", FormatLength(kProxyLookupSeconds), " s"});
        if (!why.empty()) settings.failure += Joined({settings.failure.empty() ? "" : "; ", why});
    };
    note(start.askingAutoDetection, answers.autoDetection, "auto-detection");
    note(start.askingScript, answers.script, "the script");
    return settings;
}

std::vector<ProxyRoute> ChooseRoutes(const ProxySettings& settings, std::string_view host,
                                     std::string_view port, std::string* skipped) {
    const std::string_view defaultPort =
        settings.source == ProxySource::Environment ? "1080" : "80";
    std::vector<ProxyRoute> routes;
    const auto skip = [skipped](std::string_view entry, const char* why) {
        if (skipped) *skipped += Joined({skipped->empty() ? "" : ", ", entry, " (", why, ")"});
    };
    bool direct = Bypassed(settings, host, download::ParsePort(port).value_or(0));
    std::size_t at = 0;
    std::string_view entry = NextEntry(settings.proxies, at, kListSeparators);
    while (!direct && !entry.empty()) {
        std::string_view next = NextEntry(settings.proxies, at, kListSeparators);
        if (SameText(entry, "DIRECT")) {
            direct = true;
        } else if (IsScriptKeyword(entry) && !next.empty()) {
            // A script's keyword before its proxy; alone, "proxy" is a host's name.
            if (!SameText(entry, "PROXY")) {
                skip(Joined({entry, " ", platform::WithoutUserInfo(next)}), "not an HTTP proxy");
                next = NextEntry(settings.proxies, at, kListSeparators);
            }
        } else if (auto route = RouteOf(entry, defaultPort)) {
            if (download::ParsePort(route->port))
                routes.push_back(std::move(*route));
            else
                skip(platform::WithoutUserInfo(entry), "no port from 1 to 65535");
        } else if (entry.find("://") != npos) {
            skip(platform::WithoutUserInfo(entry), "not an HTTP proxy");
        }
        entry = next;
    }
    if (direct || routes.empty()) routes.emplace_back();
    return routes;
}

std::string HostPort(std::string_view host, std::string_view port) {
    const bool v6 = host.find(':') != npos;
    return Joined({v6 ? "[" : "", host, v6 ? "]:" : ":", port});
}

std::string DescribeRoutes(const ProxySettings& settings, const std::vector<ProxyRoute>& routes) {
    std::string text;
    for (const ProxyRoute& route : routes) {
        if (!text.empty()) text += ", then ";
        text += route.host.empty() ? "direct" : HostPort(route.host, route.port);
    }
    const bool bypassing = routes.front().host.empty() && !settings.bypass.empty();
    return Joined({text, " (", SourceName(settings.source), bypassing ? ", bypassing " : "",
                   bypassing ? std::string_view(settings.bypass) : "",
                   settings.failure.empty() ? "" : "; ", settings.failure, ")"});
}

}  // namespace gor::launcher
