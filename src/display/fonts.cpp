#include "display/fonts.h"

#include "display/ttf.h"
#include "platform/paths.h"

void LoadFontSet() {
    static const struct {
        const char *path;
        int size;
        int slot;
    } fonts[] = {
        {"/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf", 24, 0},
        {"/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", 22, 1},
        {"/opt/fonts/PTS55F_W.ttf", 22, 2},
        {"/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf", 24, 0},
        {"/opt/fonts/PTS75F_W.ttf", 24, 4},
        {"/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", 8, 5},
        {"/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", 14, 6},
        {"/usr/share/fonts/truetype/dejavu/DejaVuSans-Oblique.ttf", 24, 7},
        {"/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", 20, 8},
        {"/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", 30, 9},
        {"/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", 18, 10},
        {"/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf", 21, 11},
    };
    for (const auto &f : fonts)
        TTFLoad(ResolveSystemFile(f.path).c_str(), f.size, f.slot);
}
