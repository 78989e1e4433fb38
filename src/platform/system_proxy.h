// The system's proxy settings for one URL: what the system's own HTTP stack would use to reach
// it, looked up without holding up the UI thread.
#pragma once

#include <functional>
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

// What SystemProxy::Start finds at once.
struct ProxyStart {
    // The proxy set by hand with its bypass list (Windows) or the environment's; source None
    // when nothing is set, with why the settings could not be read in `failure`.
    ProxySettings manual;
    // Whether auto-detection or a configuration script is asked too, and so `detected` runs.
    bool detecting = false;
};

class SystemProxy {
  public:
    virtual ~SystemProxy() = default;
    // Reads the settings and returns at once; once per object. Where they name auto-detection
    // or a configuration script, starts asking them what serves `url` off the loop
    // (EventLoop::RunOffLoop); `detected` then runs on the loop's thread with their answer
    // (source Script or AutoDetected), or with source None and why in `failure` when they gave
    // none. It may run long after the caller stopped waiting, and must check that what it
    // touches still exists. Throws nothing: a failure is a result.
    virtual ProxyStart Start(const std::string& url,
                             std::function<void(ProxySettings)> detected) = 0;
};

}  // namespace gor::platform
