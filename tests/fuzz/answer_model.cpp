// The reference model of an answer: header block, framing of the body, and what the control
// must make of it.
#include "answer_model.h"

#include <algorithm>

#include "download/answer_limits.h"
#include "download/gor_download.h"

namespace gor::fuzz {
namespace {

constexpr std::string_view kBlankLine = "\r\n\r\n";
constexpr std::size_t kMaxHeader = download::kMaxAnswerHeader;
constexpr std::size_t kMaxDigits = 15;     // longer numbers are beyond what the model reads
constexpr std::size_t kMaxSizeLine = 256;  // longer chunk-size lines meet the control's bound
constexpr std::uint64_t kResumeOverlap = download::GorDownload::kResumeOverlap;

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return out;
}

std::string Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return std::string(text);
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsControl(char c) {
    return (static_cast<unsigned char>(c) < 32 && c != '\t') || c == 127;
}

bool IsTchar(char c) {
    const bool alnum = IsDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    return alnum || std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
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

// The header block's fields that decide the body, by lower-case name.
struct Fields {
    bool malformed = false;
    std::string status;
    std::vector<std::string> contentLength, transferEncoding, contentRange;
};

Fields ReadHeader(std::string_view header) {
    Fields fields;
    FieldList all;
    fields.malformed = !ReadHeaderPlainly(header, fields.status, all);
    for (const auto& [name, value] : all) {
        const std::string lower = Lower(name);
        if (lower == "content-length") fields.contentLength.push_back(value);
        if (lower == "transfer-encoding") fields.transferEncoding.push_back(value);
        if (lower == "content-range") fields.contentRange.push_back(value);
    }
    return fields;
}

// The final answer's header in `bytes` as a client collects it: interim answers (1xx but 101)
// skipped, every line ended by CR LF.
struct Head {
    enum Kind { Final, Cut, Malformed, Unclear } kind = Cut;
    Fields fields;
    std::size_t bodyStart = 0;  // in `bytes`
};

Head FindHead(std::string_view bytes) {
    Head head;
    for (std::size_t at = 0;;) {
        const std::string_view rest = bytes.substr(at);
        const std::size_t blank = rest.find(kBlankLine), bad = FirstBadLineEnd(rest);
        const std::size_t decided =
            std::min({bad + 1, blank == rest.npos ? rest.npos : blank + 4, rest.size()});
        if (at + decided + 8 > kMaxHeader) return head.kind = Head::Unclear, head;
        if (bad < blank) return head.kind = Head::Malformed, head;
        if (blank == rest.npos) return head.kind = Head::Cut, head;
        head.fields = ReadHeader(rest.substr(0, blank));
        if (head.fields.malformed) return head.kind = Head::Malformed, head;
        at += blank + 4;
        const std::string& status = head.fields.status;
        if (status[0] != '1' || status == "101") {
            head.kind = Head::Final;
            head.bodyStart = at;
            return head;
        }
    }
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

std::size_t FirstBadLineEnd(std::string_view bytes) {
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const bool loneCr = bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] != '\n';
        const bool bareLf = bytes[i] == '\n' && (i == 0 || bytes[i - 1] != '\r');
        if (loneCr || bareLf) return i;
    }
    return std::string_view::npos;
}

bool ReadHeaderPlainly(std::string_view header, std::string& code, FieldList& fields) {
    std::vector<std::string_view> lines;
    for (std::size_t start = 0;;) {
        const auto end = header.find("\r\n", start);
        lines.push_back(header.substr(start, end - start));
        if (end == std::string_view::npos) break;
        start = end + 2;
    }
    const std::string_view status = lines[0];
    if (status.size() < 12 || status.substr(0, 7) != "HTTP/1." || !IsDigit(status[7]) ||
        status[8] != ' ' || !IsDigit(status[9]) || !IsDigit(status[10]) || !IsDigit(status[11]) ||
        (status.size() > 12 && status[12] != ' ')) {
        return false;
    }
    code = status.substr(9, 3);
    for (const std::string_view line : lines) {
        if (std::any_of(line.begin(), line.end(), IsControl)) return false;
        if (line.data() == status.data()) continue;
        if (!line.empty() && (line[0] == ' ' || line[0] == '\t')) {
            if (fields.empty()) return false;
            std::string& value = fields.back().second;
            value = Trim(value + " " + Trim(line));  // the fold, blanks around it, is one space
            continue;
        }
        const auto colon = line.find(':');
        if (colon == 0 || colon == std::string_view::npos ||
            !std::all_of(line.begin(), line.begin() + colon, IsTchar)) {
            return false;
        }
        fields.emplace_back(line.substr(0, colon), Trim(line.substr(colon + 1)));
    }
    return true;
}

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
        if (in[i] == ' ' || in[i] == '\t') return stop(Chunked::Unclear);  // blanks after it
        if (in[i] != '\r') return stop(Chunked::Malformed);                // a bare LF, other text
        if (++i == n) return stop(Chunked::Incomplete);
        if (in[i++] != '\n') return stop(Chunked::Malformed);
        out.announced += size;
        if (out.announced > kOrdinaryBody) return stop(Chunked::Unclear);
        if (size == 0) break;

        // chunk-data CRLF
        const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(size, n - i));
        out.data.append(in.substr(i, take));
        i += take;
        if (take < size || i == n) return stop(Chunked::Incomplete);
        if (in[i] != '\r') return stop(Chunked::Malformed);
        if (++i == n) return stop(Chunked::Incomplete);
        if (in[i++] != '\n') return stop(Chunked::Malformed);
    }
    // trailer-section CRLF: field lines up to an empty one. A line is judged as far as it
    // came: a byte no field line may hold there is refused when it is seen.
    bool field = false;  // a folded line continues a field
    const auto broken = [&](std::string_view line, bool ended) {
        if (line.empty()) return false;
        if (std::any_of(line.begin(), line.end(), IsControl)) return true;
        if (line[0] == ' ' || line[0] == '\t') return !field;
        const auto colon = line.find(':');
        const std::string_view name = line.substr(0, colon);
        return colon == 0 || !std::all_of(name.begin(), name.end(), IsTchar) ||
               (ended && colon == std::string_view::npos);
    };
    for (;;) {
        const std::size_t lineStart = i;
        while (i < n && in[i] != '\r' && in[i] != '\n') ++i;
        if (i - lineStart > kMaxSizeLine) return stop(Chunked::Unclear);
        const std::string_view line = in.substr(lineStart, i - lineStart);
        if (broken(line, i < n)) return stop(Chunked::Malformed);
        if (i == n) return stop(Chunked::LastChunk);
        if (in[i] == '\n') return stop(Chunked::Malformed);  // a bare LF
        if (i + 1 == n) return stop(Chunked::LastChunk);
        if (in[i + 1] != '\n') return stop(Chunked::Malformed);  // a lone CR
        if (line.empty()) return stop(Chunked::Done);
        field = true;
        i += 2;
    }
}

// What the Content-Length fields say: nothing, one length, lengths that differ, or a value
// that is no length (no digits, other characters, or too many digits for the model to read).
struct Lengths {
    enum Kind { None, One, Differ, Malformed, Unclear } kind = None;
    std::uint64_t value = 0;
};

Lengths ReadLengths(const std::vector<std::string>& values) {
    Lengths lengths;
    for (const std::string& text : values) {
        if (text.empty() || !std::all_of(text.begin(), text.end(), IsDigit)) {
            return {Lengths::Malformed, 0};
        }
        const auto value = Digits(text);
        if (!value) lengths.kind = Lengths::Unclear;
        if (lengths.kind == Lengths::Unclear) continue;
        if (lengths.kind == Lengths::One && lengths.value != *value) lengths.kind = Lengths::Differ;
        if (lengths.kind == Lengths::None) lengths = {Lengths::One, *value};
    }
    return lengths;
}

Expectation ExpectProbe(const Delivery& answer, ProbeLength& length) {
    length = ProbeLength{ProbeLength::Unclear, 0};
    const Head head = FindHead(answer.bytes);
    if (head.kind == Head::Unclear) return Unclear("probe header beyond the bound");
    if (head.kind == Head::Cut) return Clear({EndingOf(answer.cut)}, {}, "probe header cut short");
    if (head.kind == Head::Malformed) return Clear({Ending::DataError}, {}, "probe malformed");
    const Fields& fields = head.fields;
    const bool ok = fields.status == "200" || fields.status == "206";
    // A transfer coding overrides any Content-Length beside it (RFC 9112, 6.3); a value that
    // is no length gives none.
    const Lengths lengths =
        fields.transferEncoding.empty() ? ReadLengths(fields.contentLength) : Lengths{};
    if (lengths.kind == Lengths::Unclear) return Unclear("probe length of many digits");
    if (lengths.kind == Lengths::Differ && ok) {
        return Clear({Ending::DataError}, {}, "probe with differing lengths");
    }
    if (lengths.kind == Lengths::One && lengths.value <= kOrdinaryBody) {
        length = ProbeLength{ProbeLength::Known, lengths.value};
    } else if (lengths.kind != Lengths::One) {
        length = ProbeLength{ProbeLength::Unknown, 0};
    }
    Expectation e = Clear({Ending::headerread}, {}, ok ? "probe accepted" : "probe refused");
    if (!ok) e.endings.insert(Ending::ServerError);  // and headerread after it
    return e;
}

Expectation ExpectDownload(const std::string& old, const ProbeLength& probe,
                           const Delivery& answer) {
    const std::string_view bytes = answer.bytes;
    // Where the request starts: the last bytes held are asked for again, to be compared.
    const std::uint64_t held = old.size();
    const std::uint64_t asked = held - std::min<std::uint64_t>(held, kResumeOverlap);
    const Head head = FindHead(bytes);
    if (head.kind == Head::Unclear) return Unclear("download header beyond the bound");
    if (head.kind == Head::Cut) {
        return Clear({EndingOf(answer.cut)}, {old}, "download header cut short");
    }
    if (head.kind == Head::Malformed) return Clear({Ending::DataError}, {old}, "malformed");
    const Fields& fields = head.fields;
    if (fields.status != "200" && fields.status != "206") {
        return Clear({Ending::ServerError}, {old}, "download refused by its status");
    }
    const bool partial = fields.status == "206";
    const bool chunked = !fields.transferEncoding.empty();
    if (chunked && (fields.transferEncoding.size() > 1 ||
                    Lower(fields.transferEncoding[0]) != "chunked" || partial)) {
        return Unclear("a transfer coding other than chunked alone");
    }
    const Lengths lengths = chunked ? Lengths{} : ReadLengths(fields.contentLength);
    if (lengths.kind == Lengths::Unclear ||
        (lengths.kind == Lengths::One && lengths.value > kOrdinaryBody)) {
        return Unclear("a length beyond the ordinary");
    }
    if (lengths.kind == Lengths::Malformed || lengths.kind == Lengths::Differ) {
        return Clear({Ending::DataError}, {old}, "lengths that are no number or differ");
    }

    // Where the body lands and the length that completes the file; without one, the length the
    // body must have by the close.
    std::string base;
    std::optional<std::uint64_t> whole, byClose, fileEnd;
    // The probe's length judges whatever the answer frames: a file of another length is refused
    // before a byte is written.
    const auto judged = [&](std::uint64_t end) {
        return probe.kind != ProbeLength::Known || probe.value == end;
    };
    if (probe.kind == ProbeLength::Unclear) return Unclear("after a probe of unclear length");
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
        if (*first != asked ||
            (lengths.kind == Lengths::One && lengths.value != *last - *first + 1)) {
            return Clear({Ending::DataError}, {old}, "206 with a foreign range or another length");
        }
        if (!judged(*total)) return Clear({Ending::DataError}, {old}, "206 of another total");
        base = old.substr(0, *first);
        // Without a Content-Length the piece runs until the close and must fill the range.
        (lengths.kind == Lengths::One ? whole : byClose) = *total - *first;
        fileEnd = *total;
        // The piece starts with the last bytes held again: other bytes there, or a file that
        // ends inside them, are another file's.
        const std::string_view piece = bytes.substr(head.bodyStart);
        const std::string_view overlap = std::string_view(old).substr(asked);
        const std::size_t compared = std::min(piece.size(), overlap.size());
        if (*total < held || piece.substr(0, compared) != overlap.substr(0, compared))
            return Clear({Ending::DataError}, {std::string(), old}, "206 not continuing the old");
    } else if (chunked) {
        if (probe.kind == ProbeLength::Known) fileEnd = probe.value;
    } else {
        if (lengths.kind == Lengths::One) {
            if (!judged(lengths.value)) {
                return Clear({Ending::DataError}, {old}, "a length other than the probe's");
            }
            whole = lengths.value;
        } else if (probe.kind == ProbeLength::Known) {
            byClose = probe.value;
        }
    }
    if (!fileEnd) fileEnd = whole ? whole : byClose;

    const std::string_view body = bytes.substr(head.bodyStart);
    // Body bytes that arrived in pieces before the disk filled: those are written.
    const std::size_t beforeFull =
        answer.diskFullAt == std::string::npos
            ? body.size()
            : (answer.diskFullAt > head.bodyStart ? answer.diskFullAt - head.bodyStart : 0);
    const Ending cut = EndingOf(answer.cut);

    Expectation e;
    if (chunked) {
        const Chunked decoded = DecodeChunked(body);
        if (decoded.state == Chunked::Unclear) return Unclear("chunked framing of unusual form");
        const std::string writable = DecodeChunked(body.substr(0, beforeFull)).data;
        const bool fits = !fileEnd || decoded.data.size() <= *fileEnd;
        const bool meets = !fileEnd || decoded.data.size() == *fileEnd;
        if (writable.size() < decoded.data.size() || !fits) {
            e = Clear({Ending::DataError}, {}, "chunked, disk full or past the probe's length");
        } else if (!meets && decoded.state == Chunked::Done) {
            e = Clear({Ending::DataError}, {}, "chunked, short of the probe's length");
        } else if (!meets && decoded.state == Chunked::LastChunk) {
            e = Clear({Ending::DataError, cut}, {}, "chunked, short, in trailers");
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
        const std::uint64_t needed = *fileEnd - base.size();
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
    } else if (byClose && body.size() > *byClose) {
        // Past the probe's length: refused before those bytes are written.
        e = Clear({Ending::DataError}, {}, "until the close, longer than the probe's length");
        e.body = body.substr(0, static_cast<std::size_t>(*byClose));
    } else {
        if (beforeFull < body.size()) {
            e = Clear({Ending::DataError}, Written(old, base, body.substr(0, beforeFull)),
                      "until the close, disk full");
        } else {
            // The server's close ends the body; short of a length known elsewhere it is a cut.
            const bool met = !byClose || body.size() == *byClose;
            const Ending ending = answer.cut != Cut::Close || !met ? cut : Ending::downloaded;
            e = Clear({ending}, Written(old, base, body), "until the close");
        }
        e.body = body;
    }
    e.limit = fileEnd;
    e.base = base;
    return e;
}

}  // namespace gor::fuzz
