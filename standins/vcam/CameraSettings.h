// The per-prefix test configuration under HKEY_CURRENT_USER (names in VCamConfig.h), read
// when a filter instance is created, and the values the filters write back.
#pragma once

#include <windows.h>

#include <vector>

#include "standins/vcam/VideoFormats.h"

namespace vcam {

struct CameraSettings {
    std::vector<Layout> layouts = DefaultLayouts();  // in capability order
    bool stillPin = false;
    bool previewPin = false;
    bool driverDialogs = false;
    HRESULT formatDialogResult = S_OK;
    bool failRun = false;
    DWORD loseAfterMs = 0;
    DWORD abortAfterMs = 0;
    HWND runNoticeWindow = nullptr;
    bool analogSound = false;  // the microphone's
};

// The failures asked of one device (kFailCamera or kFailMicrophone).
struct DriverFailures {
    bool joinGraph = false;
    bool noStreamConfig = false;
    bool stop = false;
    bool refuseFormat = false;
};

CameraSettings ReadCameraSettings();
DriverFailures ReadDriverFailures(DWORD device);
// Creates the key when it is missing; a failure to write is ignored (nothing depends on it).
void WriteSettingsDword(const wchar_t* name, DWORD value);

}  // namespace vcam
