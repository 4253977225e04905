// The platform pieces that Wine lacks, as the tests' doubles stand in for them: the Video
// for Windows YUV codec found through Drivers32, the MJPEG Decompressor and Color Space
// Converter filters, each refusing what the real one refuses, and the capture graph
// builder's capture-file facilities.
#include <gtest/gtest.h>

#include <windows.h>
#include <mmsystem.h>
#include <vfw.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "bench/support/BenchSupport.h"
#include "tests/standins/VCamTestSupport.h"
#include "tests/support/TempFolder.h"

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

// The AVI Decompressor opens and closes the codec for every search and every graph: the
// process keeps no handle from each of those.
TEST(YuvCodec, OpenedAndClosedAgainAndAgainKeepsNoHandles) {
    BITMAPINFOHEADER in = Header(640, 480, 16, kYuy2);
    auto openAndClose = [&] {
        HIC codec = ICLocate(ICTYPE_VIDEO, kYuy2, &in, nullptr, ICMODE_DECOMPRESS);
        ASSERT_NE(codec, nullptr);
        ICClose(codec);
    };
    openAndClose();
    DWORD before = 0, after = 0;
    const char* source = nullptr;
    ASSERT_TRUE(bench::HandleCount(before, source));
    for (int i = 0; i < 40; ++i) openAndClose();
    ASSERT_TRUE(bench::HandleCount(after, source));
    EXPECT_LE(after, before + 5) << source;
}

namespace {

void Write(const std::wstring& path, const std::string& bytes, std::ios::openmode mode) {
    std::ofstream out(std::filesystem::path(path), std::ios::binary | mode);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

// The capture graph builder's capture-file facilities as Windows documents them: a file
// preallocated to its size, and a copy of just the AVI data at its start. Only AVI files
// are copied, and a file cannot be copied onto itself.
TEST(CaptureGraphBuilder, PreallocatesAndCopiesOnlyTheAviData) {
    ComPtr<ICaptureGraphBuilder2> builder;
    ASSERT_HRESULT_SUCCEEDED(CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr,
                                              CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&builder)));
    testsupport::TempFolder dir{L"builder"};
    std::wstring file = dir.Path() + L"capture.avi", copy = dir.Path() + L"copy.avi";
    ASSERT_EQ(builder->AllocCapFile(file.c_str(), 1 << 20), S_OK);
    EXPECT_EQ(std::filesystem::file_size(file), 1u << 20);

    const std::string avi("RIFF\x0c\0\0\0AVI JUNK\0\0\0\0", 20);
    Write(file, avi, std::ios::in | std::ios::out);  // into the preallocated space
    EXPECT_EQ(builder->CopyCaptureFile(file.data(), copy.data(), FALSE, nullptr), S_OK);
    EXPECT_EQ(testsupport::FileBytes(copy), avi);
    EXPECT_EQ(builder->CopyCaptureFile(file.data(), file.data(), FALSE, nullptr), E_INVALIDARG);
    EXPECT_EQ(std::filesystem::file_size(file), 1u << 20);

    Write(file, "not a capture file", std::ios::trunc);
    std::filesystem::remove(copy);
    EXPECT_EQ(builder->CopyCaptureFile(file.data(), copy.data(), FALSE, nullptr), E_FAIL);
    EXPECT_FALSE(std::filesystem::exists(copy));
}
