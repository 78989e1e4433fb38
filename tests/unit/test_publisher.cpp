// The publisher pin: thumbprints (SHA-1 and SHA-256 against the FIPS 180-4 examples: one
// block, empty, and two blocks where the padding spills over), and a pinned launcher's patch.
#include <gtest/gtest.h>

#include <system_error>

#include "fakes/launch_rig.h"
#include "launcher/publisher.h"
#include "launcher/thumbprint.h"

namespace gor::launcher {
namespace {

TEST(Thumbprint, Sha1AndSha256OfTheStandardMessages) {
    const struct {
        const char* message;
        const char* sha1;
        const char* sha256;
    } cases[] = {
        {"abc", "A9993E364706816ABA3E25717850C26C9CD0D89D",
         "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD"},
        {"", "DA39A3EE5E6B4B0D3255BFEF95601890AFD80709",
         "E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991B7852B855"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "84983E441C3BD26EBAAE4AA1F95129E5E54670F1",
         "248D6A61D20638B8E5C026930C3E6039A33CE45964FF2167F6ECEDD419DB06C1"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Thumbprint(c.message, kSha1Digits), c.sha1) << c.message;
        EXPECT_EQ(Thumbprint(c.message, kSha256Digits), c.sha256) << c.message;
    }
}

// Signed by "publisher" (as if its certificate were those bytes), or a check that cannot run.
struct FakeSignatures : platform::Signatures {
    bool works = true;
    platform::SignerVerdict VerifySigner(const std::string&) override {
        if (!works) throw std::system_error(ENOENT, std::generic_category());
        return {true, "publisher", ""};
    }
};

// Other verdicts are checked with real signatures under Wine; here a SHA-1 pin, and a check
// that cannot run, which must refuse rather than let the patch in.
TEST(PublisherPin, SignedPatchIsInstalledAndAnUncheckableOneRefused) {
    for (const bool works : {true, false}) {
        FakeSignatures signatures;
        signatures.works = works;
        PinnedPublisher publisher(Thumbprint("publisher", kSha1Digits), signatures);
        test::LaunchRig rig(&publisher);
        rig.Put(test::kNew, test::Updater("new"));
        rig.Put(test::kExe, test::Updater("old"));
        EXPECT_EQ(rig.Run(), kExitStarted);
        EXPECT_EQ(rig.files.Bytes(test::kExe), test::Updater(works ? "new" : "old"));
        EXPECT_FALSE(rig.files.Has(test::kNew));
        const std::string logged = works ? "gorupd.new is signed by the publisher "
                                         : "gorupd.new is not from the publisher: cannot check";
        EXPECT_NE(rig.files.Bytes(test::kAppDir + kPathSeparator + "gorlaunch.log").find(logged),
                  std::string::npos);
    }
}

}  // namespace
}  // namespace gor::launcher
