// The capture control: a windowed control that shows the camera's live picture in its
// client area and owns the devices, the DirectShow filter graph and the device dialogs
// behind it. Every operation runs on the window thread; only the per-frame events and
// OnSnapShot arrive on DirectShow's streaming threads.
#pragma once

#include "capture/CapDevices.h"
#include "capture/ConfigAsfWriter.h"
#include "capture/DeviceOptions.h"
#include "capture/SampleGrabberCB.h"
#include "capture/gDirectCapDefine2.h"
#include "devices/VMFilter.h"
#include "framework/Control.h"
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

class TGDirectCapPin2 : public fw::WinControl {
public:
    explicit TGDirectCapPin2(fw::Component* Owner);
    ~TGDirectCapPin2() override;

    // --- properties
    double VideoFrameRate() const { return VideoFrameRate_; }
    void SetVideoFrameRate(double Rate);  // above 30 stores 30
    int VideoBitCount() const { return VideoBitCount_; }
    void SetVideoBitCount(int Bits);  // 1, 4, 8, 16, 24, 32, else 24
    uint32_t CapTimeLimit() const { return CapTimeLimit_; }
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
    const TFProcessBuffer& OnVideoPreview() const { return OnVideoPreview_; }
    void SetOnVideoPreview(TFProcessBuffer Handler);
    const TFProcessBuffer& OnAudioPreview() const { return OnAudioPreview_; }
    void SetOnAudioPreview(TFProcessBuffer Handler);

    // JPEG quality of the last picture written as JPEG (90 until then).
    int JpegQuality() const { return JpegQuality_.load(); }
    // A picture is being saved on a streaming thread.
    bool SnapshotBusy() const { return SnapshotBusy_.load(); }
    // True while an operation of the control is under way (a message may be dispatched
    // from its waits): what would start or stop the camera again waits for its end.
    bool Busy() const { return Operations_ > 0; }

    bool Previewing() const { return Previewing_; }
    bool Capturing() const { return Capturing_; }
    TVMFilter* SensorFilter() const { return SensorFilter_.get(); }

    // Requested formats (reach the device at the next graph build).
    int FrameWidth() const { return FrameWidth_; }
    int FrameHeight() const { return FrameHeight_; }
    int AudioSampleRate() const { return AudioSampleRate_; }
    int AudioChannels() const { return AudioChannels_; }
    int AudioBitsPerSample() const { return AudioBitsPerSample_; }
    bool VideoFormatChanged() const { return VideoFormatChanged_; }
    bool AudioFormatChanged() const { return AudioFormatChanged_; }
    const VIDEOINFOHEADER& StoredVideoFormat() const { return VideoFormat_; }
    const WAVEFORMATEX& StoredAudioFormat() const { return AudioFormat_; }
    const std::vector<std::pair<int, int>>& VideoSizes() const { return VideoSizes_; }

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
    bool StopCapture();
    bool ShowVideoSourcePage();
    int ShowDeviceOption(int Kind);
    // Saves the next video frame (while a preview or a recording delivers frames).
    void SnapShot();
    // The one-frame target that SnapShot arms, in the per-frame handler's shape; runs on
    // the streaming thread. Writes the picture and raises OnSnapShot when it was written.
    void SaveSnapshotFrame(uint32_t Frame, BYTE*& Buffer, int32_t& Size);

    // --- engine steps (used by the operations above; open for tests and later wiring)
    void ChooseDevices(IMoniker* VideoMoniker, IMoniker* AudioMoniker);
    void ChooseCompressors(IMoniker* VideoMoniker, IMoniker* AudioMoniker);
    bool CreateGraph();
    bool OpenDevices();
    void ReleaseDevices();
    bool BuildPreviewGraph();
    bool RenderPreviewStream();
    bool WirePreviewPath(bool PreviewOnly);
    void WirePreviewAudio();
    bool AttachVideoWindow();
    void FitVideoWindow();
    void TearDownGraph();
    // Creates a filter and adds it to the graph under Name; none when either fails.
    Microsoft::WRL::ComPtr<IBaseFilter> CreateFilter(const CLSID& Clsid, const wchar_t* Name);
    // The graph's filter of this name; where the platform names the builder's filters
    // otherwise, the first filter of the class the name stands for.
    Microsoft::WRL::ComPtr<IBaseFilter> FindFilterByName(const wchar_t* Name);
    void BuildDeviceOptions();
    void CollectVideoSizes();
    bool ApplyVideoFormat();
    bool ApplyAudioFormat();
    void HandleGraphEvents();
    // Recording steps.
    bool BuildCaptureGraph();
    bool PreallocateCaptureFile(uint32_t Megabytes);
    void WireCaptureAudio();
    void ApplyMasterStream(int Stream);
    bool CompactCaptureFile();
    void CaptureTimerTick();
    const std::wstring& CaptureFileName() const { return CaptureFileName_; }
    uint32_t ElapsedTime() const { return ElapsedTime_; }

    IGraphBuilder* Graph() const { return Graph_.Get(); }
    ICaptureGraphBuilder2* Builder() const { return Builder_.Get(); }
    IBaseFilter* VideoCaptureFilter() const { return VideoFilter_.Get(); }
    IBaseFilter* AudioCaptureFilter() const { return AudioFilter_.Get(); }
    IAMStreamConfig* VideoStreamConfig() const { return VideoStreamConfig_.Get(); }
    IVideoWindow* VideoWindow() const { return VideoWindow_.Get(); }
    TDeviceOptions& DeviceOptions() { return *Options_; }
    TSampleGrabberCB& VideoCallback() { return *VideoCB_; }
    TSampleGrabberCB& AudioCallback() { return *AudioCB_; }
    bool PreviewGraphBuilt() const { return PreviewGraphBuilt_; }
    bool CaptureGraphBuilt() const { return CaptureGraphBuilt_; }
    bool FiltersReady() const { return FiltersReady_; }
    bool AudioWanted() const { return AudioWanted_; }
    bool AudioUsable() const { return AudioUsable_; }
    fw::Timer& CaptureTimer() { return *CaptureTimer_; }
    // The x87 control word in force before the control was made.
    uint16_t SavedFpuControlWord() const { return SavedFpuControlWord_; }

    LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

private:
    void Error(int Code);
    void Notify(const fw::NotifyEvent& Event);
    bool HasPages(IUnknown* Object);
    HRESULT ShowPages(IUnknown* Object);
    // FindInterface on the capture category, interleaved first, then video.
    Microsoft::WRL::ComPtr<IUnknown> FindCaptureInterface(const GUID& Category, REFIID Iid);
    void PauseAround(const std::function<void()>& Body);
    void TakeDeviceVideoFormat();
    void StopEachFilter();
    bool CameraRuns();
    HRESULT AllocateCaptureFile(uint32_t Megabytes);
    bool MakeAviOutput();
    bool WireRecordingVideo(IPin* Source);
    bool ConnectPins(IPin* Out, IPin* In);

    // COM stays up on this thread for as long as the control holds COM objects.
    fw::ComInit Com_;
    uint16_t SavedFpuControlWord_ = 0;

    // The control's own waits and builds service the message queue (the video window,
    // the device enumeration, the wait for the camera, the device dialogs). An operation
    // that a message asks for meanwhile is refused, and a device choice is kept and made
    // once the running operation is over.
    // A stretch during which the control services the message queue.
    class PumpScope {
    public:
        explicit PumpScope(TGDirectCapPin2& Control) : c_(Control), alive_(Control.AliveToken()) {
            ++c_.Pumping_;
            ++c_.Operations_;
        }
        ~PumpScope() {
            if (alive_.expired()) return;
            --c_.Pumping_;
            if (--c_.Operations_ == 0) c_.RunDeferred();
        }
        PumpScope(const PumpScope&) = delete;
        PumpScope& operator=(const PumpScope&) = delete;

    private:
        TGDirectCapPin2& c_;
        std::weak_ptr<void> alive_;
    };
    // An operation in progress: what was deferred meanwhile runs when the outermost ends.
    class Operation {
    public:
        explicit Operation(TGDirectCapPin2& Control) : c_(Control), alive_(Control.AliveToken()) {
            ++c_.Operations_;
        }
        ~Operation() {
            if (!alive_.expired() && --c_.Operations_ == 0) c_.RunDeferred();
        }
        Operation(const Operation&) = delete;
        Operation& operator=(const Operation&) = delete;

    private:
        TGDirectCapPin2& c_;
        std::weak_ptr<void> alive_;
    };
    struct DeferredChoice {
        bool Compressors = false;
        Microsoft::WRL::ComPtr<IMoniker> Video, Audio;
    };
    void RunDeferred();
    void DetachCallbacks();
    int Pumping_ = 0;
    int Operations_ = 0;
    std::vector<DeferredChoice> Deferred_;
    bool GraphEventsDeferred_ = false;

    Microsoft::WRL::ComPtr<IMoniker> VideoMoniker_, AudioMoniker_;
    Microsoft::WRL::ComPtr<IMoniker> VideoCompressorMoniker_, AudioCompressorMoniker_;
    bool AudioWanted_ = false;
    bool AudioUsable_ = true;
    bool FiltersReady_ = true;

    Microsoft::WRL::ComPtr<IBaseFilter> VideoFilter_, AudioFilter_;
    Microsoft::WRL::ComPtr<IBaseFilter> VideoCompressorFilter_, AudioCompressorFilter_;
    Microsoft::WRL::ComPtr<IAMVideoCompression> VideoCompression_;
    Microsoft::WRL::ComPtr<IAMStreamConfig> VideoStreamConfig_;
    Microsoft::WRL::ComPtr<IAMVfwCaptureDialogs> VfwCaptureDialogs_;
    Microsoft::WRL::ComPtr<IAMVfwCompressDialogs> VfwCompressDialogs_;
    Microsoft::WRL::ComPtr<IAMStreamConfig> AudioStreamConfig_;
    std::unique_ptr<TVMFilter> SensorFilter_;

    Microsoft::WRL::ComPtr<IGraphBuilder> Graph_;
    Microsoft::WRL::ComPtr<ICaptureGraphBuilder2> Builder_;
    Microsoft::WRL::ComPtr<IVideoWindow> VideoWindow_;
    Microsoft::WRL::ComPtr<IMediaEventEx> MediaEvent_;
    Microsoft::WRL::ComPtr<ISampleGrabber> PreviewGrabber_, AudioGrabber_;
    Microsoft::WRL::ComPtr<IAMDroppedFrames> DroppedFrames_;
    // Recording objects (filled by the recording graph).
    Microsoft::WRL::ComPtr<IBaseFilter> Mux_, AsfWriter_;
    Microsoft::WRL::ComPtr<IFileSinkFilter> FileSink_;
    Microsoft::WRL::ComPtr<IConfigAviMux> ConfigAviMux_;
    Microsoft::WRL::ComPtr<IConfigInterleaving> ConfigInterleaving_;
    int MasterStream_ = -1;
    std::wstring CaptureFileName_;
    uint32_t CaptureStartTime_ = 0;
    uint32_t ElapsedTime_ = 0;
    // Whether the last recording wiring reached the file with video, resp. sound.
    bool RecordingVideoWired_ = false;
    bool RecordingAudioWired_ = false;

    bool PreviewGraphBuilt_ = false;
    bool CaptureGraphBuilt_ = false;
    bool Previewing_ = false;
    bool Capturing_ = false;

    double VideoFrameRate_ = 15.0;
    int VideoBitCount_ = 24;
    uint32_t CapTimeLimit_ = 0;
    int FrameWidth_ = 320;
    int FrameHeight_ = 240;
    bool VideoFormatChanged_ = true;
    int AudioSampleRate_ = 8000;
    int AudioChannels_ = 1;
    int AudioBitsPerSample_ = 16;
    bool AudioFormatChanged_ = true;
    VIDEOINFOHEADER VideoFormat_{};
    WAVEFORMATEX AudioFormat_{};
    std::vector<std::pair<int, int>> VideoSizes_;

    // What SnapShot saw on the window thread, for the streaming thread that saves.
    struct SnapshotRequest {
        std::wstring Template;
        int Width = 0;
        int Height = 0;
    };
    SnapshotRequest TakeSnapshotRequest();
    // The size of the frames the running graph delivers (width in the low half), noted
    // before it runs: a picture armed before a size change is saved at the new size.
    void NoteStreamFrameSize();
    std::atomic<uint64_t> StreamFrameSize_{0};
    std::mutex SnapshotLock_;
    std::unique_ptr<SnapshotRequest> SnapshotRequest_;
    std::atomic<bool> SnapshotBusy_{false};
    std::atomic<int> JpegQuality_{90};

    TFProcessBuffer OnVideoPreview_;
    TFProcessBuffer OnAudioPreview_;
    std::unique_ptr<TSampleGrabberCB> VideoCB_;
    std::unique_ptr<TSampleGrabberCB> AudioCB_;
    std::unique_ptr<TDeviceOptions> Options_;
    fw::Timer* CaptureTimer_ = nullptr;
};
