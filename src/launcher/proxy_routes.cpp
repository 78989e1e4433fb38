// frmLaunch's ways to the update host: the system's proxies, looked up once per start, and
// the next route of their list when one takes no connection.
#include <optional>
#include <string>

#include "launcher/frm_launch.h"
#include "launcher/proxy_choice.h"

namespace gor::launcher {

// The lookup runs on while events are dispatched; one that outlasts its bound is left to end
// by itself, and the road goes direct.
void frmLaunch::LookUpProxy(const std::string& url) {
    if (!proxy_) return;
    proxy_->Start(url);
    const double deadline = loop_.Now() + kProxyLookupSeconds;
    std::optional<platform::ProxySettings> settings;
    while (!(settings = proxy_->Finished()) && loop_.Now() < deadline)
        loop_.DispatchEvents(deadline);
    if (!settings) {
        log_.Line("proxy: direct (the system gave no answer within " +
                  FormatLength(kProxyLookupSeconds) + " s)");
        return;
    }
    routes_ = ChooseRoutes(*settings, GorDownload1.host());
    log_.Line("proxy: " + DescribeRoutes(*settings, routes_));
    UseRoute(0);
}

void frmLaunch::UseRoute(std::size_t route) {
    route_ = route;
    GorDownload1.Proxy(routes_[route].host, routes_[route].port);
}

bool frmLaunch::NextRoute() {
    if (routeAnswered_ || route_ + 1 >= routes_.size()) return false;
    UseRoute(route_ + 1);
    log_.Line("no connection was made; next route: " +
              (routes_[route_].host.empty()
                   ? std::string("direct")
                   : HostPort(routes_[route_].host, routes_[route_].port)));
    return true;
}

}  // namespace gor::launcher
