// JPEG decoder (ITU T.81 with the JFIF colour conventions): baseline and
// progressive Huffman-coded streams, 8-bit samples, grey or YCbCr with the
// luminance layouts H1V1, H2V1, H1V2 and H2V2, frames up to 16384 x 16384.
// Every failure gives the null result; nothing is logged.
#pragma once
#include <cstdint>
#include <cstdio>

namespace jpgd {

// A source of compressed bytes. `read` fills up to `max_bytes` bytes and
// returns how many it gave (0 at the end, with *eof_flag set) or -1 on error.
class jpeg_decoder_stream {
  public:
    jpeg_decoder_stream() = default;
    virtual ~jpeg_decoder_stream() = default;
    jpeg_decoder_stream(const jpeg_decoder_stream &) = delete;
    jpeg_decoder_stream &operator=(const jpeg_decoder_stream &) = delete;
    virtual int read(uint8_t *buffer, int max_bytes, bool *eof_flag) = 0;
};

// Reads from a memory block the caller keeps alive.
class jpeg_decoder_mem_stream : public jpeg_decoder_stream {
  public:
    jpeg_decoder_mem_stream() = default;
    jpeg_decoder_mem_stream(const uint8_t *data, uint32_t size) { open(data, size); }
    bool open(const uint8_t *data, uint32_t size);
    void close() { data_ = nullptr, size_ = 0, offset_ = 0; }
    int read(uint8_t *buffer, int max_bytes, bool *eof_flag) override;
    const uint8_t *data() const { return data_; }
    uint32_t size() const { return size_; }

  private:
    const uint8_t *data_ = nullptr;
    uint32_t size_ = 0;
    uint32_t offset_ = 0;
};

// Reads a stdio file; the destructor closes it.
class jpeg_decoder_file_stream : public jpeg_decoder_stream {
  public:
    jpeg_decoder_file_stream() = default;
    ~jpeg_decoder_file_stream() override { close(); }
    bool open(const char *file_name);
    void close();
    int read(uint8_t *buffer, int max_bytes, bool *eof_flag) override;

  private:
    FILE *file_ = nullptr;
    bool eof_ = false;
    bool error_ = false;
};

// Decodes a whole image into width x height x req_comps bytes (rows top to
// bottom, no gaps) that the caller frees with free(). req_comps is 1 (grey),
// 3 (red, green, blue) or 4 (red, green, blue, 255); *actual_comps receives
// the image's own count (1 or 3). Null on any failure. An image of more than
// `max_pixels` pixels (width x height) fails before its buffers are allocated.
constexpr uint64_t kAnyPixelCount = uint64_t{16384} * 16384;
unsigned char *decompress_jpeg_image_from_stream(jpeg_decoder_stream *stream, int *width,
                                                 int *height, int *actual_comps, int req_comps,
                                                 uint64_t max_pixels = kAnyPixelCount);
unsigned char *decompress_jpeg_image_from_memory(const unsigned char *data, int size, int *width,
                                                 int *height, int *actual_comps, int req_comps,
                                                 uint64_t max_pixels = kAnyPixelCount);
unsigned char *decompress_jpeg_image_from_file(const char *file_name, int *width, int *height,
                                               int *actual_comps, int req_comps,
                                               uint64_t max_pixels = kAnyPixelCount);

// The frame's width, height and component count from its header alone
// (nothing decoded, nothing allocated); false when the data has no frame
// header this decoder takes before its first scan.
bool read_jpeg_frame_size(const unsigned char *data, int size, int *width, int *height, int *comps);

} // namespace jpgd
