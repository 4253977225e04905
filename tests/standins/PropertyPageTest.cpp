// The stand-in camera's property page: named by the filter and its capture pin, created
// through COM, showing the live sensor and format, and opened in a modal property frame
// the way the program opens a device's pages.
#include <gtest/gtest.h>
#include <ocidl.h>
#include <olectl.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "framework/WinHandles.h"
#include "standins/vcam/IAMVMControl.h"
#include "standins/vcam/VCamConfig.h"
#include "tests/standins/VCamTestSupport.h"

using namespace std::chrono_literals;
using namespace vcamtest;

namespace {

// The class ids an object's ISpecifyPropertyPages names; empty when it has none.
std::vector<GUID> PagesOf(IUnknown* object) {
    std::vector<GUID> pages;
    ComPtr<ISpecifyPropertyPages> specify;
    if (FAILED(object->QueryInterface(IID_PPV_ARGS(&specify)))) {
        return pages;
    }
    CAUUID ids{};
    if (SUCCEEDED(specify->GetPages(&ids))) {
        pages.assign(ids.pElems, ids.pElems + ids.cElems);
        CoTaskMemFree(ids.pElems);
    }
    return pages;
}

ComPtr<IPropertyPage> CreatePage() {
    return CreateInProc<IPropertyPage>(vcam::CLSID_OrvixTestCameraPage);
}

// References held on `object` by others than the caller's own.
ULONG RefCount(IUnknown* object) {
    object->AddRef();
    return object->Release();
}

std::wstring ItemText(HWND dialog, int id) {
    wchar_t text[128] = {};
    GetDlgItemTextW(dialog, id, text, 128);
    return text;
}

// Sets the capture pin's format to one of its capabilities.
HRESULT SelectCapability(IBaseFilter* camera, int index) {
    ComPtr<IAMStreamConfig> config = StreamConfigOf(camera);
    if (!config) {
        return E_NOINTERFACE;
    }
    AM_MEDIA_TYPE* mt = nullptr;
    VIDEO_STREAM_CONFIG_CAPS caps{};
    HRESULT hr = config->GetStreamCaps(index, &mt, reinterpret_cast<BYTE*>(&caps));
    if (hr != S_OK) {
        return FAILED(hr) ? hr : E_FAIL;
    }
    hr = config->SetFormat(mt);
    CoTaskMemFree(mt->pbFormat);
    CoTaskMemFree(mt);
    return hr;
}

fw::WindowHandle CreateOwnerWindow() {
    return fw::WindowHandle(CreateWindowExW(0, L"STATIC", L"page owner", WS_OVERLAPPEDWINDOW, 0, 0,
                                            400, 300, nullptr, nullptr, nullptr, nullptr));
}

class PropertyPageTest : public ::testing::Test {
protected:
    CameraConfig config_;
};

}  // namespace

TEST_F(PropertyPageTest, FilterAndItsCapturePinNameTheCameraPageAndTheMicrophoneNone) {
    ComPtr<IBaseFilter> camera = CreateCamera();
    ASSERT_TRUE(camera);
    EXPECT_EQ(PagesOf(camera.Get()), std::vector<GUID>{vcam::CLSID_OrvixTestCameraPage});
    ComPtr<IAMStreamConfig> config = StreamConfigOf(camera.Get());
    ASSERT_TRUE(config);
    EXPECT_EQ(PagesOf(config.Get()), std::vector<GUID>{vcam::CLSID_OrvixTestCameraPage});

    // The pin's page interface is the pin's: it leads back to IPin, and holding it holds the
    // filter.
    ComPtr<ISpecifyPropertyPages> pinPages;
    ASSERT_TRUE(SUCCEEDED(config.As(&pinPages)));
    ComPtr<IPin> pin;
    EXPECT_TRUE(SUCCEEDED(pinPages.As(&pin)));

    ComPtr<IBaseFilter> microphone = CreateMicrophone();
    ASSERT_TRUE(microphone);
    EXPECT_TRUE(PagesOf(microphone.Get()).empty());
    EXPECT_TRUE(PagesOf(StreamConfigOf(microphone.Get()).Get()).empty());
}

TEST_F(PropertyPageTest, PageIsCreatedThroughComAndDescribesItself) {
    ComPtr<IPropertyPage> page = CreatePage();
    ASSERT_TRUE(page);
    PROPPAGEINFO info{};
    ASSERT_EQ(page->GetPageInfo(&info), S_OK);
    ASSERT_TRUE(info.pszTitle);
    EXPECT_STREQ(info.pszTitle, vcam::kPageTitle);
    EXPECT_GT(info.size.cx, 100);
    EXPECT_GT(info.size.cy, 40);
    CoTaskMemFree(info.pszTitle);
    CoTaskMemFree(info.pszDocString);
    CoTaskMemFree(info.pszHelpFile);

    EXPECT_EQ(page->IsPageDirty(), S_FALSE);
    EXPECT_EQ(page->Apply(), S_OK);
    EXPECT_EQ(page->Help(nullptr), E_NOTIMPL);
    // Nothing to show or move before it is activated.
    EXPECT_EQ(page->Show(SW_SHOW), E_UNEXPECTED);
    EXPECT_EQ(page->Deactivate(), E_UNEXPECTED);

    // Only the camera (or one of its pins) is something the page can show.
    ComPtr<IBaseFilter> microphone = CreateMicrophone();
    ASSERT_TRUE(microphone);
    IUnknown* objects[] = {microphone.Get()};
    EXPECT_EQ(page->SetObjects(1, objects), E_NOINTERFACE);
    EXPECT_EQ(page->SetObjects(1, nullptr), E_POINTER);
}

TEST_F(PropertyPageTest, ActivePageShowsTheLiveSensorAndFormatAndLetsGoOfTheCamera) {
    ComPtr<IBaseFilter> camera = CreateCamera();
    ASSERT_TRUE(camera);
    const ULONG baseRefs = RefCount(camera.Get());
    fw::WindowHandle owner = CreateOwnerWindow();
    ASSERT_TRUE(owner);
    {
        ComPtr<IPropertyPage> page = CreatePage();
        ASSERT_TRUE(page);
        IUnknown* objects[] = {camera.Get()};
        ASSERT_EQ(page->SetObjects(1, objects), S_OK);
        const RECT rect{0, 0, 260, 80};
        ASSERT_EQ(page->Activate(owner.get(), &rect, TRUE), S_OK);
        HWND window = FindWindowExW(owner.get(), nullptr, vcam::kPageClassName, nullptr);
        ASSERT_TRUE(window);
        EXPECT_FALSE(IsWindowVisible(window));  // until the frame shows it
        ASSERT_EQ(page->Show(SW_SHOW), S_OK);
        EXPECT_TRUE(GetWindowLongW(window, GWL_STYLE) & WS_VISIBLE);
        EXPECT_EQ(ItemText(window, vcam::kPageSensorTextId), L"Sensor: 1 (forward)");
        EXPECT_EQ(ItemText(window, vcam::kPageFormatTextId), L"Format: 640 x 480 RGB24");

        ComPtr<IAMVMControl> control;
        ASSERT_TRUE(SUCCEEDED(camera.As(&control)));
        ASSERT_EQ(CallSensorSlot(control.Get(), vcam::kBackwardSensor), S_OK);
        ASSERT_EQ(SelectCapability(camera.Get(), 2), S_OK);  // 320 x 240
        ASSERT_EQ(page->Show(SW_SHOW), S_OK);
        EXPECT_EQ(ItemText(window, vcam::kPageSensorTextId), L"Sensor: 2 (backward)");
        EXPECT_EQ(ItemText(window, vcam::kPageFormatTextId), L"Format: 320 x 240 RGB24");

        const RECT moved{5, 7, 205, 87};
        ASSERT_EQ(page->Move(&moved), S_OK);
        RECT placed{};
        GetWindowRect(window, &placed);
        MapWindowPoints(nullptr, owner.get(), reinterpret_cast<POINT*>(&placed), 2);
        EXPECT_EQ(placed.left, 5);
        EXPECT_EQ(placed.top, 7);
        EXPECT_EQ(placed.right - placed.left, 200);

        // Given the pin instead of the filter, the page shows the same camera.
        ASSERT_EQ(CallSensorSlot(control.Get(), 1), S_OK);
        ComPtr<IAMStreamConfig> config = StreamConfigOf(camera.Get());
        IUnknown* pinObjects[] = {config.Get()};
        ASSERT_EQ(page->SetObjects(1, pinObjects), S_OK);
        EXPECT_EQ(ItemText(window, vcam::kPageSensorTextId), L"Sensor: 1 (forward)");
        EXPECT_EQ(ItemText(window, vcam::kPageFormatTextId), L"Format: 320 x 240 RGB24");

        ASSERT_EQ(page->Deactivate(), S_OK);
        EXPECT_FALSE(IsWindow(window));
        ASSERT_EQ(page->SetObjects(0, nullptr), S_OK);
        control.Reset();
        config.Reset();
        EXPECT_EQ(RefCount(camera.Get()), baseRefs);

        // Activated again on a page that still holds the camera, and released without
        // Deactivate: the page's window goes with it.
        ASSERT_EQ(page->SetObjects(1, objects), S_OK);
        ASSERT_EQ(page->Activate(owner.get(), &rect, TRUE), S_OK);
        EXPECT_EQ(page->Activate(owner.get(), &rect, TRUE), E_UNEXPECTED);
        window = FindWindowExW(owner.get(), nullptr, vcam::kPageClassName, nullptr);
        ASSERT_TRUE(window);
        page.Reset();
        EXPECT_FALSE(IsWindow(window));
    }
    EXPECT_EQ(RefCount(camera.Get()), baseRefs);
}

TEST_F(PropertyPageTest, ConfiguredYuy2CameraShowsItsSubtype) {
    config_.SetString(vcam::kValueSubtype, L"YUY2");
    ComPtr<IBaseFilter> camera = CreateCamera();
    ASSERT_TRUE(camera);
    fw::WindowHandle owner = CreateOwnerWindow();
    ASSERT_TRUE(owner);
    ComPtr<IPropertyPage> page = CreatePage();
    ASSERT_TRUE(page);
    IUnknown* objects[] = {camera.Get()};
    ASSERT_EQ(page->SetObjects(1, objects), S_OK);
    const RECT rect{0, 0, 260, 80};
    ASSERT_EQ(page->Activate(owner.get(), &rect, TRUE), S_OK);
    HWND window = FindWindowExW(owner.get(), nullptr, vcam::kPageClassName, nullptr);
    ASSERT_TRUE(window);
    EXPECT_EQ(ItemText(window, vcam::kPageFormatTextId), L"Format: 640 x 480 YUY2");
    EXPECT_EQ(page->Deactivate(), S_OK);
}

namespace {

struct FrameSeen {
    bool found = false;
    std::vector<std::wstring> texts;  // visible child windows' texts
};

struct FrameSearch {
    DWORD thread = 0;
    HWND frame = nullptr;
};

BOOL CALLBACK FindFrame(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<FrameSearch*>(param);
    wchar_t name[32] = {};
    GetClassNameW(window, name, 32);
    if (GetWindowThreadProcessId(window, nullptr) == search->thread &&
        std::wstring(name) == L"#32770") {
        search->frame = window;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK CollectVisibleTexts(HWND window, LPARAM param) {
    auto* texts = reinterpret_cast<std::vector<std::wstring>*>(param);
    wchar_t text[128] = {};
    // InternalGetWindowText sends no message: the frame's thread may have left its modal
    // loop and be waiting for this one.
    if (IsWindowVisible(window) && InternalGetWindowText(window, text, 128) > 0) {
        texts->emplace_back(text);
    }
    return TRUE;
}

bool Contains(const std::vector<std::wstring>& texts, const std::wstring& wanted) {
    for (const auto& text : texts) {
        if (text == wanted) {
            return true;
        }
    }
    return false;
}

// On its own thread: waits for the modal frame of thread `owner` to show the page, notes
// what it shows, and cancels it. Whatever happens, the frame is closed before the deadline
// so that the modal call returns.
void CloseFrameWhenShown(DWORD owner, FrameSeen& seen, std::atomic<bool>& done) {
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    FrameSearch search{owner, nullptr};
    while (!done && std::chrono::steady_clock::now() < deadline) {
        search.frame = nullptr;
        EnumWindows(FindFrame, reinterpret_cast<LPARAM>(&search));
        if (search.frame) {
            seen.found = true;
            seen.texts.clear();
            EnumChildWindows(search.frame, CollectVisibleTexts,
                             reinterpret_cast<LPARAM>(&seen.texts));
            if (Contains(seen.texts, L"Sensor: 1 (forward)")) {
                break;
            }
        }
        std::this_thread::sleep_for(20ms);
    }
    if (search.frame) {
        PostMessageW(search.frame, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    }
}

}  // namespace

TEST_F(PropertyPageTest, PropertyFrameOnTheFilterShowsThePageModally) {
    ComPtr<IBaseFilter> camera = CreateCamera();
    ASSERT_TRUE(camera);
    const ULONG baseRefs = RefCount(camera.Get());
    fw::WindowHandle owner = CreateOwnerWindow();
    ASSERT_TRUE(owner);

    // As the program shows a device's pages: the page ids from GetPages, one object.
    ComPtr<ISpecifyPropertyPages> specify;
    ASSERT_TRUE(SUCCEEDED(camera.As(&specify)));
    CAUUID pages{};
    ASSERT_EQ(specify->GetPages(&pages), S_OK);
    FrameSeen seen;
    std::atomic<bool> done{false};
    std::thread closer(CloseFrameWhenShown, GetCurrentThreadId(), std::ref(seen), std::ref(done));
    IUnknown* object = camera.Get();
    const HRESULT hr = OleCreatePropertyFrame(owner.get(), 0, 0, nullptr, 1, &object, pages.cElems,
                                              pages.pElems, 0, 0, nullptr);
    done = true;
    closer.join();
    CoTaskMemFree(pages.pElems);

    EXPECT_EQ(hr, S_OK);
    EXPECT_TRUE(seen.found);
    EXPECT_TRUE(Contains(seen.texts, L"Sensor: 1 (forward)"));
    EXPECT_TRUE(Contains(seen.texts, L"Format: 640 x 480 RGB24"));
    specify.Reset();
    EXPECT_EQ(RefCount(camera.Get()), baseRefs);  // the frame's page let go of the camera
}
