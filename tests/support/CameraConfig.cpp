#include "tests/support/CameraConfig.h"

#include <cwchar>

#include "standins/vcam/VCamConfig.h"

namespace testsupport {

CameraConfig::CameraConfig() { RegDeleteTreeW(HKEY_CURRENT_USER, vcam::kConfigKey); }

CameraConfig::~CameraConfig() { RegDeleteTreeW(HKEY_CURRENT_USER, vcam::kConfigKey); }

void CameraConfig::SetDword(const wchar_t* name, DWORD value) {
    RegSetKeyValueW(HKEY_CURRENT_USER, vcam::kConfigKey, name, REG_DWORD, &value, sizeof(value));
}

void CameraConfig::SetString(const wchar_t* name, const wchar_t* value) {
    RegSetKeyValueW(HKEY_CURRENT_USER, vcam::kConfigKey, name, REG_SZ, value,
                    static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t)));
}

DWORD CameraConfig::ReadDword(const wchar_t* name, DWORD fallback) {
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (RegGetValueW(HKEY_CURRENT_USER, vcam::kConfigKey, name, RRF_RT_REG_DWORD, nullptr, &value,
                     &size) != ERROR_SUCCESS) {
        return fallback;
    }
    return value;
}

}  // namespace testsupport
