// Input streams and the whole-image entry points of the JPEG decoder.
#include "jpeg/jpgd.h"

#include "jpeg/decode.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace jpgd {

namespace {
// Largest compressed stream read from a generic source.
constexpr size_t kMaxStream = size_t{512} << 20;
} // namespace

bool jpeg_decoder_mem_stream::open(const uint8_t *data, uint32_t size) {
    data_ = data;
    size_ = data ? size : 0;
    offset_ = 0;
    return data != nullptr;
}

int jpeg_decoder_mem_stream::read(uint8_t *buffer, int max_bytes, bool *eof_flag) {
    if (eof_flag) *eof_flag = false;
    if (data_ == nullptr || buffer == nullptr || max_bytes < 0) return -1;
    uint32_t left = size_ - offset_;
    uint32_t n = static_cast<uint32_t>(max_bytes) < left ? static_cast<uint32_t>(max_bytes) : left;
    std::memcpy(buffer, data_ + offset_, n);
    offset_ += n;
    if (offset_ == size_ && eof_flag) *eof_flag = true;
    return static_cast<int>(n);
}

bool jpeg_decoder_file_stream::open(const char *file_name) {
    close();
    if (file_name == nullptr) return false;
    file_ = std::fopen(file_name, "rb");
    eof_ = error_ = false;
    return file_ != nullptr;
}

void jpeg_decoder_file_stream::close() {
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
    eof_ = error_ = false;
}

int jpeg_decoder_file_stream::read(uint8_t *buffer, int max_bytes, bool *eof_flag) {
    if (eof_flag) *eof_flag = false;
    if (file_ == nullptr || error_ || buffer == nullptr || max_bytes < 0) return -1;
    if (eof_) {
        if (eof_flag) *eof_flag = true;
        return 0;
    }
    size_t n = std::fread(buffer, 1, static_cast<size_t>(max_bytes), file_);
    if (n < static_cast<size_t>(max_bytes)) {
        if (std::ferror(file_)) {
            error_ = true;
            return -1;
        }
        eof_ = true;
        if (eof_flag) *eof_flag = true;
    }
    return static_cast<int>(n);
}

unsigned char *decompress_jpeg_image_from_stream(jpeg_decoder_stream *stream, int *width,
                                                 int *height, int *actual_comps, int req_comps,
                                                 uint64_t max_pixels) {
    if (stream == nullptr || width == nullptr || height == nullptr || actual_comps == nullptr)
        return nullptr;
    if (req_comps != 1 && req_comps != 3 && req_comps != 4) return nullptr;
    // The decoder works on the whole stream in memory.
    std::vector<uint8_t> all;
    constexpr int kChunk = 1 << 16;
    bool eof = false;
    while (!eof) {
        if (all.size() + kChunk > kMaxStream) return nullptr;
        size_t at = all.size();
        all.resize(at + kChunk);
        int n = stream->read(all.data() + at, kChunk, &eof);
        if (n < 0 || n > kChunk) return nullptr;
        all.resize(at + static_cast<size_t>(n));
        if (n == 0) break;
    }
    return DecodeImage(all.data(), all.size(), req_comps, width, height, actual_comps, max_pixels);
}

unsigned char *decompress_jpeg_image_from_memory(const unsigned char *data, int size, int *width,
                                                 int *height, int *actual_comps, int req_comps,
                                                 uint64_t max_pixels) {
    if (data == nullptr || size <= 0) return nullptr;
    return DecodeImage(data, static_cast<size_t>(size), req_comps, width, height, actual_comps,
                       max_pixels);
}

bool read_jpeg_frame_size(const unsigned char *data, int size, int *width, int *height,
                          int *comps) {
    if (data == nullptr || size <= 0) return false;
    return ReadFrameSize(data, static_cast<size_t>(size), width, height, comps);
}

unsigned char *decompress_jpeg_image_from_file(const char *file_name, int *width, int *height,
                                               int *actual_comps, int req_comps,
                                               uint64_t max_pixels) {
    if (file_name == nullptr || width == nullptr || height == nullptr || actual_comps == nullptr ||
        (req_comps != 1 && req_comps != 3 && req_comps != 4))
        return nullptr;
    jpeg_decoder_file_stream stream;
    if (!stream.open(file_name)) return nullptr;
    return decompress_jpeg_image_from_stream(&stream, width, height, actual_comps, req_comps,
                                             max_pixels);
}

} // namespace jpgd
