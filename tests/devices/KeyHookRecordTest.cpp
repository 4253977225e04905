// The "Pellhook" message's record: read however it arrives, sent from this thread or from
// another one (as Windows runs a low-level hook, and as the key library's hook thread
// hands it over); a number that is not a readable record is ignored without a fault.
#include <gtest/gtest.h>

#include "devices/u_KBDHook.h"
#include "tests/support/Wait.h"

#include <thread>

namespace {

constexpr UINT kKeyMessage = WM_APP + 77;

struct Received {
    int messages = 0;
    int accepted = 0;
    DWORD sendState = 0;  // what InSendMessageEx said while the message was handled
    KBDLLHOOKSTRUCT record{};
};
Received g_received;

LRESULT CALLBACK ProbeProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == kKeyMessage) {
        ++g_received.messages;
        g_received.sendState = ::InSendMessageEx(nullptr);
        KBDLLHOOKSTRUCT record{};
        if (ReadKeyHookRecord(lParam, record)) {
            ++g_received.accepted;
            g_received.record = record;
        }
        return 1;
    }
    return ::DefWindowProcW(hwnd, msg, wParam, lParam);
}

class KeyHookRecordTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_received = Received{};
        WNDCLASSW wc{};
        wc.lpfnWndProc = ProbeProc;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.lpszClassName = L"OrvixKeyHookProbe";
        ::RegisterClassW(&wc);
        hwnd = ::CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                 wc.hInstance, nullptr);
        ASSERT_NE(hwnd, nullptr);
    }
    void TearDown() override { ::DestroyWindow(hwnd); }
    // Dispatches what is queued.
    void Drain() {
        MSG m;
        while (::PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&m);
    }
    HWND hwnd = nullptr;
};

}  // namespace

TEST_F(KeyHookRecordTest, RecordSentFromThisThreadIsRead) {
    KBDLLHOOKSTRUCT event{};
    event.vkCode = 0xFF;
    event.scanCode = 0x64;
    event.flags = LLKHF_EXTENDED | LLKHF_UP;
    event.time = 1234;
    ::SendMessageW(hwnd, kKeyMessage, WM_KEYUP, reinterpret_cast<LPARAM>(&event));
    EXPECT_EQ(g_received.accepted, 1);
    EXPECT_EQ(g_received.record.scanCode, 0x64u);
    EXPECT_EQ(g_received.record.flags, static_cast<DWORD>(LLKHF_EXTENDED | LLKHF_UP));
    EXPECT_EQ(g_received.record.time, 1234u);
}

TEST_F(KeyHookRecordTest, PostedBadAddressesAreIgnoredWithoutAFault) {
    // What any program allowed to post to the window can send: addresses that no process
    // of either bitness can read, the first 64 KB (never mapped) and the very end. Wine
    // reads any other address it has set aside, whatever its protection: in a 32-bit
    // process that is nearly all of them, such as 0x7FFF0000.
    for (LPARAM bad : {LPARAM(0), LPARAM(1), LPARAM(0x10), LPARAM(0xFF00), LPARAM(-1)}) {
        ::PostMessageW(hwnd, kKeyMessage, WM_KEYUP, bad);
    }
    Drain();
    EXPECT_EQ(g_received.messages, 5);
    EXPECT_EQ(g_received.accepted, 0);
}

// Inside a low-level hook call Windows reports ISMEX_SEND; a message sent from another
// thread is reported so here too, and its record is read all the same.
TEST_F(KeyHookRecordTest, RecordSentFromAnotherThreadIsRead) {
    KBDLLHOOKSTRUCT event{};
    event.scanCode = 0x64;
    event.flags = LLKHF_EXTENDED | LLKHF_UP;
    std::thread other(
        [&] { ::SendMessageW(hwnd, kKeyMessage, WM_KEYUP, reinterpret_cast<LPARAM>(&event)); });
    // The sent message is delivered while this thread waits.
    testsupport::WaitUntil([] { return g_received.messages > 0; });
    other.join();
    EXPECT_EQ(g_received.messages, 1);
    EXPECT_EQ(g_received.sendState & (ISMEX_SEND | ISMEX_REPLIED), static_cast<DWORD>(ISMEX_SEND));
    EXPECT_EQ(g_received.accepted, 1);
    EXPECT_EQ(g_received.record.scanCode, 0x64u);
}

namespace {
KBDLLHOOKSTRUCT Key(DWORD scan, DWORD flags) {
    KBDLLHOOKSTRUCT k{};
    k.vkCode = 0xFF;
    k.scanCode = scan;
    k.flags = flags;
    return k;
}
}  // namespace

TEST(CameraKey, OnlyTheExtendedReleaseOfScanCode64TakesAPicture) {
    EXPECT_TRUE(IsCameraKeyRelease(Key(0x64, LLKHF_EXTENDED | LLKHF_UP)));
    // Other flag bits (injected, Alt) do not matter.
    EXPECT_TRUE(IsCameraKeyRelease(Key(0x64, LLKHF_EXTENDED | LLKHF_UP | LLKHF_INJECTED)));
    // Only the low byte of the scan code is compared.
    EXPECT_TRUE(IsCameraKeyRelease(Key(0x164, LLKHF_EXTENDED | LLKHF_UP)));

    EXPECT_FALSE(IsCameraKeyRelease(Key(0x64, LLKHF_EXTENDED))) << "key down";
    EXPECT_FALSE(IsCameraKeyRelease(Key(0x64, LLKHF_UP))) << "not extended (F13)";
    EXPECT_FALSE(IsCameraKeyRelease(Key(0x65, LLKHF_EXTENDED | LLKHF_UP)));
    EXPECT_FALSE(IsCameraKeyRelease(Key(0x00, 0)));
}
