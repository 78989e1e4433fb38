// The publisher pin's decision on what the system found: its verdict, the signer's thumbprint
// against each pinned one, for a verdict on the chain's root or dates what else was verified,
// and the name and version the publisher gave the file.
#include "launcher/trust/publisher.h"

#include <algorithm>
#include <cctype>
#include <string>
#include <system_error>

#include "launcher/base/joined.h"
#include "launcher/base/paths.h"
#include "platform/hex_text.h"

namespace gor::launcher {

namespace {

constexpr std::size_t kSha1Digits = 40;
constexpr char kPinSeparator = ';';

// What the system's verdict is about: only the file's own bytes are a verdict on the file.
enum class Concern {
    Trusted,
    Forgivable,  // the chain's root or the certificate's dates: nothing a pin needs
    Machine,     // the machine's own distrust: obeyed, but nothing found in the file
    File,        // unsigned, altered, damaged, or signed in a way no pin mends
};

Concern ConcernOf(std::uint32_t status) {
    switch (status) {
        case 0:
            return Concern::Trusted;
        case platform::kUntrustedRoot:
        case platform::kChaining:
        case platform::kExpired:
        case platform::kPeriodNesting:
        case platform::kTimeStamp:
            return Concern::Forgivable;
        case platform::kSubjectNotTrusted:
        case platform::kExplicitDistrust:
        case platform::kRevoked:
            return Concern::Machine;
        default:
            return Concern::File;
    }
}

// "No signature" means unsigned only when the last error agrees; any other last error passed
// on with it is what the system found wrong in the signature's bytes.
std::string FileRefusal(const platform::SignatureFacts& facts) {
    const std::uint32_t last = facts.lastError;
    if (facts.status != platform::kNoSignature || last == 0 || last == platform::kNoSignature ||
        last == platform::kSubjectFormUnknown || last == platform::kProviderUnknown)
        return facts.statusText;
    return Joined({"a damaged signature (", facts.statusText, "; last error 0x",
                   platform::HexDigits(last, 8), ")"});
}

PublisherVerdict Distrusted(std::string_view who, std::string_view why) {
    return {
        false,
        Joined({"this machine's policy distrusts ", who, ": ", why, "; no verdict on the file"}),
        "", true};
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
        text += Joined({std::to_string((version >> shift) & 0xFFFF), shift ? "." : ""});
    return text;
}

}  // namespace

PublisherVerdict DecideSigner(const platform::SignatureFacts& facts, std::string_view pins) {
    const Concern concern = ConcernOf(facts.status);
    if (concern == Concern::File) return {false, FileRefusal(facts), ""};
    if (facts.sha1.empty() && facts.sha256.empty()) {
        if (concern == Concern::Machine) return Distrusted("its signer", facts.statusText);
        return {false, "Windows names no signer's certificate", ""};
    }
    std::string signer, pinned;
    bool matched = false;
    for (std::size_t start = 0; start <= pins.size() && !matched;) {
        const std::size_t end = std::min(pins.find(kPinSeparator, start), pins.size());
        const std::string_view pin = pins.substr(start, end - start);
        signer = pin.size() == kSha1Digits ? facts.sha1 : facts.sha256;
        matched = signer == pin;
        pinned += Joined({pinned.empty() ? "" : " or ", pin});
        start = end + 1;
    }
    if (!matched)
        return {false, Joined({"signed by ", signer, ", not by the pinned ", pinned}), ""};
    if (concern == Concern::Trusted) return {true, signer, signer};
    if (concern == Concern::Machine)
        return Distrusted(Joined({"the pinned ", signer}), facts.statusText);
    if (!facts.contentVerified)
        return {false, Joined({facts.statusText, "; its digest or signature was not verified"}),
                ""};
    if (ConcernOf(facts.chainPolicy) == Concern::Machine)
        return Distrusted(Joined({"the pinned ", signer}), facts.chainPolicyText);
    if (facts.chainPolicy != 0)
        return {false, Joined({facts.statusText, "; ", facts.chainPolicyText}), ""};
    const bool root =
        facts.status == platform::kUntrustedRoot || facts.status == platform::kChaining;
    return {true,
            root ? Joined({signer, " (its chain ends at a root Windows does not know)"})
                 : Joined({signer, " (", facts.statusText,
                           ": dates are not judged for a pinned signer)"}),
            signer};
}

PublisherVerdict DecideUpdater(const PublisherVerdict& signer, const VersionFacts& version,
                               std::uint64_t minimumVersion) {
    if (!SameName(version.originalFilename, kUpdaterName)) {
        const std::string_view named = version.originalFilename.empty()
                                           ? "it has no version resource naming it"
                                           : "its version resource names it ";
        return {false,
                Joined({"signed by ", signer.signer, ", but ", named, version.originalFilename,
                        ", not ", kUpdaterName}),
                ""};
    }
    if (version.fileVersion < minimumVersion) {
        return {false,
                Joined({"signed by ", signer.signer, ", but its version ",
                        VersionText(version.fileVersion),
                        " is below the lowest this launcher takes, ", VersionText(minimumVersion)}),
                ""};
    }
    return signer;
}

PublisherVerdict PinnedPublisher::Check(platform::HeldFile& file, const std::string& path) {
    PublisherVerdict signer = DecideSigner(signatures_.VerifySigner(file, path), thumbprint_);
    if (signer.machinePolicy)
        throw std::system_error(std::make_error_code(std::errc::operation_not_permitted),
                                signer.reason);
    if (!signer.pinned) return signer;
    // The bytes the signature covers, through the hold: no second open, no file beside it.
    const VersionFacts version = ReadVersionResource(
        [&](std::uint64_t offset, std::size_t count) { return file.ReadAt(offset, count); });
    return DecideUpdater(signer, version, minimumVersion_);
}

}  // namespace gor::launcher
