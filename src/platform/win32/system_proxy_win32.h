// The current user's proxy settings as Windows' own HTTP stack reads them (winhttp.dll, loaded
// at run time from the system folder), resolved for one URL on a helper thread.
#pragma once

#include <optional>
#include <string>

#include "platform/system_proxy.h"
#include "platform/win32/event_loop_win32.h"

namespace gor::platform::win32 {

// What the UI thread and the helper thread share; the last of them to let go frees it.
struct ProxyLookup;

class SystemProxyWin32 final : public SystemProxy {
  public:
    // The lookup's end is told through `loop` (EventLoopWin32::mailbox()).
    explicit SystemProxyWin32(Mailbox loop) : loop_(loop) {}
    ~SystemProxyWin32() override;
    SystemProxyWin32(const SystemProxyWin32&) = delete;
    SystemProxyWin32& operator=(const SystemProxyWin32&) = delete;

    // Starts the helper thread, which wakes the loop through its mailbox when it is done.
    void Start(const std::string& url) override;
    std::optional<ProxySettings> Finished() override;

  private:
    Mailbox loop_;
    ProxyLookup* lookup_ = nullptr;  // the helper thread may outlive this object
    std::optional<ProxySettings> notStarted_;
};

}  // namespace gor::platform::win32
