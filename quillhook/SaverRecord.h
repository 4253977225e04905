// The record that tells the hook procedure, in whatever process it runs, which window
// to notify with which message. It lives in a named paging-file mapping because the
// library's own variables are private to each process it is loaded into.
#pragma once

#include <windows.h>

#include <cstdint>

namespace quillhook {

inline constexpr char SaverRecordName[] = "ScreenSaverHook";

// Both fields are 32 bits in every build so that 32-bit and 64-bit processes read the
// same 8 bytes.
struct TSaverRecord {
    uint32_t window;
    uint32_t message;
};
static_assert(sizeof(TSaverRecord) == 8);

// Window handles fit in 32 bits on 64-bit Windows; they are sign-extended back.
inline uint32_t PackWindow(HWND Window) {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(Window));
}

inline HWND UnpackWindow(uint32_t Value) {
    return reinterpret_cast<HWND>(static_cast<intptr_t>(static_cast<int32_t>(Value)));
}

}  // namespace quillhook
