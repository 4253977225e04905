// Shared pieces of the stand-in camera and microphone tests: the registry configuration,
// a sample grabber callback that records what arrives, and a minimal capture graph
// (source -> Sample Grabber -> Null Renderer).
#pragma once

#include <dshow.h>
#include <qedit.h>
#include <wrl/client.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "tests/support/CameraConfig.h"

using Microsoft::WRL::ComPtr;

// qedit.h declares the grabber but not these class ids; strmiids exports them.
extern "C" const CLSID CLSID_SampleGrabber;
extern "C" const CLSID CLSID_NullRenderer;

namespace vcamtest {

using testsupport::CameraConfig;

struct SampleRecord {
    REFERENCE_TIME start = 0;
    REFERENCE_TIME stop = 0;
    bool hasTime = false;
    bool discontinuity = false;
    long length = 0;
    std::chrono::steady_clock::time_point arrival;
};

class RecordingCallback final : public ISampleGrabberCB {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP SampleCB(double time, IMediaSample* sample) override;
    STDMETHODIMP BufferCB(double time, BYTE* buffer, LONG length) override;

    // Waits until `count` samples arrived in total; false on timeout.
    bool WaitForCount(size_t count, std::chrono::milliseconds timeout);
    size_t Count();
    std::vector<SampleRecord> Records();
    std::vector<BYTE> LastData();
    // Forgets what arrived so far.
    void Clear();

private:
    LONG ref_ = 1;
    std::mutex lock_;
    std::condition_variable arrived_;
    std::vector<SampleRecord> records_;
    std::vector<BYTE> last_;
};

// Calls the driver method in the nineteenth slot after IUnknown, the way the program does:
// by position, with one 32-bit integer.
HRESULT CallSensorSlot(IUnknown* control, LONG sensor);

ComPtr<IPin> FindPinByDirection(IBaseFilter* filter, PIN_DIRECTION direction);
ComPtr<IAMStreamConfig> StreamConfigOf(IBaseFilter* filter);
// An in-process instance of `clsid`; null when it cannot be made.
template <class Interface>
ComPtr<Interface> CreateInProc(const CLSID& clsid) {
    ComPtr<Interface> object;
    CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&object));
    return object;
}
ComPtr<IBaseFilter> CreateCamera();
ComPtr<IBaseFilter> CreateMicrophone();

// source -> Sample Grabber (accepting `major`/`subtype`) -> Null Renderer, in one graph.
class CaptureGraph {
public:
    CaptureGraph() = default;
    ~CaptureGraph();
    CaptureGraph(const CaptureGraph&) = delete;
    CaptureGraph& operator=(const CaptureGraph&) = delete;

    // Adds the source and connects the chain from its output `pin`; returns the first
    // failure. A null `pin` leaves the filters unconnected.
    HRESULT Build(IBaseFilter* source, const GUID& major, const GUID& subtype,
                  const wchar_t* pin = L"Capture");
    // The same filters, but wired by the capture graph builder as the program wires its
    // preview: RenderStream(PIN_CATEGORY_PREVIEW, MEDIATYPE_Video, source, grabber,
    // renderer). Returns RenderStream's result.
    HRESULT BuildPreviewWithBuilder(IBaseFilter* source);
    HRESULT Run();
    HRESULT Stop();
    // Stops each filter on its own: after a failed Run, Wine's graph leaves them paused and
    // its own Stop does nothing.
    void StopEachFilter();
    // Waits for a graph event with this code; false on timeout.
    bool WaitForEvent(long code, std::chrono::milliseconds timeout);

    ComPtr<IGraphBuilder> graph;
    ComPtr<IMediaControl> control;
    ComPtr<IMediaEventEx> events;
    ComPtr<IBaseFilter> source;
    ComPtr<IBaseFilter> grabberFilter;
    ComPtr<ISampleGrabber> grabber;
    ComPtr<IBaseFilter> renderer;
    ComPtr<RecordingCallback> callback;

};

// Mean of each colour channel over an RGB24 frame (bytes in blue, green, red order).
struct MeanColour {
    double red = 0;
    double green = 0;
    double blue = 0;
};
MeanColour MeanOfRgb24(const std::vector<BYTE>& frame);

}  // namespace vcamtest
