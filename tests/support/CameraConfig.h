// The stand-in camera's configuration key, as the camera and capture tests set it up.
#pragma once

#include <windows.h>

namespace testsupport {

// Starts each test from an empty configuration key and removes it afterwards, with the
// camera plugged in (listed by the system device enumerator) both times.
class CameraConfig {
public:
    CameraConfig();
    ~CameraConfig();
    CameraConfig(const CameraConfig&) = delete;
    CameraConfig& operator=(const CameraConfig&) = delete;

    void SetDword(const wchar_t* name, DWORD value);
    void SetString(const wchar_t* name, const wchar_t* value);
    // `fallback` when the value is missing.
    static DWORD ReadDword(const wchar_t* name, DWORD fallback);
};

}  // namespace testsupport
