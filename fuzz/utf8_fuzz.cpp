// Fuzz target over the UTF-8 decoder: every step must move on by 1 to 4
// bytes, never past the end, and a character it calls valid must be a
// scalar value whose shortest encoding is exactly the bytes it stepped over.
#include "display/utf8.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

int Encode(uint32_t cp, unsigned char *out) {
    if (cp < 0x80) {
        out[0] = static_cast<unsigned char>(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = static_cast<unsigned char>(0xC0 | (cp >> 6));
        out[1] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = static_cast<unsigned char>(0xE0 | (cp >> 12));
        out[1] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
        out[2] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = static_cast<unsigned char>(0xF0 | (cp >> 18));
    out[1] = static_cast<unsigned char>(0x80 | ((cp >> 12) & 0x3F));
    out[2] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
    out[3] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
    return 4;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // A copy of exactly `size` bytes, so a read past the end is caught.
    unsigned char *text = static_cast<unsigned char *>(std::malloc(size > 0 ? size : 1));
    if (size > 0) std::memcpy(text, data, size);
    unsigned pos = 0;
    while (true) {
        unsigned before = pos;
        int valid = -1;
        uint32_t cp = 0xFFFFFFFF;
        if (utf8_get_next_char(text, size, &pos, &valid, &cp) != 1) {
            if (before < size || pos != before) std::abort();
            break;
        }
        unsigned step = pos - before;
        if (step < 1 || step > 4 || pos > size) std::abort();
        if (valid) {
            if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) std::abort();
            unsigned char enc[4];
            int n = Encode(cp, enc);
            if (static_cast<unsigned>(n) != step || std::memcmp(enc, text + before, step) != 0)
                std::abort();
        } else if (cp != 0 || valid != 0) {
            std::abort();
        }
    }
    std::free(text);
    return 0;
}
