// The preview a user would have without Orvix: the platform's own, as the capture graph
// builder makes it (RenderStream on the preview category into the Video Renderer, with
// the decoders it picks), shown over a window's client area. Plain DirectShow only, so
// that a small program of its own can start it as quickly as the platform allows.
#pragma once

#include <windows.h>
#include <dshow.h>
#include <wrl/client.h>

namespace bench {

// The video capture device of that friendly name, or none.
Microsoft::WRL::ComPtr<IMoniker> VideoDeviceByName(const wchar_t* Name);

class PlatformPreview {
public:
    PlatformPreview() = default;
    ~PlatformPreview() { Release(); }
    PlatformPreview(const PlatformPreview&) = delete;
    PlatformPreview& operator=(const PlatformPreview&) = delete;

    // Binds the camera, asks it for Width x Height at 30 frames a second (the first of its
    // formats of that size; 0 x 0 keeps its current one), renders its preview and places
    // the video window over Owner's client area. False with the step in Failure().
    bool Build(IMoniker* Camera, int Width, int Height, HWND Owner);
    bool Run();
    // Stops the graph and keeps it.
    void Stop();
    // Stops the graph and lets everything go (the camera writes its figures at its stop).
    void Release();
    const char* Failure() const { return failure_; }

private:
    bool Fail(const char* Step) {
        failure_ = Step;
        return false;
    }

    Microsoft::WRL::ComPtr<IGraphBuilder> graph_;
    Microsoft::WRL::ComPtr<ICaptureGraphBuilder2> builder_;
    Microsoft::WRL::ComPtr<IBaseFilter> camera_;
    Microsoft::WRL::ComPtr<IVideoWindow> window_;
    Microsoft::WRL::ComPtr<IMediaControl> control_;
    const char* failure_ = "";
};

}  // namespace bench
