// The publisher pin: its decision on what the system found (a table of verdicts, thumbprints
// and, for a chain that ends at an unknown root, what else was verified), and a pinned
// launcher's patch on fakes.
#include <gtest/gtest.h>

#include <cstring>
#include <system_error>

#include "fakes/launch_rig.h"
#include "launcher/trust/publisher.h"

namespace gor::launcher {
namespace {

const std::string kPin(64, 'A');
const std::string kOther(64, 'B');
const std::string kSha1Pin(40, 'C');
constexpr std::uint64_t kFloor = FileVersion(1, 2, 3, 0);

TEST(PublisherPin, DecisionOnTheSystemsFacts) {
    constexpr std::uint32_t kBadDigest = 0x80096010, kExpired = platform::kExpired;
    constexpr std::uint32_t kRoot = platform::kUntrustedRoot, kChain = platform::kChaining;
    constexpr std::uint32_t kDistrust = platform::kExplicitDistrust, kBadTag = 0x8009310B,
                            kNoSig = platform::kNoSignature,
                            kNotTrusted = platform::kSubjectNotTrusted;
    const struct {
        const char* name;
        std::uint32_t status;
        bool contentVerified;
        std::uint32_t chainPolicy;
        std::string signer;  // SHA-256; its SHA-1 is always kSha1Pin
        std::string pin;
        bool pinned;
        const char* reason;                       // in the verdict's reason
        std::string originalName = "GORUPD.exe";  // in the version resource
        std::uint64_t version = kFloor;
        std::uint32_t lastError = 0;
    } cases[] = {
        {"trusted, pinned", 0, true, 0, kPin, kPin, true, "AAAA"},
        {"trusted, SHA-1 pin", 0, true, 0, kPin, kSha1Pin, true, "CCCC"},
        {"trusted, another signer", 0, true, 0, kOther, kPin, false, "signed by BBBB"},
        {"no signer named", 0, true, 0, "", kPin, false, "Windows names no"},
        {"altered", kBadDigest, false, 1, kPin, kPin, false, "status words"},
        {"expired or not yet valid", kExpired, true, 0, kPin, kPin, true, "A (status words: dates"},
        {"expired, not verified", kExpired, false, 0, kPin, kPin, false, "was not verified"},
        {"machine's policy", kNotTrusted, true, 0, kPin, kPin, false, "no verdict"},
        {"root, machine's distrust", kRoot, true, kDistrust, kPin, kPin, false, "s; no verdict"},
        {"damaged signature", kNoSig, false, 1, kPin, kPin, false, "damaged", "", 0, kBadTag},
        {"unsigned", kNoSig, false, 1, "", kPin, false, "status words", "", 0, kNoSig},
        {"unknown root, all verified", kRoot, true, 0, kPin, kPin, true, "A (its chain ends"},
        {"no known root, all verified", kChain, true, 0, kPin, kPin, true, "A (its chain ends"},
        {"unknown root, another signer", kRoot, true, 0, kOther, kPin, false, "signed by B"},
        {"unknown root, content unverified", kRoot, false, 0, kPin, kPin, false, "words; its"},
        {"unknown root, policy fails", kRoot, true, kExpired, kPin, kPin, false, "; policy"},
        {"the next of two pinned", 0, true, 0, kPin, kOther + ";" + kPin, true, "AAAA"},
        {"none of two pinned", 0, true, 0, kPin, kOther + ";" + kOther, false, "B or B"},
        {"the publisher's other program", 0, true, 0, kPin, kPin, false, "names it gorlaunch.exe",
         "gorlaunch.exe"},
        {"no version resource", 0, true, 0, kPin, kPin, false, "has no version resource", ""},
        {"below the floor", 0, true, 0, kPin, kPin, false,
         "version 1.2.2.65535 is below the "
         "lowest this launcher takes, 1.2.3.0",
         "gorupd.exe", kFloor - 1},
    };
    for (const auto& c : cases) {
        const std::string sha1 = c.signer.empty() ? "" : kSha1Pin;
        const platform::SignatureFacts facts{c.status,      "status words", c.contentVerified,
                                             c.chainPolicy, "policy words", sha1,
                                             c.signer,      c.lastError};
        const PublisherVerdict signer = DecideSigner(facts, c.pin);
        // The machine's distrust is obeyed, and said to be no verdict on the file.
        EXPECT_EQ(signer.machinePolicy, std::strstr(c.reason, "no verdict") != nullptr) << c.name;
        const PublisherVerdict verdict =
            signer.pinned ? DecideUpdater(signer, {c.originalName, c.version}, kFloor) : signer;
        EXPECT_EQ(verdict.pinned, c.pinned) << c.name;
        EXPECT_NE(verdict.reason.find(c.reason), std::string::npos)
            << c.name << ": " << verdict.reason;
    }
}

// Signed by the publisher; one file's signer distrusted by the machine's policy, which says
// nothing of the file: its check cannot run.
struct FakeSignatures : platform::Signatures {
    std::string failsFor;
    platform::SignatureFacts VerifySigner(platform::HeldFile&, const std::string& path) override {
        if (path == failsFor)
            return {platform::kSubjectNotTrusted, "distrusted", true, 0, "", "", kPin};
        return {0, "", true, 0, "", "", kPin};
    }
};

// An updater whose version resource names it as the publisher does.
std::string Named(const std::string& tag) {
    return test::BuildImage([&](test::ImageShape& s) {
        s.overlay = tag, s.versionName = "gorupd.exe", s.fileVersion = kFloor;
    });
}

// A signed patch is installed; one whose check cannot run is no verdict on its content: it
// stays for a later start, and the working updater starts.
TEST(PublisherPin, SignedPatchIsInstalledAndAnUncheckableOneKept) {
    for (const bool works : {true, false}) {
        FakeSignatures signatures;
        if (!works) signatures.failsFor = test::kNew;
        PinnedPublisher publisher(kPin, kFloor, signatures);
        test::LaunchRig rig(&publisher);
        rig.Put(test::kNew, Named("new"));
        rig.Put(test::kExe, Named("old"));
        EXPECT_EQ(rig.Run(), kExitStarted);
        EXPECT_EQ(rig.files.Bytes(test::kExe), Named(works ? "new" : "old"));
        EXPECT_EQ(rig.files.Has(test::kNew), !works);
        const std::string logged =
            works ? "gorupd.new is signed by the publisher "
                  : "gorupd.new cannot be checked: this machine's policy distrusts the pinned";
        EXPECT_NE(rig.files.Bytes(test::kAppDir + kPathSeparator + "gorlaunch.log").find(logged),
                  std::string::npos);
    }
}

}  // namespace
}  // namespace gor::launcher
