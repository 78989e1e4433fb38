// Fuzz target: URL assignment. Any text cuts into host, port and path without a crash; the
// only failure is the overflow of a separator beyond the URL's 16-bit positions; host and
// path are what the rule says; a whole port's text reads back as itself.
#include "download/url.h"

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "download/number_rule.h"
#include "fuzz_check.h"

namespace {

using gor::fuzz::Require;

// A first byte of 1 lengthens the URL past the 16-bit positions, so the overflow rule is
// reached without inputs of 32 KiB.
std::string UrlFrom(const std::uint8_t* data, std::size_t size) {
    std::string url(reinterpret_cast<const char*>(data), size);
    if (!url.empty() && url[0] == '\x01') {
        const std::size_t pad = url.size() > 1 ? static_cast<std::uint8_t>(url[1]) % 16 : 0;
        url = std::string(gor::download::kMaxUrlPosition - 8 + pad, 'a') +
              url.substr(std::min<std::size_t>(2, url.size()));
    }
    return url;
}

// The rule written out plainly, as the reference the parser is held to. `portText` is what
// follows the host's colon.
void Expected(std::string url, std::string& host, std::string& path, std::string& portText) {
    for (std::size_t at = 0; (at = url.find("http://", at)) != std::string::npos;) {
        url.erase(at, 7);
    }
    while (!url.empty() && url.front() == ' ') url.erase(0, 1);
    while (!url.empty() && url.back() == ' ') url.pop_back();
    const auto slash = url.find('/');
    path = slash == std::string::npos ? "/" : url.substr(slash);
    host = url.substr(0, slash);
    const auto colon = host.find(':');
    portText = colon == std::string::npos ? "" : host.substr(colon + 1);
    host = host.substr(0, colon);
}

// A port number too large for a double overflows like a separator past the positions.
bool PortOverflows(const std::string& portText) {
    try {
        gor::download::NumberRule(portText);
        return false;
    } catch (const std::overflow_error&) {
        return true;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string url = UrlFrom(data, size);
    std::string expectedHost, expectedPath, portText;
    Expected(url, expectedHost, expectedPath, portText);
    std::string host, port, path;
    try {
        gor::download::AssignUrl(url, host, port, path);
    } catch (const std::overflow_error&) {
        Require(url.size() >= gor::download::kMaxUrlPosition || PortOverflows(portText),
                "overflow on a short URL");
        return 0;
    }
    Require(host == expectedHost, "host is not the text before the first slash and colon");
    Require(path == expectedPath, "path is not the text from the first slash");
    // A whole port reads back as itself; the text of any other number is the writer's choice.
    Require(!port.empty(), "no port");
    if (port.find_first_not_of("-0123456789") == std::string::npos) {
        Require(port == gor::download::NumberText(gor::download::NumberRule(port)),
                "port text does not read back as itself: " + port);
    }
    return 0;
}
