// The program's two hook clients with the real libraries: u_Quillhook with Quillhook.dll
// and u_KBDHook with the Pellhook stand-in, fed real injected key events.

#include "devices/u_KBDHook.h"
#include "devices/u_Quillhook.h"
#include "tests/hooks/HookTestSupport.h"
#include "tests/support/Input.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

using hooktest::TestWindow;
using testsupport::PumpUntil;

namespace {

class SaverClientTest : public ::testing::Test {
protected:
    void TearDown() override {
        RemoveSaverHook();
        SaverHookMessage = 0;
    }
    TestWindow window;
};

TEST_F(SaverClientTest, InstallsNothingWithoutMessageOrWindow) {
    SaverHookMessage = 0;
    InstallSaverHook(window.hwnd());
    EXPECT_FALSE(hooktest::RecordExists());

    SaverHookMessage = RegisterWindowMessageA("Quillhook");
    InstallSaverHook(nullptr);
    EXPECT_FALSE(hooktest::RecordExists());
    EXPECT_EQ(hooktest::SysCommandElsewhere(SC_SCREENSAVE, 0), 0);
}

TEST_F(SaverClientTest, InstallHoldsBackTheScreenSaverUntilRemoved) {
    SaverHookMessage = RegisterWindowMessageA("Quillhook");
    InstallSaverHook(window.hwnd());
    auto record = hooktest::ReadRecord();
    ASSERT_TRUE(record);
    EXPECT_EQ(record->window, quillhook::PackWindow(window.hwnd()));
    EXPECT_EQ(record->message, SaverHookMessage);
    const bool wow64 = hooktest::Under64BitWindows();
    if (!wow64) {
        EXPECT_EQ(hooktest::SysCommandElsewhere(SC_SCREENSAVE, 0), 1);
        EXPECT_TRUE(hooktest::TakeMessage(window.hwnd(), SaverHookMessage));
    } else {
        // Wine (unlike Windows) ends a CBT hook chain at the first global hook of the other
        // bitness: with the 64-bit half set last, its 32-bit programs reach only that one
        // (QuillhookTest shows the 32-bit hook on its own), its 64-bit programs both.
        // The 64-bit programs, through the 64-bit half this install started.
        EXPECT_EQ(hooktest::ChildrenNamed(GetCurrentProcessId(), L"QuillhookHost.exe"), 1);
        EXPECT_TRUE(hooktest::HeldBackIn64BitProgram(SC_MONITORPOWER, 2));
        auto notice = hooktest::TakeMessage(window.hwnd(), SaverHookMessage);
        ASSERT_TRUE(notice);
        EXPECT_EQ(notice->wParam, WPARAM{SC_MONITORPOWER});
    }

    RemoveSaverHook();
    EXPECT_FALSE(hooktest::RecordExists());
    EXPECT_EQ(hooktest::SysCommandElsewhere(SC_SCREENSAVE, 0), 0);
    if (wow64) {
        EXPECT_EQ(hooktest::ChildrenNamed(GetCurrentProcessId(), L"QuillhookHost.exe"), 0);
        EXPECT_EQ(hooktest::SysCommandIn64BitProgram(SC_SCREENSAVE, 0), 0);
    }
    RemoveSaverHook();  // a second removal is harmless
}

// Message-filter routines as a system offers them, recording how they are called.
struct FilterCalls {
    static inline bool withEx = false;  // Windows 7 and later; Vista has only the older one
    static inline std::vector<std::string> calls;
    static BOOL WINAPI FilterEx(HWND window, UINT message, DWORD action, void*) {
        calls.push_back("Ex " + std::to_string(reinterpret_cast<uintptr_t>(window)) + " " +
                        std::to_string(message) + " " + std::to_string(action));
        return TRUE;
    }
    static BOOL WINAPI Filter(UINT message, DWORD flag) {
        calls.push_back("Process " + std::to_string(message) + " " + std::to_string(flag));
        return TRUE;
    }
    static FARPROC Lookup(const char* name) {
        if (withEx && std::string(name) == "ChangeWindowMessageFilterEx")
            return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&FilterEx));
        if (std::string(name) == "ChangeWindowMessageFilter")
            return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&Filter));
        return nullptr;
    }
};

TEST_F(SaverClientTest, NoticesFromOrdinaryProgramsAreLetThroughOnVistaAndLater) {
    SaverHookMessage = RegisterWindowMessageA("Quillhook");
    const TUser32Lookup system = User32Routine;
    User32Routine = &FilterCalls::Lookup;
    FilterCalls::withEx = false;
    AllowSaverNotices(window.hwnd());
    FilterCalls::withEx = true;
    AllowSaverNotices(window.hwnd());
    User32Routine = system;
    const std::string message = std::to_string(SaverHookMessage);
    // MSGFLT_ADD for the process on Vista; MSGFLT_ALLOW for this window from Windows 7.
    EXPECT_EQ(FilterCalls::calls,
              (std::vector<std::string>{
                  "Process " + message + " 1",
                  "Ex " + std::to_string(reinterpret_cast<uintptr_t>(window.hwnd())) + " " +
                      message + " 1"}));
}

constexpr BYTE CameraKeyScan = testsupport::kCameraKeyScan;

struct KeyReport {
    BYTE scan;
    BYTE flags;
};

class KeyHookTest : public ::testing::Test {
protected:
    void SetUp() override {
        KeyHookMessage = RegisterWindowMessageA("Pellhook");
        ASSERT_NE(KeyHookMessage, 0u);
        window.OnMessage = [this](UINT msg, WPARAM, LPARAM lParam) {
            if (msg != KeyHookMessage) return false;
            // The record is read while the message is handled, as the main window does.
            const auto* record = reinterpret_cast<const BYTE*>(lParam);
            if (record[4] == CameraKeyScan) reports.push_back({record[4], record[8]});
            return true;
        };
        // A hook of the test's own, to know when the system has passed both events on.
        Observer = this;
        observer_ = SetWindowsHookExW(WH_KEYBOARD_LL, Observe, GetModuleHandleW(nullptr), 0);
        ASSERT_NE(observer_, nullptr);
    }
    void TearDown() override {
        RemoveKeyHook();
        KeyHookMessage = 0;
        UnhookWindowsHookEx(observer_);
        Observer = nullptr;
    }

    // Presses and releases the camera key (scan code 0x64, extended) from another
    // thread, as a device would, and services this thread until both events went by.
    bool PressCameraKey() {
        seen = 0;
        std::thread sender(testsupport::SendCameraKey);
        bool done = PumpUntil([this] { return seen >= 2; });
        sender.join();
        return done;
    }

    // The events reach the window after the system has passed them on.
    bool ReportsCome(size_t count) {
        return PumpUntil([&] { return reports.size() >= count; });
    }

    static LRESULT CALLBACK Observe(int code, WPARAM wParam, LPARAM lParam) {
        if (code == HC_ACTION && Observer &&
            reinterpret_cast<const KBDLLHOOKSTRUCT*>(lParam)->scanCode == CameraKeyScan)
            ++Observer->seen;
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
    static inline KeyHookTest* Observer = nullptr;

    TestWindow window;
    std::vector<KeyReport> reports;
    int seen = 0;

private:
    HHOOK observer_ = nullptr;
};

// The injected marker is the platform's note on SendInput, not part of the key.
BYTE KeyFlags(const KeyReport& report) { return static_cast<BYTE>(report.flags & ~LLKHF_INJECTED); }

TEST_F(KeyHookTest, CameraKeyReachesTheWindowPressedAndReleased) {
    InstallKeyHook(window.hwnd());
    ASSERT_TRUE(PressCameraKey());
    ASSERT_TRUE(ReportsCome(2));
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(KeyFlags(reports[0]), 0x01);
    EXPECT_EQ(KeyFlags(reports[1]), 0x81);

    // Installing again retargets the one hook: still one report per event.
    reports.clear();
    InstallKeyHook(window.hwnd());
    ASSERT_TRUE(PressCameraKey());
    ASSERT_TRUE(ReportsCome(2));
    EXPECT_EQ(reports.size(), 2u);
}

TEST_F(KeyHookTest, NothingArrivesAfterRemoveOrWithoutMessageOrWindow) {
    InstallKeyHook(window.hwnd());
    RemoveKeyHook();
    RemoveKeyHook();
    ASSERT_TRUE(PressCameraKey());
    EXPECT_TRUE(reports.empty());

    InstallKeyHook(nullptr);
    ASSERT_TRUE(PressCameraKey());
    EXPECT_TRUE(reports.empty());

    UINT registered = KeyHookMessage;
    KeyHookMessage = 0;
    InstallKeyHook(window.hwnd());
    KeyHookMessage = registered;
    ASSERT_TRUE(PressCameraKey());
    EXPECT_TRUE(reports.empty());
}

TEST_F(KeyHookTest, VanishedWindowIsSkipped) {
    {
        TestWindow gone;
        InstallKeyHook(gone.hwnd());
    }
    ASSERT_TRUE(PressCameraKey());
    EXPECT_TRUE(reports.empty());

    InstallKeyHook(window.hwnd());
    ASSERT_TRUE(PressCameraKey());
    ASSERT_TRUE(ReportsCome(2));
    EXPECT_EQ(reports.size(), 2u);
}

}  // namespace
