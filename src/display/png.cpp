#include "display/png.h"

#include "display/fb.h"
#include "platform/fbdev.h"
#include "platform/log.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// Everything a load holds; released on every path by Release().
struct PngLoad {
    FILE *file = nullptr;
    png_structp png = nullptr;
    png_infop info = nullptr;
    png_bytep *rows = nullptr;
    png_uint_32 rowCount = 0;
};

void Release(PngLoad *ld) {
    if (ld->rows != nullptr) {
        for (png_uint_32 i = 0; i < ld->rowCount; i++)
            std::free(ld->rows[i]);
        std::free(ld->rows);
        ld->rows = nullptr;
    }
    if (ld->png != nullptr)
        png_destroy_read_struct(&ld->png, ld->info != nullptr ? &ld->info : nullptr, nullptr);
    ld->png = nullptr;
    ld->info = nullptr;
    if (ld->file != nullptr) std::fclose(ld->file);
    ld->file = nullptr;
}

// What the header says.
struct PngHeader {
    png_uint_32 width = 0, height = 0;
    int bitDepth = 0, colorType = 0;
};

// The libpng steps, each in a frame of its own with no locals that live
// across libpng's error return (a longjmp back into that frame).
int ReadHeader(PngLoad *ld, const char *path, PngHeader *h) {
    if (setjmp(png_jmpbuf(ld->png))) {
        LogErr("%s error during init_io", path);
        return -1;
    }
    png_init_io(ld->png, ld->file);
    png_set_sig_bytes(ld->png, 8);
    png_read_info(ld->png, ld->info);
    h->width = png_get_image_width(ld->png, ld->info);
    h->height = png_get_image_height(ld->png, ld->info);
    h->bitDepth = png_get_bit_depth(ld->png, ld->info);
    h->colorType = png_get_color_type(ld->png, ld->info);
    return 0;
}

// The header's error return belongs to ReadHeader's frame, which is gone by
// now: the update gets one of its own (an error here still counts as init_io).
int UpdateInfo(PngLoad *ld, const char *path) {
    if (setjmp(png_jmpbuf(ld->png))) {
        LogErr("%s error during init_io", path);
        return -1;
    }
    png_set_interlace_handling(ld->png);
    png_read_update_info(ld->png, ld->info);
    return 0;
}

int ReadRows(PngLoad *ld, const char *path, png_uint_32 height) {
    if (setjmp(png_jmpbuf(ld->png))) {
        LogErr("%s error during reading image", path);
        return -1;
    }
    const size_t rowBytes = png_get_rowbytes(ld->png, ld->info);
    ld->rows = static_cast<png_bytep *>(std::calloc(height, sizeof(png_bytep)));
    if (ld->rows == nullptr) {
        LogErr("%s unable to alloc row_pointers for image", path);
        return -1;
    }
    ld->rowCount = height;
    for (png_uint_32 i = 0; i < height; i++) {
        ld->rows[i] = static_cast<png_bytep>(std::malloc(rowBytes));
        if (ld->rows[i] == nullptr) {
            LogErr("%s unable to alloc row_pointers[%d] for image", path, static_cast<int>(i));
            return -1;
        }
    }
    png_read_image(ld->png, ld->rows);
    return 0;
}

void ReadPicture(FbScreen *fb, int64_t imageX, int64_t imageY, int toBack, const char *path,
                 PngLoad *ld) {
    ld->png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (ld->png == nullptr) {
        LogErr("%s PNG_create_read_struct failed", path);
        return;
    }
    ld->info = png_create_info_struct(ld->png);
    if (ld->info == nullptr) {
        LogErr("%s PNG_create_info_struct failed", path);
        return;
    }
    PngHeader h;
    if (ReadHeader(ld, path, &h) != 0) return;

    // The picture must fit the screen where it is placed.
    if (imageX < 0 || fb->sizeX < static_cast<int64_t>(h.width) + imageX) {
        LogErr("%s image has %d cols not %d", path, static_cast<int>(h.width), fb->sizeX);
        return;
    }
    if (imageY < 0 || fb->sizeY < static_cast<int64_t>(h.height) + imageY) {
        LogErr("%s image has %d rows not %d", path, static_cast<int>(h.height), fb->sizeY);
        return;
    }
    if (h.bitDepth != 8 || fb->pixelSize != 4 || h.colorType != PNG_COLOR_TYPE_RGBA) {
        LogErr("%s image has %d pixels not %d or color_type is %d not %d", path, h.bitDepth,
               static_cast<int>(fb->pixelSize), h.colorType, PNG_COLOR_TYPE_RGBA);
        return;
    }
    uint8_t *target = toBack != 0 ? fb->backMem : fb->workMem;
    if (target == nullptr) return;
    if (UpdateInfo(ld, path) != 0 || ReadRows(ld, path, h.height) != 0) return;
    fbMarkRect(fb, imageX, imageY, static_cast<int64_t>(imageX) + h.width - 1,
               static_cast<int64_t>(imageY) + h.height - 1, toBack);

    // R, G, B, A rows to the screen's B, G, R, 0; alpha is ignored.
    for (png_uint_32 r = 0; r < h.height; r++) {
        const png_bytep src = ld->rows[r];
        uint8_t *dst = target + (static_cast<size_t>(r) + imageY) * fb->lineSize + imageX * 4;
        for (size_t b = 0; b < 4u * h.width; b += 4) {
            dst[b] = src[b + 2];
            dst[b + 1] = src[b + 1];
            dst[b + 2] = src[b];
            dst[b + 3] = 0;
        }
    }
    if (toBack == 0) fbRealize(fb);
}

void OnWriteError(png_structp png, png_const_charp msg) {
    LogErr("PNG write: %s", msg);
    png_longjmp(png, 1);
}

int WriteRows(FILE *f, png_bytep *rows, int width, int height) {
    png_structp png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, OnWriteError, nullptr);
    if (png == nullptr) return -1;
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        return -1;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return -1;
    }
    png_init_io(png, f);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_write_image(png, rows);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return 0;
}

} // namespace

void getPngAt(FbScreen *fb, const char *imageName, int64_t x, int64_t y, int toBack) {
    char path[200];
    std::snprintf(path, sizeof path, "%s.png", imageName);
    PngLoad ld;
    ld.file = std::fopen(path, "rb");
    if (ld.file == nullptr) {
        LogErr("%s image could not be opened", path);
        return;
    }
    png_byte header[8];
    if (std::fread(header, 1, 8, ld.file) != 8 || png_sig_cmp(header, 0, 8) != 0) {
        LogErr("%s image is not a PNG file", path);
        Release(&ld);
        return;
    }
    ReadPicture(fb, x, y, toBack, path, &ld);
    Release(&ld);
}

int WritePngFromBgrx(const char *path, const uint8_t *pixels, int width, int height, int stride) {
    if (width <= 0 || height <= 0) return -1;
    std::vector<uint8_t> rgba(static_cast<size_t>(width) * height * 4);
    std::vector<png_bytep> rows(static_cast<size_t>(height));
    for (int y = 0; y < height; y++) {
        const uint8_t *s = pixels + static_cast<size_t>(y) * stride;
        uint8_t *d = rgba.data() + static_cast<size_t>(y) * width * 4;
        for (int x = 0; x < width; x++) {
            d[4 * x] = s[4 * x + 2];
            d[4 * x + 1] = s[4 * x + 1];
            d[4 * x + 2] = s[4 * x];
            d[4 * x + 3] = 255;
        }
        rows[static_cast<size_t>(y)] = d;
    }
    FILE *f = std::fopen(path, "wb");
    if (f == nullptr) return -1;
    int rc = WriteRows(f, rows.data(), width, height);
    if (std::fclose(f) != 0) rc = -1;
    return rc;
}

int FbGrabFile(const char *fbFile, const char *outPng) {
    const size_t stride = kVirtualXres * 4;
    std::vector<uint8_t> pixels(stride * kVirtualYres);
    FILE *f = std::fopen(fbFile, "rb");
    if (f == nullptr) return -1;
    size_t got = std::fread(pixels.data(), 1, pixels.size(), f);
    std::fclose(f);
    if (got != pixels.size()) return -1;
    return WritePngFromBgrx(outPng, pixels.data(), static_cast<int>(kVirtualXres),
                            static_cast<int>(kVirtualYres), static_cast<int>(stride));
}
