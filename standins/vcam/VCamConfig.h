// What tests and tools need to know about the stand-in camera and microphone: their class
// ids, the names under which the system device enumerator lists them, and the registry
// values that configure a filter instance (read when the instance is created) or that
// the filters write for tests and benchmarks to read back.
#pragma once

#include <windows.h>

namespace vcam {

// {BC53E894-7024-4DC4-A418-74B7620BB03A}
inline constexpr GUID CLSID_OrvixTestCamera = {
    0xbc53e894, 0x7024, 0x4dc4, {0xa4, 0x18, 0x74, 0xb7, 0x62, 0x0b, 0xb0, 0x3a}};
// {19F6A41A-D402-44B3-9711-71A042F842C6}
inline constexpr GUID CLSID_OrvixTestMicrophone = {
    0x19f6a41a, 0xd402, 0x44b3, {0x97, 0x11, 0x71, 0xa0, 0x42, 0xf8, 0x42, 0xc6}};

// The camera's property page (the filter and its capture pin name it through
// ISpecifyPropertyPages). {8BDE4DF3-5507-4886-A1D1-DB5DB369D375}
inline constexpr GUID CLSID_OrvixTestCameraPage = {
    0x8bde4df3, 0x5507, 0x4886, {0xa1, 0xd1, 0xdb, 0x5d, 0xb3, 0x69, 0xd3, 0x75}};

inline constexpr wchar_t kCameraName[] = L"Orvix Test Camera";
inline constexpr wchar_t kMicrophoneName[] = L"Orvix Test Microphone";

// The page's title (its tab in a property frame) and the name of its class.
inline constexpr wchar_t kPageTitle[] = L"Orvix Test Camera";
inline constexpr wchar_t kPageClassName[] = L"Orvix Test Camera Property Page";
// Control ids of the page's two lines of text: "Sensor: 1 (forward)" or "Sensor: 2
// (backward)", and the current format as "Format: 640 x 480 RGB24".
inline constexpr int kPageSensorTextId = 1001;
inline constexpr int kPageFormatTextId = 1002;

// Every output pin has IAMStreamControl: StartAt and StopAt take a reference time (stream
// time plus the time given to Run), NULL for now and MAXLONGLONG for never (a start) or no
// stop; a start and a stop at one time deliver one frame; EC_STREAM_CONTROL_STARTED and
// _STOPPED carry a non-zero cookie; the preview pin takes only NULL and MAXLONGLONG
// (E_INVALIDARG otherwise). Frames outside the window are not delivered. A new connection
// starts with no start or stop set.
// Output pin names, in pin order. A camera with a still pin names it like the real driver
// does.
inline constexpr wchar_t kCapturePinName[] = L"Capture";
inline constexpr wchar_t kStillPinName[] = L"Stop";
inline constexpr wchar_t kPreviewPinName[] = L"Preview";

// HKEY_CURRENT_USER subkey holding the configuration and the read-back values.
inline constexpr wchar_t kConfigKey[] = L"Software\\Orvix Test Camera";

// Formats. Without this value the camera offers what most USB cameras do: MJPG at every
// frame size, then YUY2 at every frame size, MJPG 640 x 480 current. REG_SZ "RGB24",
// "YUY2", "MJPG", "I420" or "UYVY" (any case) restricts it to that one format; any other
// text leaves the default. Frame sizes, in this order: 640 x 480, 352 x 288, 320 x 240,
// 160 x 120, 1280 x 720, 1920 x 1080. MJPG frames are baseline JPEG pictures (quality 75);
// RGB24 frames bottom-up DIB rows; YUY2, UYVY and I420 top-down, BT.601 studio range.
inline constexpr wchar_t kValueSubtype[] = L"Subtype";
// REG_DWORD 1: the camera has a second output pin named "Stop" (PIN_CATEGORY_STILL). It
// delivers one frame each time the filter's IAMVideoControl::SetMode is given
// VideoControlFlag_Trigger for it, and nothing otherwise.
inline constexpr wchar_t kValueStillPin[] = L"StillPin";
// REG_DWORD 1: the camera has a separate output pin named "Preview" (PIN_CATEGORY_PREVIEW),
// after the still pin when there is one, with its own IAMStreamConfig and property page.
inline constexpr wchar_t kValuePreviewPin[] = L"PreviewPin";
// REG_DWORD 1: the camera has the driver dialogs of an old capture driver:
// IAMVfwCaptureDialogs on the filter, with the format, source and display dialogs
// (modal, owned by the window given, titled kFormatDialogTitle, kSourceDialogTitle and
// kDisplayDialogTitle; S_OK on OK, S_FALSE on Cancel). The format dialog lists the frame
// sizes of the current subtype ("640 x 480", capability order, the current one selected;
// list control kDriverDialogListId) and sets the one chosen as SetFormat does; a new size
// while the capture output is connected is a reconnection the chain downstream cannot
// follow: the output is left unconnected with that format and the dialog returns
// VFW_E_CANNOT_CONNECT. ShowDialog
// refuses a dialog it does not have (E_INVALIDARG), a filter that is not stopped
// (VFW_E_NOT_STOPPED) and a second dialog while one is open (E_UNEXPECTED).
inline constexpr wchar_t kValueDriverDialogs[] = L"DriverDialogs";
// REG_DWORD, an HRESULT: the format dialog's OK returns this instead of S_OK, and a failure
// code leaves the capture output unconnected with the chosen format, as a failed
// reconnection does (VFW_E_CANNOT_CONNECT is the one the program handles). 0: as usual.
inline constexpr wchar_t kValueFormatDialogResult[] = L"FormatDialogResult";
inline constexpr wchar_t kFormatDialogTitle[] = L"Orvix Test Camera Format";
inline constexpr wchar_t kSourceDialogTitle[] = L"Orvix Test Camera Source";
inline constexpr wchar_t kDisplayDialogTitle[] = L"Orvix Test Camera Display";
inline constexpr int kDriverDialogListId = 1101;
// REG_DWORD 1: the camera's Run fails with kBusyResult, as when another program holds it.
inline constexpr wchar_t kValueFailRun[] = L"FailRun";
// REG_DWORD N > 0: N ms after the stream starts the camera is unplugged: it reports
// EC_DEVICE_LOST and delivers nothing more, it leaves the system device enumeration, and
// every Run of any instance in any process fails with kGoneResult, until it returns. Every
// other instance that is streaming then (or when LostAt is written by anyone else) loses
// the camera the same way, as the handles of one unplugged device do.
inline constexpr wchar_t kValueLoseAfterMs[] = L"LoseAfterMs";
// REG_DWORD N > 0: N ms after the stream starts the camera's driver fails: it reports
// EC_ERRORABORT (kStreamErrorResult) and delivers nothing more until it is stopped. Once per
// instance: it stays listed, and after a stop it runs again.
inline constexpr wchar_t kValueAbortAfterMs[] = L"AbortAfterMs";
// REG_DWORD: the unplugged camera is plugged in again this many ms after the loss: listed
// again, and WM_DEVICECHANGE (DBT_DEVNODES_CHANGED) is posted to the top-level windows.
// Without it the camera stays gone. Instances made before the return stay dead, like the
// handles of an unplugged device; new ones run, and are not lost again.
inline constexpr wchar_t kValueReturnAfterMs[] = L"ReturnAfterMs";
// Written by the camera at the unplug: REG_QWORD, GetTickCount64 of the loss. One unplug per
// configuration: while it is there, LoseAfterMs does not unplug the camera again.
inline constexpr wchar_t kValueLostAt[] = L"LostAt";
// REG_DWORD window handle: the camera's Run returns at once and the camera runs only
// once a thread of its own has sent kRunNoticeMessage to this window and had the answer
// (or kRunNoticeTimeoutMs passed), like a driver whose start needs the window's thread.
inline constexpr wchar_t kValueRunNoticeWindow[] = L"RunNoticeWindow";
inline constexpr UINT kRunNoticeMessage = WM_APP + 0x3A1;
inline constexpr UINT kRunNoticeTimeoutMs = 5000;

// REG_DWORD 1: the microphone is a capture card's line input: its capture pin lists the
// analog line signal (MEDIATYPE_AnalogAudio, 44100 Hz mono 16 bits) before its PCM
// formats, and that is its format until another is set. A format set with that major type
// stays analog; while it is set only it connects, and no filter here takes analog sound.
inline constexpr wchar_t kValueAnalogSound[] = L"AnalogSound";

// Driver failures, for the errors the program must report. Each a REG_DWORD bit mask of
// kFailCamera and kFailMicrophone, read when an instance is made:
// FailJoinGraph: joining a filter graph fails (E_FAIL), so the graph cannot add the filter;
// NoStreamConfig: the capture output has no IAMStreamConfig;
// FailStop: Stop fails with kStopErrorResult (the filter has stopped streaming all the same);
// RefuseFormat: IAMStreamConfig::SetFormat refuses every format (VFW_E_INVALIDMEDIATYPE).
inline constexpr wchar_t kValueFailJoinGraph[] = L"FailJoinGraph";
inline constexpr wchar_t kValueNoStreamConfig[] = L"NoStreamConfig";
inline constexpr wchar_t kValueFailStop[] = L"FailStop";
inline constexpr wchar_t kValueRefuseFormat[] = L"RefuseFormat";
inline constexpr DWORD kFailCamera = 1;
inline constexpr DWORD kFailMicrophone = 2;

// Written by the camera: REG_DWORD, the last sensor number applied through IAMVMControl.
inline constexpr wchar_t kValueLastSensor[] = L"LastSensor";
// Written by the camera at Stop: REG_DWORD, frames delivered since the stream was started.
inline constexpr wchar_t kValueFramesProduced[] = L"FramesProduced";
// Written by the microphone at Stop: REG_DWORD, buffers delivered since the stream started.
inline constexpr wchar_t kValueAudioBuffersProduced[] = L"AudioBuffersProduced";

inline constexpr HRESULT kBusyResult = HRESULT_FROM_WIN32(ERROR_BUSY);
inline constexpr HRESULT kGoneResult = HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED);
inline constexpr HRESULT kStreamErrorResult = HRESULT_FROM_WIN32(ERROR_GEN_FAILURE);
inline constexpr HRESULT kStopErrorResult = HRESULT_FROM_WIN32(ERROR_IO_DEVICE);

// Sensor numbers: 2 selects the backward sensor (a warm, orange picture with horizontal
// stripes); every other number selects the forward sensor (a cool, blue checkerboard).
inline constexpr LONG kBackwardSensor = 2;

// Frame intervals the camera accepts (100 ns units): 30 down to 1 frame per second.
inline constexpr LONGLONG kMinFrameInterval = 333333;
inline constexpr LONGLONG kMaxFrameInterval = 10000000;
inline constexpr LONGLONG kDefaultFrameInterval = 333333;

// Tone of the microphone.
inline constexpr int kToneHz = 440;

}  // namespace vcam
