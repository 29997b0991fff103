#include "fb_util.h"

#include "display/png.h"

#include <png.h>

#include <cstdio>
#include <cstring>

MemScreen::MemScreen(uint32_t xres, uint32_t yres, uint32_t bpp) {
    screen.resize(static_cast<size_t>(xres) * yres * bpp / 8);
    fbSetup(&fb, xres, yres, bpp, screen.data());
    Fill(0);
}

MemScreen::~MemScreen() {
    fbRelease(&fb);
}

void MemScreen::Fill(uint8_t value) {
    std::memset(screen.data(), value, screen.size());
    if (fb.workMem) std::memset(fb.workMem, value, fb.memSize);
    if (fb.backMem) std::memset(fb.backMem, value, fb.memSize);
    fbInvalidate(&fb);
}

std::vector<uint8_t> Picture::Bgrx() const {
    std::vector<uint8_t> out(rgba.size());
    for (size_t i = 0; i + 3 < rgba.size(); i += 4) {
        out[i] = rgba[i + 2];
        out[i + 1] = rgba[i + 1];
        out[i + 2] = rgba[i];
        out[i + 3] = 0;
    }
    return out;
}

bool ReadPicture(const std::string &path, Picture *out) {
    png_image img;
    std::memset(&img, 0, sizeof img);
    img.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&img, path.c_str())) return false;
    img.format = PNG_FORMAT_RGBA;
    out->width = static_cast<int>(img.width);
    out->height = static_cast<int>(img.height);
    out->rgba.assign(PNG_IMAGE_SIZE(img), 0);
    bool ok = png_image_finish_read(&img, nullptr, out->rgba.data(), 0, nullptr) != 0;
    png_image_free(&img);
    return ok;
}

bool WriteTestPng(const std::string &path, int width, int height, int colorType, int bitDepth,
                  const std::vector<uint8_t> &data) {
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(f);
        return false;
    }
    png_init_io(png, f);
    png_set_IHDR(png, info, width, height, bitDepth, colorType, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    size_t rowBytes = data.size() / height;
    for (int y = 0; y < height; y++)
        png_write_row(png, const_cast<png_bytep>(data.data() + rowBytes * y));
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return std::fclose(f) == 0;
}

bool GrabScreen(const std::string &root, Picture *out) {
    std::string png = root + "/tmp/screen.png";
    if (FbGrabFile((root + "/dev/fb0").c_str(), png.c_str()) != 0) return false;
    return ReadPicture(png, out);
}

size_t DiffBytes(const uint8_t *a, const uint8_t *b, size_t n) {
    size_t d = 0;
    for (size_t i = 0; i < n; i++)
        d += a[i] != b[i];
    return d;
}
