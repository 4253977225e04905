// The pieces the capture control owns, each released whole in one place: the open devices
// with their control interfaces, the filter graph with what a build adds to it, and the
// guard that keeps the control's own message waits from re-entering it.
#pragma once

#include "devices/VMFilter.h"

#include <windows.h>
#include <dshow.h>
#include <qedit.h>
#include <wrl/client.h>

#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

// The opened capture devices and compressors, and the interfaces looked up on them.
struct TOpenDevices {
    Microsoft::WRL::ComPtr<IBaseFilter> Video, Audio;
    Microsoft::WRL::ComPtr<IBaseFilter> VideoCompressor, AudioCompressor;
    Microsoft::WRL::ComPtr<IAMVideoCompression> VideoCompression;
    Microsoft::WRL::ComPtr<IAMStreamConfig> VideoConfig, AudioConfig;
    Microsoft::WRL::ComPtr<IAMVfwCaptureDialogs> CaptureDialogs;
    Microsoft::WRL::ComPtr<IAMVfwCompressDialogs> CompressDialogs;
    std::unique_ptr<TVMFilter> Sensor;

    // Lets go of everything, the sensor switch first (it talks to the video filter).
    void Release();
};

// What a graph build adds beside the devices: the video window, the event interface, the
// grabbers and the recording's writers.
struct TGraphChain {
    Microsoft::WRL::ComPtr<IVideoWindow> VideoWindow;
    Microsoft::WRL::ComPtr<IMediaEventEx> Events;
    Microsoft::WRL::ComPtr<ISampleGrabber> PreviewGrabber, AudioGrabber;
    Microsoft::WRL::ComPtr<IAMDroppedFrames> DroppedFrames;
    Microsoft::WRL::ComPtr<IBaseFilter> Mux, AsfWriter;
    Microsoft::WRL::ComPtr<IFileSinkFilter> FileSink;
    Microsoft::WRL::ComPtr<IConfigAviMux> ConfigAviMux;
    Microsoft::WRL::ComPtr<IConfigInterleaving> ConfigInterleaving;

    // Detaches the grabbers' callbacks (the callback objects may go before the grabbers),
    // the event window and the renderer's window (a child of the control), then lets go.
    void Release();
};

// The filter graph, its capture graph builder and the chain built into it.
struct TFilterGraph {
    Microsoft::WRL::ComPtr<IGraphBuilder> Graph;
    Microsoft::WRL::ComPtr<ICaptureGraphBuilder2> Builder;
    TGraphChain Chain;

    void Release() {
        Chain.Release();
        Builder.Reset();
        Graph.Reset();
    }
};

// Where the control's graph stands. Previewing and capturing run the graph built for them.
enum class TGraphState { None, PreviewBuilt, Previewing, CaptureBuilt, Capturing };

// The control's own waits and builds service the message queue (the video window, the
// device enumeration, the wait for the camera, the device dialogs). An operation that a
// message asks for meanwhile is refused, and a device choice is kept and made once the
// running operation is over.
class TReentrancyGuard {
public:
    struct TDeferredChoice {
        bool Compressors = false;
        Microsoft::WRL::ComPtr<IMoniker> Video, Audio;
    };

    // OnIdle runs when the outermost operation ends.
    explicit TReentrancyGuard(std::function<void()> OnIdle) : onIdle_(std::move(OnIdle)) {}
    TReentrancyGuard(const TReentrancyGuard&) = delete;
    TReentrancyGuard& operator=(const TReentrancyGuard&) = delete;

    // Inside one of the control's message waits.
    bool Pumping() const { return pumping_ > 0; }
    // Inside an operation (which may be waiting).
    bool Busy() const { return operations_ > 0; }

    // Keeps a device choice for the end of the running wait: true when one runs.
    bool DeferWhilePumping(TDeferredChoice Choice) {
        if (!Pumping()) return false;
        deferred_.push_back(std::move(Choice));
        return true;
    }
    std::optional<TDeferredChoice> TakeDeferred();
    void DeferGraphEvents() { graphEvents_ = true; }
    bool TakeGraphEvents() { return std::exchange(graphEvents_, false); }
    void Clear() {
        deferred_.clear();
        graphEvents_ = false;
    }

    // An operation in progress: what was deferred meanwhile runs when the outermost ends.
    class TOperation {
    public:
        explicit TOperation(TReentrancyGuard& Guard, bool Pumps = false);
        ~TOperation();
        TOperation(const TOperation&) = delete;
        TOperation& operator=(const TOperation&) = delete;

    private:
        TReentrancyGuard& guard_;
        std::weak_ptr<char> alive_;
        bool pumps_;
    };
    // A stretch during which the control services the message queue.
    class TPumpScope : public TOperation {
    public:
        explicit TPumpScope(TReentrancyGuard& Guard) : TOperation(Guard, true) {}
    };

private:
    int pumping_ = 0;
    int operations_ = 0;
    std::vector<TDeferredChoice> deferred_;
    bool graphEvents_ = false;
    std::function<void()> onIdle_;
    // Expires with the guard (and so with the control): a scope that outlives the control
    // across a wait touches nothing.
    std::shared_ptr<char> alive_ = std::make_shared<char>();
};
