// Still pictures: numbered JPEG and bitmap files from the live stand-in camera and from
// frames handed to the video callback object, the quality by width, one picture per
// request, the per-frame handler around a snapshot, frame depths and padded rows, and the
// failures that must leave nothing behind (full disk, read-only drive, bad frame, bad
// extension, a throwing handler).
#include "tests/capture/CaptureTestSupport.h"
#include "tests/capture/ControlProbe.h"
#include "tests/capture/JpegDecode.h"

#include "capture/StillPicture.h"
#include "devices/VMFilter.h"
#include "framework/Bitmap.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestPaths.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <stdexcept>

using namespace captest;
using testsupport::FolderNames;
using testsupport::TempFolder;

namespace {

std::vector<uint8_t> ReadAll(const std::wstring& path) {
    std::vector<uint8_t> data;
    HANDLE h = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                             nullptr);
    if (h == INVALID_HANDLE_VALUE) return data;
    data.resize(::GetFileSize(h, nullptr));
    DWORD n = 0;
    if (!data.empty()) ::ReadFile(h, data.data(), static_cast<DWORD>(data.size()), &n, nullptr);
    data.resize(n);
    ::CloseHandle(h);
    return data;
}

// The IJG quality whose scaled standard luminance table is the file's first table, or -1.
int JpegQuality(const std::vector<uint8_t>& f) {
    static const int kStdLuminance[64] = {
        16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
        14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
        18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
        49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
    // The file's table is in zig-zag order.
    static const int kZigZag[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                                    12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                                    35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                                    58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};
    size_t i = 2;
    while (i + 4 <= f.size() && f[i] == 0xFF) {
        const uint8_t marker = f[i + 1];
        const size_t len = (static_cast<size_t>(f[i + 2]) << 8) | f[i + 3];
        if (marker == 0xDB && i + 4 + 65 <= f.size() && (f[i + 4] >> 4) == 0) {
            const uint8_t* table = &f[i + 5];
            for (int q = 1; q <= 100; ++q) {
                const int scale = q < 50 ? 5000 / q : 200 - 2 * q;
                bool same = true;
                for (int k = 0; k < 64 && same; ++k) {
                    int v = (kStdLuminance[kZigZag[k]] * scale + 50) / 100;
                    v = v < 1 ? 1 : (v > 255 ? 255 : v);
                    same = table[k] == v;
                }
                if (same) return q;
            }
            return -1;
        }
        i += 2 + len;
    }
    return -1;
}

struct Mean {
    double r = 0, g = 0, b = 0;
};

// Mean colour of a rectangle of a decoded picture.
Mean MeanOf(const Decoded& d, int x0, int y0, int x1, int y1) {
    Mean m;
    double n = 0;
    for (int y = y0; y < y1; ++y) {
        for (int x = x0; x < x1; ++x) {
            const uint8_t* p = &d.rgb[(static_cast<size_t>(y) * d.width + x) * 3];
            m.r += p[0];
            m.g += p[1];
            m.b += p[2];
            ++n;
        }
    }
    if (n > 0) {
        m.r /= n;
        m.g /= n;
        m.b /= n;
    }
    return m;
}

// A bottom-up frame of Width x Height with the given bytes a pixel and row stride, each
// pixel made by Pixel(x, y counted from the top, bytes).
template <typename F>
std::vector<uint8_t> MakeFrame(int width, int height, int bpp, size_t stride, F pixel) {
    std::vector<uint8_t> frame(stride * height, 0);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = frame.data() + static_cast<size_t>(height - 1 - y) * stride;
        for (int x = 0; x < width; ++x) pixel(x, y, row + static_cast<size_t>(x) * bpp);
    }
    return frame;
}

class SnapshotTest : public CaptureFixture {
protected:
    void SetUp() override {
        CaptureFixture::SetUp();
        ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, SensorKeyPath);
        cap->OnSnapShot = [this](const std::wstring& name) {
            std::lock_guard<std::mutex> g(snapLock);
            saved.push_back(name);
        };
        cap->OnSnapShotFailed = [this](DWORD error) {
            std::lock_guard<std::mutex> g(snapLock);
            failed.push_back(error);
        };
        cap->SetOnVideoPreview([this](uint32_t frame, BYTE*&, int32_t&) {
            std::lock_guard<std::mutex> g(snapLock);
            seen.push_back(frame);
            ++frames;
        });
    }
    void TearDown() override {
        CaptureFixture::TearDown();
        ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, SensorKeyPath);
    }

    std::vector<std::wstring> Saved() {
        std::lock_guard<std::mutex> g(snapLock);
        return saved;
    }
    std::vector<DWORD> Failed() {
        std::lock_guard<std::mutex> g(snapLock);
        return failed;
    }
    std::vector<uint32_t> Seen() {
        std::lock_guard<std::mutex> g(snapLock);
        return seen;
    }
    // Waits until the armed request has met a frame and the save is over.
    bool WaitRequestDone() {
        return PumpUntil([&] {
            return !ControlProbe::VideoCallback(*cap).HasOnNextBuffer() &&
                   !ControlProbe::SnapshotBusy(*cap);
        });
    }
    // Hands a frame to the video callback object as the preview grabber does.
    void Deliver(std::vector<uint8_t>& frame) {
        ControlProbe::VideoCallback(*cap).SetEnabled(true);
        EXPECT_EQ(ControlProbe::VideoCallback(*cap).BufferCB(0.0, frame.data(),
                                                             static_cast<long>(frame.size())),
                  S_OK);
    }
    // One picture through SnapShot and one handed-in frame; the saved name or empty.
    std::wstring SnapFrame(std::vector<uint8_t>& frame) {
        const size_t before = Saved().size();
        ControlProbe::VideoCallback(*cap).SetEnabled(true);
        cap->SnapShot();
        Deliver(frame);
        const auto names = Saved();
        return names.size() > before ? names.back() : std::wstring();
    }

    std::mutex snapLock;
    std::vector<std::wstring> saved;
    std::vector<uint32_t> seen;
    std::vector<DWORD> failed;
};

TEST_F(SnapshotTest, LiveCameraPicturesAreNumberedJpegsOfTheChosenSensor) {
    TempFolder dir(L"snap");
    ASSERT_TRUE(SelectCamera());
    cap->SetVideoFormat(320, 240, 30, 24);
    // The folder does not exist yet: the first picture makes it.
    const std::wstring folder = dir.Path() + L"new\\pictures\\";
    cap->ImageFileName = folder + L"image_kv_.jpg";
    ASSERT_TRUE(cap->StartPreview());
    ASSERT_TRUE(WaitFrames(3));

    cap->SnapShot();
    ASSERT_TRUE(PumpUntil([&] { return Saved().size() == 1; }));
    EXPECT_EQ(Saved()[0], folder + L"image_kv_0.jpg");
    const auto first = ReadAll(folder + L"image_kv_0.jpg");
    EXPECT_EQ(JpegQuality(first), 90);
    EXPECT_EQ(ControlProbe::JpegQuality(*cap), 90);
    const Decoded forward = Decode(first);
    ASSERT_TRUE(forward.ok);
    EXPECT_EQ(forward.width, 320);
    EXPECT_EQ(forward.height, 240);
    // The forward sensor's blue checkerboard; below the frame-number band at the top.
    const Mean f = MeanOf(forward, 0, 16, 320, 240);
    EXPECT_GT(f.b, f.r + 40) << f.r << ' ' << f.g << ' ' << f.b;

    ASSERT_TRUE(cap->SensorFilter());
    cap->SensorFilter()->SelectSensor(vcam::kBackwardSensor);
    ASSERT_TRUE(WaitFrames(frames.load() + 5));
    cap->SnapShot();
    ASSERT_TRUE(PumpUntil([&] { return Saved().size() == 2; }));
    EXPECT_EQ(Saved()[1], folder + L"image_kv_1.jpg");
    const Decoded backward = Decode(ReadAll(folder + L"image_kv_1.jpg"));
    ASSERT_TRUE(backward.ok);
    const Mean b = MeanOf(backward, 0, 16, 320, 240);
    EXPECT_GT(b.r, b.b + 40) << b.r << ' ' << b.g << ' ' << b.b;

    // A freed number is taken again.
    ASSERT_TRUE(::DeleteFileW((folder + L"image_kv_0.jpg").c_str()));
    cap->SnapShot();
    ASSERT_TRUE(PumpUntil([&] { return Saved().size() == 3; }));
    EXPECT_EQ(Saved()[2], folder + L"image_kv_0.jpg");
    EXPECT_TRUE(Decode(ReadAll(folder + L"image_kv_0.jpg")).ok);
    cap->StopPreview();
}

// Whatever the camera sends, the picture is the frame at its own size, right side up: the
// frame-number band (black and white) along the top, the blue checkerboard below it.
TEST_F(SnapshotTest, EveryCameraFormatGivesAnUprightPictureAtTheFrameSize) {
    TempFolder dir(L"formats");
    cap->ImageFileName = dir.Path() + L"image_kv_.jpg";
    ForEachFormatAndSize([&](const CameraFormat&, SIZE size) {
        ASSERT_TRUE(cap->StartPreview());
        ASSERT_TRUE(WaitFrames(frames.load() + 3));
        const size_t before = Saved().size();
        cap->SnapShot();
        ASSERT_TRUE(PumpUntil([&] { return Saved().size() == before + 1; }));
        cap->StopPreview();
        const Decoded picture = Decode(ReadAll(Saved().back()));
        ASSERT_TRUE(picture.ok);
        ASSERT_EQ(picture.width, size.cx);
        ASSERT_EQ(picture.height, size.cy);
        const Mean band = MeanOf(picture, 0, 0, size.cx, size.cy / 60);
        EXPECT_LT(std::abs(band.b - band.r), 25) << band.r << ' ' << band.g << ' ' << band.b;
        const Mean body = MeanOf(picture, 0, size.cy / 4, size.cx, size.cy);
        EXPECT_GT(body.b, body.r + 40) << body.r << ' ' << body.g << ' ' << body.b;
    });
}

// A picture asked for before the frame size changes is taken from the first frame at the
// new size, at that size.
TEST_F(SnapshotTest, APictureArmedBeforeASizeChangeIsSavedAtTheNewSize) {
    TempFolder dir(L"snap");
    ASSERT_TRUE(SelectCamera());
    cap->SetVideoFormat(320, 240, 30, 24);
    cap->ImageFileName = dir.Path() + L"image_kv_.jpg";
    ASSERT_TRUE(cap->StartPreview());
    ASSERT_TRUE(WaitFrames(3));
    cap->StopPreview();
    // Armed while no frame flows, as between the stop and the restart at the new size.
    ControlProbe::VideoCallback(*cap).SetEnabled(true);
    cap->SnapShot();
    cap->SetVideoFormat(640, 480, 30, 24);
    // Opened again, the camera gets the new size with the next graph.
    ASSERT_TRUE(SelectCamera());
    ASSERT_TRUE(cap->StartPreview());
    ASSERT_TRUE(PumpUntil([&] { return Saved().size() == 1; })) << "the picture was dropped";
    const Decoded d = Decode(ReadAll(Saved()[0]));
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.width, 640);
    EXPECT_EQ(d.height, 480);
    cap->StopPreview();
}

// The saved frame goes to the picture only; the per-frame handler has the frames before
// it and, from the next one on, every frame again.
TEST_F(SnapshotTest, PerFrameHandlerMissesOnlyTheSavedFrame) {
    TempFolder dir(L"snap");
    ASSERT_TRUE(SelectCamera());
    cap->SetVideoFormat(160, 120, 30, 24);
    cap->ImageFileName = dir.Path() + L"image_kv_.jpg";
    ASSERT_TRUE(cap->StartPreview());
    ASSERT_TRUE(WaitFrames(3));
    cap->SnapShot();
    ASSERT_TRUE(PumpUntil([&] { return Saved().size() == 1; }));
    const uint32_t after = frames.load();
    ASSERT_TRUE(WaitFrames(after + 3));
    cap->StopPreview();
    const auto numbers = Seen();
    ASSERT_GE(numbers.size(), 5u);
    int gaps = 0;
    for (size_t i = 1; i < numbers.size(); ++i) {
        if (numbers[i] == numbers[i - 1] + 1) continue;
        ++gaps;
        EXPECT_EQ(numbers[i], numbers[i - 1] + 2) << "more than the saved frame is missing";
    }
    EXPECT_EQ(gaps, 1);
    EXPECT_EQ(numbers.front(), 1u);
    EXPECT_FALSE(ControlProbe::SnapshotBusy(*cap));
}

TEST_F(SnapshotTest, NothingRunningNoPictureNoEvent) {
    TempFolder dir(L"snap");
    ASSERT_TRUE(SelectCamera());
    cap->SetVideoFormat(160, 120, 30, 24);
    cap->ImageFileName = dir.Path() + L"image_kv_.jpg";
    cap->SnapShot();
    EXPECT_FALSE(ControlProbe::VideoCallback(*cap).HasOnNextBuffer());
    // The dropped request is not carried out by a later preview either.
    ASSERT_TRUE(cap->StartPreview());
    ASSERT_TRUE(WaitFrames(5));
    cap->StopPreview();
    EXPECT_TRUE(Saved().empty());
    EXPECT_TRUE(dir.Names().empty());
}

TEST_F(SnapshotTest, TwoRequestsBeforeAFrameGiveOnePictureAndTheNextFrameGoesOn) {
    TempFolder dir(L"snap");
    cap->SetVideoFormat(64, 48, 15, 24);
    cap->ImageFileName = dir.Path() + L"image_kv_.jpg";
    auto frame = MakeFrame(64, 48, 3, 64 * 3, [](int, int, uint8_t* p) { p[0] = 200; });
    ControlProbe::VideoCallback(*cap).SetEnabled(true);
    cap->SnapShot();
    cap->SnapShot();
    Deliver(frame);
    Deliver(frame);
    EXPECT_EQ(Saved(), (std::vector<std::wstring>{dir.Path() + L"image_kv_0.jpg"}));
    EXPECT_EQ(dir.Names(), (std::vector<std::wstring>{L"image_kv_0.jpg"}));
    EXPECT_EQ(Seen(), (std::vector<uint32_t>{2}));
}

TEST_F(SnapshotTest, QualityIs90UpTo640PixelsWideAnd75Above) {
    TempFolder dir(L"snap");
    cap->ImageFileName = dir.Path() + L"image_kv_.jpg";
    for (const auto& [w, h, q] :
         {std::tuple{640, 480, 90}, std::tuple{800, 600, 75}, std::tuple{641, 10, 75}}) {
        cap->SetVideoFormat(w, h, 15, 24);
        const size_t stride = (static_cast<size_t>(w) * 3 + 3) & ~size_t{3};
        auto frame = MakeFrame(w, h, 3, stride,
                               [](int x, int, uint8_t* p) { p[1] = static_cast<uint8_t>(x); });
        const std::wstring name = SnapFrame(frame);
        ASSERT_FALSE(name.empty()) << w;
        EXPECT_EQ(JpegQuality(ReadAll(name)), q) << w;
        EXPECT_EQ(ControlProbe::JpegQuality(*cap), q);
        const Decoded d = Decode(ReadAll(name));
        EXPECT_EQ(d.width, w);
        EXPECT_EQ(d.height, h);
    }
    EXPECT_EQ(JpegQualityForWidth(640), 90);
    EXPECT_EQ(JpegQualityForWidth(641), 75);
}

// An encoder that runs out of memory after its output has grown fails cleanly: nothing is
// freed twice, nothing is returned, and the next picture is whole again.
TEST(JpegEncoding, RunningOutOfRoomAfterTheOutputGrewFailsCleanly) {
    std::vector<uint8_t> noise(640 * 480 * 3);
    uint32_t seed = 12345;
    for (uint8_t& b : noise) {
        seed = seed * 1103515245u + 12345u;
        b = static_cast<uint8_t>(seed >> 24);
    }
    const TFrameBitmap picture =
        FrameToBitmap(noise.data(), 640, 480, static_cast<int32_t>(noise.size()));
    std::vector<uint8_t> file{1, 2, 3};
    EXPECT_FALSE(EncodeJpegFile(picture, 90, file, 200000));
    EXPECT_TRUE(file.empty());
    ASSERT_TRUE(EncodeJpegFile(picture, 90, file));
    EXPECT_GT(file.size(), 200000u);
    const Decoded d = Decode(file);
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.width, 640);
}

TEST_F(SnapshotTest, EmptyTemplateWritesCapture0BmpBesideTheProgram) {
    const std::wstring bin = testsupport::TestBinDir();
    for (int i = 0; i < 3; ++i)
        ::DeleteFileW((bin + L"capture" + std::to_wstring(i) + L".bmp").c_str());
    cap->SetVideoFormat(8, 4, 15, 24);
    cap->ImageFileName.clear();
    auto frame = MakeFrame(8, 4, 3, 24, [](int, int, uint8_t* p) { p[2] = 255; });
    const std::wstring name = SnapFrame(frame);
    EXPECT_EQ(cap->ImageFileName, L"capture.bmp");
    EXPECT_EQ(name, bin + L"capture0.bmp");
    fw::Bitmap bmp;
    ASSERT_TRUE(bmp.LoadFromFile(name));
    EXPECT_EQ(bmp.GetPixel(3, 2), RGB(255, 0, 0));
    ::DeleteFileW(name.c_str());
}

// 8-, 16-, 24- and 32-bit frames, rows packed and rows padded to four bytes: the bitmap
// file shows every pixel where the frame had it, the JPEG the same halves.
TEST_F(SnapshotTest, FrameDepthsAndPaddedRowsKeepEveryPixelInPlace) {
    TempFolder dir(L"snap");
    // Left of the middle one colour, right another, the top row marked: a skew or a
    // flipped picture moves them.
    struct Case {
        int bpp;
        int width;
        bool padded;
    };
    for (const Case c :
         {Case{3, 33, false}, Case{3, 33, true}, Case{4, 33, false}, Case{2, 33, false},
          Case{2, 33, true}, Case{1, 34, false}, Case{1, 33, true}, Case{3, 40, false}}) {
        SCOPED_TRACE("bpp " + std::to_string(c.bpp) + " width " + std::to_string(c.width) +
                     (c.padded ? " padded" : " packed"));
        const int w = c.width, h = 18;
        const size_t packed = static_cast<size_t>(w) * c.bpp;
        const size_t stride = c.padded ? (packed + 3) & ~size_t{3} : packed;
        // 8-bit pixels are grey levels: dark left, light right.
        const auto colourAt = [&](int x, int y) -> COLORREF {
            if (y == 0) return RGB(255, 255, 255);
            if (c.bpp == 1) return x < w / 2 ? RGB(60, 60, 60) : RGB(200, 200, 200);
            return x < w / 2 ? RGB(255, 0, 0) : RGB(0, 0, 255);
        };
        auto put = [&](int x, int y, uint8_t* p) {
            const COLORREF col = colourAt(x, y);
            const int r = GetRValue(col), g = GetGValue(col), b = GetBValue(col);
            switch (c.bpp) {
                case 1:
                    p[0] = static_cast<uint8_t>(r);
                    break;
                case 2: {
                    const unsigned v = ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3);
                    p[0] = static_cast<uint8_t>(v);
                    p[1] = static_cast<uint8_t>(v >> 8);
                    break;
                }
                default:
                    p[0] = static_cast<uint8_t>(b);
                    p[1] = static_cast<uint8_t>(g);
                    p[2] = static_cast<uint8_t>(r);
            }
        };
        auto frame = MakeFrame(w, h, c.bpp, stride, put);
        cap->SetVideoFormat(w, h, 15, static_cast<int16_t>(c.bpp * 8));
        cap->ImageFileName = dir.Path() + L"frame_.bmp";
        const std::wstring bmpName = SnapFrame(frame);
        ASSERT_FALSE(bmpName.empty());
        const auto file = ReadAll(bmpName);
        ASSERT_GT(file.size(), 54u);
        EXPECT_EQ(file[28], c.bpp * 8);  // biBitCount
        fw::Bitmap bmp;
        ASSERT_TRUE(bmp.LoadFromFile(bmpName));
        ASSERT_EQ(bmp.Width(), w);
        ASSERT_EQ(bmp.Height(), h);
        int wrong = 0;
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                COLORREF want = colourAt(x, y);
                if (c.bpp == 2) {
                    want =
                        RGB(GetRValue(want) & 0xF8, GetGValue(want) & 0xF8, GetBValue(want) & 0xF8);
                }
                const COLORREF got = bmp.GetPixel(x, y);
                const auto within8 = [](int a, int b) { return a - b < 8 && b - a < 8; };
                if (!within8(GetRValue(got), GetRValue(want)) ||
                    !within8(GetGValue(got), GetGValue(want)) ||
                    !within8(GetBValue(got), GetBValue(want)))
                    ++wrong;
            }
        }
        EXPECT_EQ(wrong, 0);

        cap->ImageFileName = dir.Path() + L"frame_.jpg";
        const std::wstring jpgName = SnapFrame(frame);
        ASSERT_FALSE(jpgName.empty());
        const Decoded d = Decode(ReadAll(jpgName));
        ASSERT_TRUE(d.ok);
        ASSERT_EQ(d.width, w);
        const Mean left = MeanOf(d, 0, 4, w / 2 - 3, h);
        const Mean right = MeanOf(d, w / 2 + 3, 4, w, h);
        const Mean top = MeanOf(d, 0, 0, w, 1);
        if (c.bpp == 1) {
            EXPECT_NEAR(left.r, 60, 12);
            EXPECT_NEAR(right.r, 200, 12);
        } else {
            EXPECT_GT(left.r, left.b + 150);
            EXPECT_GT(right.b, right.r + 150);
        }
        EXPECT_GT(top.g, 150);
    }
}

TEST_F(SnapshotTest, UnusableFrameUnknownExtensionOrTooLongNameWritesNothingAndReportsNothing) {
    TempFolder dir(L"snap");
    cap->SetVideoFormat(16, 16, 15, 24);
    auto frame = MakeFrame(16, 16, 3, 48, [](int, int, uint8_t* p) { p[0] = 9; });
    cap->ImageFileName = dir.Path() + L"image_kv_.png";
    EXPECT_TRUE(SnapFrame(frame).empty());
    // Five bytes a pixel, and less than one.
    cap->ImageFileName = dir.Path() + L"image_kv_.jpg";
    std::vector<uint8_t> tooBig(16 * 16 * 5, 1), tooSmall(16 * 16 - 1, 1);
    EXPECT_TRUE(SnapFrame(tooBig).empty());
    EXPECT_TRUE(SnapFrame(tooSmall).empty());
    // A name longer than a file system allows.
    cap->ImageFileName = dir.Path() + std::wstring(300, L'n') + L".jpg";
    EXPECT_TRUE(SnapFrame(frame).empty());
    cap->ImageFileName = dir.Path() + L"image_kv_.jpg";
    cap->SetVideoFormat(0, 0, 15, 24);
    EXPECT_TRUE(SnapFrame(frame).empty());
    EXPECT_TRUE(Saved().empty());
    EXPECT_TRUE(dir.Names().empty());
    // Every request was used up; the handler had none of those frames and has the next.
    EXPECT_FALSE(ControlProbe::SnapshotBusy(*cap));
    EXPECT_FALSE(ControlProbe::VideoCallback(*cap).HasOnNextBuffer());
    EXPECT_TRUE(Seen().empty());
    Deliver(frame);
    EXPECT_EQ(Seen().size(), 1u);
    // An upper-case extension is still a JPEG.
    cap->SetVideoFormat(16, 16, 15, 24);
    cap->ImageFileName = dir.Path() + L"IMAGE_.JPG";
    const std::wstring name = SnapFrame(frame);
    EXPECT_EQ(name, dir.Path() + L"IMAGE_0.JPG");
    EXPECT_TRUE(Decode(ReadAll(name)).ok);
}

TEST_F(SnapshotTest, HandlerThatThrowsDoesNotReachTheStream) {
    TempFolder dir(L"snap");
    cap->SetVideoFormat(16, 16, 15, 24);
    cap->ImageFileName = dir.Path() + L"image_kv_.jpg";
    int calls = 0;
    cap->OnSnapShot = [&](const std::wstring&) {
        ++calls;
        throw std::runtime_error("handler failed");
    };
    auto frame = MakeFrame(16, 16, 3, 48, [](int, int, uint8_t* p) { p[2] = 99; });
    ControlProbe::VideoCallback(*cap).SetEnabled(true);
    cap->SnapShot();
    Deliver(frame);  // returns S_OK, nothing thrown
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(ControlProbe::SnapshotBusy(*cap));
    cap->SnapShot();
    Deliver(frame);
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(dir.Names(), (std::vector<std::wstring>{L"image_kv_0.jpg", L"image_kv_1.jpg"}));
}

// The drives come from scratch-drives.sh (a CTest fixture); without them the case skips.
bool ScratchDrive(const wchar_t* root, ULONGLONG maxBytes) {
    ULARGE_INTEGER avail{}, total{}, free{};
    return ::GetDiskFreeSpaceExW(root, &avail, &total, &free) && total.QuadPart > 0 &&
           total.QuadPart <= maxBytes;
}

// A picture that does not fit, or may not be written, leaves nothing and claims nothing;
// the preview goes on and the next picture where there is room is written.
TEST_F(SnapshotTest, FullDiskAndReadOnlyDriveLeaveNoFileAndNoEvent) {
    const bool full = ScratchDrive(L"O:\\", 1u << 20);
    const bool readOnly = ScratchDrive(L"P:\\", 1u << 20);
    if (!full && !readOnly)
        GTEST_SKIP() << "drives O: and P: are not mapped: the memory file systems could not be "
                        "mounted (run through scripts/test as root)";
    ASSERT_TRUE(SelectCamera());
    // A picture well over the full drive's last 4 KB whatever the frame shows (a 320 x 240
    // checkerboard can come out smaller than that).
    cap->SetVideoFormat(640, 480, 30, 24);
    ASSERT_TRUE(cap->StartPreview());
    ASSERT_TRUE(WaitFrames(3));
    std::vector<std::wstring> templates;
    if (full) templates.push_back(L"O:\\image_kv_.jpg");
    if (readOnly) {
        templates.push_back(L"P:\\image_kv_.jpg");
        templates.push_back(L"P:\\new folder\\image_kv_.bmp");
    }
    for (const std::wstring& tpl : templates) {
        SCOPED_TRACE(std::string(tpl.begin(), tpl.end()));
        const std::wstring root = tpl.substr(0, 3);
        const auto before = FolderNames(root);
        cap->ImageFileName = tpl;
        const size_t failedBefore = Failed().size();
        cap->SnapShot();
        ASSERT_TRUE(WaitRequestDone());
        // The failure is reported with the system's reason.
        ASSERT_EQ(Failed().size(), failedBefore + 1);
        EXPECT_NE(Failed().back(), static_cast<DWORD>(ERROR_SUCCESS));
        // The stream goes on and the per-frame handler has it.
        ASSERT_TRUE(WaitFrames(frames.load() + 3));
        EXPECT_TRUE(Saved().empty());
        EXPECT_EQ(FolderNames(root), before);
    }
    // Where there is room the same picture is written, and it is larger than what the
    // full drive had left.
    TempFolder dir(L"snap");
    cap->ImageFileName = dir.Path() + L"image_kv_.jpg";
    cap->SnapShot();
    ASSERT_TRUE(PumpUntil([&] { return Saved().size() == 1; }));
    ULARGE_INTEGER avail{}, total{}, free{};
    if (full && ::GetDiskFreeSpaceExW(L"O:\\", &avail, &total, &free)) {
        EXPECT_GT(ReadAll(Saved()[0]).size(), avail.QuadPart);
    }
    if (!full) GTEST_SKIP() << "drive O: (full disk) is not mapped";
    if (!readOnly) GTEST_SKIP() << "drive P: (read-only) is not mapped";
    cap->StopPreview();
}

}  // namespace
