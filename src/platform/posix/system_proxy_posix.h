// The proxy settings of the environment, as curl reads them for an http URL: http_proxy
// (HTTP_PROXY when it is unset) and no_proxy (NO_PROXY).
#pragma once

#include <optional>
#include <string>

#include "platform/system_proxy.h"

namespace gor::platform::posix {

class SystemProxyPosix final : public SystemProxy {
  public:
    // Reads the environment at once: nothing to wait for.
    void Start(const std::string& url) override;
    std::optional<ProxySettings> Finished() override { return settings_; }

  private:
    std::optional<ProxySettings> settings_;
};

}  // namespace gor::platform::posix
