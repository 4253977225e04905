#include "standins/vcam/CameraPresence.h"

#include <dbt.h>

#include "framework/WinHandles.h"
#include "standins/vcam/VCamConfig.h"

namespace vcam {

namespace {

struct Presence {
    bool unplugged = false;  // an unplug is recorded
    ULONGLONG lostAt = 0;    // GetTickCount64 at the unplug (system-wide)
    bool returns = false;
    DWORD returnAfterMs = 0;

    bool Gone() const {
        return unplugged && (!returns || GetTickCount64() < lostAt + returnAfterMs);
    }
};

Presence ReadPresence() {
    Presence p;
    ULONGLONG lostAt = 0;
    DWORD size = sizeof(lostAt);
    if (RegGetValueW(HKEY_CURRENT_USER, kConfigKey, kValueLostAt, RRF_RT_REG_QWORD, nullptr,
                     &lostAt, &size) == ERROR_SUCCESS) {
        p.unplugged = true;
        p.lostAt = lostAt;
    }
    DWORD after = 0;
    size = sizeof(after);
    if (RegGetValueW(HKEY_CURRENT_USER, kConfigKey, kValueReturnAfterMs, RRF_RT_REG_DWORD, nullptr,
                     &after, &size) == ERROR_SUCCESS) {
        p.returns = true;
        p.returnAfterMs = after;
    }
    return p;
}

// Plugs the camera in again when its time has come: listed again, then the notice that
// Windows sends to the top-level windows when a device arrives. The thread holds a
// reference on the DLL so that its code stays loaded until it has ended.
DWORD WINAPI ReturnThread(void* module) {
    const Presence p = ReadPresence();
    const ULONGLONG due = p.lostAt + p.returnAfterMs;
    const ULONGLONG now = GetTickCount64();
    if (due > now) Sleep(static_cast<DWORD>(due - now));
    {
        fw::ComInit com(COINIT_MULTITHREADED);
        RegisterCameraDevice();
    }
    PostMessageW(HWND_BROADCAST, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
    FreeLibraryAndExitThread(static_cast<HMODULE>(module), 0);
}

void ScheduleReturn() {
    HMODULE self = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCWSTR>(&ScheduleReturn), &self)) {
        return;
    }
    HANDLE thread = CreateThread(nullptr, 0, &ReturnThread, self, 0, nullptr);
    if (thread) {
        CloseHandle(thread);
    } else {
        FreeLibrary(self);
    }
}

}  // namespace

bool CameraUnplugged() { return ReadPresence().Gone(); }

bool UnplugCamera() {
    const Presence p = ReadPresence();
    if (p.unplugged) return p.Gone();
    const ULONGLONG now = GetTickCount64();
    if (RegSetKeyValueW(HKEY_CURRENT_USER, kConfigKey, kValueLostAt, REG_QWORD, &now,
                        sizeof(now)) != ERROR_SUCCESS) {
        return true;  // unrecorded: this instance alone is lost
    }
    {
        fw::ComInit com(COINIT_MULTITHREADED);
        UnregisterCameraDevice();
    }
    if (p.returns) ScheduleReturn();
    return true;
}

}  // namespace vcam
