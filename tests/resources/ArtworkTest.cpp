// The artwork and sound that the build generates and stages beside the program.
#include "framework/Bitmap.h"
#include "resources/OrvixResources.h"
#include "tests/support/TestPaths.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

// The main window places its buttons this far below the top of the bar.
constexpr int ButtonTop = 5;
constexpr int BarHeight = 40;

std::wstring Staged(const std::wstring& name) {
    return testsupport::TestBinDir() + L"..\\Orvix\\" + name;
}

std::vector<std::uint8_t> ReadAll(const std::wstring& path) {
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in),
                                     std::istreambuf_iterator<char>());
}

std::uint32_t U32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

std::uint16_t U16(const std::vector<std::uint8_t>& b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}

// Loads a staged bitmap after checking that the file is an uncompressed 24-bit .bmp.
fw::Bitmap LoadStagedBitmap(const std::wstring& name, int width, int height) {
    const std::vector<std::uint8_t> bytes = ReadAll(Staged(name));
    fw::Bitmap bmp;
    EXPECT_GE(bytes.size(), 54u) << "missing or truncated";
    if (bytes.size() < 54) return bmp;
    EXPECT_EQ(bytes[0], 'B');
    EXPECT_EQ(bytes[1], 'M');
    EXPECT_GE(U32(bytes, 14), 40u) << "header";
    EXPECT_EQ(U16(bytes, 28), 24) << "bits per pixel";
    EXPECT_EQ(U32(bytes, 30), 0u) << "compression";
    EXPECT_TRUE(bmp.LoadFromFile(Staged(name)));
    EXPECT_EQ(bmp.Width(), width);
    EXPECT_EQ(bmp.Height(), height);
    return bmp;
}

int Channel(COLORREF c, int i) { return (c >> (8 * i)) & 0xFF; }
int Saturation(COLORREF c) {
    const int r = GetRValue(c), g = GetGValue(c), b = GetBValue(c);
    return std::max({r, g, b}) - std::min({r, g, b});
}
int Distance(COLORREF a, COLORREF b) {
    int d = 0;
    for (int i = 0; i < 3; ++i) d = std::max(d, std::abs(Channel(a, i) - Channel(b, i)));
    return d;
}

// Figures of one image of a strip, measured against the bar rows behind the button.
struct ImageFigures {
    double luminance = 0;  // mean
    double contrast = 0;   // mean largest channel difference from the bar
    int saturation = 0;    // largest of any pixel
    int edgeDistance = 0;  // largest difference from the bar on the left and right column
};

ImageFigures Measure(const fw::Bitmap& strip, int index, int width,
                     const std::vector<COLORREF>& barRows) {
    ImageFigures f;
    const int h = strip.Height();
    for (int y = 0; y < h; ++y) {
        const COLORREF bar = barRows[ButtonTop + y];
        for (int x = 0; x < width; ++x) {
            const COLORREF c = strip.GetPixel(index * width + x, y);
            f.luminance += 0.299 * GetRValue(c) + 0.587 * GetGValue(c) + 0.114 * GetBValue(c);
            f.contrast += Distance(c, bar);
            f.saturation = std::max(f.saturation, Saturation(c));
            if (x == 0 || x == width - 1)
                f.edgeDistance = std::max(f.edgeDistance, Distance(c, bar));
        }
    }
    f.luminance /= width * h;
    f.contrast /= width * h;
    return f;
}

std::vector<COLORREF> BarRows() {
    const fw::Bitmap bar = LoadStagedBitmap(L"images\\Back_Big.bmp", 640, BarHeight);
    std::vector<COLORREF> rows;
    for (int y = 0; y < BarHeight; ++y) rows.push_back(bar.GetPixel(0, y));
    return rows;
}

}  // namespace

// The window stretches the bar sideways to the picture's width and the buttons copy their
// images onto it unchanged, so each row must be one colour and both widths the same bar.
TEST(Artwork, BarBackgroundsAreOneBarAtTwoWidths) {
    const fw::Bitmap big = LoadStagedBitmap(L"images\\Back_Big.bmp", 640, BarHeight);
    const fw::Bitmap small = LoadStagedBitmap(L"images\\Back_Small.bmp", 352, BarHeight);
    ASSERT_FALSE(big.Empty());
    ASSERT_FALSE(small.Empty());
    for (int y = 0; y < BarHeight; ++y) {
        const COLORREF row = big.GetPixel(0, y);
        for (int x = 0; x < 640; ++x)
            ASSERT_EQ(big.GetPixel(x, y), row) << "Back_Big x " << x << " y " << y;
        for (int x = 0; x < 352; ++x)
            ASSERT_EQ(small.GetPixel(x, y), row) << "Back_Small x " << x << " y " << y;
    }
    // A bar, not a flat fill: lighter at the top than at the bottom.
    EXPECT_GT(GetGValue(big.GetPixel(0, ButtonTop)),
              GetGValue(big.GetPixel(0, BarHeight - 5)) + 20);
}

TEST(Artwork, GlyphStripsShowFourDistinctStatesOnTheBar) {
    const std::vector<COLORREF> bar = BarRows();
    ASSERT_EQ(bar.size(), static_cast<size_t>(BarHeight));
    int barSaturation = 0;
    for (int y = ButtonTop; y < ButtonTop + 32; ++y)
        barSaturation = std::max(barSaturation, Saturation(bar[y]));

    const struct {
        const wchar_t* name;
        int width;
    } strips[] = {{L"gbOpen", 29},    {L"gbPreviewOn", 29}, {L"gbPreviewOff", 29},
                  {L"gbForward", 29}, {L"gbBackward", 29},  {L"gbLens", 26},
                  {L"gbSnap", 29},    {L"gbRecordOn", 29},  {L"gbRecordOff", 29},
                  {L"gbHelp", 22}};
    for (const auto& s : strips) {
        SCOPED_TRACE(testing::Message() << std::filesystem::path(s.name).string());
        const fw::Bitmap strip =
            LoadStagedBitmap(std::wstring(L"images\\") + s.name + L".bmp", 4 * s.width, 32);
        if (strip.Empty()) continue;
        const ImageFigures normal = Measure(strip, 0, s.width, bar);
        const ImageFigures disabled = Measure(strip, 1, s.width, bar);
        const ImageFigures hover = Measure(strip, 2, s.width, bar);
        const ImageFigures pressed = Measure(strip, 3, s.width, bar);

        EXPECT_GT(normal.contrast, 8.0) << "no glyph drawn";
        // The glyph sits on the bar's own rows, so the button's edges vanish into the bar.
        EXPECT_LE(normal.edgeDistance, 2);
        EXPECT_LE(disabled.edgeDistance, 2);
        // Disabled: grey (no colour beyond the bar's) and fainter than the normal glyph.
        EXPECT_LE(disabled.saturation, barSaturation + 3);
        EXPECT_LT(disabled.contrast, normal.contrast);
        EXPECT_GT(disabled.contrast, 1.0) << "the disabled glyph vanished";
        EXPECT_GT(hover.luminance, normal.luminance + 3) << "hover is not lighter";
        EXPECT_LT(pressed.luminance, normal.luminance - 3) << "pressed is not darker";
    }
}

// The device dialog draws these with the key colour taken from the bottom-left pixel.
TEST(Artwork, DialogPlatesStandOnTheKeyColour) {
    const fw::Bitmap ok = LoadStagedBitmap(L"images\\gbOk.bmp", 60, 26);
    const fw::Bitmap cancel = LoadStagedBitmap(L"images\\gbCancel.bmp", 60, 26);
    for (const fw::Bitmap* plate : {&ok, &cancel}) {
        if (plate->Empty()) continue;
        EXPECT_EQ(plate->GetPixel(0, 25), RGB(255, 0, 255));
        EXPECT_EQ(plate->GetPixel(59, 0), RGB(255, 0, 255));
        // Only the rounded corners are keyed: no pink fringe along the edges or inside.
        int keyed = 0;
        for (int y = 0; y < 26; ++y)
            for (int x = 0; x < 60; ++x) {
                const COLORREF c = plate->GetPixel(x, y);
                if (c == RGB(255, 0, 255))
                    ++keyed;
                else
                    EXPECT_FALSE(GetRValue(c) > 150 && GetBValue(c) > 150 && GetGValue(c) < 100)
                        << "half-keyed pixel at " << x << ", " << y;
            }
        EXPECT_GT(keyed, 4);
        EXPECT_LT(keyed, 60);
    }
    int differing = 0;
    for (int y = 0; y < 26; ++y)
        for (int x = 0; x < 60; ++x) differing += ok.GetPixel(x, y) != cancel.GetPixel(x, y);
    EXPECT_GT(differing, 40) << "OK and Cancel look alike";
}

TEST(Artwork, ProgramCarriesTheSmallBarAsItsBuiltInPicture) {
    const std::wstring exe = Staged(L"Orvix.exe");
    HMODULE module = ::LoadLibraryExW(exe.c_str(), nullptr,
                                      LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module, nullptr);
    fw::Bitmap builtIn;
    const bool loaded = builtIn.LoadFromResource(module, MAKEINTRESOURCEW(IDB_BACK));
    ::FreeLibrary(module);
    ASSERT_TRUE(loaded);
    const fw::Bitmap small = LoadStagedBitmap(L"images\\Back_Small.bmp", 352, BarHeight);
    ASSERT_EQ(builtIn.Width(), 352);
    ASSERT_EQ(builtIn.Height(), BarHeight);
    for (int y = 0; y < BarHeight; ++y)
        EXPECT_EQ(builtIn.GetPixel(100, y), small.GetPixel(100, y)) << "row " << y;
}

TEST(Artwork, ShutterSoundIsAShortPcmWave) {
    const std::vector<std::uint8_t> wav = ReadAll(Staged(L"Click.wav"));
    ASSERT_GE(wav.size(), 44u) << "Click.wav missing or truncated";
    ASSERT_EQ(std::memcmp(wav.data(), "RIFF", 4), 0);
    ASSERT_EQ(std::memcmp(wav.data() + 8, "WAVE", 4), 0);
    std::uint16_t format = 0, channels = 0, bits = 0;
    std::uint32_t rate = 0, dataSize = 0;
    std::size_t dataAt = 0;
    for (std::size_t at = 12; at + 8 <= wav.size();) {
        const std::uint32_t size = U32(wav, at + 4);
        if (std::memcmp(wav.data() + at, "fmt ", 4) == 0 && size >= 16 && at + 24 <= wav.size()) {
            format = U16(wav, at + 8);
            channels = U16(wav, at + 10);
            rate = U32(wav, at + 12);
            bits = U16(wav, at + 22);
        } else if (std::memcmp(wav.data() + at, "data", 4) == 0) {
            dataAt = at + 8;
            dataSize = size;
            break;
        }
        at += 8 + size + (size & 1);
    }
    EXPECT_EQ(format, 1) << "not PCM";
    ASSERT_EQ(bits, 16);
    ASSERT_GT(channels, 0);
    ASSERT_GT(rate, 0u);
    ASSERT_GT(dataAt, 0u) << "no data chunk";
    ASSERT_LE(dataAt + dataSize, wav.size());
    const double seconds = static_cast<double>(dataSize) / (rate * channels * (bits / 8));
    EXPECT_LT(seconds, 0.5);
    EXPECT_GT(seconds, 0.05);
    int peak = 0;
    for (std::size_t i = dataAt; i + 1 < dataAt + dataSize; i += 2)
        peak = std::max(peak, std::abs(static_cast<int>(static_cast<std::int16_t>(U16(wav, i)))));
    EXPECT_GT(peak, 8000) << "the sound is (nearly) silent";
}
