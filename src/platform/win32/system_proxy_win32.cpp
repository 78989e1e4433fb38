// WinHttpGetIEProxyConfigForCurrentUser at once, and WinHttpGetProxyForUrl off the loop where
// auto-detection or a configuration script is set.
#include "platform/win32/system_proxy_win32.h"

#include <windows.h>
#include <winhttp.h>

#include <memory>
#include <optional>
#include <utility>

#include "platform/win32/system_library.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/win32_error.h"

namespace gor::platform::win32 {

namespace {

// Each network step of a script's download or of auto-detection, in milliseconds: the
// launcher waits a few seconds for the whole lookup.
constexpr int kStepMilliseconds = 3000;

using GetUserConfigFn = BOOL(WINAPI*)(WINHTTP_CURRENT_USER_IE_PROXY_CONFIG*);
using OpenFn = HINTERNET(WINAPI*)(LPCWSTR, DWORD, LPCWSTR, LPCWSTR, DWORD);
using SetTimeoutsFn = BOOL(WINAPI*)(HINTERNET, int, int, int, int);
using GetProxyForUrlFn = BOOL(WINAPI*)(HINTERNET, LPCWSTR, WINHTTP_AUTOPROXY_OPTIONS*,
                                       WINHTTP_PROXY_INFO*);
using CloseFn = BOOL(WINAPI*)(HINTERNET);

// The texts WinHTTP allocates for its answers are the caller's to free.
struct UserConfig : WINHTTP_CURRENT_USER_IE_PROXY_CONFIG {
    UserConfig() : WINHTTP_CURRENT_USER_IE_PROXY_CONFIG{} {}
    ~UserConfig() {
        ::GlobalFree(lpszAutoConfigUrl);
        ::GlobalFree(lpszProxy);
        ::GlobalFree(lpszProxyBypass);
    }
};
struct ProxyInfo : WINHTTP_PROXY_INFO {
    ProxyInfo() : WINHTTP_PROXY_INFO{} {}
    ~ProxyInfo() {
        ::GlobalFree(lpszProxy);
        ::GlobalFree(lpszProxyBypass);
    }
};

std::string Text(LPCWSTR text) {
    return text ? Narrow(text) : std::string();
}

// `url` without the user information ("user:password@") it may carry: no place for the log.
std::string WithoutUserInfo(std::string url) {
    const std::size_t scheme = url.find("://");
    const std::size_t start = scheme == std::string::npos ? 0 : scheme + 3;
    const std::size_t at = url.rfind('@', url.find_first_of("/?#", start));
    if (at != std::string::npos && at >= start) url.erase(start, at + 1 - start);
    return url;
}

// A session that asks for nothing through a proxy: the script is fetched direct.
class Session {
  public:
    explicit Session(Module winhttp) : close_(Require<CloseFn>(winhttp, "WinHttpCloseHandle")) {
        handle_ = Require<OpenFn>(winhttp, "WinHttpOpen")(
            L"gorlaunch", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
            WINHTTP_NO_PROXY_BYPASS, 0);
        if (!handle_) ThrowLastError("WinHttpOpen");
        Require<SetTimeoutsFn>(winhttp, "WinHttpSetTimeouts")(
            handle_, kStepMilliseconds, kStepMilliseconds, kStepMilliseconds, kStepMilliseconds);
    }
    ~Session() { close_(handle_); }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
    HINTERNET handle() const { return handle_; }

  private:
    CloseFn close_;
    HINTERNET handle_ = nullptr;
};

// What auto-detection (`script` null) or the script at `script` says for `url`; nothing when
// it gives no answer, and why is added to `failure`.
std::optional<ProxySettings> FromScript(Module winhttp, const Session& session,
                                        const std::wstring& url, LPCWSTR script,
                                        std::string& failure) {
    WINHTTP_AUTOPROXY_OPTIONS options{};
    options.dwFlags = script ? WINHTTP_AUTOPROXY_CONFIG_URL : WINHTTP_AUTOPROXY_AUTO_DETECT;
    options.dwAutoDetectFlags =
        script ? 0 : WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
    options.lpszAutoConfigUrl = script;
    // Whoever answers auto-detection (DHCP, a "wpad" name) could otherwise challenge the
    // script's download and collect the player's logon.
    options.fAutoLogonIfChallenged = FALSE;
    ProxyInfo info;
    if (!Require<GetProxyForUrlFn>(winhttp, "WinHttpGetProxyForUrl")(session.handle(), url.c_str(),
                                                                     &options, &info)) {
        const DWORD error = ::GetLastError();
        // Auto-detection that finds no script is the common case, not a fault.
        const std::string why = error == ERROR_WINHTTP_AUTODETECTION_FAILED
                                    ? "found no script"
                                    : Win32Error(error, "WinHttpGetProxyForUrl").what();
        failure +=
            std::string(failure.empty() ? "" : "; ") +
            (script ? "script " + WithoutUserInfo(Narrow(script)) : std::string("auto-detection")) +
            ": " + why;
        return std::nullopt;
    }
    ProxySettings settings{script ? ProxySource::Script : ProxySource::AutoDetected,
                           Text(info.lpszProxy),
                           Text(info.lpszProxyBypass),
                           {}};
    if (info.dwAccessType != WINHTTP_ACCESS_TYPE_NAMED_PROXY) settings.proxies = "DIRECT";
    return settings;
}

// What auto-detection and the script are asked: the helper thread's own copy.
struct Detection {
    std::wstring url;
    bool autoDetect;
    std::wstring script;  // empty when none is set
};

// Auto-detection first, then the script, as in Windows' own HTTP stack; source None, with why,
// where neither gives an answer. Throws nothing.
ProxySettings Detect(const Detection& detection) noexcept {
    ProxySettings none;
    try {
        const Module winhttp = SystemLibrary(L"winhttp.dll");
        const Session session(winhttp);
        std::optional<ProxySettings> found;
        if (detection.autoDetect)
            found = FromScript(winhttp, session, detection.url, nullptr, none.failure);
        if (!found && !detection.script.empty())
            found =
                FromScript(winhttp, session, detection.url, detection.script.c_str(), none.failure);
        if (found) return *found;
    } catch (const std::exception& failure) {
        try {
            none.failure += (none.failure.empty() ? "" : "; ") + std::string(failure.what());
        } catch (...) {
        }
    }
    return none;
}

}  // namespace

ProxyStart SystemProxyWin32::Start(const std::string& url,
                                   std::function<void(ProxySettings)> detected) {
    ProxyStart start;
    try {
        const Module winhttp = SystemLibrary(L"winhttp.dll");
        UserConfig config;
        if (!Require<GetUserConfigFn>(winhttp, "WinHttpGetIEProxyConfigForCurrentUser")(&config))
            ThrowLastError("WinHttpGetIEProxyConfigForCurrentUser");
        if (config.lpszProxy) {
            start.manual = ProxySettings{
                ProxySource::Named, Text(config.lpszProxy), Text(config.lpszProxyBypass), {}};
        }
        if (!config.fAutoDetect && !config.lpszAutoConfigUrl) return start;
        Detection detection{Widen(url), config.fAutoDetect != FALSE,
                            config.lpszAutoConfigUrl ? config.lpszAutoConfigUrl : L""};
        auto answer = std::make_shared<ProxySettings>();
        loop_.RunOffLoop(
            [detection = std::move(detection), answer] { *answer = Detect(detection); },
            [answer, detected = std::move(detected)] { detected(*answer); });
        start.detecting = true;
    } catch (const std::exception& failure) {
        start.manual.failure = failure.what();
    }
    return start;
}

}  // namespace gor::platform::win32
