// WinHttpGetIEProxyConfigForCurrentUser at once, and WinHttpGetProxyForUrl off the loop, one
// helper thread each, where auto-detection or a configuration script is set.
#include "platform/win32/system_proxy_win32.h"

#include <windows.h>
#include <winhttp.h>

#include <memory>
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

// What auto-detection (`script` null) or the script at `script` says for `url`, asked in a
// session of its own; ERROR_SUCCESS, or the error, with nothing in `found`.
DWORD Ask(Module winhttp, const std::wstring& url, LPCWSTR script, bool autoLogon,
          ProxySettings& found) {
    const Session session(winhttp);
    WINHTTP_AUTOPROXY_OPTIONS options{};
    options.dwFlags = script ? WINHTTP_AUTOPROXY_CONFIG_URL : WINHTTP_AUTOPROXY_AUTO_DETECT;
    options.dwAutoDetectFlags =
        script ? 0 : WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
    options.lpszAutoConfigUrl = script;
    options.fAutoLogonIfChallenged = autoLogon ? TRUE : FALSE;
    ProxyInfo info;
    if (!Require<GetProxyForUrlFn>(winhttp, "WinHttpGetProxyForUrl")(session.handle(), url.c_str(),
                                                                     &options, &info)) {
        return ::GetLastError();
    }
    found = ProxySettings{script ? ProxySource::Script : ProxySource::AutoDetected,
                          Text(info.lpszProxy),
                          Text(info.lpszProxyBypass),
                          {}};
    if (info.dwAccessType != WINHTTP_ACCESS_TYPE_NAMED_PROXY) found.proxies = "DIRECT";
    return ERROR_SUCCESS;
}

// What auto-detection (`script` empty) or the script at `script` is asked: the helper
// thread's own copy.
struct Detection {
    std::wstring url;
    std::wstring script;
};

// The answer of auto-detection or of the script; source None, with why, where it gives none.
// Throws nothing.
ProxySettings Detect(const Detection& detection) noexcept {
    ProxySettings answer;
    const LPCWSTR script = detection.script.empty() ? nullptr : detection.script.c_str();
    try {
        const Module winhttp = SystemLibrary(L"winhttp.dll");
        // The player's logon is offered only where Windows' own pattern offers it: to the
        // script the administrator set, once it asked for one, in a new session as that error
        // wants. Whoever answers auto-detection (DHCP, a "wpad" name) could otherwise
        // challenge the download and collect the logon.
        DWORD error = Ask(winhttp, detection.url, script, false, answer);
        if (error == ERROR_WINHTTP_LOGIN_FAILURE && script)
            error = Ask(winhttp, detection.url, script, true, answer);
        if (error == ERROR_SUCCESS) return answer;
        // Auto-detection that finds no script is the common case, not a fault.
        answer.failure = error == ERROR_WINHTTP_AUTODETECTION_FAILED
                             ? "found no script"
                             : Win32Error(error, "WinHttpGetProxyForUrl").what();
    } catch (const std::exception& failure) {
        try {
            answer.failure = failure.what();
        } catch (...) {
        }
    }
    try {
        answer.failure.insert(
            0, (script ? "script " + WithoutUserInfo(Narrow(script)) : "auto-detection") + ": ");
    } catch (...) {
    }
    return answer;
}

}  // namespace

ProxyStart SystemProxyWin32::Start(const std::string& url,
                                   std::function<void(ProxySource, ProxySettings)> detected) {
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
        // Each asked on a helper thread of its own, so a slow detection leaves the script its
        // share of the wait.
        const auto ask = [&](ProxySource asked, std::wstring script) {
            auto answer = std::make_shared<ProxySettings>();
            loop_.RunOffLoop([detection = Detection{Widen(url), std::move(script)},
                              answer] { *answer = Detect(detection); },
                             [asked, answer, detected] { detected(asked, *answer); });
        };
        if (config.fAutoDetect) {
            ask(ProxySource::AutoDetected, L"");
            start.askingAutoDetection = true;
        }
        if (config.lpszAutoConfigUrl) {
            ask(ProxySource::Script, config.lpszAutoConfigUrl);
            start.askingScript = true;
        }
    } catch (const std::exception& failure) {
        start.manual.failure = failure.what();
    }
    return start;
}

}  // namespace gor::platform::win32
