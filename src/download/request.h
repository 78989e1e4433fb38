// The HTTP/1.1 GET request the control sends once its socket reports the connection.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace gor::download {

// The request target a proxy is asked for: "http://<host>[:<port>]<path>", the port named
// unless it is 80.
std::string AbsoluteTarget(std::string_view host, std::string_view port, std::string_view path);

// Composes the whole request, every line ended by CR LF, in this order: "GET <path> HTTP/1.1"
// (`path`: the path, or through a proxy AbsoluteTarget), "Host: <host>",
// "Referrer: <referrer>", "Accept: */*", "Connection: Close", "User-Agent: Tessix Downloader",
// then "Range: bytes=<rangeFrom>-" when `rangeFrom` is given, "If-Range: <ifRange>" when that
// is not empty, then the empty line. Path and host are sent exactly as they stand.
std::string ComposeRequest(std::string_view path, std::string_view host, std::string_view referrer,
                           std::optional<std::uint64_t> rangeFrom, std::string_view ifRange = {});

}  // namespace gor::download
