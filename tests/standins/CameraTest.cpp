// The stand-in camera as the program sees it: listed by the system device enumerator,
// formats through IAMStreamConfig, pin category, real-time frames in a running graph, the
// sensor switch through the driver interface, and the configured failure modes.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "framework/WinHandles.h"
#include "standins/vcam/IAMVMControl.h"
#include "standins/vcam/VCamConfig.h"
#include "tests/standins/VCamTestSupport.h"

#include <dbt.h>

using namespace std::chrono_literals;
using namespace vcamtest;

namespace {

const VIDEOINFOHEADER& VihOf(const AM_MEDIA_TYPE& mt) {
    return *reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat);
}

struct MediaTypeHolder {
    AM_MEDIA_TYPE* mt = nullptr;
    ~MediaTypeHolder() {
        if (mt) {
            if (mt->pbFormat) CoTaskMemFree(mt->pbFormat);
            if (mt->pUnk) mt->pUnk->Release();
            CoTaskMemFree(mt);
        }
    }
};

// Names of the devices in one category of the system device enumerator, each bound to its
// filter's class id.
std::vector<std::pair<std::wstring, CLSID>> ListCategory(const GUID& category) {
    std::vector<std::pair<std::wstring, CLSID>> found;
    ComPtr<ICreateDevEnum> devices;
    if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                                IID_PPV_ARGS(&devices)))) {
        return found;
    }
    ComPtr<IEnumMoniker> monikers;
    if (devices->CreateClassEnumerator(category, &monikers, 0) != S_OK) {
        return found;
    }
    ComPtr<IMoniker> moniker;
    while (monikers->Next(1, moniker.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
        ComPtr<IPropertyBag> bag;
        if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_PPV_ARGS(&bag)))) {
            continue;
        }
        VARIANT name;
        VariantInit(&name);
        if (FAILED(bag->Read(L"FriendlyName", &name, nullptr)) || name.vt != VT_BSTR) {
            VariantClear(&name);
            continue;
        }
        std::wstring text(name.bstrVal);
        VariantClear(&name);
        CLSID clsid = GUID_NULL;
        ComPtr<IBaseFilter> filter;
        if (SUCCEEDED(moniker->BindToObject(nullptr, nullptr, IID_PPV_ARGS(&filter)))) {
            filter->GetClassID(&clsid);
        }
        found.emplace_back(text, clsid);
    }
    return found;
}

AM_MEDIA_TYPE* CapabilityAt(IAMStreamConfig* config, int index, VIDEO_STREAM_CONFIG_CAPS& caps) {
    AM_MEDIA_TYPE* mt = nullptr;
    if (config->GetStreamCaps(index, &mt, reinterpret_cast<BYTE*>(&caps)) != S_OK) {
        return nullptr;
    }
    return mt;
}

class CameraTest : public ::testing::Test {
protected:
    CameraConfig config_;
};

}  // namespace

TEST_F(CameraTest, SystemDeviceEnumeratorListsBothDevicesAndBindsThem) {
    bool camera = false;
    for (const auto& [name, clsid] : ListCategory(CLSID_VideoInputDeviceCategory)) {
        if (name == vcam::kCameraName) {
            camera = true;
            EXPECT_EQ(clsid, vcam::CLSID_OrvixTestCamera);
        }
    }
    EXPECT_TRUE(camera);
    bool microphone = false;
    for (const auto& [name, clsid] : ListCategory(CLSID_AudioInputDeviceCategory)) {
        if (name == vcam::kMicrophoneName) {
            microphone = true;
            EXPECT_EQ(clsid, vcam::CLSID_OrvixTestMicrophone);
        }
    }
    EXPECT_TRUE(microphone);
}

TEST_F(CameraTest, OffersSixSizesInOrderAsRgb24WhenConfigured) {
    ComPtr<IBaseFilter> camera = CreateCamera();
    ASSERT_TRUE(camera);
    ComPtr<IAMStreamConfig> config = StreamConfigOf(camera.Get());
    ASSERT_TRUE(config);
    int count = 0;
    int size = 0;
    ASSERT_EQ(config->GetNumberOfCapabilities(&count, &size), S_OK);
    ASSERT_EQ(count, 6);
    ASSERT_EQ(size, static_cast<int>(sizeof(VIDEO_STREAM_CONFIG_CAPS)));
    const SIZE expected[] = {{640, 480}, {352, 288},  {320, 240},
                             {160, 120}, {1280, 720}, {1920, 1080}};
    for (int i = 0; i < count; ++i) {
        VIDEO_STREAM_CONFIG_CAPS caps{};
        MediaTypeHolder holder{CapabilityAt(config.Get(), i, caps)};
        ASSERT_TRUE(holder.mt) << i;
        EXPECT_EQ(holder.mt->subtype, MEDIASUBTYPE_RGB24);
        EXPECT_EQ(holder.mt->formattype, FORMAT_VideoInfo);
        EXPECT_EQ(caps.MaxOutputSize.cx, expected[i].cx);
        EXPECT_EQ(caps.MaxOutputSize.cy, expected[i].cy);
        EXPECT_EQ(caps.MinFrameInterval, vcam::kMinFrameInterval);
        const BITMAPINFOHEADER& bmi = VihOf(*holder.mt).bmiHeader;
        EXPECT_EQ(bmi.biWidth, expected[i].cx);
        EXPECT_EQ(bmi.biHeight, expected[i].cy);  // positive: bottom-up
        EXPECT_EQ(bmi.biBitCount, 24);
        EXPECT_EQ(bmi.biSizeImage, static_cast<DWORD>(expected[i].cx * expected[i].cy * 3));
    }
    AM_MEDIA_TYPE* beyond = nullptr;
    VIDEO_STREAM_CONFIG_CAPS caps{};
    EXPECT_EQ(config->GetStreamCaps(6, &beyond, reinterpret_cast<BYTE*>(&caps)), S_FALSE);

    MediaTypeHolder current;
    ASSERT_EQ(config->GetFormat(&current.mt), S_OK);
    EXPECT_EQ(VihOf(*current.mt).bmiHeader.biWidth, 640);
}

TEST_F(CameraTest, SetFormatTakesOnlyOfferedFormatsAndThenOffersJustThatOne) {
    ComPtr<IBaseFilter> camera = CreateCamera();
    ASSERT_TRUE(camera);
    ComPtr<IAMStreamConfig> config = StreamConfigOf(camera.Get());
    ASSERT_TRUE(config);
    VIDEO_STREAM_CONFIG_CAPS caps{};
    MediaTypeHolder wanted{CapabilityAt(config.Get(), 2, caps)};  // 320 x 240
    ASSERT_TRUE(wanted.mt);
    auto& vih = *reinterpret_cast<VIDEOINFOHEADER*>(wanted.mt->pbFormat);

    vih.bmiHeader.biWidth = 800;
    vih.bmiHeader.biHeight = 600;
    EXPECT_EQ(config->SetFormat(wanted.mt), VFW_E_INVALIDMEDIATYPE);
    vih.bmiHeader.biWidth = 320;
    vih.bmiHeader.biHeight = 240;

    wanted.mt->subtype = MEDIASUBTYPE_YUY2;
    EXPECT_TRUE(FAILED(config->SetFormat(wanted.mt)));
    wanted.mt->subtype = MEDIASUBTYPE_RGB24;

    vih.bmiHeader.biBitCount = 16;  // RGB24 with a 16-bit header is no offered format
    EXPECT_TRUE(FAILED(config->SetFormat(wanted.mt)));
    vih.bmiHeader.biBitCount = 24;

    vih.AvgTimePerFrame = vcam::kMinFrameInterval - 1;  // faster than 30 frames per second
    EXPECT_TRUE(FAILED(config->SetFormat(wanted.mt)));

    vih.AvgTimePerFrame = 666667;  // 15 frames per second
    ASSERT_EQ(config->SetFormat(wanted.mt), S_OK);

    MediaTypeHolder current;
    ASSERT_EQ(config->GetFormat(&current.mt), S_OK);
    EXPECT_EQ(VihOf(*current.mt).bmiHeader.biWidth, 320);
    EXPECT_EQ(VihOf(*current.mt).AvgTimePerFrame, 666667);

    ComPtr<IPin> pin = FindPinByDirection(camera.Get(), PINDIR_OUTPUT);
    ComPtr<IEnumMediaTypes> types;
    ASSERT_EQ(pin->EnumMediaTypes(&types), S_OK);
    std::vector<LONG> widths;
    AM_MEDIA_TYPE* mt = nullptr;
    while (types->Next(1, &mt, nullptr) == S_OK) {
        MediaTypeHolder holder{mt};
        widths.push_back(VihOf(*mt).bmiHeader.biWidth);
    }
    EXPECT_EQ(widths, std::vector<LONG>{320});
    EXPECT_EQ(pin->QueryAccept(current.mt), S_OK);
    vih.bmiHeader.biWidth = 640;
    vih.bmiHeader.biHeight = 480;
    EXPECT_EQ(pin->QueryAccept(wanted.mt), S_FALSE);  // offered, but not the one chosen

    // A null format offers every capability again.
    ASSERT_EQ(config->SetFormat(nullptr), S_OK);
    ASSERT_EQ(pin->EnumMediaTypes(types.ReleaseAndGetAddressOf()), S_OK);
    int count = 0;
    while (types->Next(1, &mt, nullptr) == S_OK) {
        MediaTypeHolder holder{mt};
        ++count;
    }
    EXPECT_EQ(count, 6);
}

TEST_F(CameraTest, CapturePinReportsItsCategoryAndIsFoundLikeTheProgramFindsIt) {
    ComPtr<IBaseFilter> camera = CreateCamera();
    ASSERT_TRUE(camera);
    ComPtr<IPin> pin;
    ASSERT_EQ(camera->FindPin(vcam::kCapturePinName, &pin), S_OK);
    ComPtr<IKsPropertySet> properties;
    ASSERT_TRUE(SUCCEEDED(pin.As(&properties)));
    GUID category = GUID_NULL;
    DWORD returned = 0;
    ASSERT_EQ(properties->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category,
                              sizeof(category), &returned),
              S_OK);
    EXPECT_EQ(category, PIN_CATEGORY_CAPTURE);
    EXPECT_EQ(returned, sizeof(GUID));

    // Without the configuration there is no still pin.
    ComPtr<IPin> still;
    EXPECT_EQ(camera->FindPin(vcam::kStillPinName, &still), VFW_E_NOT_FOUND);

    ComPtr<IGraphBuilder> graph;
    ComPtr<ICaptureGraphBuilder2> builder;
    ASSERT_EQ(
        CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&graph)),
        S_OK);
    ASSERT_EQ(CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER,
                               IID_PPV_ARGS(&builder)),
              S_OK);
    ASSERT_EQ(builder->SetFiltergraph(graph.Get()), S_OK);
    ASSERT_EQ(graph->AddFilter(camera.Get(), nullptr), S_OK);
    ComPtr<IAMStreamConfig> config;
    EXPECT_EQ(builder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, camera.Get(),
                                     IID_IAMStreamConfig, &config),
              S_OK);
    EXPECT_TRUE(config);
}

TEST_F(CameraTest, PreviewWiredByTheCaptureGraphBuilderGoesThroughASmartTee) {
    ComPtr<IBaseFilter> camera = CreateCamera();
    ASSERT_TRUE(camera);
    CaptureGraph graph;
    // No preview pin of its own: the builder splits the capture pin with a Smart Tee.
    ASSERT_EQ(graph.BuildPreviewWithBuilder(camera.Get()), VFW_S_NOPREVIEWPIN);
    ComPtr<IEnumFilters> filters;
    ASSERT_EQ(graph.graph->EnumFilters(&filters), S_OK);
    bool tee = false;
    ComPtr<IBaseFilter> filter;
    while (filters->Next(1, filter.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
        CLSID clsid = GUID_NULL;
        filter->GetClassID(&clsid);
        tee = tee || clsid == CLSID_SmartTee;
    }
    EXPECT_TRUE(tee);
    ASSERT_TRUE(SUCCEEDED(graph.Run()));
    ASSERT_TRUE(graph.callback->WaitForCount(2, 5s));
    ASSERT_EQ(graph.Stop(), S_OK);
    EXPECT_EQ(graph.callback->LastData().size(), 640u * 480u * 3u);
}

// A still pin named "Stop" that sends one frame per trigger, and a separate preview pin.
TEST_F(CameraTest, StillAndPreviewPinsWhenConfigured) {
    config_.SetDword(vcam::kValueStillPin, 1);
    config_.SetDword(vcam::kValuePreviewPin, 1);
    ComPtr<IBaseFilter> camera = CreateCamera();
    ASSERT_TRUE(camera);
    ComPtr<IEnumPins> pins;
    ASSERT_EQ(camera->EnumPins(&pins), S_OK);
    std::vector<std::wstring> names;
    ComPtr<IPin> pin;
    while (pins->Next(1, pin.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
        PIN_INFO info{};
        ASSERT_EQ(pin->QueryPinInfo(&info), S_OK);
        ComPtr<IBaseFilter> owner;
        *owner.GetAddressOf() = info.pFilter;  // mingw-w64's Attach would add a reference
        EXPECT_EQ(owner.Get(), camera.Get());
        EXPECT_EQ(info.dir, PINDIR_OUTPUT);
        names.emplace_back(info.achName);
    }
    ASSERT_EQ(names, (std::vector<std::wstring>{L"Capture", L"Stop", L"Preview"}));
    for (const auto& [name, expected] :
         {std::pair{L"Stop", PIN_CATEGORY_STILL}, std::pair{L"Preview", PIN_CATEGORY_PREVIEW}}) {
        ComPtr<IPin> found;
        ASSERT_EQ(camera->FindPin(name, &found), S_OK);
        ComPtr<IKsPropertySet> properties;
        ASSERT_TRUE(SUCCEEDED(found.As(&properties)));
        GUID category = GUID_NULL;
        DWORD returned = 0;
        ASSERT_EQ(properties->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category,
                                  sizeof(category), &returned),
                  S_OK);
        EXPECT_EQ(category, expected);
        ComPtr<IAMStreamConfig> own;
        EXPECT_TRUE(SUCCEEDED(found.As(&own)));
    }

    ComPtr<IAMVideoControl> control;
    ASSERT_TRUE(SUCCEEDED(camera.As(&control)));
    ComPtr<IPin> still, capture;
    ASSERT_EQ(camera->FindPin(L"Stop", &still), S_OK);
    ASSERT_EQ(camera->FindPin(L"Capture", &capture), S_OK);
    long caps = 0;
    ASSERT_EQ(control->GetCaps(still.Get(), &caps), S_OK);
    EXPECT_EQ(caps, VideoControlFlag_Trigger);
    EXPECT_EQ(control->SetMode(capture.Get(), VideoControlFlag_Trigger), E_INVALIDARG);
    CaptureGraph graph;
    ASSERT_EQ(graph.Build(camera.Get(), MEDIATYPE_Video, MEDIASUBTYPE_RGB24, L"Stop"), S_OK);
    ASSERT_TRUE(SUCCEEDED(graph.Run()));
    for (size_t n = 1; n <= 2; ++n) {
        ASSERT_EQ(control->SetMode(still.Get(), VideoControlFlag_Trigger), S_OK);
        ASSERT_TRUE(graph.callback->WaitForCount(n, 5s));
    }
    ASSERT_EQ(graph.Stop(), S_OK);
    // One frame per trigger, nothing in between (the still pin counts what it sent).
    EXPECT_EQ(CameraConfig::ReadDword(vcam::kValueFramesProduced, 0), 2u);
    EXPECT_EQ(graph.callback->Count(), 2u);
}

TEST_F(CameraTest, DeliversTimedFramesOfTheChosenFormatInRealTime) {
    ComPtr<IBaseFilter> camera = CreateCamera();
    ASSERT_TRUE(camera);
    ComPtr<IAMStreamConfig> config = StreamConfigOf(camera.Get());
    VIDEO_STREAM_CONFIG_CAPS caps{};
    MediaTypeHolder wanted{CapabilityAt(config.Get(), 2, caps)};  // 320 x 240
    ASSERT_TRUE(wanted.mt);
    const REFERENCE_TIME interval = 666667;  // 15 frames per second
    reinterpret_cast<VIDEOINFOHEADER*>(wanted.mt->pbFormat)->AvgTimePerFrame = interval;
    ASSERT_EQ(config->SetFormat(wanted.mt), S_OK);

    CaptureGraph graph;
    ASSERT_EQ(graph.Build(camera.Get(), MEDIATYPE_Video, MEDIASUBTYPE_RGB24), S_OK);
    ComPtr<IPin> pin = FindPinByDirection(camera.Get(), PINDIR_OUTPUT);
    AM_MEDIA_TYPE connected{};
    ASSERT_EQ(pin->ConnectionMediaType(&connected), S_OK);
    EXPECT_EQ(VihOf(connected).bmiHeader.biWidth, 320);
    CoTaskMemFree(connected.pbFormat);

    ASSERT_TRUE(SUCCEEDED(graph.Run()));
    // While running the connection and the format stay as they are.
    EXPECT_EQ(pin->Disconnect(), VFW_E_NOT_STOPPED);
    EXPECT_EQ(config->SetFormat(wanted.mt), VFW_E_NOT_STOPPED);
    const size_t frames = 12;
    ASSERT_TRUE(graph.callback->WaitForCount(frames, 5s));
    ASSERT_EQ(graph.Stop(), S_OK);

    const auto records = graph.callback->Records();
    ASSERT_GE(records.size(), frames);
    for (size_t i = 0; i < records.size(); ++i) {
        const SampleRecord& r = records[i];
        EXPECT_EQ(r.length, 320 * 240 * 3);
        ASSERT_TRUE(r.hasTime);
        EXPECT_GE(r.start, 0);  // nothing before the stream start
        EXPECT_EQ(r.stop - r.start, interval);
        EXPECT_EQ(r.start % interval, 0);
        if (i > 0) {
            EXPECT_GT(r.start, records[i - 1].start);
        }
    }
    EXPECT_TRUE(records[0].discontinuity);
    // The pacing in real time (no bursts, no long gaps) is measured by bench/capture.

    const DWORD produced = CameraConfig::ReadDword(vcam::kValueFramesProduced, 0);
    EXPECT_GE(produced, records.size());
    EXPECT_LE(produced, records.size() + 2);
}

TEST_F(CameraTest, SensorSwitchInTheNineteenthSlotChangesThePicture) {
    ComPtr<IBaseFilter> camera = CreateCamera();
    ASSERT_TRUE(camera);
    ComPtr<IUnknown> control;
    ASSERT_EQ(camera->QueryInterface(__uuidof(IAMVMControl), &control), S_OK);

    CaptureGraph graph;
    ASSERT_EQ(graph.Build(camera.Get(), MEDIATYPE_Video, MEDIASUBTYPE_RGB24), S_OK);
    ASSERT_TRUE(SUCCEEDED(graph.Run()));
    ASSERT_TRUE(graph.callback->WaitForCount(2, 5s));
    const std::vector<BYTE> forward = graph.callback->LastData();
    ASSERT_EQ(forward.size(), 640u * 480u * 3u);

    ASSERT_EQ(CallSensorSlot(control.Get(), 2), S_OK);
    EXPECT_EQ(CameraConfig::ReadDword(vcam::kValueLastSensor, 0), 2u);
    // The frame in flight may still show the old sensor; the ones after it cannot.
    graph.callback->Clear();
    ASSERT_TRUE(graph.callback->WaitForCount(3, 5s));
    const std::vector<BYTE> backward = graph.callback->LastData();

    ASSERT_EQ(CallSensorSlot(control.Get(), 1), S_OK);
    EXPECT_EQ(CameraConfig::ReadDword(vcam::kValueLastSensor, 0), 1u);
    graph.callback->Clear();
    ASSERT_TRUE(graph.callback->WaitForCount(3, 5s));
    const std::vector<BYTE> forwardAgain = graph.callback->LastData();
    ASSERT_EQ(graph.Stop(), S_OK);

    const MeanColour f = MeanOfRgb24(forward);
    const MeanColour b = MeanOfRgb24(backward);
    const MeanColour g = MeanOfRgb24(forwardAgain);
    EXPECT_GT(f.blue, f.red + 60) << "forward sensor: blue picture";
    EXPECT_GT(b.red, b.blue + 60) << "backward sensor: orange picture";
    EXPECT_GT(g.blue, g.red + 60);
    // The picture moves from frame to frame.
    EXPECT_NE(forward, forwardAgain);

    // The other eighteen methods are not implemented.
    ComPtr<IAMVMControl> typed;
    ASSERT_EQ(control.As(&typed), S_OK);
    LONG value = 0;
    EXPECT_EQ(typed->GetBrightness(&value), E_NOTIMPL);
    EXPECT_EQ(typed->SetRegister(1, 2), E_NOTIMPL);
}

// Like a USB camera: MJPG at every size first (and current), then YUY2; the MJPG frames
// are baseline JPEG pictures, each of its own length.
TEST_F(CameraTest, ByDefaultMjpgThenYuy2AndMjpgFramesAreBaselineJpegs) {
    config_.Remove(vcam::kValueSubtype);
    ComPtr<IBaseFilter> camera = CreateCamera();
    ASSERT_TRUE(camera);
    ComPtr<IAMStreamConfig> config = StreamConfigOf(camera.Get());
    int count = 0, size = 0;
    ASSERT_EQ(config->GetNumberOfCapabilities(&count, &size), S_OK);
    ASSERT_EQ(count, 12);
    for (int i = 0; i < count; ++i) {
        VIDEO_STREAM_CONFIG_CAPS caps{};
        MediaTypeHolder holder{CapabilityAt(config.Get(), i, caps)};
        ASSERT_TRUE(holder.mt) << i;
        EXPECT_EQ(holder.mt->subtype, i < 6 ? MEDIASUBTYPE_MJPG : MEDIASUBTYPE_YUY2) << i;
        EXPECT_EQ(VihOf(*holder.mt).bmiHeader.biCompression,
                  i < 6 ? MAKEFOURCC('M', 'J', 'P', 'G') : MAKEFOURCC('Y', 'U', 'Y', '2'));
    }
    MediaTypeHolder current;
    ASSERT_EQ(config->GetFormat(&current.mt), S_OK);
    EXPECT_EQ(current.mt->subtype, MEDIASUBTYPE_MJPG);
    EXPECT_EQ(VihOf(*current.mt).bmiHeader.biWidth, 640);

    CaptureGraph graph;
    ASSERT_EQ(graph.Build(camera.Get(), MEDIATYPE_Video, MEDIASUBTYPE_MJPG), S_OK);
    ASSERT_TRUE(SUCCEEDED(graph.Run()));
    ASSERT_TRUE(graph.callback->WaitForCount(2, 5s));
    ASSERT_EQ(graph.Stop(), S_OK);
    const std::vector<BYTE> frame = graph.callback->LastData();
    ASSERT_GT(frame.size(), 4u);
    EXPECT_LT(frame.size(), 640u * 480u);
    EXPECT_EQ(frame[0], 0xFF);
    EXPECT_EQ(frame[1], 0xD8);  // start of image
    EXPECT_EQ(frame[frame.size() - 2], 0xFF);
    EXPECT_EQ(frame[frame.size() - 1], 0xD9);  // end of image
    bool baseline = false;
    for (size_t i = 0; i + 1 < frame.size() && !baseline; ++i)
        baseline = frame[i] == 0xFF && frame[i + 1] == 0xC0;  // start of a baseline frame
    EXPECT_TRUE(baseline);
}

// Each YUV layout carries the forward sensor's blue picture: blue-difference above the
// middle, red-difference below it, wherever the layout keeps them.
TEST_F(CameraTest, YuvLayoutsWhenConfigured) {
    struct Layout {
        const wchar_t* name;
        GUID subtype;
        WORD bits;
    };
    const GUID i420 = {
        0x30323449, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
    for (const Layout& layout :
         {Layout{L"YUY2", MEDIASUBTYPE_YUY2, 16}, Layout{L"UYVY", MEDIASUBTYPE_UYVY, 16},
          Layout{L"I420", i420, 12}}) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(layout.name)));
        config_.SetString(vcam::kValueSubtype, layout.name);
        ComPtr<IBaseFilter> camera = CreateCamera();
        ASSERT_TRUE(camera);
        ComPtr<IAMStreamConfig> config = StreamConfigOf(camera.Get());
        MediaTypeHolder current;
        ASSERT_EQ(config->GetFormat(&current.mt), S_OK);
        EXPECT_EQ(current.mt->subtype, layout.subtype);
        EXPECT_EQ(VihOf(*current.mt).bmiHeader.biBitCount, layout.bits);
        // RGB24 is not offered by this camera.
        current.mt->subtype = MEDIASUBTYPE_RGB24;
        EXPECT_TRUE(FAILED(config->SetFormat(current.mt)));

        CaptureGraph graph;
        ASSERT_EQ(graph.Build(camera.Get(), MEDIATYPE_Video, layout.subtype), S_OK);
        ASSERT_TRUE(SUCCEEDED(graph.Run()));
        ASSERT_TRUE(graph.callback->WaitForCount(2, 5s));
        ASSERT_EQ(graph.Stop(), S_OK);
        const std::vector<BYTE> frame = graph.callback->LastData();
        ASSERT_EQ(frame.size(), 640u * 480u * layout.bits / 8);
        double cb = 0, cr = 0, n = 0;
        if (layout.bits == 12) {
            const size_t plane = 640 * 480 / 4;
            for (size_t i = 0; i < plane; ++i, ++n) {
                cb += frame[640 * 480 + i];
                cr += frame[640 * 480 + plane + i];
            }
        } else {
            const size_t u = layout.subtype == MEDIASUBTYPE_YUY2 ? 1 : 0;
            for (size_t i = 0; i + 3 < frame.size(); i += 4, ++n) {
                cb += frame[i + u];
                cr += frame[i + u + 2];
            }
        }
        EXPECT_GT(cb / n, 150.0);
        EXPECT_LT(cr / n, 128.0);
    }
}

TEST_F(CameraTest, RunFailsWhileAnotherProgramHoldsTheCamera) {
    config_.SetDword(vcam::kValueFailRun, 1);
    ComPtr<IBaseFilter> camera = CreateCamera();
    ASSERT_TRUE(camera);
    CaptureGraph graph;
    ASSERT_EQ(graph.Build(camera.Get(), MEDIATYPE_Video, MEDIASUBTYPE_RGB24), S_OK);
    // Wine's graph runs the renderer first; its S_FALSE (waiting for a first sample) is the
    // result IMediaControl::Run keeps, so the camera's refusal is checked on the filter.
    graph.Run();
    FILTER_STATE state = State_Stopped;
    EXPECT_EQ(camera->GetState(0, &state), VFW_S_CANT_CUE);
    EXPECT_EQ(state, State_Paused);
    EXPECT_EQ(camera->Run(0), vcam::kBusyResult);
    EXPECT_FALSE(graph.callback->WaitForCount(1, 300ms));
    ASSERT_EQ(graph.Stop(), S_OK);
    EXPECT_EQ(camera->GetState(0, &state), S_OK);
    EXPECT_EQ(state, State_Stopped);
}

bool CameraListed() {
    for (const auto& [name, clsid] : ListCategory(CLSID_VideoInputDeviceCategory)) {
        if (clsid == vcam::CLSID_OrvixTestCamera) return true;
    }
    return false;
}

// Runs a fresh instance in its own graph: S_OK once it delivers frames, else its refusal.
HRESULT RunFreshCamera(CaptureGraph& graph) {
    ComPtr<IBaseFilter> camera = CreateCamera();
    if (!camera) return E_FAIL;
    const HRESULT built = graph.Build(camera.Get(), MEDIATYPE_Video, MEDIASUBTYPE_RGB24);
    if (FAILED(built)) return built;
    graph.Run();  // Wine's graph reports the renderer's S_FALSE: the camera is asked itself
    FILTER_STATE state = State_Stopped;
    camera->GetState(0, &state);
    if (state != State_Running) {
        const HRESULT refused = camera->Run(0);
        return FAILED(refused) ? refused : E_FAIL;
    }
    return graph.callback->WaitForCount(2, 5s) ? S_OK : E_FAIL;
}

TEST_F(CameraTest, AnUnplugReportsTheLossAndTakesTheCameraAwayForEveryInstance) {
    config_.SetDword(vcam::kValueLoseAfterMs, 200);
    ComPtr<IBaseFilter> camera = CreateCamera();
    ASSERT_TRUE(camera);
    CaptureGraph graph;
    ASSERT_EQ(graph.Build(camera.Get(), MEDIATYPE_Video, MEDIASUBTYPE_RGB24), S_OK);
    ASSERT_TRUE(CameraListed());
    ASSERT_TRUE(SUCCEEDED(graph.Run()));
    ASSERT_TRUE(graph.WaitForEvent(EC_DEVICE_LOST, 5s));
    const size_t atLoss = graph.callback->Count();
    EXPECT_GT(atLoss, 0u);
    ASSERT_EQ(graph.Stop(), S_OK);
    // Nothing arrived after the loss: the camera's own count at the stop is the count at
    // the loss, and the grabber saw no more.
    EXPECT_EQ(CameraConfig::ReadDword(vcam::kValueFramesProduced, 0), atLoss);
    EXPECT_EQ(graph.callback->Count(), atLoss);
    // Gone for the system: not listed, and neither this instance nor a new one runs
    // (IMediaControl::Run under Wine reports the renderer's S_FALSE instead, see
    // RunFailsWhileAnotherProgramHolds...).
    EXPECT_FALSE(CameraListed());
    graph.Run();
    EXPECT_EQ(camera->Run(0), vcam::kGoneResult);
    graph.StopEachFilter();
    EXPECT_EQ(graph.callback->Count(), atLoss);
    CaptureGraph other;
    EXPECT_EQ(RunFreshCamera(other), vcam::kGoneResult);
    other.StopEachFilter();
}

TEST_F(CameraTest, AStreamingCameraUnpluggedFromOutsideReportsTheLoss) {
    ComPtr<IBaseFilter> camera = CreateCamera();
    ASSERT_TRUE(camera);
    CaptureGraph graph;
    ASSERT_EQ(graph.Build(camera.Get(), MEDIATYPE_Video, MEDIASUBTYPE_RGB24), S_OK);
    ASSERT_TRUE(SUCCEEDED(graph.Run()));
    ASSERT_TRUE(graph.callback->WaitForCount(2, 5s));
    config_.Unplug();
    ASSERT_TRUE(graph.WaitForEvent(EC_DEVICE_LOST, 5s));
    const size_t atLoss = graph.callback->Count();
    ASSERT_EQ(graph.Stop(), S_OK);
    EXPECT_EQ(CameraConfig::ReadDword(vcam::kValueFramesProduced, 0), atLoss);
}

TEST_F(CameraTest, AnUnpluggedCameraReturnsListedWithTheDeviceChangeNotice) {
    // A hidden top-level window, as the program's, to receive the system's notice.
    fw::WindowHandle window(CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr,
                                            nullptr, nullptr, nullptr));
    ASSERT_TRUE(window.get());
    config_.SetDword(vcam::kValueLoseAfterMs, 200);
    config_.SetDword(vcam::kValueReturnAfterMs, 1000);
    ComPtr<IBaseFilter> camera = CreateCamera();
    ASSERT_TRUE(camera);
    CaptureGraph graph;
    ASSERT_EQ(graph.Build(camera.Get(), MEDIATYPE_Video, MEDIASUBTYPE_RGB24), S_OK);
    ASSERT_TRUE(SUCCEEDED(graph.Run()));
    ASSERT_TRUE(graph.WaitForEvent(EC_DEVICE_LOST, 5s));
    ASSERT_EQ(graph.Stop(), S_OK);
    EXPECT_FALSE(CameraListed());

    MSG notice{};
    const auto end = std::chrono::steady_clock::now() + 15s;
    while (!PeekMessageW(&notice, window.get(), WM_DEVICECHANGE, WM_DEVICECHANGE, PM_REMOVE) &&
           std::chrono::steady_clock::now() < end) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_POSTMESSAGE);
    }
    ASSERT_EQ(notice.message, static_cast<UINT>(WM_DEVICECHANGE)) << "no device-change notice";
    EXPECT_EQ(notice.wParam, static_cast<WPARAM>(DBT_DEVNODES_CHANGED));
    EXPECT_TRUE(CameraListed());
    // The instance from before the unplug stays dead; a new one runs, and past the moment
    // of the configured loss (the unplug happens once).
    graph.Run();
    EXPECT_EQ(camera->Run(0), vcam::kGoneResult);
    graph.StopEachFilter();
    CaptureGraph fresh;
    ASSERT_EQ(RunFreshCamera(fresh), S_OK);
    EXPECT_TRUE(fresh.callback->WaitForCount(15, 5s));  // half a second of frames
    EXPECT_EQ(fresh.Stop(), S_OK);
}

TEST_F(CameraTest, StopsAndRunsAgain) {
    ComPtr<IBaseFilter> camera = CreateCamera();
    ASSERT_TRUE(camera);
    {
        CaptureGraph graph;
        ASSERT_EQ(graph.Build(camera.Get(), MEDIATYPE_Video, MEDIASUBTYPE_RGB24), S_OK);
        for (int round = 0; round < 2; ++round) {
            graph.callback->Clear();
            ASSERT_TRUE(SUCCEEDED(graph.Run())) << round;
            ASSERT_TRUE(graph.callback->WaitForCount(2, 5s)) << round;
            ASSERT_EQ(graph.Stop(), S_OK);
            // Stopped when Stop returns: the camera has written its count of the frames it
            // delivered (the grabber, stopped first, may have refused the last one or two).
            FILTER_STATE state = State_Running;
            EXPECT_EQ(camera->GetState(0, &state), S_OK);
            EXPECT_EQ(state, State_Stopped) << round;
            const DWORD produced = CameraConfig::ReadDword(vcam::kValueFramesProduced, 0);
            EXPECT_GE(produced, graph.callback->Count()) << round;
            EXPECT_LE(produced, graph.callback->Count() + 2) << round;
        }
    }
    // The graph and everything in it are gone; only this reference keeps the camera.
    EXPECT_EQ(camera->AddRef(), 2u);
    EXPECT_EQ(camera->Release(), 1u);
}

TEST_F(CameraTest, StopAheadOfAPausedRendererDoesNotHang) {
    // The renderer stays paused, so it holds the camera's first delivery in Receive; the
    // camera is then stopped first, the reverse of the graph's order.
    ComPtr<IBaseFilter> camera = CreateCamera();
    ASSERT_TRUE(camera);
    CaptureGraph graph;
    ASSERT_EQ(graph.Build(camera.Get(), MEDIATYPE_Video, MEDIASUBTYPE_RGB24), S_OK);
    ASSERT_TRUE(SUCCEEDED(graph.renderer->Pause()));
    ASSERT_TRUE(SUCCEEDED(graph.grabberFilter->Run(0)));
    ASSERT_EQ(camera->Run(0), S_OK);
    // Without a clock the camera runs on its own time: the first frame is due at once.
    ASSERT_TRUE(graph.callback->WaitForCount(1, 5s));
    // A hang shows as a stop that does not come back within a generous limit.
    std::atomic<bool> stopped{false};
    std::thread stopper([&] {
        camera->Stop();
        stopped = true;
    });
    const auto limit = std::chrono::steady_clock::now() + 20s;
    while (!stopped && std::chrono::steady_clock::now() < limit) std::this_thread::sleep_for(10ms);
    EXPECT_TRUE(stopped.load());
    if (!stopped) graph.renderer->Stop();  // lets the camera's stop finish
    stopper.join();
    graph.StopEachFilter();
}

TEST_F(CameraTest, SetFormatOnAConnectedPinReconnectsWithTheNewSize) {
    ComPtr<IBaseFilter> camera = CreateCamera();
    ASSERT_TRUE(camera);
    CaptureGraph graph;
    ASSERT_EQ(graph.Build(camera.Get(), MEDIATYPE_Video, MEDIASUBTYPE_RGB24), S_OK);
    ComPtr<IAMStreamConfig> config = StreamConfigOf(camera.Get());
    VIDEO_STREAM_CONFIG_CAPS caps{};
    MediaTypeHolder wanted{CapabilityAt(config.Get(), 3, caps)};  // 160 x 120
    ASSERT_TRUE(wanted.mt);
    ASSERT_EQ(config->SetFormat(wanted.mt), S_OK);
    ComPtr<IPin> pin = FindPinByDirection(camera.Get(), PINDIR_OUTPUT);
    AM_MEDIA_TYPE connected{};
    ASSERT_EQ(pin->ConnectionMediaType(&connected), S_OK);
    EXPECT_EQ(VihOf(connected).bmiHeader.biWidth, 160);
    CoTaskMemFree(connected.pbFormat);

    ASSERT_TRUE(SUCCEEDED(graph.Run()));
    ASSERT_TRUE(graph.callback->WaitForCount(1, 5s));
    ASSERT_EQ(graph.Stop(), S_OK);
    EXPECT_EQ(graph.callback->LastData().size(), 160u * 120u * 3u);
}

TEST_F(CameraTest, StreamControlOnEveryOutputPinDeliversOnlyInsideItsWindow) {
    config_.SetDword(vcam::kValueStillPin, 1);
    config_.SetDword(vcam::kValuePreviewPin, 1);
    ComPtr<IBaseFilter> camera = CreateCamera();
    ASSERT_TRUE(camera);
    ComPtr<IEnumPins> pins;
    ASSERT_EQ(camera->EnumPins(&pins), S_OK);
    ComPtr<IPin> each;
    int withControl = 0;
    while (pins->Next(1, each.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
        ComPtr<IAMStreamControl> c;
        if (SUCCEEDED(each.As(&c))) ++withControl;
    }
    EXPECT_EQ(withControl, 3);
    // Preview samples carry no times: only now and never.
    ComPtr<IPin> previewPin;
    ASSERT_EQ(camera->FindPin(vcam::kPreviewPinName, &previewPin), S_OK);
    ComPtr<IAMStreamControl> preview;
    ASSERT_EQ(previewPin.As(&preview), S_OK);
    const REFERENCE_TIME never = MAXLONGLONG, frame = vcam::kDefaultFrameInterval;
    const REFERENCE_TIME at = 5 * frame;
    EXPECT_EQ(preview->StartAt(&at, 1), E_INVALIDARG);
    EXPECT_EQ(preview->StopAt(&at, FALSE, 1), E_INVALIDARG);
    ASSERT_EQ(preview->StartAt(&never, 0), S_OK);
    AM_STREAM_INFO info{};
    ASSERT_EQ(preview->GetInfo(&info), S_OK);
    EXPECT_EQ(info.dwFlags, DWORD{AM_STREAM_INFO_START_DEFINED | AM_STREAM_INFO_DISCARDING});
    EXPECT_EQ(info.tStart, never);
    ASSERT_EQ(preview->StartAt(nullptr, 0), S_OK);
    ASSERT_EQ(preview->GetInfo(&info), S_OK);
    EXPECT_EQ(info.dwFlags, 0u);
    EXPECT_EQ(preview->GetInfo(nullptr), E_POINTER);

    CaptureGraph graph;
    ASSERT_EQ(graph.Build(camera.Get(), MEDIATYPE_Video, MEDIASUBTYPE_RGB24), S_OK);
    ComPtr<IPin> capturePin;
    ASSERT_EQ(camera->FindPin(vcam::kCapturePinName, &capturePin), S_OK);
    ComPtr<IAMStreamControl> capture;
    ASSERT_EQ(capturePin.As(&capture), S_OK);
    // Frames 5 to 9 of the stream only.
    const REFERENCE_TIME stop = 10 * frame;
    ASSERT_EQ(capture->StartAt(&at, 5), S_OK);
    ASSERT_EQ(capture->StopAt(&stop, FALSE, 6), S_OK);
    ASSERT_EQ(capture->GetInfo(&info), S_OK);
    EXPECT_EQ(info.dwFlags, DWORD{AM_STREAM_INFO_START_DEFINED | AM_STREAM_INFO_STOP_DEFINED |
                                  AM_STREAM_INFO_DISCARDING});
    EXPECT_EQ(info.tStart, at);
    EXPECT_EQ(info.tStop, stop);
    EXPECT_EQ(info.dwStartCookie, 5u);
    EXPECT_EQ(info.dwStopCookie, 6u);
    // Without a clock the stream time is the reference time (run from 0).
    ASSERT_TRUE(SUCCEEDED(graph.renderer->Run(0)));
    ASSERT_TRUE(SUCCEEDED(graph.grabberFilter->Run(0)));
    ASSERT_EQ(camera->Run(0), S_OK);
    EXPECT_TRUE(graph.WaitForEvent(EC_STREAM_CONTROL_STARTED, 5s));
    EXPECT_TRUE(graph.WaitForEvent(EC_STREAM_CONTROL_STOPPED, 5s));
    // Started again now, after the stop: frames come again, later than the stop.
    ASSERT_EQ(capture->StartAt(nullptr, 0), S_OK);
    const size_t windowed = graph.callback->Count();
    ASSERT_TRUE(graph.callback->WaitForCount(windowed + 1, 5s));
    graph.StopEachFilter();
    const auto records = graph.callback->Records();
    ASSERT_GE(windowed, 1u);
    ASSERT_LE(windowed, 5u);
    for (size_t i = 0; i < windowed; ++i) {
        EXPECT_GE(records[i].start, at) << i;
        EXPECT_LT(records[i].start, stop) << i;
    }
    EXPECT_GT(records[windowed].start, stop);
}

TEST_F(CameraTest, DriverDialogsOnlyWhenConfiguredAndAsStrictAsTheInterface) {
    ComPtr<IBaseFilter> plain = CreateCamera();
    ASSERT_TRUE(plain);
    ComPtr<IAMVfwCaptureDialogs> none;
    EXPECT_EQ(plain.As(&none), E_NOINTERFACE);

    config_.SetDword(vcam::kValueDriverDialogs, 1);
    ComPtr<IBaseFilter> camera = CreateCamera();
    ASSERT_TRUE(camera);
    ComPtr<IAMVfwCaptureDialogs> dialogs;
    ASSERT_EQ(camera.As(&dialogs), S_OK);
    for (int kind : {VfwCaptureDialog_Format, VfwCaptureDialog_Source, VfwCaptureDialog_Display})
        EXPECT_EQ(dialogs->HasDialog(kind), S_OK) << kind;
    EXPECT_EQ(dialogs->HasDialog(8), S_FALSE);
    EXPECT_EQ(dialogs->ShowDialog(8, nullptr), E_INVALIDARG);
    EXPECT_EQ(dialogs->SendDriverMessage(VfwCaptureDialog_Source, 0, 0, 0), E_NOTIMPL);

    // While the source dialog is open a second one is refused; Cancel gives S_FALSE.
    fw::WindowHandle owner(CreateWindowExW(0, L"STATIC", L"owner", WS_POPUP, 0, 0, 10, 10, nullptr,
                                           nullptr, nullptr, nullptr));
    static IAMVfwCaptureDialogs* open;
    static HRESULT second;
    static HWND seenOwner;
    open = dialogs.Get();
    second = S_OK;
    seenOwner = nullptr;
    const UINT_PTR timer = SetTimer(nullptr, 0, 50, [](HWND, UINT, UINT_PTR, DWORD) CALLBACK {
        HWND d = FindWindowW(nullptr, vcam::kSourceDialogTitle);
        if (!d || !IsWindowVisible(d) || seenOwner) return;
        seenOwner = GetWindow(d, GW_OWNER);
        second = open->ShowDialog(VfwCaptureDialog_Display, nullptr);
        PostMessageW(d, WM_COMMAND, IDCANCEL, 0);
    });
    EXPECT_EQ(dialogs->ShowDialog(VfwCaptureDialog_Source, owner.get()), S_FALSE);
    KillTimer(nullptr, timer);
    EXPECT_EQ(second, E_UNEXPECTED);
    EXPECT_EQ(seenOwner, owner.get());

    CaptureGraph graph;
    ASSERT_EQ(graph.Build(camera.Get(), MEDIATYPE_Video, MEDIASUBTYPE_RGB24), S_OK);
    ASSERT_TRUE(SUCCEEDED(graph.Run()));
    EXPECT_EQ(dialogs->ShowDialog(VfwCaptureDialog_Format, owner.get()), VFW_E_NOT_STOPPED);
    EXPECT_EQ(graph.Stop(), S_OK);
}
