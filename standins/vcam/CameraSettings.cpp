#include "standins/vcam/CameraSettings.h"

#include <cstdint>

#include "framework/WinHandles.h"
#include "standins/vcam/VCamConfig.h"

namespace vcam {

namespace {

DWORD ReadDword(HKEY key, const wchar_t* name) {
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (RegGetValueW(key, nullptr, name, RRF_RT_REG_DWORD, nullptr, &value, &size) !=
        ERROR_SUCCESS) {
        return 0;
    }
    return value;
}

}  // namespace

CameraSettings ReadCameraSettings() {
    CameraSettings settings;
    HKEY raw = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kConfigKey, 0, KEY_READ, &raw) != ERROR_SUCCESS) {
        return settings;
    }
    fw::RegKey key(raw);
    wchar_t subtype[16] = {};
    DWORD size = sizeof(subtype);
    if (RegGetValueW(key.get(), nullptr, kValueSubtype, RRF_RT_REG_SZ, nullptr, subtype, &size) ==
        ERROR_SUCCESS) {
        // Any other text leaves the camera with its default formats.
        if (const VideoSubtype* named = SubtypeNamed(subtype)) settings.layouts = {named->layout};
    }
    settings.stillPin = ReadDword(key.get(), kValueStillPin) != 0;
    settings.previewPin = ReadDword(key.get(), kValuePreviewPin) != 0;
    settings.driverDialogs = ReadDword(key.get(), kValueDriverDialogs) != 0;
    settings.formatDialogResult =
        static_cast<HRESULT>(ReadDword(key.get(), kValueFormatDialogResult));
    settings.failRun = ReadDword(key.get(), kValueFailRun) != 0;
    settings.loseAfterMs = ReadDword(key.get(), kValueLoseAfterMs);
    settings.abortAfterMs = ReadDword(key.get(), kValueAbortAfterMs);
    // Window handles fit 32 bits; sign-extended back.
    settings.runNoticeWindow = reinterpret_cast<HWND>(
        static_cast<intptr_t>(static_cast<int32_t>(ReadDword(key.get(), kValueRunNoticeWindow))));
    settings.analogSound = ReadDword(key.get(), kValueAnalogSound) != 0;
    return settings;
}

DriverFailures ReadDriverFailures(DWORD device) {
    DriverFailures failures;
    HKEY raw = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kConfigKey, 0, KEY_READ, &raw) != ERROR_SUCCESS) {
        return failures;
    }
    fw::RegKey key(raw);
    failures.joinGraph = (ReadDword(key.get(), kValueFailJoinGraph) & device) != 0;
    failures.noStreamConfig = (ReadDword(key.get(), kValueNoStreamConfig) & device) != 0;
    failures.stop = (ReadDword(key.get(), kValueFailStop) & device) != 0;
    failures.refuseFormat = (ReadDword(key.get(), kValueRefuseFormat) & device) != 0;
    return failures;
}

void WriteSettingsDword(const wchar_t* name, DWORD value) {
    HKEY raw = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kConfigKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &raw,
                        nullptr) != ERROR_SUCCESS) {
        return;
    }
    fw::RegKey key(raw);
    RegSetValueExW(key.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                   sizeof(value));
}

}  // namespace vcam
