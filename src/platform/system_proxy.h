// The system's proxy settings for one URL: what the system's own HTTP stack would use to reach
// it, looked up without holding up the UI thread.
#pragma once

#include <optional>
#include <string>

namespace gor::platform {

// Where a proxy setting came from.
enum class ProxySource { None, Named, Script, AutoDetected, Environment };

struct ProxySettings {
    ProxySource source = ProxySource::None;
    // The proxies in the order to try, separated by ";" or blanks: "host[:port]",
    // "http=host[:port]", "http://host[:port]", or "DIRECT" where the list goes direct.
    std::string proxies;
    // Hosts reached without a proxy: Windows' bypass list, or no_proxy for Environment.
    std::string bypass;
    // Why the lookup found nothing to use ("" when it did not fail), for the log.
    std::string failure;
};

class SystemProxy {
  public:
    virtual ~SystemProxy() = default;
    // Starts looking up the settings that serve `url` and returns at once; once per object.
    // Its end wakes EventLoop::DispatchEvents. Throws nothing: a failure is a result.
    virtual void Start(const std::string& url) = 0;
    // The settings once the lookup has ended; nothing while it runs. Throws nothing.
    virtual std::optional<ProxySettings> Finished() = 0;
};

}  // namespace gor::platform
