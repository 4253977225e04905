// Preview benchmark with the stand-in camera at 30 frames a second:
//  1. the time from StartPreview to the first frame at 640 x 480 against a minimal graph
//     (camera, Sample Grabber, Null Renderer) built and run in the same process (goal: at
//     most 1.3 times);
//  2. long runs at 640 x 480 and at 1280 x 720: the frames that reach OnVideoPreview against
//     the frames the camera produced (goal: at least 99.5 %, no gap between frames over
//     100 ms), and at 1280 x 720 the process's CPU time against the minimal graph's over as
//     long (goal: at most 1.2 times);
//  3. the frame rate reaching OnVideoPreview at 320 x 240 over one second (goal: 22 to 38);
//  4. the process's CPU share over 400 ms after a camera that would not run was released
//     (goal: below 50 %: no streaming thread left spinning).
// Usage: capture_bench.exe [seconds of each long run, default 60]
#include "bench/support/BenchSupport.h"
#include "capture/GDirectCapPin2.h"
#include "framework/Application.h"
#include "framework/Form.h"
#include "framework/WinHandles.h"
#include "standins/vcam/VCamConfig.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <vector>

using Microsoft::WRL::ComPtr;
using namespace bench;

namespace {

// Records the arrival time of the first frame after Arm.
class FirstFrame final : public ISampleGrabberCB {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_ISampleGrabberCB || riid == IID_IUnknown) {
            *ppv = static_cast<ISampleGrabberCB*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP SampleCB(double, IMediaSample*) override { return S_OK; }
    STDMETHODIMP BufferCB(double, BYTE*, long) override {
        double expected = 0;
        at.compare_exchange_strong(expected, Now());
        return S_OK;
    }
    std::atomic<double> at{0};
};

struct MinimalRun {
    double firstFrameMs = -1;  // from the start of the build
    double cpuMs = 0;          // over HoldMs after the first frame
};

// camera -> Sample Grabber -> Null Renderer at Width x Height and 30 frames a second: built
// and run until the first frame, then for HoldMs more.
MinimalRun MinimalGraph(fw::Application& app, IMoniker* moniker, int width, int height,
                        double holdMs) {
    MinimalRun run;
    const double start = Now();
    ComPtr<IGraphBuilder> graph;
    ComPtr<IBaseFilter> camera, grabberFilter, sink;
    ComPtr<ISampleGrabber> grabber;
    if (FAILED(::CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_PPV_ARGS(&graph))) ||
        FAILED(moniker->BindToObject(nullptr, nullptr, IID_PPV_ARGS(&camera))) ||
        FAILED(::CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_PPV_ARGS(&grabberFilter))) ||
        FAILED(::CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_PPV_ARGS(&sink))))
        return run;
    grabberFilter.As(&grabber);
    graph->AddFilter(camera.Get(), L"Camera");
    graph->AddFilter(grabberFilter.Get(), L"Grabber");
    graph->AddFilter(sink.Get(), L"Null Renderer");
    // The same format as the control's run.
    ComPtr<IAMStreamConfig> config;
    ComPtr<IPin> out = FirstPin(camera.Get(), PINDIR_OUTPUT);
    if (out && SUCCEEDED(out.As(&config))) {
        TMediaTypePtr mt;
        if (SUCCEEDED(config->GetFormat(mt.put())) && mt.VideoInfo()) {
            auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt->pbFormat);
            vih->bmiHeader.biWidth = width;
            vih->bmiHeader.biHeight = height;
            vih->bmiHeader.biSizeImage = static_cast<DWORD>(width * height * 3);
            vih->AvgTimePerFrame = 333333;
            config->SetFormat(mt.get());
        }
    }
    AM_MEDIA_TYPE want{};
    want.majortype = MEDIATYPE_Video;
    want.subtype = MEDIASUBTYPE_RGB24;
    grabber->SetMediaType(&want);
    FirstFrame cb;
    grabber->SetCallback(&cb, 1);
    graph->Connect(out.Get(), FirstPin(grabberFilter.Get(), PINDIR_INPUT).Get());
    graph->Connect(FirstPin(grabberFilter.Get(), PINDIR_OUTPUT).Get(),
                   FirstPin(sink.Get(), PINDIR_INPUT).Get());
    ComPtr<IMediaControl> control;
    graph.As(&control);
    if (!control || FAILED(control->Run())) return run;
    if (PumpUntil(
            app, [&] { return cb.at.load() != 0; }, 5000)) {
        run.firstFrameMs = cb.at.load() - start;
        if (holdMs > 0) {
            const double cpu0 = ProcessCpuMs();
            PumpFor(app, holdMs);
            run.cpuMs = ProcessCpuMs() - cpu0;
        }
    }
    control->Stop();
    grabber->SetCallback(nullptr, 1);
    return run;
}

struct LongRun {
    uint32_t delivered = 0;
    DWORD produced = 0;
    double maxGapMs = 0;
    double cpuMs = 0;  // after the first frame
    bool started = false;
};

// The control's preview at Width x Height and 30 frames a second for Seconds after its
// first frame.
LongRun ControlLongRun(fw::Application& app, TGDirectCapPin2& cap, int camera, int width,
                       int height, double seconds) {
    LongRun run;
    cap.SelectDevices(camera, -1);
    cap.SetVideoFormat(width, height, 30, 24);
    std::atomic<uint32_t> delivered{0};
    std::atomic<double> last{0}, maxGap{0};
    cap.SetOnVideoPreview([&](uint32_t, BYTE*&, int32_t&) {
        const double t = Now();
        const double prev = last.exchange(t);
        if (prev != 0 && t - prev > maxGap.load()) maxGap = t - prev;
        ++delivered;
    });
    if (cap.StartPreview() && PumpUntil(
                                  app, [&] { return delivered.load() > 0; }, 5000)) {
        run.started = true;
        const double cpu0 = ProcessCpuMs();
        PumpFor(app, seconds * 1000.0);
        run.cpuMs = ProcessCpuMs() - cpu0;
    }
    cap.StopPreview();
    cap.SetOnVideoPreview(nullptr);
    run.delivered = delivered.load();
    run.produced = FramesProduced();
    run.maxGapMs = maxGap.load();
    return run;
}

void ReportLongRun(const LongRun& run, int width, int height, double seconds) {
    const double share = run.produced ? 100.0 * run.delivered / run.produced : 0;
    const std::string what = Format("preview %d x %d, %.0f s", width, height, seconds);
    Goal(what + ", frames delivered",
         Format("%u of %lu frames (%.2f %%)", run.delivered,
                static_cast<unsigned long>(run.produced), share),
         ">= 99.5 %", run.started && share >= 99.5);
    Goal(what + ", largest gap between frames", Format("%.1f ms", run.maxGapMs), "<= 100 ms",
         run.started && run.maxGapMs <= 100.0);
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 60.0;
    fw::ComInit com(COINIT_APARTMENTTHREADED);
    fw::Application app;
    ::RegDeleteTreeW(HKEY_CURRENT_USER, vcam::kConfigKey);
    const auto [form, cap] = NewControlOnForm(app, 640, 480);
    const int camera = CameraIndex(*cap);
    if (camera < 0) {
        std::printf("the stand-in camera is not registered\n");
        return 2;
    }
    ComPtr<IMoniker> moniker = VideoDeviceList()[static_cast<size_t>(camera)]->Moniker;

    // 1. Start-up: control against the minimal graph, alternating, median of five each.
    std::atomic<double> firstAt{0};
    std::vector<double> control, minimal;
    for (int round = 0; round < 5; ++round) {
        cap->SelectDevices(camera, -1);
        cap->SetVideoFormat(640, 480, 30, 24);
        firstAt = 0;
        cap->SetOnVideoPreview([&](uint32_t, BYTE*&, int32_t&) {
            double expected = 0;
            firstAt.compare_exchange_strong(expected, Now());
        });
        const double start = Now();
        if (!cap->StartPreview()) {
            std::printf("StartPreview failed\n");
            return 2;
        }
        if (PumpUntil(
                app, [&] { return firstAt.load() != 0; }, 5000))
            control.push_back(firstAt.load() - start);
        cap->StopPreview();
        cap->SetOnVideoPreview(nullptr);
        cap->SelectDevices(-1, -1);
        const MinimalRun m = MinimalGraph(app, moniker.Get(), 640, 480, 0);
        if (m.firstFrameMs >= 0) minimal.push_back(m.firstFrameMs);
    }
    RatioGoal("start-up to first frame, 640 x 480", Median(control), "minimal graph",
              Median(minimal), 1.3);

    // 2. Long runs.
    ReportLongRun(ControlLongRun(app, *cap, camera, 640, 480, seconds), 640, 480, seconds);
    const LongRun hd = ControlLongRun(app, *cap, camera, 1280, 720, seconds);
    ReportLongRun(hd, 1280, 720, seconds);
    cap->SelectDevices(-1, -1);
    const MinimalRun hdMinimal = MinimalGraph(app, moniker.Get(), 1280, 720, seconds * 1000.0);
    const double cpuRatio = hdMinimal.cpuMs > 0 ? hd.cpuMs / hdMinimal.cpuMs : 0;
    Goal(Format("preview 1280 x 720, %.0f s, process CPU time", seconds),
         Format("%.0f ms, minimal graph %.0f ms, ratio %.2f", hd.cpuMs, hdMinimal.cpuMs, cpuRatio),
         "<= 1.20", hd.started && cpuRatio > 0 && cpuRatio <= 1.2);

    // 3. Rate at 320 x 240, 30 frames a second, over one second after the first frames.
    cap->SetVideoFormat(320, 240, 30, 24);
    cap->SelectDevices(camera, -1);
    std::atomic<uint32_t> small{0};
    cap->SetOnVideoPreview([&](uint32_t, BYTE*&, int32_t&) { ++small; });
    double fps = 0;
    if (cap->StartPreview() && PumpUntil(
                                   app, [&] { return small.load() >= 3; }, 5000)) {
        const uint32_t first = small.load();
        const double t0 = Now();
        PumpFor(app, 1000.0);
        fps = (small.load() - first) * 1000.0 / (Now() - t0);
    }
    cap->StopPreview();
    cap->SetOnVideoPreview(nullptr);
    Goal("frame rate at 320 x 240, 30 requested", Format("%.1f", fps), "22 to 38",
         fps >= 22.0 && fps <= 38.0);

    // 4. CPU share after a camera that would not run is released.
    const DWORD failRun = 1;
    ::RegSetKeyValueW(HKEY_CURRENT_USER, vcam::kConfigKey, vcam::kValueFailRun, REG_DWORD, &failRun,
                      sizeof(failRun));
    cap->SelectDevices(camera, -1);
    cap->StartPreview();
    cap->SelectDevices(-1, -1);
    ::RegDeleteKeyValueW(HKEY_CURRENT_USER, vcam::kConfigKey, vcam::kValueFailRun);
    const double cpu0 = ProcessCpuMs(), t0 = Now();
    PumpFor(app, 400.0);
    const double busy = 100.0 * (ProcessCpuMs() - cpu0) / (Now() - t0);
    Goal("CPU after a camera that would not run was released", Format("%.1f %%", busy), "< 50 %",
         busy < 50.0);
    delete form;
    ::RegDeleteTreeW(HKEY_CURRENT_USER, vcam::kConfigKey);
    return 0;
}
