#include "framework/Bitmap.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

class BitmapTest : public ::testing::Test {
protected:
    std::vector<std::uint8_t> ReadAll(const std::wstring& path) {
        std::vector<std::uint8_t> data;
        HANDLE h = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE) return data;
        DWORD size = ::GetFileSize(h, nullptr), n = 0;
        data.resize(size);
        ::ReadFile(h, data.data(), size, &n, nullptr);
        ::CloseHandle(h);
        return data;
    }
    void WriteAll(const std::wstring& path, const std::vector<std::uint8_t>& data) {
        HANDLE h =
            ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        DWORD n = 0;
        ::WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &n, nullptr);
        ::CloseHandle(h);
    }
    testsupport::TempFolder folder{L"fw_bitmap"};
    const std::wstring dir = folder.Path();
};

// A .bmp file in memory: file header, BITMAPINFOHEADER, colour table, pixels.
struct BmpBuilder {
    int width = 0, height = 0, bpp = 24;
    std::uint32_t compression = BI_RGB;
    std::vector<std::uint32_t> table;  // colour table (0x00RRGGBB)
    std::vector<std::uint32_t> masks;  // bit fields after the header
    std::vector<std::uint8_t> pixels;  // exactly as stored
    std::uint32_t clrUsed = 0;
    std::vector<std::uint8_t> Build() const {
        std::vector<std::uint8_t> out;
        auto u16 = [&](std::uint16_t v) {
            out.push_back(v & 0xFF);
            out.push_back(v >> 8);
        };
        auto u32 = [&](std::uint32_t v) {
            for (int i = 0; i < 4; ++i) out.push_back((v >> (8 * i)) & 0xFF);
        };
        const std::uint32_t off =
            14 + 40 + static_cast<std::uint32_t>(masks.size() * 4 + table.size() * 4);
        out.push_back('B');
        out.push_back('M');
        u32(off + static_cast<std::uint32_t>(pixels.size()));
        u32(0);
        u32(off);
        u32(40);
        u32(static_cast<std::uint32_t>(width));
        u32(static_cast<std::uint32_t>(height));
        u16(1);
        u16(static_cast<std::uint16_t>(bpp));
        u32(compression);
        u32(static_cast<std::uint32_t>(pixels.size()));
        u32(2835);
        u32(2835);
        u32(clrUsed ? clrUsed : static_cast<std::uint32_t>(table.size()));
        u32(0);
        for (auto m : masks) u32(m);
        for (auto c : table) u32(c);
        out.insert(out.end(), pixels.begin(), pixels.end());
        return out;
    }
};

fw::Bitmap Pattern(int w, int h, fw::PixelFormat f) {
    fw::Bitmap b(w, h, f);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            b.SetPixel(x, y, RGB(x * 17 % 256, y * 29 % 256, (x * y) % 256));
    return b;
}

void ExpectSamePixels(const fw::Bitmap& a, const fw::Bitmap& b) {
    ASSERT_EQ(a.Width(), b.Width());
    ASSERT_EQ(a.Height(), b.Height());
    for (int y = 0; y < a.Height(); ++y)
        for (int x = 0; x < a.Width(); ++x)
            ASSERT_EQ(a.GetPixel(x, y), b.GetPixel(x, y)) << "at " << x << "," << y;
}

}  // namespace

TEST_F(BitmapTest, SavedAndLoadedAgainHasTheSamePixels) {
    for (auto f : {fw::PixelFormat::pf24bit, fw::PixelFormat::pf32bit}) {
        // An odd width exercises the row padding of 24-bit files.
        const fw::Bitmap src = Pattern(13, 7, f);
        const std::wstring path = dir + L"round.bmp";
        ASSERT_TRUE(src.SaveToFile(path));
        fw::Bitmap back;
        ASSERT_TRUE(back.LoadFromFile(path));
        EXPECT_EQ(back.Format(), f);
        ExpectSamePixels(src, back);
        const auto bytes = ReadAll(path);
        const std::size_t stride = f == fw::PixelFormat::pf24bit ? 40 : 52;
        EXPECT_EQ(bytes.size(), 54 + stride * 7);
    }
    EXPECT_EQ(::GetFileAttributesW((dir + L"round.bmp.tmp~").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(BitmapTest, TruncatedOrMalformedFilesFailCleanly) {
    const fw::Bitmap src = Pattern(10, 10, fw::PixelFormat::pf24bit);
    const std::wstring good = dir + L"good.bmp";
    ASSERT_TRUE(src.SaveToFile(good));
    const auto bytes = ReadAll(good);

    fw::Bitmap target = Pattern(3, 2, fw::PixelFormat::pf24bit);
    auto expectRejected = [&](std::vector<std::uint8_t> data, const char* what) {
        const std::wstring p = dir + L"bad.bmp";
        WriteAll(p, data);
        EXPECT_FALSE(target.LoadFromFile(p)) << what;
        EXPECT_EQ(target.Width(), 3) << what;  // left as it was
        EXPECT_EQ(target.GetPixel(2, 1), RGB(34, 29, 2)) << what;
    };
    expectRejected(std::vector<std::uint8_t>(bytes.begin(), bytes.end() - 10), "pixels cut short");
    expectRejected(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 30),
                   "header cut short");
    expectRejected({}, "empty file");
    auto mut = bytes;
    mut[0] = 'X';
    expectRejected(mut, "not BM");
    mut = bytes;
    mut[10] = 0xFF;  // pixel offset past the end
    mut[11] = 0xFF;
    expectRejected(mut, "offset");
    mut = bytes;
    mut[18] = 0;  // width 0
    expectRejected(mut, "width 0");
    mut = bytes;
    mut[21] = 0x7F;  // width 2^31-ish
    expectRejected(mut, "huge width");
    mut = bytes;
    mut[28] = 7;  // 7 bits per pixel
    expectRejected(mut, "bit count");
    mut = bytes;
    mut[30] = 4;  // BI_JPEG
    expectRejected(mut, "compression");
    mut = bytes;
    mut[14] = 200;  // header larger than the file allows
    mut[15] = 0x7F;
    expectRejected(mut, "header size");
    EXPECT_FALSE(target.LoadFromFile(dir + L"missing.bmp"));

    BmpBuilder pal;
    pal.width = 2;
    pal.height = 1;
    pal.bpp = 8;
    pal.table = {0xFF0000, 0x00FF00};
    pal.clrUsed = 300;  // more entries than 8 bits can address
    pal.pixels = {0, 1, 0, 0};
    expectRejected(pal.Build(), "colour count");
}

TEST_F(BitmapTest, PalettedBitFieldAndTopDownFilesLoad) {
    fw::Bitmap b;
    BmpBuilder p8;
    p8.width = 3;
    p8.height = 2;
    p8.bpp = 8;
    p8.table = {0x000000, 0xFF0000, 0x00FF00, 0x0000FF};
    p8.pixels = {1, 2, 3, 0, /* bottom row */ 3, 3, 1, 0 /* top row */};
    ASSERT_TRUE(b.LoadFromMemory(p8.Build().data(), p8.Build().size()));
    EXPECT_EQ(b.Format(), fw::PixelFormat::pf24bit);
    EXPECT_EQ(b.GetPixel(0, 1), RGB(255, 0, 0));
    EXPECT_EQ(b.GetPixel(1, 1), RGB(0, 255, 0));
    EXPECT_EQ(b.GetPixel(2, 0), RGB(255, 0, 0));
    EXPECT_EQ(b.GetPixel(0, 0), RGB(0, 0, 255));

    BmpBuilder p1;
    p1.width = 10;
    p1.height = 1;
    p1.bpp = 1;
    p1.table = {0x000000, 0xFFFFFF};
    p1.pixels = {0xA0, 0x40, 0, 0};  // 1010 0000 01...
    ASSERT_TRUE(b.LoadFromMemory(p1.Build().data(), p1.Build().size()));
    EXPECT_EQ(b.GetPixel(0, 0), RGB(255, 255, 255));
    EXPECT_EQ(b.GetPixel(1, 0), RGB(0, 0, 0));
    EXPECT_EQ(b.GetPixel(2, 0), RGB(255, 255, 255));
    EXPECT_EQ(b.GetPixel(9, 0), RGB(255, 255, 255));

    BmpBuilder p16;  // 5-6-5 bit fields
    p16.width = 2;
    p16.height = 1;
    p16.bpp = 16;
    p16.compression = BI_BITFIELDS;
    p16.masks = {0xF800, 0x07E0, 0x001F};
    p16.pixels = {0x00, 0xF8, 0xE0, 0x07};  // pure red, pure green
    ASSERT_TRUE(b.LoadFromMemory(p16.Build().data(), p16.Build().size()));
    EXPECT_EQ(b.GetPixel(0, 0), RGB(255, 0, 0));
    EXPECT_EQ(b.GetPixel(1, 0), RGB(0, 255, 0));

    BmpBuilder td;  // negative height: first stored row is the top
    td.width = 1;
    td.height = -2;
    td.pixels = {0, 0, 255, 0, 255, 0, 0, 0};
    ASSERT_TRUE(b.LoadFromMemory(td.Build().data(), td.Build().size()));
    EXPECT_EQ(b.Height(), 2);
    EXPECT_EQ(b.GetPixel(0, 0), RGB(255, 0, 0));
    EXPECT_EQ(b.GetPixel(0, 1), RGB(0, 0, 255));

    BmpBuilder rle;  // RLE8: a run of 4 of colour 1, end of line, 4 of colour 2, end
    rle.width = 4;
    rle.height = 2;
    rle.bpp = 8;
    rle.compression = BI_RLE8;
    rle.table = {0x000000, 0x112233, 0x445566};
    rle.pixels = {4, 1, 0, 0, 4, 2, 0, 1};
    ASSERT_TRUE(b.LoadFromMemory(rle.Build().data(), rle.Build().size()));
    EXPECT_EQ(b.GetPixel(3, 1), RGB(0x11, 0x22, 0x33));
    EXPECT_EQ(b.GetPixel(0, 0), RGB(0x44, 0x55, 0x66));
}

TEST_F(BitmapTest, SaveFailsCleanlyAndKeepsTheOldFile) {
    const fw::Bitmap src = Pattern(4, 4, fw::PixelFormat::pf24bit);
    EXPECT_FALSE(src.SaveToFile(dir + L"no\\such\\folder\\x.bmp"));
    EXPECT_FALSE(fw::Bitmap().SaveToFile(dir + L"empty.bmp"));
    EXPECT_EQ(::GetFileAttributesW((dir + L"empty.bmp").c_str()), INVALID_FILE_ATTRIBUTES);

    // Overwriting replaces the whole file.
    const std::wstring path = dir + L"over.bmp";
    ASSERT_TRUE(Pattern(20, 20, fw::PixelFormat::pf32bit).SaveToFile(path));
    ASSERT_TRUE(src.SaveToFile(path));
    fw::Bitmap back;
    ASSERT_TRUE(back.LoadFromFile(path));
    ExpectSamePixels(src, back);
}

TEST_F(BitmapTest, CopiesAreDeepAndFormatConversionKeepsColours) {
    fw::Bitmap a = Pattern(5, 5, fw::PixelFormat::pf24bit);
    fw::Bitmap b = a;
    b.SetPixel(0, 0, RGB(1, 2, 3));
    EXPECT_NE(a.GetPixel(0, 0), b.GetPixel(0, 0));
    fw::Bitmap c = b;
    ASSERT_TRUE(c.SetFormat(fw::PixelFormat::pf32bit));
    ExpectSamePixels(b, c);
    fw::Bitmap crop = a.Crop(RECT{1, 2, 4, 10});
    EXPECT_EQ(crop.Width(), 3);
    EXPECT_EQ(crop.Height(), 3);
    EXPECT_EQ(crop.GetPixel(0, 0), a.GetPixel(1, 2));
    fw::Bitmap moved = std::move(a);
    EXPECT_TRUE(a.Empty());
    EXPECT_EQ(moved.Width(), 5);
    EXPECT_EQ(moved.GetPixel(9, 9), 0u);  // outside: no crash
    EXPECT_FALSE(fw::Bitmap().SetSize(100000, 100000));
}

TEST_F(BitmapTest, CanvasDrawsOnTheBitmap) {
    fw::Bitmap b(40, 20);
    fw::Canvas& c = b.Canvas();
    c.Brush.Color = fw::clRed;
    c.FillRect(RECT{0, 0, 40, 20});
    EXPECT_EQ(b.GetPixel(39, 19), RGB(255, 0, 0));
    c.Pen.Color = fw::clBlue;
    c.MoveTo(0, 5);
    c.LineTo(40, 5);
    EXPECT_EQ(b.GetPixel(20, 5), RGB(0, 0, 255));
    c.Font.Color = fw::clWhite;
    c.Brush.Style = fw::BrushStyle::Clear;
    const SIZE one = c.TextExtent(L"W");
    const SIZE many = c.TextExtent(L"WWWW");
    EXPECT_GT(one.cx, 0);
    EXPECT_GT(many.cx, one.cx * 3);
    c.TextOut(2, 6, L"WW");
    int white = 0;
    for (int y = 6; y < 20; ++y)
        for (int x = 0; x < 40; ++x) white += b.GetPixel(x, y) == RGB(255, 255, 255);
    EXPECT_GT(white, 5);
    EXPECT_EQ(b.GetPixel(39, 19), RGB(255, 0, 0));  // clear brush: no text background

    // Clipping keeps drawing inside the clip rectangle.
    c.Brush.Style = fw::BrushStyle::Solid;
    c.Brush.Color = fw::clLime;
    c.SetClipRect(RECT{0, 0, 10, 10});
    c.FillRect(RECT{0, 0, 40, 20});
    c.ResetClip();
    EXPECT_EQ(b.GetPixel(5, 8), RGB(0, 255, 0));
    EXPECT_EQ(b.GetPixel(38, 2), RGB(255, 0, 0));
}

TEST_F(BitmapTest, TransparentAndStretchedDrawing) {
    fw::Bitmap glyph(4, 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            glyph.SetPixel(x, y, (x < 2) ? RGB(255, 0, 255) : RGB(0, 0, 128));
    fw::Bitmap dest(8, 8);
    dest.Canvas().Brush.Color = fw::clYellow;
    dest.Canvas().FillRect(RECT{0, 0, 8, 8});
    dest.Canvas().DrawTransparent(2, 2, glyph, RGB(255, 0, 255));
    EXPECT_EQ(dest.GetPixel(2, 2), RGB(255, 255, 0));  // key colour left out
    EXPECT_EQ(dest.GetPixel(5, 5), RGB(0, 0, 128));
    EXPECT_EQ(glyph.GetPixel(0, 0), RGB(255, 0, 255));  // source untouched

    fw::Bitmap big(16, 8);
    big.Canvas().StretchDraw(RECT{0, 0, 16, 8}, glyph);
    EXPECT_EQ(big.GetPixel(1, 1), RGB(255, 0, 255));
    EXPECT_EQ(big.GetPixel(14, 6), RGB(0, 0, 128));
}

TEST_F(BitmapTest, RegionFromBitmapCoversOpaquePixelsOnly) {
    fw::Bitmap b(6, 5);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 6; ++x) b.SetPixel(x, y, RGB(255, 0, 255));
    b.SetPixel(1, 1, RGB(0, 0, 0));
    b.SetPixel(2, 1, RGB(10, 10, 10));
    b.SetPixel(4, 3, RGB(200, 0, 0));
    fw::RegionHandle r = fw::RegionFromBitmap(b, RGB(255, 0, 255));
    ASSERT_TRUE(r);
    EXPECT_TRUE(::PtInRegion(r.get(), 1, 1));
    EXPECT_TRUE(::PtInRegion(r.get(), 2, 1));
    EXPECT_TRUE(::PtInRegion(r.get(), 4, 3));
    EXPECT_FALSE(::PtInRegion(r.get(), 0, 0));
    EXPECT_FALSE(::PtInRegion(r.get(), 3, 1));
    RECT box;
    ::GetRgnBox(r.get(), &box);
    EXPECT_EQ(box.left, 1);
    EXPECT_EQ(box.top, 1);
    EXPECT_EQ(box.right, 5);
    EXPECT_EQ(box.bottom, 4);

    fw::Bitmap clear(3, 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 3; ++x) clear.SetPixel(x, y, RGB(255, 0, 255));
    fw::RegionHandle none = fw::RegionFromBitmap(clear, RGB(255, 0, 255));
    ASSERT_TRUE(none);
    EXPECT_EQ(::GetRgnBox(none.get(), &box), NULLREGION);
    EXPECT_FALSE(fw::RegionFromBitmap(fw::Bitmap(), 0));
}

TEST(Font, SizeAndHeightAgree) {
    fw::Font f;
    f.SetSize(8);
    EXPECT_LT(f.Height, 0);
    EXPECT_EQ(f.Size(), 8);
    f.Name = std::wstring(100, L'x');  // longer than a face name can be
    LOGFONTW lf = f.ToLogFont();
    EXPECT_EQ(lf.lfFaceName[LF_FACESIZE - 1], L'\0');
}

// The header is read only as far as the file goes: a file placed right before an
// inaccessible page crashes the reader if it looks past the end.
TEST(BitmapBounds, BitFieldMasksAreNotReadPastAShortHeader) {
    SYSTEM_INFO si;
    ::GetSystemInfo(&si);
    const std::size_t page = si.dwPageSize;
    auto* mem = static_cast<std::uint8_t*>(
        ::VirtualAlloc(nullptr, 2 * page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    ASSERT_NE(mem, nullptr);
    DWORD old = 0;
    ASSERT_TRUE(::VirtualProtect(mem + page, page, PAGE_NOACCESS, &old));

    for (std::uint32_t hdr : {44u, 48u}) {
        // File header and an info header of hdr bytes announcing bit fields; the
        // file ends with that header.
        std::vector<std::uint8_t> file(14 + hdr, 0);
        auto u32 = [&](std::size_t at, std::uint32_t v) {
            for (int i = 0; i < 4; ++i) file[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
        };
        file[0] = 'B';
        file[1] = 'M';
        u32(2, static_cast<std::uint32_t>(file.size()));
        u32(10, static_cast<std::uint32_t>(file.size()));
        u32(14, hdr);
        u32(18, 1);
        u32(22, 1);
        file[26] = 1;
        file[28] = 32;
        u32(30, BI_BITFIELDS);
        std::uint8_t* at = mem + page - file.size();
        std::memcpy(at, file.data(), file.size());
        fw::Bitmap b;
        EXPECT_FALSE(b.LoadFromMemory(at, file.size())) << hdr;
        EXPECT_TRUE(b.Empty()) << hdr;
    }
    ::VirtualFree(mem, 0, MEM_RELEASE);
}
