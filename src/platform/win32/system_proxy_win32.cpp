// WinHttpGetIEProxyConfigForCurrentUser, and WinHttpGetProxyForUrl where auto-detection or a
// configuration script decides, on a helper thread that wakes the loop when done.
#include "platform/win32/system_proxy_win32.h"

#include <windows.h>
#include <winhttp.h>

#include <memory>

#include "platform/win32/system_library.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/win32_error.h"

namespace gor::platform::win32 {

struct ProxyLookup {
    std::wstring url;
    Mailbox loop;            // where the end is told, which wakes a DispatchEvents that sleeps
    ProxySettings settings;  // the helper thread's until `done` is set, then the UI thread's
    LONG done = 0;
    LONG owners = 2;
    void Release() {
        if (::InterlockedDecrement(&owners) == 0) delete this;
    }
};

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
    options.fAutoLogonIfChallenged = TRUE;
    ProxyInfo info;
    if (!Require<GetProxyForUrlFn>(winhttp, "WinHttpGetProxyForUrl")(session.handle(), url.c_str(),
                                                                     &options, &info)) {
        const DWORD error = ::GetLastError();
        // Auto-detection that finds no script is the common case, not a fault.
        const std::string why = error == ERROR_WINHTTP_AUTODETECTION_FAILED
                                    ? "found no script"
                                    : Win32Error(error, "WinHttpGetProxyForUrl").what();
        failure += std::string(failure.empty() ? "" : "; ") +
                   (script ? "script " + Narrow(script) : std::string("auto-detection")) + ": " +
                   why;
        return std::nullopt;
    }
    ProxySettings settings{script ? ProxySource::Script : ProxySource::AutoDetected,
                           Text(info.lpszProxy),
                           Text(info.lpszProxyBypass),
                           {}};
    if (info.dwAccessType != WINHTTP_ACCESS_TYPE_NAMED_PROXY) settings.proxies = "DIRECT";
    return settings;
}

// Auto-detection and a script decide first, as in Windows' own HTTP stack; where neither
// gives an answer, the proxy named by hand does, with its bypass list.
ProxySettings LookUp(const std::wstring& url) {
    const Module winhttp = SystemLibrary(L"winhttp.dll");
    UserConfig config;
    if (!Require<GetUserConfigFn>(winhttp, "WinHttpGetIEProxyConfigForCurrentUser")(&config))
        ThrowLastError("WinHttpGetIEProxyConfigForCurrentUser");
    std::string failure;
    if (config.fAutoDetect || config.lpszAutoConfigUrl) {
        const Session session(winhttp);
        std::optional<ProxySettings> found;
        if (config.fAutoDetect) found = FromScript(winhttp, session, url, nullptr, failure);
        if (!found && config.lpszAutoConfigUrl)
            found = FromScript(winhttp, session, url, config.lpszAutoConfigUrl, failure);
        if (found) return *found;
    }
    return ProxySettings{config.lpszProxy ? ProxySource::Named : ProxySource::None,
                         Text(config.lpszProxy), Text(config.lpszProxyBypass), failure};
}

DWORD WINAPI Run(void* parameter) {
    auto* lookup = static_cast<ProxyLookup*>(parameter);
    try {
        lookup->settings = LookUp(lookup->url);
    } catch (const std::exception& failure) {
        try {
            lookup->settings.failure = failure.what();
        } catch (...) {
        }
    }
    ::InterlockedExchange(&lookup->done, 1);
    lookup->loop.Send([] {});  // the result is read by Finished; this only wakes the wait
    lookup->Release();
    return 0;
}

}  // namespace

SystemProxyWin32::~SystemProxyWin32() {
    if (lookup_) lookup_->Release();
}

void SystemProxyWin32::Start(const std::string& url) {
    try {
        auto lookup = std::make_unique<ProxyLookup>();
        lookup->url = Widen(url);
        lookup->loop = loop_;
        // The mingw-w64 win32 thread model has no std::thread; a plain system thread suffices.
        const HANDLE thread = ::CreateThread(nullptr, 0, &Run, lookup.get(), 0, nullptr);
        if (!thread) ThrowLastError("CreateThread");
        ::CloseHandle(thread);
        lookup_ = lookup.release();
    } catch (const std::exception& failure) {
        notStarted_.emplace().failure = failure.what();
    }
}

std::optional<ProxySettings> SystemProxyWin32::Finished() {
    if (!lookup_) return notStarted_;
    if (!::InterlockedCompareExchange(&lookup_->done, 0, 0)) return std::nullopt;
    return lookup_->settings;
}

}  // namespace gor::platform::win32
