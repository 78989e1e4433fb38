// assetgen: writes the launcher picture (launcher.bmp) and the program icon (gorlaunch.ico)
// into a folder. The output is a pure function of this program, so the committed assets
// can be checked against it byte for byte.
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>

#include "art.h"
#include "formats.h"
#include "quantize.h"

namespace assetgen {
namespace {

// Twelve images: 48, 32, 24 and 16 pixels at 16 colours, at 256 colours, then with alpha.
Bytes MakeIcon() {
    const int sizes[] = {48, 32, 24, 16};
    std::vector<IconImage> images;
    for (const int bits : {4, 8, 32}) {
        for (const int size : sizes) {
            const IconPixels art = PaintEmblem(size);
            IconImage im;
            im.size = size;
            im.bitsPerPixel = bits;
            im.masked.resize(art.alpha.size());
            if (bits == 32) {
                im.rgb = art.rgb;
                im.alpha = art.alpha;
                for (std::size_t i = 0; i < art.alpha.size(); ++i) im.masked[i] = art.alpha[i] == 0;
            } else {
                // Without alpha a pixel is either the glyph or the desktop: half cover decides.
                std::vector<Rgb8> shown;
                for (std::size_t i = 0; i < art.alpha.size(); ++i) {
                    im.masked[i] = art.alpha[i] < 128;
                    if (!im.masked[i]) shown.push_back(art.rgb[i]);
                }
                im.palette = MedianCutPalette(shown, 1 << bits);
                im.indices.resize(art.alpha.size(), 0);
                for (std::size_t i = 0; i < art.alpha.size(); ++i) {
                    if (!im.masked[i]) im.indices[i] = Nearest(im.palette, art.rgb[i]);
                }
            }
            images.push_back(std::move(im));
        }
    }
    return EncodeIco(images);
}

// Written beside the target and renamed over it, so a build or test reading the asset at
// the same moment sees the old file or the new one, never half of one.
void Write(const std::string& path, const Bytes& bytes) {
    const std::string partial = path + ".partial";
    std::ofstream file(partial, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    file.close();
    if (!file) throw std::runtime_error("cannot write " + partial);
    std::filesystem::rename(partial, path);
}

}  // namespace
}  // namespace assetgen

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: assetgen OUTPUT_FOLDER\n");
        return 2;
    }
    try {
        const std::string folder = argv[1];
        using namespace assetgen;
        double cut = 0;
        Write(folder + "/launcher.bmp",
              EncodeBmp24(kLauncherWidth, kLauncherHeight, PaintLauncher(&cut)));
        std::printf("launcher.bmp: %d transparent pixels, edge pixels kept from %.0f%% coverage\n",
                    kLauncherTransparentPixels, cut * 100);
        Write(folder + "/gorlaunch.ico", MakeIcon());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "assetgen: %s\n", e.what());
        return 1;
    }
    return 0;
}
