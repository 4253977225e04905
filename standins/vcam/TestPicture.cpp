#include "standins/vcam/TestPicture.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <jpeglib.h>

namespace vcam {

namespace {

BYTE Clamp(int v) { return static_cast<BYTE>(std::clamp(v, 0, 255)); }

// BT.601 studio range, as capture devices deliver YUV.
BYTE LumaOf(int r, int g, int b) { return Clamp(16 + ((66 * r + 129 * g + 25 * b + 128) >> 8)); }
BYTE CbOf(int r, int g, int b) { return Clamp(128 + ((-38 * r - 74 * g + 112 * b + 128) >> 8)); }
BYTE CrOf(int r, int g, int b) { return Clamp(128 + ((112 * r - 94 * g - 18 * b + 128) >> 8)); }

// JPEG quality of the camera's compressed frames, as cameras' own encoders use.
constexpr int kJpegQuality = 75;

struct JpegError {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
};

void JpegErrorExit(j_common_ptr info) {
    std::longjmp(reinterpret_cast<JpegError*>(info->err)->jump, 1);
}

}  // namespace

struct TestPicture::Jpeg {
    jpeg_compress_struct cinfo{};
    JpegError error{};
    std::vector<JSAMPROW> rows;
    Jpeg() {
        cinfo.err = jpeg_std_error(&error.mgr);
        error.mgr.error_exit = JpegErrorExit;
        jpeg_create_compress(&cinfo);
    }
    ~Jpeg() { jpeg_destroy_compress(&cinfo); }
};

TestPicture::TestPicture() = default;
TestPicture::~TestPicture() = default;

void TestPicture::Configure(int width, int height, Layout layout) {
    width_ = width;
    height_ = height;
    layout_ = layout;
    cell_ = std::max(8, width / 20);
    bandRows_ = std::max(4, height / 30);
    barWidth_ = std::max(4, width / 16);
    barStep_ = std::max(2, width / 64);
    const size_t stride = static_cast<size_t>(width) * (layout == Layout::Yuy2 ||
                                                                layout == Layout::Uyvy
                                                            ? 2
                                                        : layout == Layout::I420 ? 1
                                                                                 : 3);
    for (int k = 0; k < kKinds; ++k) {
        rows_[k].assign(width, Rgb{});
        packed_[k].assign(stride, 0);
        cb_[k].assign(layout == Layout::I420 ? width / 2 : 0, 0);
        cr_[k].assign(layout == Layout::I420 ? width / 2 : 0, 0);
    }
    jpeg_.reset();
    if (layout != Layout::Mjpg || width <= 0 || height <= 0) return;
    jpeg_ = std::make_unique<Jpeg>();
    jpeg_compress_struct& c = jpeg_->cinfo;
    if (setjmp(jpeg_->error.jump)) {
        jpeg_.reset();
        return;
    }
    c.image_width = static_cast<JDIMENSION>(width);
    c.image_height = static_cast<JDIMENSION>(height);
    c.input_components = 3;
    c.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, kJpegQuality, TRUE);
    c.dct_method = JDCT_IFAST;
    jpeg_->rows.assign(static_cast<size_t>(height), nullptr);
}

void TestPicture::BuildRow(std::vector<Rgb>& row, const Rgb& even, const Rgb& odd, int barStart,
                           bool oddRowPhase) const {
    for (int x = 0; x < width_; ++x) {
        const bool oddCell = ((x / cell_) % 2 == 1) != oddRowPhase;
        row[x] = oddCell ? odd : even;
    }
    const Rgb bar{235, 235, 235};
    for (int i = 0; i < barWidth_; ++i) {
        row[(barStart + i) % width_] = bar;
    }
}

void TestPicture::BuildBand(uint64_t frame) {
    const int blocks = 16;
    for (int x = 0; x < width_; ++x) {
        const int block = std::min(blocks - 1, x * blocks / width_);
        const bool on = (frame >> (blocks - 1 - block)) & 1;
        rows_[kBand][x] = on ? Rgb{255, 255, 255} : Rgb{0, 0, 0};
    }
}

void TestPicture::Pack(int kind) {
    const std::vector<Rgb>& row = rows_[kind];
    BYTE* out = packed_[kind].data();
    switch (layout_) {
        case Layout::Rgb24:
        case Layout::Mjpg:
            for (int x = 0; x < width_; ++x) {  // DIB order: blue, green, red
                out[3 * x] = row[x].b;
                out[3 * x + 1] = row[x].g;
                out[3 * x + 2] = row[x].r;
            }
            return;
        case Layout::I420:
            for (int x = 0; x < width_; ++x) out[x] = LumaOf(row[x].r, row[x].g, row[x].b);
            break;
        case Layout::Yuy2:
        case Layout::Uyvy:
            break;
    }
    // Chroma of each pixel pair, for the 4:2:2 and 4:2:0 layouts.
    for (int x = 0; x + 1 < width_; x += 2) {
        const Rgb& p = row[x];
        const Rgb& q = row[x + 1];
        const int r = (p.r + q.r) / 2;
        const int g = (p.g + q.g) / 2;
        const int b = (p.b + q.b) / 2;
        const BYTE u = CbOf(r, g, b);
        const BYTE v = CrOf(r, g, b);
        if (layout_ == Layout::I420) {
            cb_[kind][x / 2] = u;
            cr_[kind][x / 2] = v;
        } else if (layout_ == Layout::Yuy2) {
            out[2 * x] = LumaOf(p.r, p.g, p.b);
            out[2 * x + 1] = u;
            out[2 * x + 2] = LumaOf(q.r, q.g, q.b);
            out[2 * x + 3] = v;
        } else {
            out[2 * x] = u;
            out[2 * x + 1] = LumaOf(p.r, p.g, p.b);
            out[2 * x + 2] = v;
            out[2 * x + 3] = LumaOf(q.r, q.g, q.b);
        }
    }
}

int TestPicture::KindOf(int y) const {
    return y < bandRows_ ? kBand : ((y / cell_) % 2 == 0) ? kRowA : kRowB;
}

long TestPicture::EncodeJpeg(BYTE* out, long capacity) {
    if (!jpeg_) return 0;
    for (int y = 0; y < height_; ++y) jpeg_->rows[y] = packed_[KindOf(y)].data();
    jpeg_compress_struct& c = jpeg_->cinfo;
    unsigned char* buffer = out;
    unsigned long size = static_cast<unsigned long>(capacity);
    if (setjmp(jpeg_->error.jump)) {
        jpeg_abort_compress(&c);
        if (buffer != out) std::free(buffer);
        return 0;
    }
    jpeg_mem_dest(&c, &buffer, &size);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        jpeg_write_scanlines(&c, &jpeg_->rows[c.next_scanline], c.image_height - c.next_scanline);
    }
    jpeg_finish_compress(&c);
    if (buffer != out) {
        // The picture did not fit the frame buffer: the encoder took memory of its own.
        std::free(buffer);
        return 0;
    }
    return static_cast<long>(size);
}

long TestPicture::Render(uint64_t frame, bool backwardSensor, BYTE* out, long capacity) {
    if (width_ <= 0 || height_ <= 0) return 0;
    const int barStart = static_cast<int>((frame * static_cast<uint64_t>(barStep_)) % width_);
    if (backwardSensor) {
        // Orange stripes: every row is one colour, alternating every cell height.
        const Rgb light{240, 140, 40};
        const Rgb dark{200, 95, 20};
        BuildRow(rows_[kRowA], light, light, barStart, false);
        BuildRow(rows_[kRowB], dark, dark, barStart, false);
    } else {
        const Rgb light{60, 120, 230};
        const Rgb dark{25, 60, 170};
        BuildRow(rows_[kRowA], light, dark, barStart, false);
        BuildRow(rows_[kRowB], light, dark, barStart, true);
    }
    BuildBand(frame);
    for (int k = 0; k < kKinds; ++k) Pack(k);
    if (layout_ == Layout::Mjpg) return EncodeJpeg(out, capacity);

    const long bytes = static_cast<long>(ImageBytes(layout_, width_, height_));
    if (capacity < bytes) return 0;
    const size_t stride = packed_[0].size();
    for (int y = 0; y < height_; ++y) {
        // RGB DIBs are stored bottom-up; the YUV layouts top-down.
        const int stored = layout_ == Layout::Rgb24 ? height_ - 1 - y : y;
        std::memcpy(out + static_cast<size_t>(stored) * stride, packed_[KindOf(y)].data(), stride);
    }
    if (layout_ == Layout::I420) {
        const size_t half = static_cast<size_t>(width_ / 2);
        BYTE* u = out + static_cast<size_t>(width_) * height_;
        BYTE* v = u + half * (height_ / 2);
        for (int cy = 0; cy < height_ / 2; ++cy) {
            const int kind = KindOf(2 * cy);
            std::memcpy(u + cy * half, cb_[kind].data(), half);
            std::memcpy(v + cy * half, cr_[kind].data(), half);
        }
    }
    return bytes;
}

}  // namespace vcam
