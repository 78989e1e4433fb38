// The proxy settings of the environment, as curl reads them for an http URL: http_proxy (only
// the lower-case name: a web server turns a request's "Proxy:" field into HTTP_PROXY) and
// no_proxy (NO_PROXY).
#pragma once

#include <functional>
#include <string>

#include "platform/system_proxy.h"

namespace gor::platform::posix {

class SystemProxyPosix final : public SystemProxy {
  public:
    // Reads the environment at once: nothing is detected.
    ProxyStart Start(const std::string& url,
                     std::function<void(ProxySource, ProxySettings)> detected) override;
};

}  // namespace gor::platform::posix
