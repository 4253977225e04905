// The platform pieces that Wine lacks, as the tests' doubles stand in for them: the Video
// for Windows YUV codec found through Drivers32, and the MJPEG Decompressor and Color Space
// Converter filters, each refusing what the real one refuses.
#include <gtest/gtest.h>

#include <windows.h>
#include <mmsystem.h>
#include <vfw.h>

#include "tests/standins/VCamTestSupport.h"

using namespace vcamtest;

namespace {

BITMAPINFOHEADER Header(LONG w, LONG h, WORD bits, DWORD compression) {
    BITMAPINFOHEADER b{};
    b.biSize = sizeof(b);
    b.biWidth = w;
    b.biHeight = h;
    b.biPlanes = 1;
    b.biBitCount = bits;
    b.biCompression = compression;
    b.biSizeImage = static_cast<DWORD>(w * (h < 0 ? -h : h) * bits / 8);
    return b;
}

constexpr DWORD kYuy2 = MAKEFOURCC('Y', 'U', 'Y', '2');

}  // namespace

// Found by its compression code as the AVI Decompressor finds it; RGB out only, and frames
// only between begin and end. The picture comes out bottom-up, as RGB bitmaps are stored.
TEST(YuvCodec, DecompressesYuy2ToBottomUpRgbBetweenBeginAndEnd) {
    BITMAPINFOHEADER in = Header(2, 2, 16, kYuy2);
    HIC codec = ICLocate(ICTYPE_VIDEO, kYuy2, &in, nullptr, ICMODE_DECOMPRESS);
    ASSERT_NE(codec, nullptr);
    BITMAPINFOHEADER out = Header(2, 2, 24, BI_RGB);
    EXPECT_EQ(ICDecompressQuery(codec, &in, &out), ICERR_OK);
    BITMAPINFOHEADER yuvOut = Header(2, 2, 16, kYuy2);
    EXPECT_EQ(ICDecompressQuery(codec, &in, &yuvOut), ICERR_BADFORMAT);
    BITMAPINFOHEADER scaled = Header(4, 4, 24, BI_RGB);
    EXPECT_EQ(ICDecompressQuery(codec, &in, &scaled), ICERR_BADFORMAT);
    BITMAPINFOHEADER odd = Header(3, 2, 16, kYuy2);
    EXPECT_EQ(ICDecompressQuery(codec, &odd, nullptr), ICERR_BADFORMAT);

    // Top row white, bottom row black (Y U Y V, studio range).
    BYTE yuy2[] = {235, 128, 235, 128, 16, 128, 16, 128};
    BYTE rgb[2 * 8] = {};  // rows of whole DWORDs
    EXPECT_EQ(ICDecompress(codec, 0, &in, yuy2, &out, rgb), static_cast<DWORD>(ICERR_ERROR));
    ASSERT_EQ(ICDecompressBegin(codec, &in, &out), ICERR_OK);
    ASSERT_EQ(ICDecompress(codec, 0, &in, yuy2, &out, rgb), static_cast<DWORD>(ICERR_OK));
    EXPECT_EQ(ICDecompressEnd(codec), ICERR_OK);
    EXPECT_LE(rgb[0], 2);    // first stored row: the bottom one, black
    EXPECT_GE(rgb[8], 253);  // last stored row: the top one, white
    ICClose(codec);
}
