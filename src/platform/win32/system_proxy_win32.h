// The current user's proxy settings as Windows' own HTTP stack reads them (winhttp.dll, loaded
// at run time from the system folder), resolved for one URL on a helper thread.
#pragma once

#include <optional>
#include <string>

#include "platform/system_proxy.h"

namespace gor::platform::win32 {

// What the UI thread and the helper thread share; the last of them to let go frees it.
struct ProxyLookup;

class SystemProxyWin32 final : public SystemProxy {
  public:
    SystemProxyWin32() = default;
    ~SystemProxyWin32() override;
    SystemProxyWin32(const SystemProxyWin32&) = delete;
    SystemProxyWin32& operator=(const SystemProxyWin32&) = delete;

    // Starts the helper thread, which posts WM_NULL to the calling thread when it is done.
    void Start(const std::string& url) override;
    std::optional<ProxySettings> Finished() override;

  private:
    ProxyLookup* lookup_ = nullptr;  // the helper thread may outlive this object
    std::optional<ProxySettings> notStarted_;
};

}  // namespace gor::platform::win32
