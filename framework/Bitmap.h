// Device-independent bitmap (24 or 32 bits per pixel, top-down DIB section) with
// pixel access, .bmp file reading and writing, and a canvas for drawing on it.
#pragma once

#include "framework/Canvas.h"
#include "framework/WinHandles.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace fw {

enum class PixelFormat { pf24bit, pf32bit };

class Bitmap {
public:
    Bitmap() = default;
    Bitmap(int width, int height, PixelFormat format = PixelFormat::pf24bit);
    ~Bitmap();
    Bitmap(const Bitmap& other);  // deep copy
    Bitmap& operator=(const Bitmap& other);
    Bitmap(Bitmap&& other) noexcept;
    Bitmap& operator=(Bitmap&& other) noexcept;

    int Width() const { return width_; }
    int Height() const { return height_; }
    bool Empty() const { return !bmp_; }
    PixelFormat Format() const { return format_; }

    // Resizes (content is not kept; new pixels are black). A 0 side empties the
    // bitmap. Returns false when the DIB cannot be made (bitmap left empty).
    bool SetSize(int width, int height);
    bool SetFormat(PixelFormat format);  // converts the pixels
    void Clear();                        // empty bitmap

    HBITMAP Handle() const { return bmp_.get(); }

    // Row y (0 = top); Stride() bytes per row; B, G, R(, A) per pixel.
    std::uint8_t* ScanLine(int y);
    const std::uint8_t* ScanLine(int y) const;
    int Stride() const { return stride_; }

    // COLORREF (R in the lowest byte); out-of-range reads give 0, writes are ignored.
    COLORREF GetPixel(int x, int y) const;
    void SetPixel(int x, int y, COLORREF c);

    // Reads a .bmp (1, 4, 8, 16, 24, 32 bits; uncompressed, bit fields or RLE).
    // 32-bit files load as pf32bit, all others as pf24bit. A missing, truncated or
    // malformed file gives false and leaves the bitmap as it was.
    bool LoadFromFile(const std::wstring& path);
    bool LoadFromMemory(const void* data, std::size_t size);       // a whole .bmp file
    bool LoadFromResource(HINSTANCE module, const wchar_t* name);  // an RT_BITMAP resource
    // Writes a .bmp in the bitmap's own format through a temporary file, so a
    // failed write never leaves a half-written file under the name.
    bool SaveToFile(const std::wstring& path) const;

    // Copies a rectangle of another bitmap into a new bitmap of the same format.
    Bitmap Crop(const RECT& r) const;

    // A canvas on a memory DC holding this bitmap (made on first use).
    fw::Canvas& Canvas();
    // The memory DC with this bitmap selected, for block transfers from it.
    HDC SourceDC() const;

private:
    bool LoadPacked(const std::uint8_t* info, std::size_t infoSize, std::size_t bitsOffset,
                    std::size_t totalSize);
    void ReleaseCanvas();

    BitmapHandle bmp_;
    std::uint8_t* bits_ = nullptr;
    int width_ = 0, height_ = 0, stride_ = 0;
    PixelFormat format_ = PixelFormat::pf24bit;
    mutable DcHandle dc_;
    mutable HGDIOBJ oldBmp_ = nullptr;
    std::unique_ptr<fw::Canvas> canvas_;
};

// A region made of the bitmap's pixels that differ from the transparent colour
// (used for skinned windows and buttons). Returns an empty holder for an empty
// bitmap; an all-transparent bitmap gives a valid empty region.
RegionHandle RegionFromBitmap(const Bitmap& bmp, COLORREF transparent);

}  // namespace fw
