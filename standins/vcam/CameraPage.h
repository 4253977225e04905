// The camera's property page: one IPropertyPage showing the sensor in use and the capture
// pin's current frame size and subtype. It accepts the camera filter or one of its pins.
#pragma once

#include <windows.h>

#include <string>

#include "standins/vcam/CameraStatus.h"

namespace vcam {

HRESULT CreateCameraPage(REFIID iid, void** out);

// The page's two lines, "Sensor: 1 (forward)" and "Format: 640 x 480 RGB24".
std::wstring SensorText(LONG sensor);
std::wstring FormatText(const VCamStatus& status);

}  // namespace vcam
