// The system's proxy settings for one URL: what the system's own HTTP stack would use to reach
// it, looked up without holding up the UI thread.
#pragma once

#include <functional>
#include <string>
#include <string_view>

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
    // Whether auto-detection and the configuration script set by the administrator are asked
    // too, each on its own; `detected` runs once for each one asked.
    bool askingAutoDetection = false;
    bool askingScript = false;
};

// `text` (a URL or a proxy entry: "http://user:pw@host:port/", "http=user@host") without the
// user information before its host, which may carry a password: no place for the log.
std::string WithoutUserInfo(std::string_view text);

class SystemProxy {
  public:
    virtual ~SystemProxy() = default;
    // Reads the settings and returns at once; once per object. Where they name auto-detection
    // or a configuration script, starts asking each what serves `url` off the loop, side by
    // side (EventLoop::RunOffLoop); `detected` then runs on the loop's thread for each, with
    // the one `asked` (AutoDetected or Script) and its answer (source `asked`), or source None
    // and why in `failure` when it gave none. It may run long after the caller stopped
    // waiting, and must check that what it touches still exists. Throws nothing: a failure is
    // a result.
    virtual ProxyStart Start(const std::string& url,
                             std::function<void(ProxySource asked, ProxySettings)> detected) = 0;
};

}  // namespace gor::platform
