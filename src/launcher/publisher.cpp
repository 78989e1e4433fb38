// The publisher pin's decision on what the system found: its verdict, the signer's thumbprint
// against each pinned one, for a chain that ends at an unknown root what else was verified,
// and the name and version the publisher gave the file.
#include "launcher/publisher.h"

#include <algorithm>
#include <cctype>
#include <string>

#include "launcher/paths.h"

namespace gor::launcher {

namespace {

constexpr std::size_t kSha1Digits = 40;
constexpr char kPinSeparator = ';';

bool RootOnly(std::uint32_t status) {
    return status == platform::kUntrustedRoot || status == platform::kChaining;
}

bool SameName(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

// a.b.c.d, as Windows shows a FileVersion.
std::string VersionText(std::uint64_t version) {
    std::string text;
    for (int shift = 48; shift >= 0; shift -= 16)
        text += std::to_string((version >> shift) & 0xFFFF) + (shift ? "." : "");
    return text;
}

}  // namespace

PublisherVerdict DecideSigner(const platform::SignatureFacts& facts, std::string_view pins) {
    if (facts.status != 0 && !RootOnly(facts.status)) return {false, facts.statusText, ""};
    if (facts.sha1.empty() && facts.sha256.empty())
        return {false, "Windows names no signer's certificate", ""};
    std::string signer, pinned;
    bool matched = false;
    for (std::size_t start = 0; start <= pins.size() && !matched;) {
        const std::size_t end = std::min(pins.find(kPinSeparator, start), pins.size());
        const std::string_view pin = pins.substr(start, end - start);
        signer = pin.size() == kSha1Digits ? facts.sha1 : facts.sha256;
        matched = signer == pin;
        pinned += (pinned.empty() ? "" : " or ") + std::string(pin);
        start = end + 1;
    }
    if (!matched) return {false, "signed by " + signer + ", not by the pinned " + pinned, ""};
    if (facts.status == 0) return {true, signer, signer};
    if (!facts.contentVerified)
        return {false, facts.statusText + "; its digest or signature was not verified", ""};
    if (facts.chainPolicy != 0) return {false, facts.statusText + "; " + facts.chainPolicyText, ""};
    return {true, signer + " (its chain ends at a root Windows does not know)", signer};
}

PublisherVerdict DecideUpdater(const PublisherVerdict& signer,
                               const platform::VersionFacts& version,
                               std::uint64_t minimumVersion) {
    if (!SameName(version.originalFilename, kUpdaterName)) {
        return {false,
                "signed by " + signer.signer + ", but " +
                    (version.originalFilename.empty()
                         ? std::string("it has no version resource naming it")
                         : "its version resource names it " + version.originalFilename) +
                    ", not " + kUpdaterName,
                ""};
    }
    if (version.fileVersion < minimumVersion) {
        return {false,
                "signed by " + signer.signer + ", but its version " +
                    VersionText(version.fileVersion) +
                    " is below the lowest this launcher takes, " + VersionText(minimumVersion),
                ""};
    }
    return signer;
}

PublisherVerdict PinnedPublisher::Check(platform::HeldFile& file, const std::string& path) {
    PublisherVerdict signer = DecideSigner(signatures_.VerifySigner(file, path), thumbprint_);
    if (!signer.pinned) return signer;
    return DecideUpdater(signer, signatures_.ReadVersion(file, path), minimumVersion_);
}

}  // namespace gor::launcher
