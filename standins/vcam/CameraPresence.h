// Whether the camera is plugged in, shared by every instance in every process: an unplug
// takes the camera out of the system device enumeration and makes every Run fail until it
// is plugged in again, when the system's device-change notice goes to the top-level
// windows. One unplug per configuration: it is recorded in the configuration key (names
// in VCamConfig.h), so a camera that has come back is not lost again.
#pragma once

#include <windows.h>

namespace vcam {

// True between an unplug and the camera's return (for ever without a return time).
bool CameraUnplugged();

// Unplugs the camera unless this configuration's unplug has already happened. True when the
// camera is gone now (unplugged here or before); false when it has been plugged in again.
bool UnplugCamera();

// The device entry under the video input category, as registration writes it; also what
// plugging the camera in again restores.
HRESULT RegisterCameraDevice();
HRESULT UnregisterCameraDevice();

}  // namespace vcam
