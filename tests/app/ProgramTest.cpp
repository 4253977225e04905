// Whole-program tests: a copy of the staged Orvix.exe started as a user starts it.
#include "ProcessHelpers.h"
#include "standins/vcam/VCamConfig.h"
#include "tests/hooks/HookTestSupport.h"
#include "tests/support/CameraConfig.h"
#include "tests/support/ScreenPixels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>

#include <pbt.h>

using namespace apptest;

namespace {

constexpr DWORD kStartMs = 20000;

// Closes the program's main window and expects an orderly end with exit code 0.
void CloseAndExpectCleanEnd(RunningProgram& p, HWND w) {
    PostMessageW(w, WM_CLOSE, 0, 0);
    DWORD code = 12345;
    ASSERT_TRUE(p.WaitExit(15000, &code)) << "the program did not end after WM_CLOSE";
    EXPECT_EQ(code, 0u);
}

FILETIME WriteTime(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
    return data.ftLastWriteTime;
}

// Each test runs its own copy of the staged program folder.
class Program : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(copy.Ok()); }

    // Starts the copy's Orvix.exe and returns its main window, or null.
    HWND StartMain() {
        if (!p.Start(copy.Exe())) return nullptr;
        return p.WaitForWindow(kStartMs);
    }

    ProgramCopy copy;
    RunningProgram p;
};

}  // namespace

TEST_F(Program, ShowsItsMainWindowAndEndsCleanlyWhenClosed) {
    HWND w = StartMain();
    ASSERT_NE(w, nullptr) << "no window appeared";

    RECT rc{};
    GetClientRect(w, &rc);
    EXPECT_EQ(rc.right - rc.left, 640);
    EXPECT_EQ(rc.bottom - rc.top, 520);
    EXPECT_EQ(Caption(w), L"Orvix");
    const LONG style = GetWindowLongW(w, GWL_STYLE);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_TRUE(style & WS_MINIMIZEBOX);
    EXPECT_FALSE(style & WS_THICKFRAME) << "the border must not be sizeable";
    EXPECT_FALSE(style & WS_MAXIMIZEBOX);

    // Centred on the screen.
    RECT wr{};
    GetWindowRect(w, &wr);
    const int sw = GetSystemMetrics(SM_CXSCREEN), sh = GetSystemMetrics(SM_CYSCREEN);
    EXPECT_NEAR((wr.left + wr.right) / 2, sw / 2, 1);
    EXPECT_NEAR((wr.top + wr.bottom) / 2, sh / 2, 1);

    CloseAndExpectCleanEnd(p, w);
}

TEST_F(Program, SecondCopyEndsSilentlyAndTheFirstKeepsItsWindow) {
    RunningProgram& first = p;
    HWND w = StartMain();
    ASSERT_NE(w, nullptr);
    RECT before{};
    GetWindowRect(w, &before);

    RunningProgram second;
    ASSERT_TRUE(second.Start(copy.Exe()));
    DWORD code = 12345;
    ASSERT_TRUE(second.WaitExit(kStartMs, &code)) << "the second copy kept running";
    EXPECT_EQ(code, 0u);

    EXPECT_TRUE(IsWindow(w));
    EXPECT_TRUE(IsWindowVisible(w));
    RECT after{};
    GetWindowRect(w, &after);
    EXPECT_TRUE(EqualRect(&before, &after)) << "the first copy's window moved";
    CloseAndExpectCleanEnd(first, w);

    // With the first copy gone, a new copy starts normally.
    RunningProgram third;
    ASSERT_TRUE(third.Start(copy.Exe()));
    HWND w3 = third.WaitForWindow(kStartMs);
    ASSERT_NE(w3, nullptr);
    CloseAndExpectCleanEnd(third, w3);
}

TEST_F(Program, WithoutItsLanguageFileEndsWithoutAWindowAndStartsAgainLater) {
    const std::wstring lang = copy.Dir() + L"language";
    const std::wstring away = copy.Dir() + L"language-away";
    ASSERT_TRUE(MoveFileW(lang.c_str(), away.c_str()));

    ASSERT_TRUE(p.Start(copy.Exe()));
    DWORD code = 12345;
    ASSERT_TRUE(p.WaitExit(kStartMs, &code)) << "the program kept running without texts";

    // The mutex went with it: a later start with the texts back works.
    ASSERT_TRUE(MoveFileW(away.c_str(), lang.c_str()));
    RunningProgram again;
    ASSERT_TRUE(again.Start(copy.Exe()));
    HWND w = again.WaitForWindow(kStartMs);
    ASSERT_NE(w, nullptr);
    CloseAndExpectCleanEnd(again, w);
}

TEST_F(Program, CaptionComesFromTheLanguageFileInUse) {
    // The tests run with an English locale, so the English file is the one in use.
    const std::wstring file = copy.Dir() + L"language\\Orvix_ENG.txt";
    ASSERT_TRUE(WriteFileBytes(file,
                               "\xEF\xBB\xBF"
                               "APP_TITLE=Kamera \xC3\x9C"
                               "ber\r\n"
                               "T_CONFIRM=Confirm\r\n"));
    HWND w = StartMain();
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(Caption(w), L"Kamera \u00DCber");
    CloseAndExpectCleanEnd(p, w);
}

TEST_F(Program, LeavesTheSettingsFileAsItWas) {
    const std::wstring ini = copy.Dir() + L"Orvix.ini";
    // Unusual but valid content: a rewrite would normalise it.
    const std::string content =
        "; my notes\r\n[Option]\r\nImageFolder=C:\\Pictures\r\n"
        "MovieFolder = C:\\Movies\\\r\n\r\n[Other]\r\nx=1\r\n";
    ASSERT_TRUE(WriteFileBytes(ini, content));
    const FILETIME before = WriteTime(ini);
    HWND w = StartMain();
    ASSERT_NE(w, nullptr);
    CloseAndExpectCleanEnd(p, w);
    EXPECT_EQ(testsupport::FileBytes(ini), content);
    const FILETIME after = WriteTime(ini);
    EXPECT_EQ(CompareFileTime(&before, &after), 0);
}

TEST_F(Program, RefusesSuspendAndShowsTheNoticeOnlyOnce) {
    HWND w = StartMain();
    ASSERT_NE(w, nullptr);

    DWORD_PTR answer = 0;
    ASSERT_TRUE(SendMessageTimeoutW(w, WM_POWERBROADCAST, PBT_APMQUERYSUSPEND, 0, SMTO_BLOCK, 5000,
                                    &answer));
    EXPECT_EQ(answer, static_cast<DWORD_PTR>(BROADCAST_QUERY_DENY));
    // Answered at once: the notice waits for the timer, never inside the message.
    EXPECT_TRUE(MessageBoxesOf(p.Pid()).empty());

    ASSERT_TRUE(
        SendMessageTimeoutW(w, WM_POWER, 1 /* PWR_SUSPENDREQUEST */, 0, SMTO_BLOCK, 5000, &answer));
    EXPECT_EQ(static_cast<LRESULT>(answer), -1 /* PWR_FAIL */);

    const UINT saver = RegisterWindowMessageA("Quillhook");
    PostMessageW(w, saver, 0xF140, 0);
    PostMessageW(w, saver, 0xF170, 0);
    // The notice comes from the timer's tick; that it comes only once is shown in-process
    // by calling the timer's handler (MainWindowTest).
    ASSERT_TRUE(WaitUntil([&] { return !MessageBoxesOf(p.Pid()).empty(); }, 5000))
        << "no notice after held-back commands";
    AnswerMessageBoxes(p.Pid());
    ASSERT_TRUE(WaitUntil([&] { return MessageBoxesOf(p.Pid()).empty(); }, 5000));
    CloseAndExpectCleanEnd(p, w);
}

TEST_F(Program, HoldsBackTheScreenSaverOfOtherProgramsWhileItRuns) {
    HWND w = StartMain();
    ASSERT_NE(w, nullptr);

    // The hook tests' helper sends the command to a window of its own; its exit code says
    // whether the desktop's hooks cancelled it (1) or not (0).
    const bool wow64 = hooktest::Under64BitWindows();
    if (!wow64) {
        EXPECT_EQ(hooktest::SysCommandElsewhere(SC_SCREENSAVE, 0), 1)
            << "screen saver not held back";
        EXPECT_EQ(hooktest::SysCommandElsewhere(SC_MONITORPOWER, 2), 1)
            << "monitor off not held back";
    } else {
        // The shipping 32-bit program on 64-bit Windows holds back the 64-bit programs'
        // commands too, through its 64-bit half. (Wine ends the CBT chain of its 32-bit
        // programs at that half, which it cannot run in them: HookClientsTest.)
        EXPECT_TRUE(hooktest::HeldBackIn64BitProgram(SC_SCREENSAVE, 0));
        EXPECT_EQ(hooktest::SysCommandIn64BitProgram(SC_MONITORPOWER, 2), 1);
    }
    EXPECT_EQ(hooktest::SysCommandElsewhere(SC_CLOSE, 0), 0) << "SC_CLOSE was intercepted";
    EXPECT_TRUE(WaitUntil([&] { return MessageBoxesOf(p.Pid()).size() == 1; }, 5000))
        << "the main window was not told";
    AnswerMessageBoxes(p.Pid());
    ASSERT_TRUE(WaitUntil([&] { return MessageBoxesOf(p.Pid()).empty(); }, 5000));
    CloseAndExpectCleanEnd(p, w);

    // The hook went with the program.
    EXPECT_EQ(hooktest::SysCommandElsewhere(SC_SCREENSAVE, 0), 0);
    if (wow64) {
        EXPECT_EQ(hooktest::SysCommandIn64BitProgram(SC_SCREENSAVE, 0), 0);
    }
}

// Ended hard, the program leaves no 64-bit half behind: the commands pass again.
TEST_F(Program, KilledItLeavesNoHookHostBehind) {
    if (!hooktest::Under64BitWindows()) GTEST_SKIP() << "only a 32-bit program on 64-bit Windows";
    HWND w = StartMain();
    ASSERT_NE(w, nullptr);
    ASSERT_TRUE(WaitUntil(
        [&] { return hooktest::ChildrenNamed(p.Pid(), L"QuillhookHost.exe") == 1; }, 5000));
    EXPECT_TRUE(hooktest::HeldBackIn64BitProgram(SC_SCREENSAVE, 0));
    const DWORD orvix = p.Pid();
    p.Kill();
    EXPECT_TRUE(
        WaitUntil([&] { return hooktest::ChildrenNamed(orvix, L"QuillhookHost.exe") == 0; }, 5000))
        << "the host outlived the program";
    EXPECT_EQ(hooktest::SysCommandIn64BitProgram(SC_SCREENSAVE, 0), 0);
    EXPECT_EQ(hooktest::SysCommandElsewhere(SC_MONITORPOWER, 2), 0);
}

namespace {
// Mean colour of a rectangle (rows from the top) of a 24-bit .bmp file's pixels.
bool BmpMean(const std::string& file, const RECT& r, testsupport::Rgb& mean) {
    auto u32 = [&](size_t at) {
        uint32_t v = 0;
        memcpy(&v, file.data() + at, 4);
        return v;
    };
    if (file.size() < 54 || static_cast<uint16_t>(u32(28)) != 24) return false;
    const uint32_t offset = u32(10);
    const int width = static_cast<int>(u32(18)), height = static_cast<int>(u32(22));
    const size_t stride = (static_cast<size_t>(width) * 3 + 3) & ~size_t{3};
    if (height <= 0 || r.right > width || r.bottom > height ||
        offset + stride * static_cast<size_t>(height) > file.size())
        return false;
    mean = {};
    for (int y = r.top; y < r.bottom; ++y) {
        const char* row = file.data() + offset + stride * static_cast<size_t>(height - 1 - y);
        for (int x = r.left; x < r.right; ++x) {
            mean.b += static_cast<unsigned char>(row[x * 3]);
            mean.g += static_cast<unsigned char>(row[x * 3 + 1]);
            mean.r += static_cast<unsigned char>(row[x * 3 + 2]);
        }
    }
    const double n = static_cast<double>(r.right - r.left) * (r.bottom - r.top);
    mean.r /= n;
    mean.g /= n;
    mean.b /= n;
    return true;
}

// The video capture devices registered in the prefix, moved aside for the object's life
// (the system device enumerator lists them from this key).
class NoVideoDevices {
public:
    NoVideoDevices() {
        RegDeleteTreeW(HKEY_CURRENT_USER, kAside);
        HKEY aside = nullptr;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, kAside, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &aside, nullptr) != ERROR_SUCCESS)
            return;
        ok_ = RegCopyTreeW(HKEY_CLASSES_ROOT, kInstances, aside) == ERROR_SUCCESS &&
              RegDeleteTreeW(HKEY_CLASSES_ROOT, kInstances) == ERROR_SUCCESS;
        RegCloseKey(aside);
    }
    ~NoVideoDevices() {
        HKEY back = nullptr;
        if (RegCreateKeyExW(HKEY_CLASSES_ROOT, kInstances, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &back, nullptr) == ERROR_SUCCESS) {
            RegCopyTreeW(HKEY_CURRENT_USER, kAside, back);
            RegCloseKey(back);
        }
        RegDeleteTreeW(HKEY_CURRENT_USER, kAside);
    }
    bool Ok() const { return ok_; }

private:
    static constexpr wchar_t kInstances[] =
        L"CLSID\\{860BB310-5D01-11D0-BD3B-00A0C911CE86}\\Instance";
    static constexpr wchar_t kAside[] = L"Software\\Orvix Test\\Video Devices Aside";
    bool ok_ = false;
};
}  // namespace

TEST_F(Program, WithoutAnyCameraSaysSoAndEnds) {
    ASSERT_TRUE(WriteFileBytes(
        copy.Dir() + L"language\\Orvix_ENG.txt",
        "APP_TITLE=Orvix\r\nT_CONFIRM=Confirm\r\nT_NOVIDEO_DRV=No camera found\r\n"));
    NoVideoDevices none;
    ASSERT_TRUE(none.Ok());
    ASSERT_TRUE(p.Start(copy.Exe()));
    ASSERT_TRUE(WaitUntil([&] { return !MessageBoxesOf(p.Pid()).empty(); }, kStartMs))
        << "no message";
    EXPECT_EQ(MessageBoxTexts(p.Pid()), std::vector<std::wstring>{L"No camera found"});
    AnswerMessageBoxes(p.Pid());
    DWORD code = 12345;
    ASSERT_TRUE(p.WaitExit(15000, &code)) << "the program kept running without a camera";
    EXPECT_EQ(code, 0u);
}

TEST_F(Program, TheBarShowsItsBuiltInPictureWithoutTheBackgroundFiles) {
    // The built-in picture is the small bar background; the files are taken away.
    const std::wstring images = copy.Dir() + L"images\\";
    const std::string small = testsupport::FileBytes(images + L"Back_Small.bmp");
    ASSERT_FALSE(small.empty());
    ASSERT_TRUE(DeleteFileW((images + L"Back_Small.bmp").c_str()));
    ASSERT_TRUE(DeleteFileW((images + L"Back_Big.bmp").c_str()));

    HWND w = StartMain();
    ASSERT_NE(w, nullptr);
    // Left of the first button: the first 170 of 640 columns show the first 93 of the
    // picture's 352, stretched.
    testsupport::Rgb expected;
    ASSERT_TRUE(BmpMean(small, RECT{0, 2, 93, 38}, expected));
    ASSERT_TRUE(WaitUntil(
        [&] {
            const testsupport::Rgb m = testsupport::ScreenMean(w, RECT{0, 483, 170, 519});
            return std::abs(m.r - expected.r) < 12 && std::abs(m.g - expected.g) < 12 &&
                   std::abs(m.b - expected.b) < 12;
        },
        10000))
        << "the bar does not show the built-in picture";
    CloseAndExpectCleanEnd(p, w);
}

// The key library's message carries a pointer that only means something inside the
// program; the same message posted by another program with any number in it is ignored.
TEST_F(Program, KeyHookMessagesWithBadRecordsFromOtherProgramsAreIgnored) {
    HWND w = StartMain();
    ASSERT_NE(w, nullptr);
    const UINT key = RegisterWindowMessageA("Pellhook");
    for (LPARAM bad : {LPARAM(1), LPARAM(0x10), LPARAM(-1), static_cast<LPARAM>(0x7FFF0000)}) {
        PostMessageW(w, key, WM_KEYUP, bad);
        DWORD_PTR answer = 0;
        SendMessageTimeoutW(w, key, WM_KEYUP, bad, SMTO_BLOCK, 5000, &answer);
    }
    // Answered after the posted ones: they were handled, and the program lives on.
    DWORD_PTR answer = 0;
    EXPECT_TRUE(SendMessageTimeoutW(w, WM_NULL, 0, 0, SMTO_BLOCK, 5000, &answer));
    EXPECT_EQ(WaitForSingleObject(p.Process(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    CloseAndExpectCleanEnd(p, w);
}

TEST_F(Program, AnUnpluggedCameraIsToldOnceAndThePictureComesBackWithoutARestart) {
    testsupport::CameraConfig config;
    config.SetDword(vcam::kValueLoseAfterMs, 3000);
    config.SetDword(vcam::kValueReturnAfterMs, 3000);
    HWND w = StartMain();
    ASSERT_NE(w, nullptr);
    // The forward sensor's blue checkerboard in the picture's top left corner, where no
    // message box covers it.
    const RECT corner{0, 0, 160, 120};
    auto live = [&] {
        const testsupport::Rgb m = testsupport::ScreenMean(w, corner);
        return m.b > m.r + 80 && m.b > 120;
    };
    ASSERT_TRUE(WaitUntil(live, kStartMs)) << "no live picture at the start";
    ASSERT_TRUE(WaitUntil([&] { return !MessageBoxesOf(p.Pid()).empty(); }, 15000))
        << "loss not told";
    EXPECT_EQ(MessageBoxTexts(p.Pid()),
              std::vector<std::wstring>{L"The camera was disconnected. The picture comes back by "
                                        L"itself when the camera is connected again."});
    EXPECT_TRUE(WaitUntil([&] { return !live(); }, 5000)) << "the last frame stays on the screen";
    AnswerMessageBoxes(p.Pid());
    ASSERT_TRUE(WaitUntil(live, 20000)) << "the picture did not come back";
    EXPECT_TRUE(MessageBoxesOf(p.Pid()).empty());
    CloseAndExpectCleanEnd(p, w);
}
