// JPEG decoding after ITU T.81: marker segments, Huffman entropy decoding of
// sequential and progressive scans, the inverse DCT and the JFIF colour
// conversion with box (replicating) chroma upsampling.
//
// A sequential image whose first scan holds every component is decoded MCU
// row by MCU row straight into the output. Any other image (progressive, or
// sequential with one scan per component) keeps every coefficient until the
// end of the stream and is transformed then.
//
// A scan whose data ends (or meets a marker) before its last MCU fails the
// image. A stream that ends without EOI after at least one complete scan is
// decoded from the scans it has.
#include "jpeg/decode.h"

#include "jpeg/colour.h"
#include "jpeg/idct.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

// The per-block steps of the scan loops must inline into them, so that the
// bit reader stays in registers.
#define JPGD_INLINE inline __attribute__((always_inline))

namespace jpgd {
namespace {

// Zig-zag position -> natural (row-major) position in the 8x8 block.
constexpr uint8_t kNatural[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                                  12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                                  35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                                  58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

constexpr int kLookBits = 11;

struct Huff {
    bool defined = false;
    uint16_t look[1 << kLookBits];  // (length << 8) | symbol for codes of up to 9 bits, 0 if longer
    int32_t fastAc[1 << kLookBits]; // value << 16 | run << 8 | code+extra bits, 0 if not in 9 bits
    int32_t maxcode[17];            // largest code of each length, -1 when none
    int32_t offset[17];             // index into vals of a code of each length, minus the code
    uint8_t vals[256];
};

inline int Extend(uint32_t v, int s) {
    return v < (1u << (s - 1)) ? static_cast<int>(v) - static_cast<int>((1u << s) - 1)
                               : static_cast<int>(v);
}

// Builds the decoding tables from the BITS counts and HUFFVAL list (T.81
// Annex C); false when the counts overflow the code space.
bool BuildHuff(Huff *h, const uint8_t *counts, const uint8_t *vals, int total) {
    *h = Huff{};
    std::memcpy(h->vals, vals, static_cast<size_t>(total));
    uint32_t code = 0;
    int k = 0;
    for (int len = 1; len <= 16; len++) {
        h->offset[len] = k - static_cast<int32_t>(code);
        for (int i = 0; i < counts[len - 1]; i++, k++, code++) {
            if (len <= kLookBits) {
                uint32_t first = code << (kLookBits - len);
                uint32_t n = 1u << (kLookBits - len);
                if (first + n > (1u << kLookBits)) return false;
                for (uint32_t j = 0; j < n; j++)
                    h->look[first + j] = static_cast<uint16_t>((len << 8) | vals[k]);
            }
        }
        h->maxcode[len] = counts[len - 1] ? static_cast<int32_t>(code) - 1 : -1;
        if (code > (1u << len)) return false;
        code <<= 1;
    }
    for (uint32_t i = 0; i < (1u << kLookBits); i++) {
        uint32_t e = h->look[i];
        if (e == 0) continue;
        int len = static_cast<int>(e >> 8), rs = static_cast<int>(e & 255);
        int run = rs >> 4, s = rs & 15;
        if (s == 0 || len + s > kLookBits) continue;
        uint32_t extra = (i >> (kLookBits - len - s)) & ((1u << s) - 1);
        int v = Extend(extra, s);
        h->fastAc[i] =
            static_cast<int32_t>((static_cast<uint32_t>(v) << 16) |
                                 static_cast<uint32_t>(run << 8) | static_cast<uint32_t>(len + s));
    }
    h->defined = true;
    return true;
}

// Entropy-coded bits, most significant first in `acc`. At a marker or the end
// of the data it feeds zero bytes and counts them in `pad`.
struct BitReader {
    const uint8_t *p = nullptr;
    const uint8_t *end = nullptr;
    uint64_t acc = 0;
    int n = 0;
    int pad = 0;

    // Leaves at least 57 bits in `acc`.
    inline void Refill();
    inline uint32_t Peek(int k) const { return static_cast<uint32_t>(acc >> (64 - k)); }
    inline void Skip(int k) {
        acc <<= k;
        n -= k;
    }
    inline uint32_t Get(int k) {
        uint32_t v = Peek(k);
        Skip(k);
        return v;
    }
    inline uint32_t Bit() {
        if (n < 1) Refill();
        return Get(1);
    }
    // True when bits beyond the real data have been used.
    bool Overrun() const { return pad * 8 > n; }
    void Reset(const uint8_t *at) {
        p = at;
        acc = 0;
        n = 0;
        pad = 0;
    }
};

// Byte-by-byte refill, for the bytes next to a marker or the end. Out of line
// and on a copy, so that the hot loops keep their reader in registers.
__attribute__((noinline)) BitReader RefillSlowCopy(BitReader r) {
    while (r.n <= 56) {
        uint32_t b = 0;
        if (r.pad == 0 && r.p < r.end && (*r.p != 0xFF || (r.p + 1 < r.end && r.p[1] == 0))) {
            b = *r.p;
            r.p += b == 0xFF ? 2 : 1;
        } else {
            r.pad++;
        }
        r.acc |= static_cast<uint64_t>(b) << (56 - r.n);
        r.n += 8;
    }
    return r;
}

inline void BitReader::Refill() {
    if (end - p >= 8) {
        uint64_t w;
        std::memcpy(&w, p, 8);
        w = __builtin_bswap64(w);
        uint64_t x = ~w;
        if (((x - 0x0101010101010101ull) & ~x & 0x8080808080808080ull) == 0) {
            // No 0xFF among the next 8 bytes: take whole bytes; the bits
            // of a partly taken byte are the same ones it brings later.
            acc |= w >> n;
            p += (63 - n) >> 3;
            n |= 56;
            return;
        }
    }
    *this = RefillSlowCopy(*this);
}

// Codes longer than the look-up table: (length << 8) | symbol, or 0 when the
// bits are no code of the table.
__attribute__((noinline)) uint32_t DecodeSlow(uint64_t acc, const Huff &h) {
    for (int len = kLookBits + 1; len <= 16; len++) {
        uint32_t code = static_cast<uint32_t>(acc >> (64 - len));
        if (static_cast<int32_t>(code) <= h.maxcode[len])
            return static_cast<uint32_t>(len << 8) |
                   h.vals[static_cast<uint32_t>(h.offset[len] + static_cast<int32_t>(code)) & 255];
    }
    return 0;
}

// One Huffman symbol; the reader must hold at least 16 bits. -1 for a code
// that is not in the table.
inline int Decode(BitReader &br, const Huff &h) {
    uint32_t e = h.look[br.Peek(kLookBits)];
    if (e != 0) {
        br.Skip(static_cast<int>(e >> 8));
        return static_cast<int>(e & 255);
    }
    e = DecodeSlow(br.acc, h);
    if (e == 0) {
        br.Skip(16);
        return -1;
    }
    br.Skip(static_cast<int>(e >> 8));
    return static_cast<int>(e & 255);
}

// Zeroes what DecodeBlock wrote: the few positions of a sparse block, or the
// whole block with wide stores.
inline void ClearBlock(int32_t *blk, int last) {
    if (last < 10) {
        for (int k = 0; k <= last; k++)
            blk[kNatural[k]] = 0;
        return;
    }
    typedef int32_t Wide __attribute__((vector_size(16)));
    Wide *w = reinterpret_cast<Wide *>(blk);
    for (int i = 0; i < 16; i++)
        w[i] = Wide{0, 0, 0, 0};
}

struct Comp {
    int id = 0, h = 1, v = 1, tq = 0;
    int bw = 0, bh = 0;   // blocks per row / column in the (MCU-padded) buffers
    int nbw = 0, nbh = 0; // blocks that hold image samples (non-interleaved scans)
    uint16_t q[64] = {};  // quantisation, natural order
    uint16_t qz[64] = {}; // quantisation, zig-zag order
    bool qSet = false;
    bool dcDone = false;
    uint32_t pred = 0;
    int dcT = 0, acT = 0;
    int16_t *coef = nullptr;
    uint64_t *nz = nullptr; // per block: zig-zag positions that hold an AC value
    uint8_t *plane = nullptr;
    int stride = 0;
};

struct FreeDeleter {
    void operator()(void *p) const { std::free(p); }
};

// The coefficient block a thread keeps between images, up to this size
// (an 800 x 480 colour image needs about 2.4 MB).
constexpr size_t kKeptBytes = size_t{8} << 20;
struct Kept {
    std::unique_ptr<uint8_t, FreeDeleter> mem;
    size_t size = 0;
};
thread_local Kept kept;

enum ScanKind { kSequential, kDcFirst, kDcRefine, kAcFirst, kAcRefine };

struct Decoder {
    const uint8_t *data = nullptr;
    size_t size = 0;
    size_t pos = 0;

    uint16_t qt[4][64] = {};
    bool qtSet[4] = {};
    Huff dc[4], ac[4];
    int restartInterval = 0;

    bool frameSeen = false;
    bool progressive = false;
    int width = 0, height = 0, ncomp = 0;
    int hmax = 1, vmax = 1, mcusX = 0, mcusY = 0;
    Comp comp[3];
    bool buffered = false;
    int scansDone = 0;

    // Current scan.
    int scanN = 0;
    int scanComp[4] = {};
    int ss = 0, se = 63, ah = 0, al = 0;
    ScanKind kind = kSequential;
    BitReader br;
    uint32_t eobrun = 0;
    bool err = false;

    int req = 3;
    uint64_t maxPixels = kAnyPixels;
    std::unique_ptr<uint8_t, FreeDeleter> out;
    std::vector<uint8_t> planes;
    std::vector<int16_t> offsets; // red, green and blue chroma offsets of one row
    std::unique_ptr<uint8_t, FreeDeleter> coefBlock; // when larger than the kept block

    int Byte() { return pos < size ? data[pos++] : -1; }
    int Word() {
        if (pos > size || size - pos < 2) return -1;
        int v = (data[pos] << 8) | data[pos + 1];
        pos += 2;
        return v;
    }

    // Next marker code at or after `pos` (skipping anything that is not a
    // marker), with `pos` just past it; -1 at the end of the data.
    int NextMarker() {
        while (pos + 1 < size) {
            if (data[pos] != 0xFF) {
                pos++;
                continue;
            }
            uint8_t c = data[pos + 1];
            if (c == 0xFF) {
                pos++;
                continue;
            }
            pos += 2;
            if (c != 0) return c;
        }
        pos = size;
        return -1;
    }

    // A segment body of `len` bytes starting at `pos`; false when its length
    // field is short or runs past the data.
    bool Segment(size_t *len) {
        int l = Word();
        if (l < 2 || static_cast<size_t>(l - 2) > size - pos) return false;
        *len = static_cast<size_t>(l - 2);
        return true;
    }

    bool ReadDqt() {
        size_t len;
        if (!Segment(&len)) return false;
        size_t stop = pos + len;
        while (pos < stop) {
            int pq = data[pos] >> 4, tq = data[pos] & 15;
            pos++;
            if (pq > 1 || tq > 3) return false;
            size_t need = pq ? 128 : 64;
            if (stop - pos < need) return false;
            for (int i = 0; i < 64; i++) {
                uint16_t v =
                    pq ? static_cast<uint16_t>((data[pos + 2 * i] << 8) | data[pos + 2 * i + 1])
                       : data[pos + i];
                qt[tq][kNatural[i]] = v;
            }
            qtSet[tq] = true;
            pos += need;
        }
        return true;
    }

    bool ReadDht() {
        size_t len;
        if (!Segment(&len)) return false;
        size_t stop = pos + len;
        while (pos < stop) {
            if (stop - pos < 17) return false;
            int tc = data[pos] >> 4, th = data[pos] & 15;
            if (tc > 1 || th > 3) return false;
            const uint8_t *counts = data + pos + 1;
            int total = 0;
            for (int i = 0; i < 16; i++)
                total += counts[i];
            pos += 17;
            if (total > 256 || stop - pos < static_cast<size_t>(total)) return false;
            if (!BuildHuff(tc ? &ac[th] : &dc[th], counts, data + pos, total)) return false;
            pos += static_cast<size_t>(total);
        }
        return true;
    }

    bool ReadDri() {
        size_t len;
        if (!Segment(&len) || len != 2) return false;
        restartInterval = Word();
        return true;
    }

    bool ReadSof(int marker) {
        if (frameSeen) return false;
        frameSeen = true;
        progressive = marker == 0xC2;
        size_t len;
        if (!Segment(&len) || len < 6) return false;
        int precision = data[pos];
        height = (data[pos + 1] << 8) | data[pos + 2];
        width = (data[pos + 3] << 8) | data[pos + 4];
        ncomp = data[pos + 5];
        pos += 6;
        if (len != 6 + 3 * static_cast<size_t>(ncomp)) return false;
        if (precision != 8) return false;
        if (width < 1 || width > kMaxSide || height < 1 || height > kMaxSide) return false;
        if (static_cast<uint64_t>(width) * static_cast<uint64_t>(height) > maxPixels) return false;
        if (ncomp != 1 && ncomp != 3) return false;
        for (int i = 0; i < ncomp; i++) {
            Comp &c = comp[i];
            c.id = data[pos];
            c.h = data[pos + 1] >> 4;
            c.v = data[pos + 1] & 15;
            c.tq = data[pos + 2];
            pos += 3;
            if (c.h < 1 || c.h > 4 || c.v < 1 || c.v > 4 || c.tq > 3) return false;
            for (int j = 0; j < i; j++)
                if (comp[j].id == c.id) return false;
        }
        if (ncomp == 1) {
            // A lone component is coded one block per MCU whatever its factors.
            comp[0].h = comp[0].v = 1;
        } else {
            if (comp[0].h > 2 || comp[0].v > 2) return false;
            for (int i = 1; i < 3; i++)
                if (comp[i].h != 1 || comp[i].v != 1) return false;
        }
        hmax = comp[0].h;
        vmax = comp[0].v;
        if (static_cast<uint64_t>(width) * static_cast<uint64_t>(height) *
                static_cast<uint64_t>(ncomp > req ? ncomp : req) >
            kMaxSamples)
            return false;
        mcusX = (width + 8 * hmax - 1) / (8 * hmax);
        mcusY = (height + 8 * vmax - 1) / (8 * vmax);
        for (int i = 0; i < ncomp; i++) {
            Comp &c = comp[i];
            c.bw = mcusX * c.h;
            c.bh = mcusY * c.v;
            int cw = (width * c.h + hmax - 1) / hmax;
            int ch = (height * c.v + vmax - 1) / vmax;
            c.nbw = (cw + 7) / 8;
            c.nbh = (ch + 7) / 8;
        }
        return true;
    }

    bool ReadSos() {
        if (!frameSeen) return false;
        size_t len;
        if (!Segment(&len) || len < 1) return false;
        scanN = data[pos++];
        if (scanN < 1 || scanN > 4 || len != 4 + 2 * static_cast<size_t>(scanN)) return false;
        bool used[3] = {};
        for (int i = 0; i < scanN; i++) {
            int id = data[pos], td = data[pos + 1] >> 4, ta = data[pos + 1] & 15;
            pos += 2;
            int ci = -1;
            for (int j = 0; j < ncomp; j++)
                if (comp[j].id == id) ci = j;
            if (ci < 0 || used[ci] || td > 3 || ta > 3) return false;
            used[ci] = true;
            scanComp[i] = ci;
            comp[ci].dcT = td;
            comp[ci].acT = ta;
        }
        ss = data[pos];
        se = data[pos + 1];
        ah = data[pos + 2] >> 4;
        al = data[pos + 2] & 15;
        pos += 3;
        if (!progressive) {
            kind = kSequential;
        } else {
            if (ss > se || se > 63 || ah > 13 || al > 13) return false;
            if (ah != 0 && al != ah - 1) return false;
            if (ss == 0) {
                if (se != 0) return false;
                kind = ah == 0 ? kDcFirst : kDcRefine;
            } else {
                if (scanN != 1) return false;
                kind = ah == 0 ? kAcFirst : kAcRefine;
            }
        }
        for (int i = 0; i < scanN; i++) {
            Comp &c = comp[scanComp[i]];
            if ((kind == kSequential || kind == kDcFirst) && !dc[c.dcT].defined) return false;
            if ((kind == kSequential || kind == kAcFirst || kind == kAcRefine) &&
                !ac[c.acT].defined)
                return false;
            if ((kind == kDcRefine || kind == kAcFirst || kind == kAcRefine) && !c.dcDone)
                return false;
            if (!c.qSet) {
                if (!qtSet[c.tq]) return false;
                std::memcpy(c.q, qt[c.tq], sizeof c.q);
                for (int k = 0; k < 64; k++)
                    c.qz[k] = c.q[kNatural[k]];
                c.qSet = true;
            }
        }
        return true;
    }

    // Sequential and first DC scans spend at least one bit on every block
    // (no Huffman code is shorter), so a scan with more blocks than the bits
    // left cannot be complete: fail before allocating for it. This keeps a
    // few hostile bytes from claiming a gigabyte for a 16384 x 16384 frame.
    bool EnoughData() const {
        if (kind != kSequential && kind != kDcFirst) return true;
        uint64_t blocks = 0;
        if (scanN == 1) {
            const Comp &c = comp[scanComp[0]];
            blocks = static_cast<uint64_t>(c.nbw) * static_cast<uint64_t>(c.nbh);
        } else {
            for (int i = 0; i < scanN; i++)
                blocks += static_cast<uint64_t>(comp[scanComp[i]].h * comp[scanComp[i]].v);
            blocks *= static_cast<uint64_t>(mcusX) * static_cast<uint64_t>(mcusY);
        }
        return static_cast<uint64_t>(size - pos) * 8 >= blocks;
    }

    bool AllocPlanes() {
        size_t total = 0;
        for (int i = 0; i < ncomp; i++)
            total += static_cast<size_t>(comp[i].bw) * 8 * comp[i].v * 8;
        planes.assign(total, 0);
        if (ncomp == 3) offsets.assign(3 * static_cast<size_t>(width), 0);
        uint8_t *p = planes.data();
        for (int i = 0; i < ncomp; i++) {
            comp[i].stride = comp[i].bw * 8;
            comp[i].plane = p;
            p += static_cast<size_t>(comp[i].stride) * comp[i].v * 8;
        }
        out.reset(static_cast<uint8_t *>(
            std::malloc(static_cast<size_t>(width) * static_cast<size_t>(height) * req)));
        return out != nullptr;
    }

    // Restart marker handling between intervals: the next marker must be RSTn.
    bool Restart() {
        if (br.Overrun()) return false;
        const uint8_t *q = br.p;
        while (q + 1 < data + size && !(q[0] == 0xFF && q[1] != 0 && q[1] != 0xFF))
            q++;
        if (q + 1 >= data + size || q[1] < 0xD0 || q[1] > 0xD7) return false;
        br.Reset(q + 2);
        for (int i = 0; i < ncomp; i++)
            comp[i].pred = 0;
        eobrun = 0;
        return true;
    }

    // --- Sequential block straight to samples -------------------------------

    // Decodes one block into `blk` (dequantised, natural order, zero on entry)
    // and returns the last zig-zag position set.
    inline int DecodeBlock(Comp &c, int32_t *blk) {
        BitReader r = br;
        const Huff &hd = dc[c.dcT];
        const Huff &ha = ac[c.acT];
        if (r.n < 32) r.Refill();
        int s = Decode(r, hd);
        if (s < 0 || s > 15) {
            err = true;
            s = 0;
        }
        if (s) c.pred += static_cast<uint32_t>(Extend(r.Get(s), s));
        blk[0] = static_cast<int16_t>(c.pred) * c.qz[0];
        int last = 0;
        for (int k = 1; k < 64;) {
            if (r.n < 32) r.Refill();
            int32_t f = ha.fastAc[r.Peek(kLookBits)];
            if (f != 0) {
                k += (f >> 8) & 15;
                r.Skip(f & 255);
                if (k > 63) {
                    err = true;
                    break;
                }
                blk[kNatural[k]] = (f >> 16) * c.qz[k];
                last = k++;
                continue;
            }
            int rs = Decode(r, ha);
            if (rs < 0) {
                err = true;
                break;
            }
            int run = rs >> 4, size = rs & 15;
            if (size) {
                k += run;
                if (k > 63) {
                    err = true;
                    break;
                }
                blk[kNatural[k]] = Extend(r.Get(size), size) * c.qz[k];
                last = k++;
            } else {
                if (run != 15) break;
                k += 16;
            }
        }
        br = r;
        return last;
    }

    bool DecodeStreaming() {
        if (!AllocPlanes()) return false;
        alignas(16) int32_t blk[64] = {};
        int todo = restartInterval;
        for (int my = 0; my < mcusY; my++) {
            for (int mx = 0; mx < mcusX; mx++) {
                if (restartInterval) {
                    if (todo == 0) {
                        if (!Restart()) return false;
                        todo = restartInterval;
                    }
                    todo--;
                }
                for (int i = 0; i < scanN; i++) {
                    Comp &c = comp[scanComp[i]];
                    for (int v = 0; v < c.v; v++)
                        for (int h = 0; h < c.h; h++) {
                            int last = DecodeBlock(c, blk);
                            IdctBlock(blk, last, c.plane + v * 8 * c.stride + (mx * c.h + h) * 8,
                                      c.stride);
                            ClearBlock(blk, last);
                        }
                }
            }
            if (err || br.Overrun()) return false;
            EmitRows(my);
        }
        return true;
    }

    // --- Coefficient-buffer scans --------------------------------------------
    // Each scan runs with its reader and end-of-band run in locals; `bad`
    // records a code that is not in its table or a run past the band.

    static JPGD_INLINE void DcFirst(BitReader &r, bool &bad, Comp &c, const Huff &h, int al,
                                    int16_t *blk) {
        if (r.n < 32) r.Refill();
        int s = Decode(r, h);
        if (s < 0 || s > 15) {
            bad = true;
            s = 0;
        }
        if (s) c.pred += static_cast<uint32_t>(Extend(r.Get(s), s));
        blk[0] = static_cast<int16_t>(c.pred << al);
    }

    static JPGD_INLINE void AcFirst(BitReader &r, uint32_t &eob, bool &bad, const Huff &h, int from,
                                    int to, int al, int16_t *blk, uint64_t &nz) {
        if (eob) {
            eob--;
            return;
        }
        for (int k = from; k <= to; k++) {
            if (r.n < 32) r.Refill();
            int32_t f = h.fastAc[r.Peek(kLookBits)];
            if (f != 0) {
                k += (f >> 8) & 15;
                r.Skip(f & 255);
                if (k > to) {
                    bad = true;
                    return;
                }
                int16_t v = static_cast<int16_t>(static_cast<uint32_t>(f >> 16) << al);
                blk[kNatural[k]] = v;
                nz |= static_cast<uint64_t>(v != 0) << k;
                continue;
            }
            int rs = Decode(r, h);
            if (rs < 0) {
                bad = true;
                return;
            }
            int run = rs >> 4, s = rs & 15;
            if (s) {
                k += run;
                if (k > to) {
                    bad = true;
                    return;
                }
                int16_t v = static_cast<int16_t>(static_cast<uint32_t>(Extend(r.Get(s), s)) << al);
                blk[kNatural[k]] = v;
                nz |= static_cast<uint64_t>(v != 0) << k;
            } else if (run == 15) {
                k += 15;
            } else {
                eob = 1u << run;
                if (run) eob += r.Get(run);
                eob--;
                return;
            }
        }
    }

    // Zig-zag positions from..to as bits (none when from > to).
    static JPGD_INLINE uint64_t Band(int from, int to) {
        return from > to ? 0 : (~uint64_t{0} >> (63 - to)) & (~uint64_t{0} << from);
    }

    // Applies one correction bit to each coefficient of `m` (positions that
    // hold a value, which the masks keep non-zero), up to 32 bits per refill,
    // so that the reader does not wait on the coefficients' loads. Without
    // branches on the bits, which the processor cannot predict.
    static JPGD_INLINE void Correct(BitReader &r, int16_t *blk, uint64_t m, int p1) {
        while (m != 0) {
            if (r.n < 32) r.Refill();
            uint64_t bits = r.acc;
            int used = 0;
            for (; m != 0 && used < 32; used++, m &= m - 1) {
                int16_t *coef = blk + kNatural[__builtin_ctzll(m)];
                int v = *coef;
                int bit = static_cast<int>(bits >> 63) & static_cast<int>((v & p1) == 0);
                bits <<= 1;
                int delta = v >= 0 ? p1 : -p1;
                *coef = static_cast<int16_t>(v + (bit ? delta : 0));
            }
            r.Skip(used);
        }
    }

    static JPGD_INLINE void AcRefine(BitReader &r, uint32_t &eob, bool &bad, const Huff &h, int ss,
                                     int se, int al, int16_t *blk, uint64_t &nz) {
        int p1 = 1 << al;
        int k = ss;
        if (eob == 0) {
            for (; k <= se; k++) {
                if (r.n < 32) r.Refill();
                int rs = Decode(r, h);
                if (rs < 0) {
                    bad = true;
                    return;
                }
                int run = rs >> 4, s = rs & 15;
                int value = 0;
                if (s) {
                    if (s != 1) {
                        bad = true;
                        return;
                    }
                    value = r.Get(1) ? p1 : -p1;
                } else if (run != 15) {
                    eob = 1u << run;
                    if (run) eob += r.Get(run);
                    break;
                }
                // Skip `run` zero-history positions, correcting the non-zero
                // ones met on the way; the new value goes to the next zero.
                uint64_t band = Band(k, se);
                uint64_t zeros = ~nz & band;
                for (int i = 0; i < run && zeros != 0; i++)
                    zeros &= zeros - 1;
                int stop = zeros != 0 ? __builtin_ctzll(zeros) : se + 1;
                uint64_t below = stop >= 64 ? ~uint64_t{0} : (uint64_t{1} << stop) - 1;
                Correct(r, blk, nz & band & below, p1);
                k = stop;
                if (s) {
                    if (k > se) {
                        bad = true;
                        return;
                    }
                    blk[kNatural[k]] = static_cast<int16_t>(value);
                    nz |= uint64_t{1} << k;
                }
            }
        }
        if (eob) {
            // Only the positions that hold a value can take a correction bit.
            Correct(r, blk, nz & Band(k, se), p1);
            eob--;
        }
    }

    template <ScanKind K>
    JPGD_INLINE void DecodeOne(BitReader &r, uint32_t &eob, bool &bad, Comp &c, int16_t *blk,
                               uint64_t &nz) {
        if constexpr (K == kSequential) {
            eob = 0;
            DcFirst(r, bad, c, dc[c.dcT], 0, blk);
            AcFirst(r, eob, bad, ac[c.acT], 1, 63, 0, blk, nz);
        } else if constexpr (K == kDcFirst) {
            DcFirst(r, bad, c, dc[c.dcT], al, blk);
        } else if constexpr (K == kDcRefine) {
            if (r.Bit()) blk[0] = static_cast<int16_t>(blk[0] | (1 << al));
        } else if constexpr (K == kAcFirst) {
            AcFirst(r, eob, bad, ac[c.acT], ss, se, al, blk, nz);
        } else {
            AcRefine(r, eob, bad, ac[c.acT], ss, se, al, blk, nz);
        }
    }

    // Coefficients and masks of every component, zeroed, in one block. A
    // screen-sized block is kept by the thread for its next image: freeing
    // and claiming it again makes the system map and clear fresh pages each
    // time, which costs more than clearing the kept ones.
    bool AllocCoefs() {
        size_t total = 0;
        for (int i = 0; i < ncomp; i++) {
            size_t blocks = static_cast<size_t>(comp[i].bw) * static_cast<size_t>(comp[i].bh);
            total += blocks * (64 * sizeof(int16_t) + sizeof(uint64_t));
        }
        uint8_t *p;
        if (total <= kKeptBytes) {
            Kept &k = kept;
            if (k.size < total) {
                k.mem.reset(static_cast<uint8_t *>(std::malloc(total)));
                k.size = k.mem ? total : 0;
                if (!k.mem) return false;
            }
            p = k.mem.get();
            std::memset(p, 0, total);
        } else {
            coefBlock.reset(static_cast<uint8_t *>(std::calloc(total, 1)));
            if (!coefBlock) return false;
            p = coefBlock.get();
        }
        for (int i = 0; i < ncomp; i++) {
            size_t blocks = static_cast<size_t>(comp[i].bw) * static_cast<size_t>(comp[i].bh);
            comp[i].coef = reinterpret_cast<int16_t *>(p);
            p += blocks * 64 * sizeof(int16_t);
        }
        for (int i = 0; i < ncomp; i++) {
            comp[i].nz = reinterpret_cast<uint64_t *>(p);
            p += static_cast<size_t>(comp[i].bw) * static_cast<size_t>(comp[i].bh) *
                 sizeof(uint64_t);
        }
        return true;
    }

    template <ScanKind K> bool ScanLoop() {
        BitReader r = br;
        uint32_t eob = 0;
        bool bad = false;
        int todo = restartInterval;
        auto step = [&]() {
            if (restartInterval) {
                if (todo == 0) {
                    br = r;
                    if (!Restart()) return false;
                    r = br;
                    eob = 0;
                    todo = restartInterval;
                }
                todo--;
            }
            return true;
        };
        if (scanN == 1) {
            Comp &c = comp[scanComp[0]];
            for (int by = 0; by < c.nbh; by++) {
                int16_t *row = c.coef + static_cast<size_t>(by) * c.bw * 64;
                for (int bx = 0; bx < c.nbw; bx++) {
                    if (!step()) return false;
                    DecodeOne<K>(r, eob, bad, c, row + bx * 64,
                                 c.nz[static_cast<size_t>(by) * c.bw + bx]);
                }
                if (bad || r.Overrun()) return false;
            }
        } else {
            for (int my = 0; my < mcusY; my++) {
                for (int mx = 0; mx < mcusX; mx++) {
                    if (!step()) return false;
                    for (int i = 0; i < scanN; i++) {
                        Comp &c = comp[scanComp[i]];
                        for (int v = 0; v < c.v; v++) {
                            int16_t *row = c.coef + (static_cast<size_t>(my) * c.v + v) * c.bw * 64;
                            for (int h = 0; h < c.h; h++)
                                DecodeOne<K>(r, eob, bad, c, row + (mx * c.h + h) * 64,
                                             c.nz[(static_cast<size_t>(my) * c.v + v) * c.bw +
                                                  mx * c.h + h]);
                        }
                    }
                }
                if (bad || r.Overrun()) return false;
            }
        }
        br = r;
        return true;
    }

    bool DecodeBuffered() {
        switch (kind) {
        case kSequential:
            return ScanLoop<kSequential>();
        case kDcFirst:
            return ScanLoop<kDcFirst>();
        case kDcRefine:
            return ScanLoop<kDcRefine>();
        case kAcFirst:
            return ScanLoop<kAcFirst>();
        case kAcRefine:
            return ScanLoop<kAcRefine>();
        }
        return false;
    }

    bool FinishBuffered() {
        if (!AllocPlanes()) return false;
        alignas(16) int32_t blk[64] = {};
        for (int my = 0; my < mcusY; my++) {
            for (int i = 0; i < ncomp; i++) {
                Comp &c = comp[i];
                for (int v = 0; v < c.v; v++) {
                    size_t first = (static_cast<size_t>(my) * c.v + v) * c.bw;
                    const int16_t *row = c.coef + first * 64;
                    const uint64_t *masks = c.nz + first;
                    for (int bx = 0; bx < c.bw; bx++) {
                        const int16_t *src = row + bx * 64;
                        uint8_t *dst = c.plane + v * 8 * c.stride + bx * 8;
                        // The mask says where AC values can be: the last one
                        // picks the transform's path, and a sparse block is
                        // dequantised only where it has values.
                        uint64_t m = masks[bx];
                        int last = m ? 63 - __builtin_clzll(m) : 0;
                        blk[0] = src[0] * c.q[0];
                        if (last < 10) {
                            for (; m != 0; m &= m - 1) {
                                int n = kNatural[__builtin_ctzll(m)];
                                blk[n] = src[n] * c.q[n];
                            }
                        } else {
                            for (int k = 1; k < 64; k++)
                                blk[k] = src[k] * c.q[k];
                        }
                        IdctBlock(blk, last, dst, c.stride);
                        ClearBlock(blk, last);
                    }
                }
            }
            EmitRows(my);
        }
        return true;
    }

    // --- Output ---------------------------------------------------------------

    template <int R>
    static inline void Put(uint8_t *__restrict d, uint8_t r, uint8_t g, uint8_t b) {
        if constexpr (R == 1) {
            d[0] = static_cast<uint8_t>((19595 * r + 38470 * g + 7471 * b + 32768) >> 16);
        } else {
            d[0] = r;
            d[1] = g;
            d[2] = b;
            if constexpr (R == 4) d[3] = 255;
        }
    }

    // One row of colour pixels; HS pixels share each chroma sample. Every
    // value is loaded before the stores so that they need no reloads.
    template <int R, int HS>
    static void ColourRow(const uint8_t *__restrict y, const uint8_t *__restrict cb,
                          const uint8_t *__restrict cr, uint8_t *__restrict d, int w) {
        const ColourTables &t = Colour();
        const int32_t *__restrict crR = t.crR;
        const int32_t *__restrict cbB = t.cbB;
        const int32_t *__restrict crG = t.crG;
        const int32_t *__restrict cbG = t.cbG;
        const uint8_t *__restrict cl = t.clamp + 384;
        int pairs = w / HS;
        for (int c = 0; c < pairs; c++, y += HS, d += R * HS) {
            int u = cb[c], v = cr[c];
            int rOff = crR[v];
            int gOff = (cbG[u] + crG[v]) >> 16;
            int bOff = cbB[u];
            int y0 = y[0];
            uint8_t r0 = cl[y0 + rOff], g0 = cl[y0 + gOff], b0 = cl[y0 + bOff];
            if constexpr (HS == 2) {
                int y1 = y[1];
                uint8_t r1 = cl[y1 + rOff], g1 = cl[y1 + gOff], b1 = cl[y1 + bOff];
                Put<R>(d, r0, g0, b0);
                Put<R>(d + R, r1, g1, b1);
            } else {
                Put<R>(d, r0, g0, b0);
            }
        }
        if (pairs * HS < w) { // the odd last pixel of a two-wide layout
            int u = cb[pairs], v = cr[pairs];
            int y0 = y[0];
            Put<R>(d, cl[y0 + crR[v]], cl[y0 + ((cbG[u] + crG[v]) >> 16)], cl[y0 + cbB[u]]);
        }
    }

    template <int R> static void GreyRow(const uint8_t *s, uint8_t *d, int w) {
        if constexpr (R == 1) {
            std::memcpy(d, s, static_cast<size_t>(w));
        } else {
            for (int x = 0; x < w; x++, d += R) {
                d[0] = d[1] = d[2] = s[x];
                if constexpr (R == 4) d[3] = 255;
            }
        }
    }

    template <int R> void EmitRowsAs(int my) {
        int y0 = my * vmax * 8;
        int rows = height - y0 < vmax * 8 ? height - y0 : vmax * 8;
        size_t rowBytes = static_cast<size_t>(width) * R;
        uint8_t *d = out.get() + static_cast<size_t>(y0) * rowBytes;
        for (int r = 0; r < rows; r++, d += rowBytes) {
            if (ncomp == 1) {
                GreyRow<R>(comp[0].plane + r * comp[0].stride, d, width);
                continue;
            }
            const uint8_t *y = comp[0].plane + r * comp[0].stride;
            int cr = vmax == 2 ? r >> 1 : r;
            const uint8_t *cbp = comp[1].plane + cr * comp[1].stride;
            const uint8_t *crp = comp[2].plane + cr * comp[2].stride;
            if constexpr (R != 1) {
                // Both rows of a 2 x 2 layout share one set of offsets.
                size_t n = static_cast<size_t>(width);
                int16_t *ro = offsets.data(), *go = ro + n, *bo = go + n;
                if (vmax == 1 || (r & 1) == 0)
                    ChromaOffsets(cbp, crp, width, hmax == 2, ro, go, bo);
                ColourPixels(y, ro, go, bo, d, width, R);
                continue;
            }
            if (hmax == 2)
                ColourRow<R, 2>(y, cbp, crp, d, width);
            else
                ColourRow<R, 1>(y, cbp, crp, d, width);
        }
    }

    void EmitRows(int my) {
        if (req == 1)
            EmitRowsAs<1>(my);
        else if (req == 3)
            EmitRowsAs<3>(my);
        else
            EmitRowsAs<4>(my);
    }

    // --- Driver ----------------------------------------------------------------

    bool Run() {
        if (size < 2 || data[0] != 0xFF || data[1] != 0xD8) return false;
        pos = 2;
        for (;;) {
            int m = NextMarker();
            if (m < 0 || m == 0xD9) {
                // End of the image (or of the data after complete scans).
                if (!frameSeen || scansDone == 0) return false;
                return buffered ? FinishBuffered() : false;
            }
            switch (m) {
            case 0xC0:
            case 0xC1:
            case 0xC2:
                if (!ReadSof(m)) return false;
                break;
            case 0xC4:
                if (!ReadDht()) return false;
                break;
            case 0xDB:
                if (!ReadDqt()) return false;
                break;
            case 0xDD:
                if (!ReadDri()) return false;
                break;
            case 0xDA: {
                if (!ReadSos()) return false;
                if (!EnoughData()) return false;
                bool first = scansDone == 0;
                if (first) {
                    buffered = progressive || scanN != ncomp;
                    if (buffered && !AllocCoefs()) return false;
                }
                br.p = data + pos;
                br.end = data + size;
                br.Reset(data + pos);
                eobrun = 0;
                for (int i = 0; i < ncomp; i++)
                    comp[i].pred = 0;
                if (!buffered) return DecodeStreaming();
                if (!DecodeBuffered()) return false;
                for (int i = 0; i < scanN; i++)
                    if (kind == kSequential || kind == kDcFirst) comp[scanComp[i]].dcDone = true;
                scansDone++;
                pos = static_cast<size_t>(br.p - data);
                break;
            }
            case 0xD8: // a second SOI
                return false;
            case 0x01:
            case 0xD0:
            case 0xD1:
            case 0xD2:
            case 0xD3:
            case 0xD4:
            case 0xD5:
            case 0xD6:
            case 0xD7:
                break; // markers without a segment
            default:
                // Other frame types (lossless, hierarchical, arithmetic
                // coding and its conditioning tables) are not decoded.
                if ((m >= 0xC3 && m <= 0xCF) || m == 0xDE || m == 0xDF) return false;
                {
                    size_t len;
                    if (!Segment(&len)) return false;
                    pos += len;
                }
                break;
            }
        }
    }
};

} // namespace

uint8_t *DecodeImage(const uint8_t *data, size_t size, int req_comps, int *width, int *height,
                     int *actual_comps, uint64_t maxPixels) {
    if (data == nullptr || width == nullptr || height == nullptr || actual_comps == nullptr)
        return nullptr;
    if (req_comps != 1 && req_comps != 3 && req_comps != 4) return nullptr;
    auto d = std::make_unique<Decoder>();
    d->data = data;
    d->size = size;
    d->req = req_comps;
    d->maxPixels = maxPixels;
    if (!d->Run()) return nullptr;
    *width = d->width;
    *height = d->height;
    *actual_comps = d->ncomp;
    return d->out.release();
}

bool ReadFrameSize(const uint8_t *data, size_t size, int *width, int *height, int *comps) {
    if (data == nullptr || width == nullptr || height == nullptr || comps == nullptr) return false;
    if (size < 2 || data[0] != 0xFF || data[1] != 0xD8) return false;
    size_t pos = 2;
    while (pos + 1 < size) {
        if (data[pos] != 0xFF || data[pos + 1] == 0xFF) {
            pos++;
            continue;
        }
        uint8_t m = data[pos + 1];
        pos += 2;
        if (m == 0 || m == 0x01 || (m >= 0xD0 && m <= 0xD7)) continue; // no segment
        if (m == 0xD8 || m == 0xD9 || m == 0xDA) return false;         // no frame before
        if (size - pos < 2) return false;
        size_t len = static_cast<size_t>((data[pos] << 8) | data[pos + 1]);
        if (len < 2 || len > size - pos) return false;
        if (m == 0xC0 || m == 0xC1 || m == 0xC2) {
            const uint8_t *p = data + pos + 2;
            if (len < 8) return false;
            int h = (p[1] << 8) | p[2], w = (p[3] << 8) | p[4], n = p[5];
            if (p[0] != 8 || (n != 1 && n != 3) || len != 8 + 3 * static_cast<size_t>(n) || w < 1 ||
                w > kMaxSide || h < 1 || h > kMaxSide)
                return false;
            *width = w;
            *height = h;
            *comps = n;
            return true;
        }
        // Other frame types are not decoded (0xC4 is a Huffman table).
        if (m != 0xC4 && ((m >= 0xC3 && m <= 0xCF) || m == 0xDE || m == 0xDF)) return false;
        pos += len;
    }
    return false;
}

} // namespace jpgd
