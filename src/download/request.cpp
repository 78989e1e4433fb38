// The HTTP/1.1 GET request of the header probe and of the transfer.
#include "download/request.h"

#include "download/text.h"

namespace gor::download {

std::string AbsoluteTarget(std::string_view host, std::string_view port, std::string_view path) {
    std::string target("http://");
    target.append(host);
    if (port != "80") target.append(":").append(port);
    return target.append(path);
}

std::string ComposeRequest(std::string_view path, std::string_view host, std::string_view referrer,
                           std::optional<std::uint64_t> rangeFrom, std::string_view ifRange) {
    std::string request;
    request.reserve(160 + path.size() + host.size() + referrer.size() + ifRange.size());
    request.append("GET ").append(path).append(" HTTP/1.1").append(kLineEnd);
    request.append("Host: ").append(host).append(kLineEnd);
    request.append("Referrer: ").append(referrer).append(kLineEnd);
    request.append("Accept: */*").append(kLineEnd);
    request.append("Connection: Close").append(kLineEnd);
    request.append("User-Agent: Tessix Downloader").append(kLineEnd);
    if (rangeFrom) {
        request.append("Range: bytes=").append(std::to_string(*rangeFrom)).append("-");
        request.append(kLineEnd);
    }
    if (!ifRange.empty()) request.append("If-Range: ").append(ifRange).append(kLineEnd);
    request.append(kLineEnd);
    return request;
}

}  // namespace gor::download
