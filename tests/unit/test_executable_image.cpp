// The updater's image check as a table: whole images of each machine and kind (signed, with
// an overlay, packed) pass; cut copies, error pages, empty files and images whose parts lie
// past the file's end fail.
#include <gtest/gtest.h>

#include <string>

#include "fakes/pe_image.h"
#include "launcher/trust/executable_image.h"
#include "launcher/trust/version_resource.h"

namespace gor::test {
namespace {

using launcher::CheckExecutableImage;
using launcher::kImageHeadBytes;

// The check as the launcher runs it on a file holding `bytes`.
launcher::ImageVerdict Check(const std::string& bytes) {
    return CheckExecutableImage(std::string_view(bytes).substr(0, kImageHeadBytes), bytes.size());
}

struct Case {
    const char* name;
    std::string bytes;
    bool whole;
};

TEST(ExecutableImage, PassesWholeImagesAndRefusesEverythingElse) {
    std::string lastSectionPastTheEnd = BuildImage();
    PutU32(lastSectionPastTheEnd, SectionEntry({}, 2) + 16, kImageSectionRaw * 4);  // raw size
    PutU32(lastSectionPastTheEnd, SectionEntry({}, 2) + 8, kImageSectionRaw * 4);   // mapped
    // Mapped data whole, but the padding the loader reads in whole sectors cut off.
    std::string cutInPadding = BuildImage();
    PutU32(cutInPadding, SectionEntry({}, 2) + 16, kImageSectionRaw * 2);  // raw size
    cutInPadding.resize(cutInPadding.size() - kImageSectionRaw + kImageSectionMapped);
    std::string farLfanew = BuildImage();
    PutU32(farLfanew, 0x3C, static_cast<std::uint32_t>(farLfanew.size()));
    std::string noSignature = BuildImage();
    noSignature[kImagePeAt + 1] = 'X';

    const Case cases[] = {
        {"i386 PE32", BuildImage(), true},
        {"AMD64 PE32+ signed, with an overlay", BuildImage([](ImageShape& s) {
             s.machine = 0x8664;
             s.pe32Plus = true;
             s.overlay = "setup data";
             s.certificateBytes = 0x300;
         }),
         true},
        {"ARM64 PE32+", BuildImage([](ImageShape& s) {
             s.machine = 0xAA64;
             s.pe32Plus = true;
         }),
         true},
        {"packed: a section without raw data",
         BuildImage([](ImageShape& s) { s.packedSection = true; }), true},
        {"no sections", BuildImage([](ImageShape& s) { s.sections = 0; }), true},
        {"empty file", "", false},
        {"HTML error page",
         "<!DOCTYPE html>\n<html><head><title>500 Internal Server Error</title></head>"
         "<body>The server could not complete your request.</body></html>\n",
         false},
        {"MZ alone", "MZ", false},
        {"ARM (32-bit) machine", BuildImage([](ImageShape& s) { s.machine = 0x01C4; }), false},
        {"Itanium machine", BuildImage([](ImageShape& s) {
             s.machine = 0x0200;
             s.pe32Plus = true;
         }),
         false},
        {"ROM optional header", BuildImage([](ImageShape& s) { s.magic = 0x107; }), false},
        {"e_lfanew past the end", farLfanew, false},
        {"no PE signature", noSignature, false},
        {"last section ends past the file", lastSectionPastTheEnd, false},
        {"last section cut inside its padding", cutInPadding, false},
        {"certificate table cut off",
         BuildImage([](ImageShape& s) { s.certificateBytes = 0x300; }).substr(0, 0xB00), false},
    };
    for (const Case& c : cases) {
        const launcher::ImageVerdict verdict = Check(c.bytes);
        EXPECT_EQ(verdict.whole, c.whole) << c.name << ": " << verdict.reason;
        EXPECT_FALSE(verdict.reason.empty()) << c.name;
    }
}

// A transfer can stop anywhere. Every cut of a signed image fails (its certificate table ends
// the file); an unsigned image fails until its last section's mapped data is in, and passes
// when only that section's padding is missing, which the loader never reads.
TEST(ExecutableImage, RefusesImagesCutAtAnyOffset) {
    const std::string signedImage = BuildImage([](ImageShape& s) {
        s.machine = 0x8664;
        s.pe32Plus = true;
        s.overlay = "setup data";
        s.certificateBytes = 64;
    });
    for (std::size_t cut = 0; cut < signedImage.size(); ++cut) {
        EXPECT_FALSE(Check(signedImage.substr(0, cut)).whole) << cut;
    }
    const std::string plain = BuildImage();
    const std::size_t mappedEnd = plain.size() - kImageSectionRaw + kImageSectionMapped;
    for (std::size_t cut = 0; cut < plain.size(); ++cut) {
        EXPECT_EQ(Check(plain.substr(0, cut)).whole, cut >= mappedEnd) << cut;
    }
}

// The check reads only the head it is given, a buffer of its own: an optional header that
// begins on the head's last byte or right after it, in a longer file, is left unexamined.
TEST(ExecutableImage, ReadsNothingPastTheHead) {
    for (std::size_t inHead : {0, 1}) {
        std::string file = BuildImage();
        file.resize(kImageHeadBytes + 0x1000, '\0');
        const std::size_t optionalAt = kImageHeadBytes - inHead;
        PutU32(file, 0x3C, static_cast<std::uint32_t>(optionalAt - 24));
        file.replace(optionalAt - 24, 4, std::string("PE\0\0", 4));
        PutU16(file, optionalAt - 20, 0x014C);  // machine i386
        PutU16(file, optionalAt - 4, 224);      // optional header size
        PutU16(file, optionalAt, 0x10B);        // PE32
        const std::string head = file.substr(0, kImageHeadBytes);
        EXPECT_TRUE(CheckExecutableImage(head, file.size()).whole) << inHead;
    }
}

// The version resource from the image's own bytes, as a resource compiler lays it out; one
// that does not hold together names nothing, and nothing is read but through the reader.
TEST(ExecutableImage, VersionResourceFromItsOwnBytes) {
    constexpr std::uint64_t kVersion = 0x0001000200030004;
    const auto named = [](bool pe32Plus) {
        return BuildImage([&](ImageShape& s) {
            s.versionName = "gorupd.exe", s.fileVersion = kVersion, s.pe32Plus = pe32Plus;
        });
    };
    const std::string whole = named(false);
    const std::size_t block = kImageHeadersSize + 3 * kImageSectionRaw + kImageVersionBlock;
    std::string tooLong = whole, noFixed = whole;
    PutU16(tooLong, block, 0xFFF0);
    PutU32(noFixed, block + 40, 0);  // VS_FIXEDFILEINFO's signature
    const struct {
        const char* name;
        std::string bytes;
        std::string original;
        std::uint64_t version;
    } cases[] = {
        {"whole", whole, "gorupd.exe", kVersion},
        {"PE32+", named(true), "gorupd.exe", kVersion},
        {"block longer than its data", tooLong, "", 0},
        {"no fixed information", noFixed, "gorupd.exe", 0},
    };
    for (const auto& c : cases) {
        const launcher::VersionFacts facts =
            launcher::ReadVersionResource([&](std::uint64_t at, std::size_t n) {
                return std::string(c.bytes.substr(std::min<std::uint64_t>(at, c.bytes.size()), n));
            });
        EXPECT_EQ(facts.originalFilename, c.original) << c.name;
        EXPECT_EQ(facts.fileVersion, c.version) << c.name;
    }
}

}  // namespace
}  // namespace gor::test
