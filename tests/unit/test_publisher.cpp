// The publisher pin: its decision on what the system found (a table of verdicts, thumbprints
// and, for a chain that ends at an unknown root, what else was verified), and a pinned
// launcher's patch on fakes.
#include <gtest/gtest.h>

#include <system_error>

#include "fakes/launch_rig.h"
#include "launcher/publisher.h"

namespace gor::launcher {
namespace {

const std::string kPin(64, 'A');
const std::string kOther(64, 'B');
const std::string kSha1Pin(40, 'C');

TEST(PublisherPin, DecisionOnTheSystemsFacts) {
    constexpr std::uint32_t kBadDigest = 0x80096010, kExpired = 0x800B0101;
    const struct {
        const char* name;
        platform::SignatureFacts facts;
        std::string pin;
        bool pinned;
        const char* reason;  // in the verdict's reason
    } cases[] = {
        {"trusted, pinned", {0, "", true, 0, "", kSha1Pin, kPin}, kPin, true, "AAAA"},
        {"trusted, SHA-1 pin", {0, "", true, 0, "", kSha1Pin, kPin}, kSha1Pin, true, "CCCC"},
        {"trusted, another signer", {0, "", true, 0, "", "", kOther}, kPin, false, "signed by BBBB"},
        {"no signer named", {0, "", true, 0, "", "", ""}, kPin, false, "Windows names no"},
        {"altered", {kBadDigest, "altered", false, 1, "", "", kPin}, kPin, false, "altered"},
        {"expired", {kExpired, "expired", true, 0, "", "", kPin}, kPin, false, "expired"},
        {"unknown root, pinned, all verified",
         {platform::kUntrustedRoot, "root", true, 0, "", "", kPin}, kPin, true, "A (its chain"},
        {"chaining, pinned, all verified",
         {platform::kChaining, "chain", true, 0, "", "", kPin}, kPin, true, "A (its chain"},
        {"unknown root, another signer",
         {platform::kUntrustedRoot, "root", true, 0, "", "", kOther}, kPin, false, "signed by B"},
        {"unknown root, digest or signature unverified",
         {platform::kUntrustedRoot, "root", false, 0, "", "", kPin}, kPin, false, "root; its"},
        {"unknown root, chain policy fails",
         {platform::kUntrustedRoot, "root", true, kExpired, "expired", "", kPin}, kPin, false,
         "root; expired"},
    };
    for (const auto& c : cases) {
        const PublisherVerdict verdict = DecidePin(c.facts, c.pin);
        EXPECT_EQ(verdict.pinned, c.pinned) << c.name;
        EXPECT_NE(verdict.reason.find(c.reason), std::string::npos) << c.name << ": " << verdict.reason;
    }
}

// Signed by the publisher, or a check that cannot run.
struct FakeSignatures : platform::Signatures {
    bool works = true;
    platform::SignatureFacts VerifySigner(platform::HeldFile&, const std::string&) override {
        if (!works) throw std::system_error(ENOENT, std::generic_category());
        return {0, "", true, 0, "", "", kPin};
    }
};

// A signed patch is installed; one whose check cannot run is no verdict on its content: it
// stays, and the stage fails with its box.
TEST(PublisherPin, SignedPatchIsInstalledAndAnUncheckableOneKept) {
    for (const bool works : {true, false}) {
        FakeSignatures signatures;
        signatures.works = works;
        PinnedPublisher publisher(kPin, signatures);
        test::LaunchRig rig(&publisher);
        rig.Put(test::kNew, test::Updater("new"));
        rig.Put(test::kExe, test::Updater("old"));
        EXPECT_EQ(rig.Run(), works ? kExitStarted : kExitFailure);
        EXPECT_EQ(rig.files.Bytes(test::kExe), test::Updater(works ? "new" : "old"));
        EXPECT_EQ(rig.files.Has(test::kNew), !works);
        const std::string logged = works ? "gorupd.new is signed by the publisher "
                                         : "failure at stage 1: ";
        EXPECT_NE(rig.files.Bytes(test::kAppDir + kPathSeparator + "gorlaunch.log").find(logged),
                  std::string::npos);
    }
}

}  // namespace
}  // namespace gor::launcher
