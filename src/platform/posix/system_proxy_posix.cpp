// The environment's proxy settings: an empty value as unset.
#include "platform/posix/system_proxy_posix.h"

#include <cstdlib>

namespace gor::platform::posix {

namespace {

std::string Variable(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

}  // namespace

ProxyStart SystemProxyPosix::Start(const std::string&,
                                   std::function<void(ProxySource, ProxySettings)>) {
    ProxyStart start;
    start.manual.proxies = Variable("http_proxy");
    if (!start.manual.proxies.empty()) {
        start.manual.source = ProxySource::Environment;
        start.manual.bypass = Variable("no_proxy");
        if (start.manual.bypass.empty()) start.manual.bypass = Variable("NO_PROXY");
    }
    return start;
}

}  // namespace gor::platform::posix
