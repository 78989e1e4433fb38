// The publisher pin's decision on what the system found: its verdict, the signer's thumbprint,
// and for a chain that ends at an unknown root, what else was verified.
#include "launcher/publisher.h"

namespace gor::launcher {

namespace {

constexpr std::size_t kSha1Digits = 40;

bool RootOnly(std::uint32_t status) {
    return status == platform::kUntrustedRoot || status == platform::kChaining;
}

}  // namespace

PublisherVerdict DecidePin(const platform::SignatureFacts& facts, std::string_view pin) {
    if (facts.status != 0 && !RootOnly(facts.status)) return {false, facts.statusText};
    const std::string& signer = pin.size() == kSha1Digits ? facts.sha1 : facts.sha256;
    if (signer.empty()) return {false, "Windows names no signer's certificate"};
    if (signer != pin)
        return {false, "signed by " + signer + ", not by the pinned " + std::string(pin)};
    if (facts.status == 0) return {true, signer};
    if (!facts.contentVerified)
        return {false, facts.statusText + "; its digest or signature was not verified"};
    if (facts.chainPolicy != 0) return {false, facts.statusText + "; " + facts.chainPolicyText};
    return {true, signer + " (its chain ends at a root Windows does not know)"};
}

}  // namespace gor::launcher
