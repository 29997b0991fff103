// JPEG decoder against the reference library (libjpeg-turbo, box upsampling,
// integer IDCT) on a corpus that cjpeg/jpegtran make from synthetic pictures;
// the failure forms; damaged streams; the sources; Uncompress; and a replay of
// the committed fuzz corpus.
#include "jpeg/colour.h"
#include "jpeg/idct.h"
#include "jpeg/jpgd.h"
#include "remote/screen_image.h"
#include "fb_util.h"
#include "unit.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

#include <jpeglib.h>

namespace {

using Bytes = std::vector<uint8_t>;

struct Image {
    int w = 0, h = 0, comps = 0;
    Bytes px;
};

Bytes ReadBytes(const std::string &path) {
    Bytes b;
    FILE *f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return b;
    uint8_t buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        b.insert(b.end(), buf, buf + n);
    std::fclose(f);
    return b;
}

void WriteBytes(const std::string &path, const Bytes &b) {
    FILE *f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(std::fwrite(b.data(), 1, b.size(), f), b.size());
    std::fclose(f);
}

// The reference decode: RGB for colour, grey for grey, box upsampling.
Image Reference(const Bytes &jpg) {
    Image im;
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, jpg.data(), static_cast<unsigned long>(jpg.size()));
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = cinfo.num_components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    cinfo.do_fancy_upsampling = FALSE;
    cinfo.dct_method = JDCT_ISLOW;
    jpeg_start_decompress(&cinfo);
    im.w = static_cast<int>(cinfo.output_width);
    im.h = static_cast<int>(cinfo.output_height);
    im.comps = cinfo.output_components;
    im.px.resize(static_cast<size_t>(im.w) * im.h * im.comps);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = im.px.data() + static_cast<size_t>(cinfo.output_scanline) * im.w * im.comps;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return im;
}

bool Ours(const Bytes &jpg, int req, Image *im) {
    unsigned char *p = jpgd::decompress_jpeg_image_from_memory(
        jpg.data(), static_cast<int>(jpg.size()), &im->w, &im->h, &im->comps, req);
    if (p == nullptr) return false;
    im->px.assign(p, p + static_cast<size_t>(im->w) * im->h * req);
    std::free(p);
    return true;
}

// Synthetic pictures as RGB.
Bytes Picture(const std::string &kind, int w, int h) {
    Bytes px(static_cast<size_t>(w) * h * 3);
    uint32_t seed = 12345;
    static const uint8_t bars[8][3] = {{255, 255, 255}, {255, 255, 0}, {0, 255, 255}, {0, 255, 0},
                                       {255, 0, 255},   {255, 0, 0},   {0, 0, 255},   {0, 0, 0}};
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            uint8_t *p = &px[(static_cast<size_t>(y) * w + x) * 3];
            if (kind == "gradient") {
                p[0] = static_cast<uint8_t>(w > 1 ? x * 255 / (w - 1) : 128);
                p[1] = static_cast<uint8_t>(h > 1 ? y * 255 / (h - 1) : 64);
                p[2] = static_cast<uint8_t>((x + 2 * y) & 255);
            } else if (kind == "bars") {
                std::memcpy(p, bars[x * 8 / w], 3);
            } else if (kind == "noise") {
                for (int c = 0; c < 3; c++) {
                    seed = seed * 1103515245u + 12345u;
                    p[c] = static_cast<uint8_t>(seed >> 23);
                }
            } else { // text-like: thin dark strokes on a light tinted ground
                bool ink = (x % 9 < 2 && y % 16 < 11) || (y % 16 == 5 && x % 9 < 6);
                p[0] = ink ? 10 : 240;
                p[1] = ink ? 20 : 235;
                p[2] = ink ? 90 : 200;
            }
        }
    return px;
}

struct Stats {
    int maxDiff = 0;
    double sum = 0;
    size_t n = 0;
    void Add(const Bytes &a, const Bytes &b) {
        for (size_t i = 0; i < a.size() && i < b.size(); i++) {
            int d = std::abs(a[i] - b[i]);
            maxDiff = std::max(maxDiff, d);
            sum += d;
        }
        n += a.size();
    }
    double Mean() const { return n ? sum / static_cast<double>(n) : 0; }
};

class Jpeg : public ::testing::Test {
  protected:
    static std::string dir;
    static void SetUpTestSuite() {
        char tmpl[] = "/tmp/helix-jpeg-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }
    static void TearDownTestSuite() {
        std::string cmd = "rm -rf '" + dir + "'";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
    }
    // Encodes a picture with cjpeg and the given options.
    static Bytes Encode(const std::string &kind, int w, int h, const std::string &opts) {
        std::string ppm = dir + "/" + kind + std::to_string(w) + "x" + std::to_string(h) + ".ppm";
        if (access(ppm.c_str(), R_OK) != 0) {
            Bytes px = Picture(kind, w, h);
            std::string head = "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
            Bytes file(head.begin(), head.end());
            file.insert(file.end(), px.begin(), px.end());
            WriteBytes(ppm, file);
        }
        std::string out = dir + "/out.jpg";
        std::string cmd = "cjpeg " + opts + " -outfile '" + out + "' '" + ppm + "'";
        EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
        return ReadBytes(out);
    }
    static Bytes Transcode(const Bytes &jpg, const std::string &opts) {
        WriteBytes(dir + "/in.jpg", jpg);
        std::string cmd =
            "jpegtran " + opts + " -outfile '" + dir + "/tr.jpg' '" + dir + "/in.jpg'";
        EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
        return ReadBytes(dir + "/tr.jpg");
    }
    // Decodes with both and adds the difference to `s`; false (with a
    // failure recorded) when ours does not decode or the sizes differ.
    static void Compare(const Bytes &jpg, const std::string &what, Stats *s) {
        ASSERT_FALSE(jpg.empty()) << what;
        Image ref = Reference(jpg), ours;
        ASSERT_TRUE(Ours(jpg, ref.comps, &ours)) << what;
        ASSERT_EQ(ours.w, ref.w) << what;
        ASSERT_EQ(ours.h, ref.h) << what;
        ASSERT_EQ(ours.comps, ref.comps) << what;
        Stats one;
        one.Add(ref.px, ours.px);
        EXPECT_EQ(one.maxDiff, 0) << what;
        s->Add(ref.px, ours.px);
    }
};
std::string Jpeg::dir;

const char *const kLayouts[] = {"1x1", "2x1", "1x2", "2x2"};

TEST_F(Jpeg, EveryLayoutMatchesTheReference) {
    struct Pic {
        const char *kind;
        int w, h;
    };
    const Pic pics[] = {{"noise", 1, 1},    {"bars", 7, 5},         {"gradient", 7, 5},
                        {"noise", 17, 13},  {"text", 17, 13},       {"text", 800, 480},
                        {"bars", 800, 480}, {"gradient", 801, 479}, {"noise", 801, 479}};
    std::map<std::string, Stats> groups;
    for (const Pic &p : pics)
        for (const char *layout : kLayouts)
            for (const char *prog : {"", "-progressive"})
                for (int q : {50, 95}) {
                    std::string opts = std::string("-quality ") + std::to_string(q) + " -sample " +
                                       layout + " " + prog;
                    std::string what = std::string(p.kind) + " " + std::to_string(p.w) + "x" +
                                       std::to_string(p.h) + " " + opts;
                    Compare(Encode(p.kind, p.w, p.h, opts), what,
                            &groups[std::string(*prog ? "progressive " : "baseline ") + layout]);
                }
    for (auto &[name, s] : groups) {
        std::printf("[ figures ] %-16s max %d mean %.4f over %zu samples\n", name.c_str(),
                    s.maxDiff, s.Mean(), s.n);
        EXPECT_LE(s.maxDiff, 2) << name;
        EXPECT_LT(s.Mean(), 0.5) << name;
    }
}

TEST_F(Jpeg, RestartsOptimisedTablesAndGreyMatchTheReference) {
    std::map<std::string, Stats> groups;
    const std::pair<const char *, const char *> cases[] = {
        {"restart", "-restart 1 -sample 2x2"},
        {"restart", "-restart 3B -sample 1x2"},
        {"restart", "-restart 1 -progressive -sample 2x1"},
        {"restart", "-restart 5B -progressive -sample 1x1"},
        {"optimised", "-optimize -sample 2x2"},
        {"optimised", "-optimize -quality 30 -sample 1x1"},
        {"grey", "-grayscale"},
        {"grey", "-grayscale -progressive -restart 2"},
        {"grey", "-grayscale -quality 20 -optimize"},
    };
    for (const auto &[group, opts] : cases)
        for (const auto &[kind, w, h] : {std::tuple{"gradient", 801, 479},
                                         std::tuple{"text", 800, 480}, std::tuple{"noise", 7, 5}})
            Compare(Encode(kind, w, h, opts), std::string(kind) + " " + opts, &groups[group]);
    // Non-interleaved sequential scans and a custom progression (jpegtran).
    Bytes base = Encode("gradient", 801, 479, "-sample 2x2");
    WriteWholeFile(dir + "/scans.txt", "0;1;2: 0 63 0 0;\n");
    Compare(Transcode(base, "-scans '" + dir + "/scans.txt'"), "separate sequential scans",
            &groups["sequential scans"]);
    WriteWholeFile(dir + "/scans.txt",
                   "0 1 2: 0 0 0 2; 0: 1 5 0 1; 0: 6 63 0 1; 1: 1 63 0 0;"
                   " 2: 1 63 0 0; 0: 1 63 1 0; 0 1 2: 0 0 2 1; 0 1 2: 0 0 1 0;\n");
    Compare(Transcode(base, "-scans '" + dir + "/scans.txt'"), "custom progression",
            &groups["sequential scans"]);
    for (auto &[name, s] : groups)
        std::printf("[ figures ] %-16s max %d mean %.4f over %zu samples\n", name.c_str(),
                    s.maxDiff, s.Mean(), s.n);
}

TEST_F(Jpeg, OutputFormsFromColourAndGrey) {
    Bytes colour = Encode("bars", 17, 13, "-sample 2x2");
    Image ref = Reference(colour), grey, rgba;
    ASSERT_TRUE(Ours(colour, 1, &grey));
    ASSERT_TRUE(Ours(colour, 4, &rgba));
    EXPECT_EQ(grey.comps, 3); // the image's own count
    for (size_t i = 0; i < ref.px.size() / 3; i++) {
        const uint8_t *c = &ref.px[i * 3];
        EXPECT_EQ(grey.px[i], (19595 * c[0] + 38470 * c[1] + 7471 * c[2] + 32768) >> 16) << i;
        EXPECT_EQ(std::memcmp(&rgba.px[i * 4], c, 3), 0) << i;
        EXPECT_EQ(rgba.px[i * 4 + 3], 255) << i;
    }
    Bytes g = Encode("gradient", 7, 5, "-grayscale");
    Image gref = Reference(g), g3, g4;
    ASSERT_TRUE(Ours(g, 3, &g3));
    ASSERT_TRUE(Ours(g, 4, &g4));
    EXPECT_EQ(g4.comps, 1);
    for (size_t i = 0; i < gref.px.size(); i++) {
        uint8_t v = gref.px[i];
        EXPECT_TRUE(g3.px[i * 3] == v && g3.px[i * 3 + 1] == v && g3.px[i * 3 + 2] == v) << i;
        EXPECT_TRUE(g4.px[i * 4] == v && g4.px[i * 4 + 1] == v && g4.px[i * 4 + 2] == v &&
                    g4.px[i * 4 + 3] == 255)
            << i;
    }
}

TEST_F(Jpeg, ProgressiveGivesTheBaselinePixels) {
    for (const char *layout : kLayouts) {
        std::string opts = std::string("-quality 80 -sample ") + layout;
        Bytes base = Encode("text", 801, 479, opts);
        Image a, b, c;
        ASSERT_TRUE(Ours(base, 3, &a));
        ASSERT_TRUE(Ours(Encode("text", 801, 479, opts + " -progressive"), 3, &b));
        ASSERT_TRUE(Ours(Transcode(base, "-progressive"), 3, &c));
        // The refinement scans rebuild exactly the baseline coefficients.
        EXPECT_EQ(a.px, b.px) << layout;
        EXPECT_EQ(a.px, c.px) << layout;
    }
}

// Sets a big-endian 16-bit field at the frame header (SOFn) of `jpg`.
size_t FrameAt(const Bytes &jpg) {
    for (size_t i = 2; i + 1 < jpg.size(); i++)
        if (jpg[i] == 0xFF && jpg[i + 1] >= 0xC0 && jpg[i + 1] <= 0xC2) return i;
    return 0;
}

Bytes EncodeCmyk() {
    jpeg_compress_struct c;
    jpeg_error_mgr jerr;
    c.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&c);
    unsigned char *mem = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &mem, &size);
    c.image_width = 16;
    c.image_height = 8;
    c.input_components = 4;
    c.in_color_space = JCS_CMYK;
    jpeg_set_defaults(&c);
    jpeg_start_compress(&c, TRUE);
    uint8_t row[16 * 4];
    for (int i = 0; i < 64; i++)
        row[i] = static_cast<uint8_t>(i * 4);
    while (c.next_scanline < c.image_height) {
        JSAMPROW r = row;
        jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    Bytes b(mem, mem + size);
    std::free(mem);
    return b;
}

TEST_F(Jpeg, UnsupportedFormsAndBadArgumentsGiveNull) {
    Image im;
    EXPECT_FALSE(Ours(Encode("bars", 17, 13, "-arithmetic"), 3, &im));
    EXPECT_FALSE(Ours(Encode("bars", 17, 13, "-sample 4x1"), 3, &im));
    EXPECT_FALSE(Ours(Encode("bars", 17, 13, "-sample 2x2,2x1,1x1"), 3, &im));
    EXPECT_FALSE(Ours(EncodeCmyk(), 4, &im));

    Bytes good = Encode("bars", 17, 13, "-sample 2x2");
    ASSERT_TRUE(Ours(good, 3, &im));
    size_t sof = FrameAt(good);
    ASSERT_GT(sof, 0u);
    auto patched = [&](size_t off, uint8_t v) {
        Bytes b = good;
        b[sof + off] = v;
        return b;
    };
    EXPECT_FALSE(Ours(patched(4, 12), 3, &im)) << "12-bit samples";
    EXPECT_FALSE(Ours(patched(3, 18), 3, &im)) << "frame header length";
    EXPECT_FALSE(Ours(patched(1, 0xC3), 3, &im)) << "lossless";
    EXPECT_FALSE(Ours(patched(1, 0xC9), 3, &im)) << "arithmetic frame";
    Bytes wide = patched(7, 0x40); // width 0x400d = 16397
    EXPECT_FALSE(Ours(wide, 3, &im)) << "wider than 16384";
    // A largest frame whose few data bytes cannot cover it fails at once.
    Bytes huge = patched(5, 0x40);
    huge[sof + 6] = 0;
    huge[sof + 7] = 0x40;
    huge[sof + 8] = 0;
    EXPECT_FALSE(Ours(huge, 4, &im)) << "16384 x 16384 from a few bytes";
    Bytes noHeight = patched(5, 0);
    noHeight[sof + 6] = 0;
    EXPECT_FALSE(Ours(noHeight, 3, &im)) << "height 0";

    int w = -1, h = -1, c = -1;
    EXPECT_EQ(jpgd::decompress_jpeg_image_from_memory(good.data(), static_cast<int>(good.size()),
                                                      &w, &h, &c, 2),
              nullptr);
    EXPECT_EQ(jpgd::decompress_jpeg_image_from_memory(good.data(), static_cast<int>(good.size()),
                                                      &w, &h, &c, 0),
              nullptr);
    EXPECT_EQ(jpgd::decompress_jpeg_image_from_memory(good.data(), static_cast<int>(good.size()),
                                                      nullptr, &h, &c, 3),
              nullptr);
    EXPECT_EQ(jpgd::decompress_jpeg_image_from_memory(good.data(), static_cast<int>(good.size()),
                                                      &w, &h, nullptr, 3),
              nullptr);
    // The decoder's own pixel limit: one pixel under the image's size refuses it.
    int fw, fh, fc;
    ASSERT_TRUE(jpgd::read_jpeg_frame_size(good.data(), int(good.size()), &fw, &fh, &fc));
    uint64_t px = uint64_t(fw) * uint64_t(fh);
    EXPECT_EQ(jpgd::decompress_jpeg_image_from_memory(good.data(), int(good.size()), &fw, &fh, &fc,
                                                      3, px - 1),
              nullptr);
    unsigned char *at = jpgd::decompress_jpeg_image_from_memory(good.data(), int(good.size()), &fw,
                                                                &fh, &fc, 3, px);
    EXPECT_NE(at, nullptr) << "decoded at the limit";
    std::free(at);
    EXPECT_EQ(jpgd::decompress_jpeg_image_from_memory(nullptr, 100, &w, &h, &c, 3), nullptr);
    EXPECT_EQ(jpgd::decompress_jpeg_image_from_file(nullptr, &w, &h, &c, 3), nullptr);
    EXPECT_EQ(jpgd::decompress_jpeg_image_from_file((dir + "/missing.jpg").c_str(), &w, &h, &c, 3),
              nullptr);
    EXPECT_EQ(w, -1); // outputs untouched on failure
    // Requested 2 fails before any byte is read.
    struct Counting : jpgd::jpeg_decoder_stream {
        int calls = 0;
        int read(uint8_t *, int, bool *eof) override {
            calls++;
            *eof = true;
            return 0;
        }
    } counting;
    EXPECT_EQ(jpgd::decompress_jpeg_image_from_stream(&counting, &w, &h, &c, 2), nullptr);
    EXPECT_EQ(counting.calls, 0);
}

TEST_F(Jpeg, TruncatedAndDamagedStreamsFailCleanly) {
    Bytes base = Encode("noise", 17, 13, "-sample 2x2 -restart 1");
    Bytes prog = Encode("gradient", 17, 13, "-sample 2x1 -progressive");
    Image full, im;
    ASSERT_TRUE(Ours(prog, 3, &full));
    // Every prefix of both: no crash; a baseline cut inside its scan fails.
    for (size_t n = 0; n < base.size() - 2; n++) {
        Bytes cut(base.begin(), base.begin() + static_cast<long>(n));
        EXPECT_FALSE(Ours(cut, 3, &im)) << n;
    }
    for (size_t n = 0; n < prog.size(); n++) {
        Bytes cut(prog.begin(), prog.begin() + static_cast<long>(n));
        Ours(cut, 4, &im);
    }
    // Without its EOI a progressive stream decodes from the scans it has.
    Bytes noEoi(prog.begin(), prog.end() - 2);
    ASSERT_TRUE(Ours(noEoi, 3, &im));
    EXPECT_EQ(im.px, full.px);
    // Flipped bytes anywhere.
    uint32_t seed = 7;
    int decoded = 0;
    for (int i = 0; i < 400; i++) {
        Bytes b = i % 2 ? base : prog;
        for (int k = 0; k < 1 + i % 3; k++) {
            seed = seed * 1103515245u + 12345u;
            size_t at = (seed >> 8) % b.size();
            b[at] ^= static_cast<uint8_t>(1u << ((seed >> 4) & 7));
        }
        decoded += Ours(b, 1 + (i % 3 == 0 ? 0 : i % 3 == 1 ? 2 : 3), &im) ? 1 : 0;
    }
    std::printf("[ figures ] %d of 400 damaged streams still decoded\n", decoded);
}

TEST_F(Jpeg, FileMemoryAndStreamSourcesAgree) {
    Bytes jpg = Encode("text", 801, 479, "-sample 1x2 -progressive");
    WriteBytes(dir + "/s.jpg", jpg);
    Image mem;
    ASSERT_TRUE(Ours(jpg, 3, &mem));
    int w, h, c;
    unsigned char *p =
        jpgd::decompress_jpeg_image_from_file((dir + "/s.jpg").c_str(), &w, &h, &c, 3);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(Bytes(p, p + mem.px.size()), mem.px);
    std::free(p);
    jpgd::jpeg_decoder_mem_stream ms(jpg.data(), static_cast<uint32_t>(jpg.size()));
    p = jpgd::decompress_jpeg_image_from_stream(&ms, &w, &h, &c, 3);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(Bytes(p, p + mem.px.size()), mem.px);
    std::free(p);
}

TEST_F(Jpeg, UncompressFillsTheWorkBufferOnlyWithAScreenSizedImage) {
    TestUnit u;
    MemScreen s{800, 480, 32};
    u.works.fb = s.fb;
    s.Fill(0x11);
    Bytes other = Encode("bars", 801, 479, "-sample 2x2");
    EXPECT_NE(Uncompress(u.w(), other.data(), static_cast<int>(other.size())), 0);
    Bytes junk(5000, 0xFF);
    EXPECT_NE(Uncompress(u.w(), junk.data(), static_cast<int>(junk.size())), 0);
    Bytes fill(s.fb.memSize, 0x11);
    EXPECT_EQ(DiffBytes(s.fb.workMem, fill.data(), fill.size()), 0u);

    Bytes screen = Encode("text", 800, 480, "-sample 2x2 -progressive");
    Image rgba;
    ASSERT_TRUE(Ours(screen, 4, &rgba));
    ASSERT_EQ(Uncompress(u.w(), screen.data(), static_cast<int>(screen.size())), 0);
    EXPECT_EQ(DiffBytes(s.fb.workMem, rgba.px.data(), s.fb.memSize), 0u);
}

TEST_F(Jpeg, CommittedFuzzCorpusReplays) {
    std::string corpus = std::string(HELIX_SOURCE_DIR) + "/fuzz/corpus/jpeg";
    DIR *d = opendir(corpus.c_str());
    ASSERT_NE(d, nullptr) << corpus;
    int files = 0, decoded = 0;
    while (dirent *e = readdir(d)) {
        if (e->d_name[0] == '.') continue;
        Bytes b = ReadBytes(corpus + "/" + e->d_name);
        Image im;
        for (int req : {1, 3, 4})
            decoded += Ours(b, req, &im) ? 1 : 0;
        files++;
    }
    closedir(d);
    EXPECT_GT(files, 0);
    std::printf("[ figures ] %d corpus files, %d decodes succeeded\n", files, decoded);
}

} // namespace

// The row colour conversion (vector body and scalar tail, single and paired
// chroma, RGB and RGBX) against the decoder's JFIF look-up tables for every
// Cb, Cr pair.
TEST(JpegColour, RowsMatchTheTablesForEveryChromaPair) {
    const jpgd::ColourTables &t = jpgd::Colour();
    auto clamp = [](int x) { return static_cast<uint8_t>(x < 0 ? 0 : x > 255 ? 255 : x); };
    const int n = 256 + 13; // 16 vector groups and a tail
    std::vector<uint8_t> y(n), cb(n), cr(n), out(4 * n);
    std::vector<int16_t> r(n), g(n), b(n);
    int bad = 0;
    for (int u = 0; u < 256; u++) {
        for (bool pairs : {false, true}) {
            for (int i = 0; i < n; i++) {
                cb[i] = static_cast<uint8_t>(u);
                cr[i] = static_cast<uint8_t>(i);
                y[i] = static_cast<uint8_t>(i % 3 == 0 ? (i % 2 ? 255 : 0) : (u * 7 + i * 13));
            }
            jpgd::ChromaOffsets(cb.data(), cr.data(), n, pairs, r.data(), g.data(), b.data());
            for (int comps : {3, 4}) {
                std::fill(out.begin(), out.end(), 0x5A);
                jpgd::ColourPixels(y.data(), r.data(), g.data(), b.data(), out.data(), n, comps);
                for (int i = 0; i < n; i++) {
                    int c = pairs ? i / 2 : i;
                    int uu = cb[c], vv = cr[c];
                    const uint8_t *p = &out[static_cast<size_t>(i) * comps];
                    bad += p[0] != clamp(y[i] + t.crR[vv]);
                    bad += p[1] != clamp(y[i] + ((t.cbG[uu] + t.crG[vv]) >> 16));
                    bad += p[2] != clamp(y[i] + t.cbB[uu]);
                    if (comps == 4) bad += p[3] != 255;
                }
                // Nothing past the row.
                for (size_t i = static_cast<size_t>(n) * comps; i < out.size(); i++)
                    bad += out[i] != 0x5A;
            }
        }
    }
    EXPECT_EQ(bad, 0);
}

// The full transform (vector rows) and the sparse one (scalar rows) agree on
// blocks that both can take, from small values to ones whose samples fall
// far outside 0..255 (clamped, or wrapped as the range table does).
TEST(JpegIdct, FullAndSparsePathsAgree) {
    static const int kSparse[] = {0, 1, 8, 16, 9, 2, 3, 10, 17, 24}; // zig-zag 0..9
    uint32_t seed = 7;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return seed >> 8;
    };
    int bad = 0;
    for (int trial = 0; trial < 3000; trial++) {
        alignas(16) int32_t coef[64] = {};
        int range = trial < 1000 ? 256 : trial < 2000 ? 2048 : 16384;
        for (int p : kSparse)
            if (next() % 3 != 0) coef[p] = static_cast<int32_t>(next() % (2 * range)) - range;
        uint8_t full[8 * 10], sparse[8 * 10];
        std::memset(full, 0, sizeof full);
        std::memset(sparse, 0, sizeof sparse);
        jpgd::IdctBlock(coef, 63, full, 10);
        jpgd::IdctBlock(coef, 9, sparse, 10);
        bad += std::memcmp(full, sparse, sizeof full) != 0;
    }
    EXPECT_EQ(bad, 0);
}
