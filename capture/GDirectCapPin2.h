// The capture control: a windowed control that shows the camera's live picture in its
// client area and owns the devices, the DirectShow filter graph and the device dialogs
// behind it. Every operation runs on the window thread; only the per-frame events and
// OnSnapShot arrive on DirectShow's streaming threads.
#pragma once

#include "capture/CapDevices.h"
#include "capture/CaptureParts.h"
#include "capture/ConfigAsfWriter.h"
#include "capture/DeviceOptions.h"
#include "capture/GraphDecisions.h"
#include "capture/SampleGrabberCB.h"
#include "capture/gDirectCapDefine2.h"
#include "devices/VMFilter.h"
#include "framework/Control.h"
#include "framework/SlimLock.h"
#include "framework/Timer.h"
#include "framework/WinHandles.h"

#include <dshow.h>
#include <qedit.h>
#include <wrl/client.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

using TCaptureEvent = std::function<void(uint32_t Sec)>;
using TSnapShotEvent = std::function<void(const std::wstring& FileName)>;
using TDirectCapError = std::function<void(int ErrCode)>;
using TSnapShotFailedEvent = std::function<void(DWORD Error)>;

// Error codes raised through OnError.
enum : int {
    ErrSetOutputFile = 1,
    ErrRenderCapture = 2,
    ErrRenderPreview = 3,
    ErrRenderCaptureAudio = 4,
    ErrOpenVideoDevice = 5,
    ErrOpenAudioDevice = 6,
    ErrAddVideoFilter = 9,
    ErrAddAudioFilter = 10,
    ErrRunCapture = 11,
    ErrCaptureVideoWindow = 12,
    ErrPreviewVideoWindow = 14,
    ErrVideoFormat = 15,
    ErrAudioFormat = 16,
    ErrMasterStream = 17,
    ErrCreateBuilder = 18,
    ErrVideoStreamConfig = 19,
    ErrAudioStreamConfig = 20,
    ErrRunPreview = 21,
    ErrNoMediaControl = 22,
    ErrStopGraph = 23,
    ErrGrabberMediaType = 24,
    ErrPreallocate = 25,
    ErrDeviceLost = 26,
    // The graph reported an error that ended its stream (EC_ERRORABORT).
    ErrGraphAborted = 27,
};

// The filter graph posts its events to the control's window with this message.
inline constexpr UINT WM_GRAPHNOTIFY = WM_USER + 100;

// Largest CapTimeLimit (10000 below the largest 32-bit value).
inline constexpr uint32_t MaxCapTimeLimit = 4294957295u;

// Largest preallocation of an AVI capture file, in megabytes.
inline constexpr uint32_t MaxCaptureFileMegabytes = 2047;
// Bytes asked of the platform when BufferFileSize megabytes are to be preallocated.
uint64_t CaptureFileAllocation(uint32_t Megabytes);

// The kind of file a recording name asks for, by its extension (any case).
enum class TCaptureFileKind { None, Avi, Asf };
TCaptureFileKind CaptureFileKind(const std::wstring& FileName);

// What the next graph build asks of the devices (SetVideoFormat, SetAudioFormat and the
// two video properties), with a mark for each format set since it was last applied.
struct TRequestedFormats {
    int FrameWidth = 320;
    int FrameHeight = 240;
    double VideoFrameRate = 15.0;
    int VideoBitCount = 24;
    bool VideoChanged = true;
    int AudioSampleRate = 8000;
    int AudioChannels = 1;
    int AudioBitsPerSample = 16;
    bool AudioChanged = true;
};

namespace captest {
struct ControlProbe;
}

class TGDirectCapPin2 : public fw::WinControl {
public:
    explicit TGDirectCapPin2(fw::Component* Owner);
    ~TGDirectCapPin2() override;

    // --- properties (VideoFrameRate and VideoBitCount are read in Requested())
    void SetVideoFrameRate(double Rate);  // above 30 stores 30
    void SetVideoBitCount(int Bits);      // 1, 4, 8, 16, 24, 32, else 24
    uint32_t CapTimeLimit() const { return capTimeLimit_; }
    void SetCapTimeLimit(uint32_t Seconds);
    std::wstring ImageFileName = L"capture.bmp";
    std::wstring VideoFileName = L"capture.avi";
    bool WantPreview = true;
    uint32_t BufferFileSize = 1;  // MB preallocated for an AVI capture file

    TCaptureEvent OnCaptureProgress;
    fw::NotifyEvent OnChangeDevice;
    TDirectCapError OnError;
    fw::NotifyEvent OnStopCapture;
    fw::NotifyEvent OnStopPreview;
    fw::NotifyEvent OnStartCapture;
    fw::NotifyEvent OnStartPreview;
    fw::NotifyEvent OnVideoFormatChange;
    fw::NotifyEvent OnAudioFormatChange;
    TSnapShotEvent OnSnapShot;
    // Raised on the streaming thread when an armed picture could not be saved (nothing is
    // left behind and no number is used); Error is the system's reason.
    TSnapShotFailedEvent OnSnapShotFailed;
    // Installed in the video (audio) callback object at once; runs on a streaming thread.
    void SetOnVideoPreview(TFProcessBuffer Handler);
    void SetOnAudioPreview(TFProcessBuffer Handler);

    // True while an operation of the control is under way (a message may be dispatched
    // from its waits): what would start or stop the camera again waits for its end.
    bool Busy() const { return guard_.Busy(); }

    bool Previewing() const { return state_ == TGraphState::Previewing; }
    bool Capturing() const { return state_ == TGraphState::Capturing; }
    // From the start of StartCapture until it returns (its waits may dispatch messages):
    // a StopCapture meanwhile ends that start, which then records nothing.
    bool StartingCapture() const { return start_.Running; }
    TVMFilter* SensorFilter() const { return devices_.Sensor.get(); }

    const TRequestedFormats& Requested() const { return requested_; }

    // --- operations
    std::vector<std::string> VideoDeviceNames(bool Refresh);
    std::vector<std::string> AudioDeviceNames(bool Refresh);
    std::vector<std::string> VideoSizeNames() const;
    void SelectDevices(int VideoIndex, int AudioIndex);
    void SelectCompressors(int VideoIndex, int AudioIndex);
    void SetVideoFormat(int Width, int Height, double FrameRate, int16_t BitCount);
    void SetAudioFormat(int SampleRate, int16_t Channels, int16_t BitsPerSample);
    bool StartPreview();
    bool StopPreview();
    bool StartCapture();
    // Ends the recording; during a start (from one of its waits) it ends that start, which
    // then returns false with no event and no file (true here, nothing raised yet).
    bool StopCapture();
    bool ShowVideoSourcePage();
    int ShowDeviceOption(int Kind);
    // Saves the next video frame (while a preview or a recording delivers frames).
    void SnapShot();

    // The file of the last recording (reserved when its graph was built).
    const std::wstring& CaptureFileName() const { return captureFileName_; }

protected:
    LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

private:
    // The tests' view of the devices, graph and callbacks behind the surface.
    friend struct captest::ControlProbe;

    // Raises an event with a copy of its handler (a handler may replace itself); none
    // while the control is being destroyed.
    template <typename Handler, typename... Args>
    void Raise(const Handler& Event, Args&&... Arguments) {
        if (Destroying()) return;
        const Handler handler = Event;
        if (handler) handler(std::forward<Args>(Arguments)...);
    }
    void Error(int Code) { Raise(OnError, Code); }
    // A platform call whose failure becomes the code: into the log with its result and
    // the camera (or the file) concerned, then raised.
    void Fail(int Code, std::string_view Call, HRESULT Result, std::wstring_view Subject = {});
    // The camera chosen, by its name in the device list; empty when none is.
    std::wstring CameraLabel() const;

    // --- device choice and opening
    std::vector<std::string> DeviceNames(const TCapDeviceList& List, bool Refresh);
    void ChooseDevices(IMoniker* VideoMoniker, IMoniker* AudioMoniker);
    void ChooseCompressors(IMoniker* VideoMoniker, IMoniker* AudioMoniker);
    // Stops what runs, takes the graph down and lets the devices go.
    void CloseDevices();
    bool CreateGraph();
    bool OpenDevices();
    // OpenDevices' steps: the camera (false when it could not be opened), its compressor,
    // the microphone and its compressor.
    bool OpenVideoDevice();
    void OpenVideoCompressor();
    void OpenAudioDevice();
    void ReleaseDevices();
    void RunDeferred();
    // The filters in the graph as it stands.
    std::vector<Microsoft::WRL::ComPtr<IBaseFilter>> GraphFilters() const;
    // FindInterface on the capture category, interleaved first, then video.
    Microsoft::WRL::ComPtr<IUnknown> FindCaptureInterface(const GUID& Category, REFIID Iid);

    // --- preview graph
    bool BuildPreviewGraph();
    bool RenderPreviewStream();
    // Wires the preview chain and, unless PreviewOnly, the recording's video. Present
    // filters of the preview chain that would not join are reported.
    struct TWiring {
        bool Preview = false;    // every present filter of the preview chain joined
        bool Recording = false;  // the video reaches the recording's writer
    };
    TWiring WirePreviewPath(bool PreviewOnly);
    // The converters, renderers, decoders and multiplexer an earlier chain left in the graph
    // (the recording's multiplexer stays).
    void RemoveStalePreviewFilters();
    // The decoder the camera's format needs in the preview chain; none for a format the
    // grabber takes as it is.
    Microsoft::WRL::ComPtr<IBaseFilter> CreatePreviewDecoder(bool StillPin);
    // The decoder the camera's present format needs (none when the format is unknown), and
    // one such decoder added to the graph under Name.
    TDecoderKind CameraDecoderKind();
    Microsoft::WRL::ComPtr<IBaseFilter> CreateDecoder(TDecoderKind Kind, const wchar_t* Name);
    // The converter's output to the renderer; a renderer that will not join is replaced once.
    void JoinPreviewRenderer(IPin* ConverterOut, Microsoft::WRL::ComPtr<IBaseFilter>& Renderer,
                             bool& Complete);
    void WirePreviewAudio();
    bool AttachVideoWindow();
    void FitVideoWindow();
    void WatchGraphEvents();
    void TearDownGraph();
    // Creates a filter and adds it to the graph under Name; none when either fails.
    Microsoft::WRL::ComPtr<IBaseFilter> CreateFilter(const CLSID& Clsid, const wchar_t* Name);
    // The graph's filter of this name; where the platform names the builder's filters
    // otherwise, the first filter of the class the name stands for.
    Microsoft::WRL::ComPtr<IBaseFilter> FindFilterByName(const wchar_t* Name);
    // Gives a grabber its media type and callback object (Kind: 0 samples, 1 buffers).
    void SetUpGrabber(ISampleGrabber* Grabber, const AM_MEDIA_TYPE& Type,
                      TSampleGrabberCB& Callback, long Kind);
    void HandleGraphEvents();
    void StopEachFilter();
    bool CameraRuns();
    void EnableCallbacks(bool Enabled);

    // --- dialogs and formats
    bool HasPages(IUnknown* Object);
    HRESULT ShowPages(IUnknown* Object);
    // A dialog's modal loop; device choices made meanwhile wait until it is closed.
    HRESULT RunModal(const std::function<HRESULT()>& Show);
    // An object's property pages, the object held until they are closed.
    HRESULT ShowPagesModal(const Microsoft::WRL::ComPtr<IUnknown>& Object);
    // ShowDeviceOption's driver dialogs, pin pages and compressor settings.
    int ShowCaptureDialog(int Kind, HWND Owner);
    int ShowPinPages(int Kind);
    int ShowCompressorOptions(int Kind, HWND Owner);
    void BuildDeviceOptions();
    void CollectVideoSizes();
    bool ApplyVideoFormat();
    bool ApplyAudioFormat();
    void PauseAround(const std::function<void()>& Body);
    void TakeDeviceVideoFormat();

    // --- recording
    // StartCapture's steps from the preview's stop to a running graph; false when the
    // recording did not start (everything it made is gone again).
    bool BeginCapture();
    bool BuildCaptureGraph();
    // Takes a new numbered name for the recording (into Reserved, which owns it from
    // then on) and preallocates an AVI file; false when either failed (raised).
    bool ReserveCaptureFile(TCaptureFileKind Kind, std::wstring& Reserved);
    bool PreallocateCaptureFile(uint32_t Megabytes);
    HRESULT AllocateCaptureFile(uint32_t Megabytes);
    // The recording's writer for an AVI file; false with the code to raise (0: none).
    bool SetUpAviOutput(int& Code);
    // The recording's writer for a Windows Media file; false when it cannot be set up.
    bool SetUpAsfOutput();
    bool MakeAviOutput();
    // The recording's video, then its sound (or silence for a Windows Media file) and
    // the preview's window; false when the video does not reach the writer.
    bool WireRecordingStreams();
    bool WireRecordingVideo(IPin* Source);
    // Joins the microphone to the recording's writer; false when it could not.
    bool WireCaptureAudio();
    void ApplyMasterStream(int Stream);
    bool CompactCaptureFile();
    void CaptureTimerTick();
    bool ConnectPins(IPin* Out, IPin* In);

    // --- still pictures
    // The one-frame target that SnapShot arms, in the per-frame handler's shape; runs on
    // the streaming thread. Writes the picture and raises OnSnapShot when it was written.
    void SaveSnapshotFrame(uint32_t Frame, BYTE*& Buffer, int32_t& Size);

    // COM stays up on this thread for as long as the control holds COM objects.
    fw::ComInit com_;
    uint16_t savedFpuControlWord_ = 0;

    TReentrancyGuard guard_{[this] { RunDeferred(); }};
    using TOperation = TReentrancyGuard::TOperation;
    using TPumpScope = TReentrancyGuard::TPumpScope;

    Microsoft::WRL::ComPtr<IMoniker> videoMoniker_, audioMoniker_;
    Microsoft::WRL::ComPtr<IMoniker> videoCompressorMoniker_, audioCompressorMoniker_;
    bool audioWanted_ = false;
    bool audioUsable_ = true;
    bool filtersReady_ = true;

    TOpenDevices devices_;
    TFilterGraph graph_;
    TGraphState state_ = TGraphState::None;
    int masterStream_ = -1;
    // A recording start under way, and whether a StopCapture asked for its end meanwhile.
    struct TCaptureStart {
        bool Running = false;
        bool StopAsked = false;
    };
    TCaptureStart start_;
    std::wstring captureFileName_;
    uint32_t captureStartTime_ = 0;
    uint32_t elapsedTime_ = 0;

    uint32_t capTimeLimit_ = 0;
    TRequestedFormats requested_;
    VIDEOINFOHEADER videoFormat_{};
    WAVEFORMATEX audioFormat_{};
    std::vector<std::pair<int, int>> videoSizes_;

    // What SnapShot saw on the window thread, for the streaming thread that saves.
    struct TSnapshotRequest {
        std::wstring Template;
        int Width = 0;
        int Height = 0;
    };
    TSnapshotRequest TakeSnapshotRequest();
    // The size of the frames the running graph delivers (width in the low half), noted
    // before it runs: a picture armed before a size change is saved at the new size.
    void NoteStreamFrameSize();
    std::atomic<uint64_t> streamFrameSize_{0};
    fw::SlimMutex snapshotLock_;
    std::unique_ptr<TSnapshotRequest> snapshotRequest_;
    std::atomic<bool> snapshotBusy_{false};
    std::atomic<int> jpegQuality_{90};

    std::unique_ptr<TSampleGrabberCB> videoCB_;
    std::unique_ptr<TSampleGrabberCB> audioCB_;
    TDeviceOptions options_{[this](int Kind) { return ShowDeviceOption(Kind); }};
    fw::Timer* captureTimer_ = nullptr;
};
