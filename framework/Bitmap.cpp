#include "framework/Bitmap.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace fw {

namespace {

constexpr int kMaxSide = 32767;
constexpr long long kMaxPixels = 64LL * 1024 * 1024;

bool ValidSize(long long w, long long h) {
    return w > 0 && h > 0 && w <= kMaxSide && h <= kMaxSide && w * h <= kMaxPixels;
}

int BytesPerPixel(PixelFormat f) { return f == PixelFormat::pf32bit ? 4 : 3; }

std::uint32_t ReadU32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::uint16_t ReadU16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
void PutU32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
    p[2] = static_cast<std::uint8_t>(v >> 16);
    p[3] = static_cast<std::uint8_t>(v >> 24);
}
void PutU16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

// One colour channel described by a bit mask, scaled to 0..255.
struct Channel {
    std::uint32_t mask = 0;
    int shift = 0;
    int bits = 0;
    explicit Channel(std::uint32_t m) : mask(m) {
        if (!m) return;
        while (!((m >> shift) & 1u)) ++shift;
        while (shift + bits < 32 && ((m >> (shift + bits)) & 1u)) ++bits;
    }
    std::uint8_t Get(std::uint32_t v) const {
        if (!bits) return 0;
        const std::uint32_t x = (v & mask) >> shift;
        if (bits >= 8) return static_cast<std::uint8_t>(x >> (bits - 8));
        const std::uint32_t max = (1u << bits) - 1;
        return static_cast<std::uint8_t>((x * 255 + max / 2) / max);
    }
};

struct Dib {
    BitmapHandle bmp;
    std::uint8_t* bits = nullptr;
    int stride = 0;
};

Dib MakeDib(int w, int h, PixelFormat f) {
    Dib d;
    if (!ValidSize(w, h)) return d;
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;  // top-down: row 0 is the top
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = static_cast<WORD>(BytesPerPixel(f) * 8);
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    d.bmp.reset(::CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!d.bmp || !bits) {
        d.bmp.reset();
        return d;
    }
    d.bits = static_cast<std::uint8_t*>(bits);
    d.stride = ((w * BytesPerPixel(f) * 8 + 31) / 32) * 4;
    std::memset(d.bits, 0, static_cast<size_t>(d.stride) * static_cast<size_t>(h));
    return d;
}

// What a DIB header says of the picture that follows it.
struct DibLayout {
    std::uint32_t hdr = 0;
    long long w = 0, h = 0;
    int bpp = 0;
    std::uint32_t compression = BI_RGB, clrUsed = 0;
    std::size_t entrySize = 4;
    std::uint32_t masks[4] = {0, 0, 0, 0};
    std::size_t tableOffset = 0;
    bool topDown = false;
};

// Reads an OS/2 core header or a Windows info header of any later version; the height of
// a top-down picture comes out positive, with topDown set.
bool ReadDibHeader(const std::uint8_t* info, std::size_t total, DibLayout& l) {
    l.hdr = ReadU32(info);
    l.tableOffset = l.hdr;
    if (l.hdr == 12) {  // OS/2 core header
        l.w = ReadU16(info + 4);
        l.h = ReadU16(info + 6);
        if (ReadU16(info + 8) != 1) return false;
        l.bpp = ReadU16(info + 10);
        l.entrySize = 3;
        return !(l.bpp > 8 && l.bpp != 24);
    }
    if (l.hdr < 40 || l.hdr > 4096 || l.hdr > total) return false;
    l.w = static_cast<std::int32_t>(ReadU32(info + 4));
    l.h = static_cast<std::int32_t>(ReadU32(info + 8));
    l.topDown = l.h < 0;
    if (l.topDown) l.h = -l.h;
    if (ReadU16(info + 12) != 1) return false;
    l.bpp = ReadU16(info + 14);
    l.compression = ReadU32(info + 16);
    l.clrUsed = ReadU32(info + 32);
    if (l.compression == BI_BITFIELDS) {
        if (l.hdr == 40) {
            if (total < 52) return false;
            l.tableOffset += 12;
        } else if (l.hdr < 52) {
            return false;  // the three masks would run past the header
        }
        l.masks[0] = ReadU32(info + 40);
        l.masks[1] = ReadU32(info + 44);
        l.masks[2] = ReadU32(info + 48);
        if (l.hdr >= 56) l.masks[3] = ReadU32(info + 52);
    }
    return true;
}

// Whether the size, depth and compression make a picture this loader decodes.
bool SupportedLayout(const DibLayout& l) {
    if (!ValidSize(l.w, l.h)) return false;
    switch (l.bpp) {
        case 1:
        case 4:
        case 8:
        case 16:
        case 24:
        case 32:
            break;
        default:
            return false;
    }
    switch (l.compression) {
        case BI_RGB:
            return true;
        case BI_BITFIELDS:
            if (l.bpp != 16 && l.bpp != 32) return false;
            return l.masks[0] || l.masks[1] || l.masks[2];
        case BI_RLE8:
            return l.bpp == 8 && !l.topDown;
        case BI_RLE4:
            return l.bpp == 4 && !l.topDown;
        default:
            return false;  // embedded JPEG/PNG and the rest
    }
}

std::vector<RGBQUAD> ReadColourTable(const std::uint8_t* info, const DibLayout& l,
                                     std::size_t entries) {
    std::vector<RGBQUAD> table(entries);
    for (std::size_t i = 0; i < entries; ++i) {
        const std::uint8_t* e = info + l.tableOffset + i * l.entrySize;
        table[i].rgbBlue = e[0];
        table[i].rgbGreen = e[1];
        table[i].rgbRed = e[2];
        table[i].rgbReserved = 0;
    }
    return table;
}

// RLE is decoded by GDI; the header handed over bounds it to the bytes that are really
// there.
bool DecodeRle(const Dib& d, const DibLayout& l, const std::uint8_t* info, const std::uint8_t* src,
               std::size_t avail, const std::vector<RGBQUAD>& table) {
    std::uint32_t sizeImage = l.hdr >= 40 ? ReadU32(info + 20) : 0;
    if (sizeImage == 0 || sizeImage > avail) {
        if (sizeImage > avail) return false;
        sizeImage = static_cast<std::uint32_t>(avail);
    }
    const std::size_t entries = table.size();
    std::vector<std::uint8_t> bi(sizeof(BITMAPINFOHEADER) + entries * sizeof(RGBQUAD));
    auto* bih = reinterpret_cast<BITMAPINFOHEADER*>(bi.data());
    bih->biSize = sizeof(BITMAPINFOHEADER);
    bih->biWidth = static_cast<LONG>(l.w);
    bih->biHeight = static_cast<LONG>(l.h);
    bih->biPlanes = 1;
    bih->biBitCount = static_cast<WORD>(l.bpp);
    bih->biCompression = l.compression;
    bih->biSizeImage = sizeImage;
    bih->biClrUsed = static_cast<DWORD>(entries);
    std::memcpy(bi.data() + sizeof(BITMAPINFOHEADER), table.data(), entries * sizeof(RGBQUAD));
    std::vector<std::uint8_t> rle(src, src + sizeImage);
    ScopedGetDC screen(nullptr);
    if (!screen || ::SetDIBits(screen, d.bmp.get(), 0, static_cast<UINT>(l.h), rle.data(),
                               reinterpret_cast<BITMAPINFO*>(bi.data()), DIB_RGB_COLORS) == 0)
        return false;
    ::GdiFlush();
    return true;
}

// Uncompressed and bit-field rows, bottom-up unless the header says otherwise.
void DecodeRows(const Dib& d, DibLayout l, const std::uint8_t* src, unsigned long long srcStride,
                const std::vector<RGBQUAD>& table) {
    const int W = static_cast<int>(l.w), H = static_cast<int>(l.h), bpp = l.bpp;
    const int outBpp = bpp == 32 ? 4 : 3;
    if (l.compression == BI_RGB && bpp == 16) {
        l.masks[0] = 0x7C00;
        l.masks[1] = 0x03E0;
        l.masks[2] = 0x001F;
    }
    const Channel cr(l.masks[0]), cg(l.masks[1]), cb(l.masks[2]), ca(l.masks[3]);
    const std::size_t entries = table.size();
    for (int y = 0; y < H; ++y) {
        const int srcRow = l.topDown ? y : H - 1 - y;
        const std::uint8_t* s = src + srcStride * static_cast<unsigned long long>(srcRow);
        std::uint8_t* o = d.bits + static_cast<size_t>(y) * d.stride;
        if (l.compression == BI_RGB && (bpp == 24 || bpp == 32)) {
            std::memcpy(o, s, static_cast<size_t>(W) * outBpp);
            continue;
        }
        for (int x = 0; x < W; ++x, o += outBpp) {
            if (bpp <= 8) {
                const int perByte = 8 / bpp;
                const std::uint8_t byte = s[x / perByte];
                const int shift = 8 - bpp * (x % perByte + 1);
                const unsigned idx = (byte >> shift) & ((1u << bpp) - 1);
                const RGBQUAD q = idx < entries ? table[idx] : RGBQUAD{0, 0, 0, 0};
                o[0] = q.rgbBlue;
                o[1] = q.rgbGreen;
                o[2] = q.rgbRed;
            } else {
                const std::uint32_t v = bpp == 16 ? ReadU16(s + x * 2) : ReadU32(s + x * 4);
                o[0] = cb.Get(v);
                o[1] = cg.Get(v);
                o[2] = cr.Get(v);
                if (outBpp == 4) o[3] = ca.Get(v);
            }
        }
    }
}

}  // namespace

Bitmap::Bitmap(int width, int height, PixelFormat format) : format_(format) {
    SetSize(width, height);
}

Bitmap::~Bitmap() { ReleaseCanvas(); }

Bitmap::Bitmap(const Bitmap& other) { *this = other; }

Bitmap& Bitmap::operator=(const Bitmap& other) {
    if (this == &other) return *this;
    ReleaseCanvas();
    format_ = other.format_;
    if (other.Empty()) {
        Clear();
        return *this;
    }
    ::GdiFlush();
    Dib d = MakeDib(other.width_, other.height_, other.format_);
    if (!d.bmp) {
        Clear();
        return *this;
    }
    std::memcpy(d.bits, other.bits_, static_cast<size_t>(other.stride_) * other.height_);
    bmp_ = std::move(d.bmp);
    bits_ = d.bits;
    stride_ = d.stride;
    width_ = other.width_;
    height_ = other.height_;
    return *this;
}

Bitmap::Bitmap(Bitmap&& other) noexcept { *this = std::move(other); }

Bitmap& Bitmap::operator=(Bitmap&& other) noexcept {
    if (this == &other) return *this;
    ReleaseCanvas();
    other.ReleaseCanvas();
    bmp_ = std::move(other.bmp_);
    bits_ = other.bits_;
    width_ = other.width_;
    height_ = other.height_;
    stride_ = other.stride_;
    format_ = other.format_;
    other.bits_ = nullptr;
    other.width_ = other.height_ = other.stride_ = 0;
    return *this;
}

void Bitmap::ReleaseCanvas() {
    canvas_.reset();  // puts its objects back first
    if (dc_ && oldBmp_) ::SelectObject(dc_.get(), oldBmp_);
    oldBmp_ = nullptr;
    dc_.reset();
}

void Bitmap::Clear() {
    ReleaseCanvas();
    bmp_.reset();
    bits_ = nullptr;
    width_ = height_ = stride_ = 0;
}

bool Bitmap::SetSize(int width, int height) {
    if (width == width_ && height == height_ && bmp_) return true;
    Clear();
    if (width <= 0 || height <= 0) return width == 0 || height == 0;
    Dib d = MakeDib(width, height, format_);
    if (!d.bmp) return false;
    bmp_ = std::move(d.bmp);
    bits_ = d.bits;
    stride_ = d.stride;
    width_ = width;
    height_ = height;
    return true;
}

bool Bitmap::SetFormat(PixelFormat format) {
    if (format == format_) return true;
    if (Empty()) {
        format_ = format;
        return true;
    }
    ::GdiFlush();
    Dib d = MakeDib(width_, height_, format);
    if (!d.bmp) return false;
    const int sb = BytesPerPixel(format_), db = BytesPerPixel(format);
    for (int y = 0; y < height_; ++y) {
        const std::uint8_t* s = bits_ + static_cast<size_t>(y) * stride_;
        std::uint8_t* o = d.bits + static_cast<size_t>(y) * d.stride;
        for (int x = 0; x < width_; ++x, s += sb, o += db) {
            o[0] = s[0];
            o[1] = s[1];
            o[2] = s[2];
        }
    }
    ReleaseCanvas();
    bmp_ = std::move(d.bmp);
    bits_ = d.bits;
    stride_ = d.stride;
    format_ = format;
    return true;
}

std::uint8_t* Bitmap::ScanLine(int y) {
    if (!bits_ || y < 0 || y >= height_) return nullptr;
    ::GdiFlush();  // drawing through the canvas may still be batched
    return bits_ + static_cast<size_t>(y) * stride_;
}

const std::uint8_t* Bitmap::ScanLine(int y) const { return const_cast<Bitmap*>(this)->ScanLine(y); }

COLORREF Bitmap::GetPixel(int x, int y) const {
    if (x < 0 || x >= width_) return 0;
    const std::uint8_t* row = ScanLine(y);
    if (!row) return 0;
    const std::uint8_t* p = row + static_cast<size_t>(x) * BytesPerPixel(format_);
    return RGB(p[2], p[1], p[0]);
}

void Bitmap::SetPixel(int x, int y, COLORREF c) {
    if (x < 0 || x >= width_) return;
    std::uint8_t* row = ScanLine(y);
    if (!row) return;
    std::uint8_t* p = row + static_cast<size_t>(x) * BytesPerPixel(format_);
    p[0] = GetBValue(c);
    p[1] = GetGValue(c);
    p[2] = GetRValue(c);
}

HDC Bitmap::SourceDC() const {
    if (!bmp_) return nullptr;
    if (!dc_) {
        dc_.reset(::CreateCompatibleDC(nullptr));
        if (!dc_) return nullptr;
        oldBmp_ = ::SelectObject(dc_.get(), bmp_.get());
    }
    return dc_.get();
}

Canvas& Bitmap::Canvas() {
    if (!canvas_) canvas_ = std::make_unique<fw::Canvas>();
    canvas_->SetHandle(SourceDC());
    return *canvas_;
}

Bitmap Bitmap::Crop(const RECT& r) const {
    Bitmap out;
    out.format_ = format_;
    const int l = std::max(0L, r.left), t = std::max(0L, r.top);
    const int rr = std::min<long>(width_, r.right), b = std::min<long>(height_, r.bottom);
    if (Empty() || rr <= l || b <= t || !out.SetSize(rr - l, b - t)) return out;
    const int bpp = BytesPerPixel(format_);
    for (int y = t; y < b; ++y)
        std::memcpy(out.ScanLine(y - t), ScanLine(y) + static_cast<size_t>(l) * bpp,
                    static_cast<size_t>(rr - l) * bpp);
    return out;
}

bool Bitmap::LoadFromFile(const std::wstring& path) {
    fw::Handle f(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!f) return false;
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(f.get(), &size) || size.QuadPart < 26 ||
        size.QuadPart > kMaxPixels * 4 + (1 << 20))
        return false;
    std::vector<std::uint8_t> data(static_cast<size_t>(size.QuadPart));
    size_t got = 0;
    while (got < data.size()) {
        DWORD n = 0;
        const DWORD want = static_cast<DWORD>(std::min<size_t>(data.size() - got, 1u << 24));
        if (!::ReadFile(f.get(), data.data() + got, want, &n, nullptr) || n == 0) return false;
        got += n;
    }
    return LoadFromMemory(data.data(), data.size());
}

bool Bitmap::LoadFromMemory(const void* data, std::size_t size) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    if (!p || size < 14 + 12 || p[0] != 'B' || p[1] != 'M') return false;
    const std::uint32_t offBits = ReadU32(p + 10);
    if (offBits < 14 + 12 || offBits > size) return false;
    return LoadPacked(p + 14, size - 14, offBits - 14, size - 14);
}

bool Bitmap::LoadFromResource(HINSTANCE module, const wchar_t* name) {
    HRSRC res = ::FindResourceW(module, name, MAKEINTRESOURCEW(2) /* RT_BITMAP */);
    if (!res) return false;
    HGLOBAL g = ::LoadResource(module, res);
    const DWORD size = ::SizeofResource(module, res);
    const void* p = g ? ::LockResource(g) : nullptr;
    if (!p || size < 12) return false;
    // A packed DIB: the pixels follow the header, masks and colour table.
    return LoadPacked(static_cast<const std::uint8_t*>(p), size, static_cast<std::size_t>(-1),
                      size);
}

bool Bitmap::LoadPacked(const std::uint8_t* info, std::size_t infoSize, std::size_t bitsOffset,
                        std::size_t total) {
    (void)infoSize;
    if (total < 12) return false;
    DibLayout l;
    if (!ReadDibHeader(info, total, l) || !SupportedLayout(l)) return false;

    // Colour table.
    std::size_t entries = 0;
    if (l.bpp <= 8) {
        const std::uint32_t maxEntries = 1u << l.bpp;
        if (l.clrUsed > maxEntries) return false;
        entries = l.clrUsed ? l.clrUsed : maxEntries;
    }
    const std::size_t tableEnd = l.tableOffset + entries * l.entrySize;
    if (tableEnd > total) return false;
    if (bitsOffset == static_cast<std::size_t>(-1)) {
        bitsOffset = tableEnd + (l.bpp > 8 ? static_cast<std::size_t>(l.clrUsed) * 4 : 0);
    }
    if (bitsOffset < l.tableOffset || bitsOffset > total) return false;
    const std::uint8_t* src = info + bitsOffset;
    const std::size_t avail = total - bitsOffset;
    const std::vector<RGBQUAD> table = ReadColourTable(info, l, entries);

    const unsigned long long srcStride =
        ((static_cast<unsigned long long>(l.w) * l.bpp + 31) / 32) * 4;
    // A file cut short is refused before the picture is made: a few bytes claiming a huge
    // size would otherwise cost the whole picture's memory first.
    const bool rle = l.compression == BI_RLE8 || l.compression == BI_RLE4;
    if (!rle && srcStride * static_cast<unsigned long long>(l.h) > avail) return false;

    const PixelFormat fmt = l.bpp == 32 ? PixelFormat::pf32bit : PixelFormat::pf24bit;
    Dib d = MakeDib(static_cast<int>(l.w), static_cast<int>(l.h), fmt);
    if (!d.bmp) return false;
    if (rle) {
        if (!DecodeRle(d, l, info, src, avail, table)) return false;
    } else {
        DecodeRows(d, l, src, srcStride, table);
    }

    ReleaseCanvas();
    bmp_ = std::move(d.bmp);
    bits_ = d.bits;
    stride_ = d.stride;
    width_ = static_cast<int>(l.w);
    height_ = static_cast<int>(l.h);
    format_ = fmt;
    return true;
}

bool Bitmap::SaveToFile(const std::wstring& path) const {
    if (Empty() || path.empty()) return false;
    ::GdiFlush();
    const int bpp = BytesPerPixel(format_) * 8;
    const std::size_t rowBytes = static_cast<std::size_t>(stride_);
    const std::size_t imageSize = rowBytes * static_cast<std::size_t>(height_);
    std::uint8_t head[54] = {};
    head[0] = 'B';
    head[1] = 'M';
    PutU32(head + 2, static_cast<std::uint32_t>(54 + imageSize));
    PutU32(head + 10, 54);
    PutU32(head + 14, 40);
    PutU32(head + 18, static_cast<std::uint32_t>(width_));
    PutU32(head + 22, static_cast<std::uint32_t>(height_));  // bottom-up, as most readers expect
    PutU16(head + 26, 1);
    PutU16(head + 28, static_cast<std::uint16_t>(bpp));
    PutU32(head + 30, BI_RGB);
    PutU32(head + 34, static_cast<std::uint32_t>(imageSize));
    PutU32(head + 38, 2835);  // 72 dpi
    PutU32(head + 42, 2835);

    const std::wstring tmp = path + L".tmp~";
    bool ok;
    {
        fw::Handle f(::CreateFileW(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!f) return false;
        DWORD n = 0;
        ok = ::WriteFile(f.get(), head, sizeof(head), &n, nullptr) && n == sizeof(head);
        for (int y = height_ - 1; ok && y >= 0; --y) {
            ok = ::WriteFile(f.get(), bits_ + static_cast<size_t>(y) * stride_,
                             static_cast<DWORD>(rowBytes), &n, nullptr) &&
                 n == rowBytes;
        }
        ok = ok && ::FlushFileBuffers(f.get());
    }
    if (ok) ok = ::MoveFileExW(tmp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
    if (!ok) ::DeleteFileW(tmp.c_str());
    return ok;
}

RegionHandle RegionFromBitmap(const Bitmap& bmp, COLORREF transparent) {
    if (bmp.Empty()) return RegionHandle();
    RegionHandle result(::CreateRectRgn(0, 0, 0, 0));
    if (!result) return result;
    transparent &= 0x00FFFFFF;
    // Rows become runs of opaque pixels; the runs go to ExtCreateRegion in
    // batches, since very large RGNDATA blocks are refused on some systems.
    constexpr std::size_t kBatch = 2000;
    std::vector<std::uint8_t> buf(sizeof(RGNDATAHEADER) + kBatch * sizeof(RECT));
    auto* rd = reinterpret_cast<RGNDATA*>(buf.data());
    auto* rects = reinterpret_cast<RECT*>(rd->Buffer);
    std::size_t n = 0;
    auto flush = [&]() {
        if (!n) return;
        rd->rdh.dwSize = sizeof(RGNDATAHEADER);
        rd->rdh.iType = RDH_RECTANGLES;
        rd->rdh.nCount = static_cast<DWORD>(n);
        rd->rdh.nRgnSize = static_cast<DWORD>(n * sizeof(RECT));
        rd->rdh.rcBound = RECT{0, 0, bmp.Width(), bmp.Height()};
        RegionHandle part(::ExtCreateRegion(nullptr, static_cast<DWORD>(buf.size()), rd));
        if (part) ::CombineRgn(result.get(), result.get(), part.get(), RGN_OR);
        n = 0;
    };
    for (int y = 0; y < bmp.Height(); ++y) {
        int x = 0;
        while (x < bmp.Width()) {
            while (x < bmp.Width() && bmp.GetPixel(x, y) == transparent) ++x;
            const int start = x;
            while (x < bmp.Width() && bmp.GetPixel(x, y) != transparent) ++x;
            if (x > start) {
                rects[n++] = RECT{start, y, x, y + 1};
                if (n == kBatch) flush();
            }
        }
    }
    flush();
    return result;
}

}  // namespace fw
