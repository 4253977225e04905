#include "standins/vcam/TestPicture.h"

#include <algorithm>
#include <cstring>

namespace vcam {

namespace {

BYTE Clamp(int v) { return static_cast<BYTE>(std::clamp(v, 0, 255)); }

// BT.601 studio range, as capture devices deliver YUY2.
BYTE LumaOf(int r, int g, int b) { return Clamp(16 + ((66 * r + 129 * g + 25 * b + 128) >> 8)); }
BYTE CbOf(int r, int g, int b) { return Clamp(128 + ((-38 * r - 74 * g + 112 * b + 128) >> 8)); }
BYTE CrOf(int r, int g, int b) { return Clamp(128 + ((112 * r - 94 * g - 18 * b + 128) >> 8)); }

}  // namespace

void TestPicture::Configure(int width, int height, bool yuy2) {
    width_ = width;
    height_ = height;
    yuy2_ = yuy2;
    cell_ = std::max(8, width / 20);
    bandRows_ = std::max(4, height / 30);
    barWidth_ = std::max(4, width / 16);
    barStep_ = std::max(2, width / 64);
    const size_t stride = static_cast<size_t>(width) * (yuy2 ? 2 : 3);
    rowA_.assign(width, Rgb{});
    rowB_.assign(width, Rgb{});
    band_.assign(width, Rgb{});
    packedA_.assign(stride, 0);
    packedB_.assign(stride, 0);
    packedBand_.assign(stride, 0);
}

long TestPicture::FrameBytes() const {
    return static_cast<long>(width_) * height_ * (yuy2_ ? 2 : 3);
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
        band_[x] = on ? Rgb{255, 255, 255} : Rgb{0, 0, 0};
    }
}

void TestPicture::EmitRow(const std::vector<Rgb>& row, BYTE* out) const {
    if (!yuy2_) {
        for (int x = 0; x < width_; ++x) {  // DIB order: blue, green, red
            out[3 * x] = row[x].b;
            out[3 * x + 1] = row[x].g;
            out[3 * x + 2] = row[x].r;
        }
        return;
    }
    for (int x = 0; x + 1 < width_; x += 2) {
        const Rgb& p = row[x];
        const Rgb& q = row[x + 1];
        const int r = (p.r + q.r) / 2;
        const int g = (p.g + q.g) / 2;
        const int b = (p.b + q.b) / 2;
        out[2 * x] = LumaOf(p.r, p.g, p.b);
        out[2 * x + 1] = CbOf(r, g, b);
        out[2 * x + 2] = LumaOf(q.r, q.g, q.b);
        out[2 * x + 3] = CrOf(r, g, b);
    }
}

BYTE* TestPicture::RowAt(BYTE* out, int y) const {
    const size_t stride = static_cast<size_t>(width_) * (yuy2_ ? 2 : 3);
    const int stored = yuy2_ ? y : height_ - 1 - y;  // RGB DIBs are stored bottom-up
    return out + static_cast<size_t>(stored) * stride;
}

void TestPicture::Render(uint64_t frame, bool backwardSensor, BYTE* out) {
    if (width_ <= 0 || height_ <= 0) {
        return;
    }
    const int barStart = static_cast<int>((frame * static_cast<uint64_t>(barStep_)) % width_);
    if (backwardSensor) {
        // Orange stripes: every row is one colour, alternating every cell height.
        const Rgb light{240, 140, 40};
        const Rgb dark{200, 95, 20};
        BuildRow(rowA_, light, light, barStart, false);
        BuildRow(rowB_, dark, dark, barStart, false);
    } else {
        const Rgb light{60, 120, 230};
        const Rgb dark{25, 60, 170};
        BuildRow(rowA_, light, dark, barStart, false);
        BuildRow(rowB_, light, dark, barStart, true);
    }
    BuildBand(frame);
    EmitRow(rowA_, packedA_.data());
    EmitRow(rowB_, packedB_.data());
    EmitRow(band_, packedBand_.data());
    const size_t stride = packedA_.size();
    for (int y = 0; y < height_; ++y) {
        const BYTE* src = y < bandRows_            ? packedBand_.data()
                          : ((y / cell_) % 2 == 0) ? packedA_.data()
                                                   : packedB_.data();
        std::memcpy(RowAt(out, y), src, stride);
    }
}

}  // namespace vcam
