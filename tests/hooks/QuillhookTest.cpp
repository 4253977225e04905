// Quillhook across processes: this process installs, the helper processes raise the
// system commands in their own threads (where the hook procedure then runs) or try to
// install a second time.

#include "quillhook/Quillhook.h"
#include "quillhook/SaverRecord.h"
#include "tests/hooks/HookTestSupport.h"

#include <gtest/gtest.h>

#include <optional>

using hooktest::HelperProcess;
using hooktest::Hex;
using hooktest::ReadRecord;
using hooktest::RecordExists;
using hooktest::SysCommandElsewhere;
using hooktest::TestWindow;

namespace {

class QuillhookTest : public ::testing::Test {
protected:
    void TearDown() override { UnhookCBTHook(); }

    // The helper has ended by the time this is asked, and its post was queued before.
    std::optional<MSG> TakeNotification(HWND to) { return hooktest::TakeMessage(to, message); }

    const UINT message = RegisterWindowMessageA("Quillhook");
    TestWindow window;
};

// A second installer in another process, held between its install and its uninstall.
class SecondInstaller {
public:
    SecondInstaller(HWND window, UINT message)
        : installed_(CreateEventW(nullptr, TRUE, FALSE, Name(L"installed").c_str())),
          proceed_(CreateEventW(nullptr, TRUE, FALSE, Name(L"proceed").c_str())),
          process_(L"hooks_installer", Hex(quillhook::PackWindow(window)) + L" " + Hex(message) +
                                           L" " + Name(L"installed") + L" " + Name(L"proceed")) {}
    ~SecondInstaller() { SetEvent(proceed_.get()); }

    bool WaitInstalled() { return WaitForSingleObject(installed_.get(), 20000) == WAIT_OBJECT_0; }
    // Lets it uninstall and end; its exit code: bit 0 install result, bit 1 uninstall result.
    int Finish() {
        SetEvent(proceed_.get());
        return process_.Wait();
    }

private:
    static std::wstring Name(const wchar_t* what) {
        return L"hooks-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" + what;
    }
    fw::Handle installed_, proceed_;
    HelperProcess process_;
};

TEST_F(QuillhookTest, HoldsBackScreenSaverAndMonitorPowerElsewhereAndTellsTheWindow) {
    ASSERT_NE(window.hwnd(), nullptr);
    ASSERT_TRUE(HookCBTHook(window.hwnd(), message));

    auto record = ReadRecord();
    ASSERT_TRUE(record);
    EXPECT_EQ(record->window, quillhook::PackWindow(window.hwnd()));
    EXPECT_EQ(record->message, message);

    EXPECT_EQ(SysCommandElsewhere(SC_SCREENSAVE, 0), 1);
    auto saver = TakeNotification(window.hwnd());
    ASSERT_TRUE(saver);
    EXPECT_EQ(saver->wParam, WPARAM{0xF140});
    EXPECT_EQ(saver->lParam, 0);

    EXPECT_EQ(SysCommandElsewhere(SC_MONITORPOWER, 2), 1);
    auto power = TakeNotification(window.hwnd());
    ASSERT_TRUE(power);
    EXPECT_EQ(power->wParam, WPARAM{0xF170});
    EXPECT_EQ(power->lParam, 0);

    EXPECT_EQ(SysCommandElsewhere(SC_MONITORPOWER, 0xFFFFFFFF), 1);
    EXPECT_TRUE(TakeNotification(window.hwnd()));

    // Only the exact values count: the low bits that the default handling ignores make
    // a different command here.
    EXPECT_EQ(SysCommandElsewhere(0xF141, 0), 0);
    EXPECT_EQ(SysCommandElsewhere(SC_CLOSE, 0), 0);
    EXPECT_FALSE(TakeNotification(window.hwnd()));

    EXPECT_TRUE(UnhookCBTHook());
    EXPECT_FALSE(RecordExists());
    EXPECT_EQ(SysCommandElsewhere(SC_SCREENSAVE, 0), 0);
    EXPECT_FALSE(TakeNotification(window.hwnd()));
}

TEST_F(QuillhookTest, SecondInstallerElsewhereIsRefusedAndHoldsNothing) {
    ASSERT_TRUE(HookCBTHook(window.hwnd(), message));

    TestWindow other;
    SecondInstaller second(other.hwnd(), message);
    ASSERT_TRUE(second.WaitInstalled());

    // The record still names the first window, which keeps receiving.
    auto record = ReadRecord();
    ASSERT_TRUE(record);
    EXPECT_EQ(record->window, quillhook::PackWindow(window.hwnd()));
    EXPECT_EQ(SysCommandElsewhere(SC_SCREENSAVE, 0), 1);
    EXPECT_TRUE(TakeNotification(window.hwnd()));
    EXPECT_FALSE(TakeNotification(other.hwnd()));

    // The refused installer, still running, must not keep the record alive.
    EXPECT_TRUE(UnhookCBTHook());
    EXPECT_FALSE(RecordExists());

    EXPECT_EQ(second.Finish(), 0);  // refused install, nothing to uninstall
}

TEST_F(QuillhookTest, AfterUninstallAnotherProcessCanInstall) {
    ASSERT_TRUE(HookCBTHook(window.hwnd(), message));
    ASSERT_TRUE(UnhookCBTHook());

    SecondInstaller second(window.hwnd(), message);
    ASSERT_TRUE(second.WaitInstalled());
    EXPECT_TRUE(RecordExists());
    EXPECT_EQ(SysCommandElsewhere(SC_SCREENSAVE, 0), 1);
    EXPECT_TRUE(TakeNotification(window.hwnd()));
    EXPECT_EQ(second.Finish(), 3);  // installed, then removed
    EXPECT_FALSE(RecordExists());
}

TEST_F(QuillhookTest, SecondInstallInTheSameProcessIsRefusedAndLeavesNothingBehind) {
    ASSERT_TRUE(HookCBTHook(window.hwnd(), message));
    TestWindow other;
    EXPECT_FALSE(HookCBTHook(other.hwnd(), message));

    EXPECT_EQ(SysCommandElsewhere(SC_SCREENSAVE, 0), 1);
    EXPECT_TRUE(TakeNotification(window.hwnd()));
    EXPECT_FALSE(TakeNotification(other.hwnd()));

    EXPECT_TRUE(UnhookCBTHook());
    EXPECT_FALSE(RecordExists());
    EXPECT_FALSE(UnhookCBTHook());
    EXPECT_EQ(SysCommandElsewhere(SC_SCREENSAVE, 0), 0);
}

TEST_F(QuillhookTest, WindowZeroAndUninstallWithoutInstallDoNothing) {
    EXPECT_FALSE(UnhookCBTHook());
    EXPECT_FALSE(HookCBTHook(nullptr, message));
    EXPECT_FALSE(RecordExists());
    EXPECT_EQ(SysCommandElsewhere(SC_SCREENSAVE, 0), 0);
    EXPECT_FALSE(UnhookCBTHook());
}

TEST_F(QuillhookTest, WithoutRecordTheCommandsGoAhead) {
    // Another kind of object under the record's name makes the mapping fail; the hook
    // is installed all the same.
    fw::Handle squatter(CreateEventA(nullptr, TRUE, FALSE, quillhook::SaverRecordName));
    ASSERT_TRUE(squatter);
    ASSERT_TRUE(HookCBTHook(window.hwnd(), message));

    EXPECT_EQ(SysCommandElsewhere(SC_SCREENSAVE, 0), 0);
    EXPECT_EQ(SysCommandElsewhere(SC_MONITORPOWER, 2), 0);
    EXPECT_FALSE(TakeNotification(window.hwnd()));
    EXPECT_TRUE(UnhookCBTHook());
}

TEST_F(QuillhookTest, RecordOfAVanishedWindowLetsTheCommandsGoAhead) {
    TestWindow gone;
    HWND stale = gone.hwnd();
    ASSERT_TRUE(HookCBTHook(stale, message));
    gone.Destroy();
    ASSERT_FALSE(IsWindow(stale));

    EXPECT_EQ(SysCommandElsewhere(SC_SCREENSAVE, 0), 0);
    EXPECT_EQ(SysCommandElsewhere(SC_MONITORPOWER, 2), 0);
    EXPECT_TRUE(UnhookCBTHook());
}

// The 64-bit half's install: only beside the installer that holds the record for the very
// window and message, and its removal leaves that record to its owner.
TEST_F(QuillhookTest, JoiningNeedsTheRecordOfThatWindowAndLeavesItToItsOwner) {
    EXPECT_FALSE(JoinCBTHook(window.hwnd(), message)) << "no record";

    SecondInstaller owner(window.hwnd(), message);
    ASSERT_TRUE(owner.WaitInstalled());
    TestWindow other;
    EXPECT_FALSE(JoinCBTHook(other.hwnd(), message));
    EXPECT_FALSE(JoinCBTHook(window.hwnd(), message + 1));
    ASSERT_TRUE(JoinCBTHook(window.hwnd(), message));
    EXPECT_FALSE(JoinCBTHook(window.hwnd(), message)) << "a second hook of this process";
    EXPECT_EQ(SysCommandElsewhere(SC_SCREENSAVE, 0), 1);
    EXPECT_TRUE(TakeNotification(window.hwnd()));

    EXPECT_TRUE(UnhookCBTHook());
    EXPECT_TRUE(RecordExists());
    EXPECT_EQ(SysCommandElsewhere(SC_SCREENSAVE, 0), 1) << "the owner's hook";
    EXPECT_EQ(owner.Finish(), 3);
    EXPECT_FALSE(RecordExists());
}

TEST(SaverRecordTest, WindowHandlesSurviveThe32BitField) {
    // 64-bit window handles are sign-extended 32-bit values.
    HWND high = reinterpret_cast<HWND>(static_cast<intptr_t>(INT32_C(-0x7FFF0000)));
    EXPECT_EQ(quillhook::PackWindow(high), 0x80010000u);
    EXPECT_EQ(quillhook::UnpackWindow(0x80010000u), high);
    EXPECT_EQ(quillhook::UnpackWindow(0x00010020u), reinterpret_cast<HWND>(0x10020));
}

}  // namespace
