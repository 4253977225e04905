// The stand-in camera's configuration key, as the camera and capture tests set it up, and
// the test doubles' switches that take pieces of the platform's media writer away.
#pragma once

#include <windows.h>

namespace testsupport {

// Starts each test from a configuration key that holds only Subtype "RGB24" (the one format
// most tests were written for; a test of another format sets it, or removes it for the
// camera's default formats) and removes the key afterwards, with the camera plugged in
// (listed by the system device enumerator) both times. The sensor the program remembers
// (the maker's driver key) is forgotten both times too, so that every test starts on the
// forward sensor whatever an earlier one chose.
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
    // The camera unplugged now, streaming or not (as during sleep), until PlugIn: it leaves
    // the device enumeration, a streaming instance reports the loss and delivers nothing
    // more, and every instance's Run fails. PlugIn does not send the system's
    // device-change notice.
    void Unplug();
    void PlugIn();
};

// Takes a piece of the platform away for the holder's life (the test doubles' switches,
// read by every process of the prefix).
class PlatformPieceMissing {
public:
    explicit PlatformPieceMissing(const wchar_t* name,
                                  const wchar_t* key = L"Software\\Orvix\\TestDoubles\\Missing")
        : name_(name), key_(key) {
        Set(1);
    }
    ~PlatformPieceMissing() { Set(0); }
    PlatformPieceMissing(const PlatformPieceMissing&) = delete;
    PlatformPieceMissing& operator=(const PlatformPieceMissing&) = delete;

private:
    void Set(DWORD missing) {
        RegSetKeyValueW(HKEY_CURRENT_USER, key_, name_, REG_DWORD, &missing, sizeof(missing));
    }
    const wchar_t* name_;
    const wchar_t* key_;
};

// Filter graphs made for the holder's life lack "NoMediaControl" (the graph cannot be run)
// or have "NoVideoRenderer" (the graph's video window reaches no renderer).
class GraphLacking : public PlatformPieceMissing {
public:
    explicit GraphLacking(const wchar_t* what)
        : PlatformPieceMissing(what, L"Software\\Orvix\\TestDoubles\\Graph") {}
};

// Sample grabbers made for the holder's life refuse the media type they are given.
class GrabberRefusingMediaType : public PlatformPieceMissing {
public:
    GrabberRefusingMediaType()
        : PlatformPieceMissing(L"RefuseMediaType", L"Software\\Orvix\\TestDoubles\\SampleGrabber") {}
};

// One of the capture graph builder's methods that Wine leaves out ("SetOutputFileName",
// "AllocCapFile", "CopyCaptureFile", "ControlStream") returns `result` for the holder's
// life; E_NOTIMPL is what Wine's own builder returns.
class BuilderMethodResult {
public:
    BuilderMethodResult(const wchar_t* method, HRESULT result) : method_(method) {
        const DWORD value = static_cast<DWORD>(result);
        RegSetKeyValueW(HKEY_CURRENT_USER, kKey, method_, REG_DWORD, &value, sizeof(value));
    }
    ~BuilderMethodResult() { RegDeleteKeyValueW(HKEY_CURRENT_USER, kKey, method_); }
    BuilderMethodResult(const BuilderMethodResult&) = delete;
    BuilderMethodResult& operator=(const BuilderMethodResult&) = delete;

private:
    static constexpr wchar_t kKey[] = L"Software\\Orvix\\TestDoubles\\Builder";
    const wchar_t* method_;
};

// The WM ASF Writer, as on a system without it.
class AsfWriterMissing : public PlatformPieceMissing {
public:
    AsfWriterMissing() : PlatformPieceMissing(L"WM ASF Writer") {}
};

// The writer's system profiles: it refuses the one the program asks for.
class AsfProfilesMissing : public PlatformPieceMissing {
public:
    AsfProfilesMissing() : PlatformPieceMissing(L"WM system profiles") {}
};

}  // namespace testsupport
