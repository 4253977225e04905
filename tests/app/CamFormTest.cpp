// The main window's decisions that need no running program.
#include "app/u_CamForm.h"

#include <gtest/gtest.h>

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
