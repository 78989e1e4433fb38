// The environment's proxy settings: the lower-case name first, an empty value as unset.
#include "platform/posix/system_proxy_posix.h"

#include <cstdlib>
#include <utility>

namespace gor::platform::posix {

namespace {

std::string Variable(const char* lower, const char* upper) {
    for (const char* name : {lower, upper}) {
        const char* value = std::getenv(name);
        if (value && *value) return value;
    }
    return {};
}

}  // namespace

void SystemProxyPosix::Start(const std::string&) {
    ProxySettings settings;
    settings.proxies = Variable("http_proxy", "HTTP_PROXY");
    if (!settings.proxies.empty()) {
        settings.source = ProxySource::Environment;
        settings.bypass = Variable("no_proxy", "NO_PROXY");
    }
    settings_ = std::move(settings);
}

}  // namespace gor::platform::posix
