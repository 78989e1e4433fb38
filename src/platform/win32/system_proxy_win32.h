// The current user's proxy settings as Windows' own HTTP stack reads them (winhttp.dll, loaded
// at run time from the system folder); auto-detection and a configuration script asked off the
// loop.
#pragma once

#include <functional>
#include <string>

#include "platform/event_loop.h"
#include "platform/system_proxy.h"

namespace gor::platform::win32 {

class SystemProxyWin32 final : public SystemProxy {
  public:
    // Auto-detection and the script are asked off `loop`, which must outlive this object.
    explicit SystemProxyWin32(EventLoop& loop) : loop_(loop) {}

    ProxyStart Start(const std::string& url,
                     std::function<void(ProxySource, ProxySettings)> detected) override;

  private:
    EventLoop& loop_;
};

}  // namespace gor::platform::win32
