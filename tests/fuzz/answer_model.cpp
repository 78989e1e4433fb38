// The reference model of an answer: header block, framing of the body, and what the control
// must make of it.
#include "answer_model.h"

#include <algorithm>

namespace gor::fuzz {
namespace {

constexpr std::string_view kBlankLine = "\r\n\r\n";
constexpr std::size_t kMaxHeader = 64 * 1024;  // the control collects headers up to this size
constexpr std::size_t kMaxDigits = 15;         // longer numbers are beyond what the model reads
constexpr std::size_t kMaxSizeLine = 256;      // longer chunk-size lines meet the control's bound

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return out;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return text;
}

std::optional<std::uint64_t> Digits(std::string_view text) {
    if (text.empty() || text.size() > kMaxDigits) return std::nullopt;
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return value;
}

int Hex(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The header block's fields that decide the body, by lower-case name, values trimmed.
struct Fields {
    bool clear = true;
    std::string status;
    std::vector<std::string> contentLength, transferEncoding, contentRange;
};

Fields ReadHeader(std::string_view header) {
    Fields fields;
    fields.status = header.size() > 9 ? std::string(header.substr(9, 3)) : "";
    // Every CR and LF stands in a CR LF pair: clients differ over lone ones.
    for (std::size_t i = 0; i < header.size(); ++i) {
        const bool pairCr = header[i] == '\r' && i + 1 < header.size() && header[i + 1] == '\n';
        const bool pairLf = header[i] == '\n' && i > 0 && header[i - 1] == '\r';
        if ((header[i] == '\r' && !pairCr) || (header[i] == '\n' && !pairLf)) {
            fields.clear = false;
        }
    }
    std::size_t start = 0;
    for (bool first = true; start <= header.size(); first = false) {
        std::size_t end = header.find("\r\n", start);
        if (end == std::string_view::npos) end = header.size();
        const std::string_view line = header.substr(start, end - start);
        start = end + 2;
        const auto colon = line.find(':');
        if (first) {
            if (colon != std::string_view::npos) fields.clear = false;  // a status line?
            continue;
        }
        // Folded lines and blanks around a name are read differently by different clients.
        if (!line.empty() && (line[0] == ' ' || line[0] == '\t')) fields.clear = false;
        if (colon == std::string_view::npos) continue;
        const std::string name = Lower(line.substr(0, colon));
        const std::string trimmedName = Lower(Trim(line.substr(0, colon)));
        const std::string value(Trim(line.substr(colon + 1)));
        std::vector<std::string>* slot = nullptr;
        if (trimmedName == "content-length") slot = &fields.contentLength;
        if (trimmedName == "transfer-encoding") slot = &fields.transferEncoding;
        if (trimmedName == "content-range") slot = &fields.contentRange;
        if (!slot) continue;
        if (name != trimmedName || value.find('\t') != std::string::npos) fields.clear = false;
        slot->push_back(value);
    }
    return fields;
}

Ending EndingOf(Cut cut) {
    switch (cut) {
        case Cut::Close:
            return Ending::Disconnected;
        case Cut::Error:
            return Ending::DataError;
        case Cut::Cancel:
            return Ending::canceled;
    }
    return Ending::DataError;
}

Expectation Unclear(std::string why) {
    Expectation e;
    e.why = "unclear: " + std::move(why);
    return e;
}

Expectation Clear(std::set<Ending> endings, std::vector<std::string> files, std::string why) {
    Expectation e;
    e.clear = true;
    e.endings = std::move(endings);
    e.files = std::move(files);
    e.why = std::move(why);
    return e;
}

// Files a transfer that wrote `written` after `base` may leave: exactly that, or the old file
// when nothing was written (the body had not started to replace it).
std::vector<std::string> Written(const std::string& old, const std::string& base,
                                 std::string_view written) {
    std::vector<std::string> files{base + std::string(written)};
    if (written.empty()) files.push_back(old);
    return files;
}

}  // namespace

const char* Name(Ending ending) {
    switch (ending) {
        case Ending::headerread:
            return "headerread";
        case Ending::downloaded:
            return "downloaded";
        case Ending::ServerError:
            return "DownloadError(true)";
        case Ending::DataError:
            return "DownloadError(false)";
        case Ending::Disconnected:
            return "Disconnected";
        case Ending::canceled:
            return "canceled";
    }
    return "?";
}

Chunked DecodeChunked(std::string_view in) {
    Chunked out;
    std::size_t i = 0;
    const std::size_t n = in.size();
    const auto stop = [&](Chunked::State state) {
        out.state = state;
        return out;
    };
    for (;;) {
        // chunk-size [ ";" extension ] CRLF
        const std::size_t lineStart = i;
        if (i == n) return stop(Chunked::Incomplete);
        if (Hex(in[i]) < 0) {
            return stop(in[i] == ' ' || in[i] == '\t' ? Chunked::Unclear : Chunked::Malformed);
        }
        std::uint64_t size = 0;
        std::size_t digits = 0;
        for (; i < n && Hex(in[i]) >= 0; ++i, ++digits) {
            if (digits == kMaxDigits) return stop(Chunked::Unclear);
            size = size * 16 + static_cast<std::uint64_t>(Hex(in[i]));
        }
        if (i < n && in[i] == ';') {
            while (i < n && in[i] != '\r' && in[i] != '\n') ++i;
        }
        if (i - lineStart > kMaxSizeLine) return stop(Chunked::Unclear);
        if (i == n) return stop(Chunked::Incomplete);
        if (in[i] != '\r') return stop(Chunked::Unclear);  // blanks, a lone LF, other text
        if (++i == n) return stop(Chunked::Incomplete);
        if (in[i++] != '\n') return stop(Chunked::Unclear);
        out.announced += size;
        if (out.announced > kOrdinaryBody) return stop(Chunked::Unclear);
        if (size == 0) break;

        // chunk-data CRLF
        const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(size, n - i));
        out.data.append(in.substr(i, take));
        i += take;
        if (take < size || i == n) return stop(Chunked::Incomplete);
        if (in[i] == '\n') return stop(Chunked::Unclear);
        if (in[i] != '\r') return stop(Chunked::Malformed);
        if (++i == n) return stop(Chunked::Incomplete);
        if (in[i++] != '\n') return stop(Chunked::Malformed);
    }
    // trailer-section CRLF: lines up to an empty one.
    for (;;) {
        const std::size_t lineStart = i;
        while (i < n && in[i] != '\r' && in[i] != '\n') ++i;
        if (i - lineStart > kMaxSizeLine) return stop(Chunked::Unclear);
        if (i == n) return stop(Chunked::LastChunk);
        if (in[i] == '\n') return stop(Chunked::Unclear);  // a lone LF
        if (i + 1 == n) return stop(Chunked::LastChunk);
        if (in[i + 1] != '\n') return stop(Chunked::Unclear);  // a lone CR
        if (i == lineStart) return stop(Chunked::Done);
        i += 2;
    }
}

Expectation ExpectProbe(const Delivery& answer, ProbeLength& length) {
    length = ProbeLength{ProbeLength::Unclear, 0};
    const std::string_view bytes = answer.bytes;
    const auto end = bytes.find(kBlankLine);
    if (end == std::string_view::npos) {
        if (bytes.size() >= kMaxHeader) return Unclear("probe header beyond the bound");
        return Clear({EndingOf(answer.cut)}, {}, "probe header cut short");
    }
    const Fields fields = ReadHeader(bytes.substr(0, end));
    if (!fields.clear) return Unclear("probe header of an unusual form");
    const bool ok = fields.status == "200" || fields.status == "206";
    // Differing lengths are refused in a download answer; in a probe they may be too.
    const auto& lengths = fields.contentLength;
    if (std::adjacent_find(lengths.begin(), lengths.end(), std::not_equal_to<>()) !=
        lengths.end()) {
        return Unclear("probe with differing lengths");
    }
    // A transfer coding overrides any Content-Length beside it (RFC 9112, 6.3).
    if (lengths.empty() || lengths[0].empty() || !fields.transferEncoding.empty()) {
        length = ProbeLength{ProbeLength::Unknown, 0};
    } else if (const auto value = Digits(lengths[0]); value && *value <= kOrdinaryBody) {
        length = ProbeLength{ProbeLength::Known, *value};
    } else {
        return Unclear("probe length of no plain meaning");  // a word, a sign, an overflow
    }
    Expectation e = Clear({Ending::headerread}, {}, ok ? "probe accepted" : "probe refused");
    if (!ok) e.endings.insert(Ending::ServerError);  // and headerread after it
    return e;
}

Expectation ExpectDownload(const std::string& old, const ProbeLength& probe,
                           const Delivery& answer) {
    const std::string_view bytes = answer.bytes;
    const std::uint64_t asked = old.empty() ? 0 : old.size() - 1;  // where the request starts
    const auto end = bytes.find(kBlankLine);
    if (end == std::string_view::npos) {
        if (bytes.size() >= kMaxHeader) return Unclear("download header beyond the bound");
        return Clear({EndingOf(answer.cut)}, {old}, "download header cut short");
    }
    const Fields fields = ReadHeader(bytes.substr(0, end));
    if (!fields.clear) return Unclear("download header of an unusual form");
    if (fields.status != "200" && fields.status != "206") {
        return Clear({Ending::ServerError}, {old}, "download refused by its status");
    }
    const bool partial = fields.status == "206";
    const bool chunked = !fields.transferEncoding.empty();
    if (chunked && (fields.transferEncoding.size() > 1 ||
                    Lower(fields.transferEncoding[0]) != "chunked" || partial)) {
        return Unclear("a transfer coding other than chunked alone");
    }
    std::vector<std::uint64_t> lengths;
    for (const std::string& value : fields.contentLength) {
        const auto length = Digits(value);
        if (!length || *length > kOrdinaryBody) return Unclear("a length of no plain meaning");
        lengths.push_back(*length);
    }
    const bool lengthsDiffer =
        std::adjacent_find(lengths.begin(), lengths.end(), std::not_equal_to<>()) != lengths.end();

    // Where the body lands and the length that completes the file.
    std::string base;
    std::optional<std::uint64_t> whole;
    if (partial) {
        if (fields.contentRange.size() != 1) return Unclear("206 without one Content-Range");
        const std::string& range = fields.contentRange[0];
        const auto dash = range.find('-'), slash = range.find('/');
        if (range.rfind("bytes ", 0) != 0 || dash == std::string::npos ||
            slash == std::string::npos || slash < dash) {
            return Unclear("a Content-Range of another form");
        }
        const auto first = Digits(range.substr(6, dash - 6));
        const auto last = Digits(range.substr(dash + 1, slash - dash - 1));
        const auto total = Digits(range.substr(slash + 1));
        if (!first || !last || !total || *first > *last || *last + 1 != *total ||
            *total > kOrdinaryBody) {
            return Unclear("a Content-Range that is not the rest of the resource");
        }
        if (!lengths.empty() && (lengthsDiffer || lengths[0] != *last - *first + 1)) {
            return Unclear("206 whose length is not its range's");
        }
        if (*first != asked) {
            return Clear({Ending::DataError}, {old}, "206 with a foreign range");
        }
        base = old.substr(0, *first);
        whole = *total;
    } else if (!chunked) {
        if (lengthsDiffer) return Clear({Ending::DataError}, {old, ""}, "differing lengths");
        if (!lengths.empty()) {
            whole = lengths[0];
        } else if (probe.kind == ProbeLength::Known) {
            whole = probe.value;
        } else if (probe.kind == ProbeLength::Unclear) {
            return Unclear("no length of its own after a probe of unclear length");
        }
    }

    const std::string_view body = bytes.substr(end + kBlankLine.size());
    // Body bytes that arrived in pieces before the disk filled: those are written.
    const std::size_t bodyStart = end + kBlankLine.size();
    const std::size_t beforeFull =
        answer.diskFullAt == std::string::npos
            ? body.size()
            : (answer.diskFullAt > bodyStart ? answer.diskFullAt - bodyStart : 0);
    const Ending cut = EndingOf(answer.cut);

    Expectation e;
    if (chunked) {
        const Chunked decoded = DecodeChunked(body);
        if (decoded.state == Chunked::Unclear) return Unclear("chunked framing of unusual form");
        const std::string writable = DecodeChunked(body.substr(0, beforeFull)).data;
        if (writable.size() < decoded.data.size()) {
            e = Clear({Ending::DataError}, {}, "chunked, disk full");
        } else if (decoded.state == Chunked::Done) {
            e = Clear({Ending::downloaded}, {base + decoded.data}, "chunked, whole");
        } else if (decoded.state == Chunked::LastChunk) {
            e = Clear({Ending::downloaded, cut}, {base + decoded.data}, "chunked, in trailers");
        } else if (decoded.state == Chunked::Incomplete) {
            e = Clear({cut}, Written(old, base, decoded.data), "chunked, cut short");
        } else {
            e = Clear({Ending::DataError}, {}, "chunked, malformed");
        }
        e.body = decoded.data;
    } else if (whole) {
        const std::uint64_t needed = *whole - base.size();
        const std::string_view wanted = body.substr(0, static_cast<std::size_t>(needed));
        if (beforeFull < wanted.size()) {
            e = Clear({Ending::DataError}, Written(old, base, wanted.substr(0, beforeFull)),
                      "length " + std::to_string(*whole) + ", disk full");
        } else if (wanted.size() == needed) {
            e = Clear({Ending::downloaded}, {base + std::string(wanted)},
                      "length " + std::to_string(*whole) + ", whole");
        } else {
            e = Clear({cut}, Written(old, base, wanted),
                      "length " + std::to_string(*whole) + ", cut short");
        }
        e.body = wanted;
        e.limit = *whole;
    } else {
        if (beforeFull < body.size()) {
            e = Clear({Ending::DataError}, Written(old, base, body.substr(0, beforeFull)),
                      "no length, disk full");
        } else {
            // Without a length the server's close ends the body.
            const Ending ending = answer.cut == Cut::Close ? Ending::downloaded : cut;
            e = Clear({ending}, Written(old, base, body), "no length");
        }
        e.body = body;
    }
    e.base = base;
    return e;
}

}  // namespace gor::fuzz
