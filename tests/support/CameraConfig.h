// The stand-in camera's configuration key, as the camera and capture tests set it up, and
// the test doubles' switch that takes the platform's media writer away.
#pragma once

#include <windows.h>

namespace testsupport {

// Starts each test from a configuration key that holds only Subtype "RGB24" (the one format
// most tests were written for; a test of another format sets it, or removes it for the
// camera's default formats) and removes the key afterwards, with the camera plugged in
// (listed by the system device enumerator) both times.
class CameraConfig {
public:
    CameraConfig();
    ~CameraConfig();
    CameraConfig(const CameraConfig&) = delete;
    CameraConfig& operator=(const CameraConfig&) = delete;

    void SetDword(const wchar_t* name, DWORD value);
    void SetString(const wchar_t* name, const wchar_t* value);
    void Remove(const wchar_t* name);
    // `fallback` when the value is missing.
    static DWORD ReadDword(const wchar_t* name, DWORD fallback);
};

// Takes the platform's WM ASF Writer away for the holder's life, as on a system without
// it (the test doubles' switch, read by every process of the prefix).
class AsfWriterMissing {
public:
    AsfWriterMissing() { Set(1); }
    ~AsfWriterMissing() { Set(0); }
    AsfWriterMissing(const AsfWriterMissing&) = delete;
    AsfWriterMissing& operator=(const AsfWriterMissing&) = delete;

private:
    static void Set(DWORD missing) {
        RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\Orvix\\TestDoubles\\Missing",
                        L"WM ASF Writer", REG_DWORD, &missing, sizeof(missing));
    }
};

}  // namespace testsupport
