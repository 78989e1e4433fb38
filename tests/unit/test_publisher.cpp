// The publisher pin: thumbprints (SHA-1 and SHA-256 against the FIPS 180-4 examples: one
// block, empty, and two blocks where the padding spills over), and what a pinned launcher does
// with a gorupd.new for each verdict, including a check that cannot run.
#include <gtest/gtest.h>

#include <functional>
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

struct FakeSignatures : platform::Signatures {
    std::function<platform::SignerVerdict()> verdict;
    platform::SignerVerdict VerifySigner(const std::string&) override { return verdict(); }
};

TEST(PublisherPin, PatchIsInstalledOnlyWhenThePinnedCertificateSignedIt) {
    const std::string pin = Thumbprint("publisher", kSha1Digits);
    const struct {
        std::function<platform::SignerVerdict()> verdict;
        bool installed;
        const char* logged;
    } cases[] = {
        {[] {
             return platform::SignerVerdict{true, "publisher", ""};
         },
         true, "gorupd.new is signed by the publisher "},
        {[] {
             return platform::SignerVerdict{true, "someone else", ""};
         },
         false, "gorupd.new is not from the publisher: signed by "},
        {[] {
             return platform::SignerVerdict{false, "", "not signed"};
         },
         false, "gorupd.new is not from the publisher: not signed"},
        {[]() -> platform::SignerVerdict {
             throw std::system_error(ENOENT, std::generic_category());
         },
         false, "gorupd.new is not from the publisher: cannot check its signature: "},
    };
    for (const auto& c : cases) {
        FakeSignatures signatures;
        signatures.verdict = c.verdict;
        PinnedPublisher publisher(pin, signatures);
        test::LaunchRig rig(&publisher);
        rig.Put(test::kNew, test::Updater("new"));
        rig.Put(test::kExe, test::Updater("old"));
        EXPECT_EQ(rig.Run(), kExitStarted);
        EXPECT_EQ(rig.files.Bytes(test::kExe), test::Updater(c.installed ? "new" : "old"));
        EXPECT_FALSE(rig.files.Has(test::kNew));
        EXPECT_NE(rig.files.Bytes(test::kAppDir + kPathSeparator + "gorlaunch.log").find(c.logged),
                  std::string::npos)
            << c.logged;
    }
}

}  // namespace
}  // namespace gor::launcher
