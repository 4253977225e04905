// Messages that the control's own waits dispatch (the video window's attach, the device
// enumeration, the wait for the camera to run, the device dialogs) asking for another
// operation meanwhile. Each message is posted before the operation starts, so the first
// pump inside it delivers the message.
#include "tests/capture/CaptureTestSupport.h"
#include "tests/capture/ControlProbe.h"
#include "tests/capture/MediaProbe.h"
#include "tests/support/MessageBoxes.h"

#include <algorithm>
#include <functional>
#include <utility>

using namespace captest;
using Microsoft::WRL::ComPtr;

namespace {

using ReentrancyTest = CaptureFixture;

constexpr UINT kRunAction = WM_APP + 41;

// A message-only window on the test thread that runs an action when it gets kRunAction,
// and counts the stand-in camera's run notices.
class ActionWindow {
public:
    ActionWindow() {
        WNDCLASSW wc{};
        wc.lpfnWndProc = Proc;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.lpszClassName = L"OrvixReentrancyProbe";
        ::RegisterClassW(&wc);
        hwnd_ = ::CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  wc.hInstance, this);
    }
    ~ActionWindow() { ::DestroyWindow(hwnd_); }
    HWND Handle() const { return hwnd_; }
    void Post(std::function<void()> action) {
        action_ = std::move(action);
        ::PostMessageW(hwnd_, kRunAction, 0, 0);
    }
    bool Ran() const { return ran_; }
    int RunNotices() const { return runNotices_; }
    // Runs once when the stand-in camera's run notice comes in.
    std::function<void()> OnRunNotice;

private:
    static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
        if (msg == WM_NCCREATE) {
            auto* cs = reinterpret_cast<CREATESTRUCTW*>(lParam);
            ::SetWindowLongPtrW(hwnd, GWLP_USERDATA,
                                reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
        }
        auto* self = reinterpret_cast<ActionWindow*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (self && msg == kRunAction) {
            self->ran_ = true;
            if (self->action_) self->action_();
            return 0;
        }
        if (self && msg == vcam::kRunNoticeMessage) {
            ++self->runNotices_;
            if (auto action = std::exchange(self->OnRunNotice, nullptr)) action();
            return 0;
        }
        return ::DefWindowProcW(hwnd, msg, wParam, lParam);
    }

    HWND hwnd_ = nullptr;
    std::function<void()> action_;
    bool ran_ = false;
    int runNotices_ = 0;
};

// Position of the first event named e, or -1.
int At(const std::vector<std::string>& events, const std::string& e) {
    auto it = std::find(events.begin(), events.end(), e);
    return it == events.end() ? -1 : static_cast<int>(it - events.begin());
}

}  // namespace

// A device choice from a message while the recording graph is built (the video window's
// attach services the queue) is made once the start is over: the recording starts on the
// graph it was built on, then the choice ends it with a finished file.
TEST_F(ReentrancyTest, DeviceChoiceDuringTheRecordingBuildIsMadeAfterTheStart) {
    TempFolder dir{L"reent"};
    for (const bool reopen : {false, true}) {
        SCOPED_TRACE(reopen ? "reopened" : "closed");
        ASSERT_TRUE(SelectCamera());
        const int camera = IndexOf(cap->VideoDeviceNames(false), vcam::kCameraName);
        cap->VideoFileName = dir.Path() + (reopen ? L"reopen_.avi" : L"close_.avi");
        ActionWindow probe;
        probe.Post([&] { cap->SelectDevices(reopen ? camera : -1, -1); });
        ClearEvents();
        EXPECT_TRUE(cap->StartCapture());
        EXPECT_TRUE(probe.Ran());
        EXPECT_FALSE(cap->Capturing());
        const auto events = Events();
        ASSERT_NE(At(events, "StartCapture"), -1);
        EXPECT_LT(At(events, "StartCapture"), At(events, "StopCapture"));
        if (reopen) {
            EXPECT_LT(At(events, "StopCapture"), At(events, "ChangeDevice"));
        }
        EXPECT_EQ(ControlProbe::VideoCaptureFilter(*cap) != nullptr, reopen);
        EXPECT_TRUE(ProbeMedia(cap->CaptureFileName()).ran);
    }
}

// StopCapture while the start still waits (for the video window's attach, for the camera
// to run) ends that start: nothing was recorded, so nothing is reported and no file is
// left, and the preview there was before comes back.
TEST_F(ReentrancyTest, StopCaptureDuringTheStartEndsItWithoutARecording) {
    TempFolder dir{L"reent"};
    ActionWindow probe;
    config.SetDword(vcam::kValueRunNoticeWindow,
                    static_cast<DWORD>(reinterpret_cast<uintptr_t>(probe.Handle())));
    ASSERT_TRUE(SelectCamera());
    cap->VideoFileName = dir.Path() + L"video_kv_.wmv";
    for (const bool inTheCameraWait : {false, true}) {
        SCOPED_TRACE(inTheCameraWait ? "waiting for the camera" : "attaching the window");
        ASSERT_TRUE(cap->Previewing() || cap->StartPreview());
        bool starting = false, stopped = false;
        const auto stop = [&] {
            starting = cap->StartingCapture();
            stopped = cap->StopCapture();
        };
        if (inTheCameraWait)
            probe.OnRunNotice = stop;
        else
            probe.Post(stop);
        ClearEvents();
        EXPECT_FALSE(cap->StartCapture());
        EXPECT_TRUE(starting);
        EXPECT_TRUE(stopped);
        EXPECT_FALSE(cap->StartingCapture());
        EXPECT_FALSE(cap->Capturing());
        EXPECT_EQ(Events(), (std::vector<std::string>{"StopPreview", "StartPreview"}));
        EXPECT_TRUE(cap->Previewing());
        EXPECT_TRUE(dir.Names().empty());
        EXPECT_TRUE(WaitFrames(frames.load() + 2));
    }
}

// A device change from a message while the preview graph is built waits for the build:
// the build completes on the graph it started with, and the change then stops the
// preview and opens the device again, reported in that order.
TEST_F(ReentrancyTest, DeviceChangeDuringThePreviewBuildIsMadeAfterIt) {
    ASSERT_TRUE(SelectCamera());
    const int camera = IndexOf(cap->VideoDeviceNames(false), vcam::kCameraName);
    ActionWindow probe;
    probe.Post([&] { cap->SelectDevices(camera, -1); });
    ClearEvents();
    EXPECT_TRUE(cap->StartPreview());
    EXPECT_TRUE(probe.Ran());
    auto events = Events();
    EXPECT_TRUE(Errors().empty());
    ASSERT_NE(At(events, "StartPreview"), -1);
    EXPECT_LT(At(events, "StartPreview"), At(events, "StopPreview"));
    EXPECT_LT(At(events, "StopPreview"), At(events, "ChangeDevice"));
    EXPECT_FALSE(cap->Previewing());
    // The camera was opened again into a graph of its own alone.
    EXPECT_EQ(FilterNames().size(), 1u);

    // The newly opened camera builds and shows frames like any other.
    const uint32_t before = frames.load();
    ASSERT_TRUE(cap->StartPreview());
    EXPECT_EQ(CountFilters(vcam::CLSID_OrvixTestCamera), 1);
    EXPECT_EQ(CountFilters(CLSID_VideoRenderer), 1);
    EXPECT_TRUE(WaitFrames(before + 2));
}

// Closing the devices from a message during the build releases nothing under it.
TEST_F(ReentrancyTest, ClosingTheDevicesDuringThePreviewBuildIsMadeAfterIt) {
    ASSERT_TRUE(SelectCamera());
    ActionWindow probe;
    probe.Post([&] { cap->SelectDevices(-1, -1); });
    ClearEvents();
    EXPECT_TRUE(cap->StartPreview());
    EXPECT_TRUE(probe.Ran());
    EXPECT_TRUE(Errors().empty());
    EXPECT_EQ(Events(),
              (std::vector<std::string>{"VideoFormatChange", "StartPreview", "StopPreview"}));
    EXPECT_EQ(ControlProbe::VideoCaptureFilter(*cap), nullptr);
    EXPECT_FALSE(cap->StartPreview());
}

// A recording asked for while the preview graph is built is refused: the build is not torn
// down beneath itself and the preview runs.
TEST_F(ReentrancyTest, RecordingStartDuringThePreviewBuildIsRefused) {
    ASSERT_TRUE(SelectCamera());
    ActionWindow probe;
    bool started = true;
    probe.Post([&] { started = cap->StartCapture(); });
    ASSERT_TRUE(cap->StartPreview());
    ASSERT_TRUE(probe.Ran());
    EXPECT_FALSE(started);
    EXPECT_FALSE(cap->Capturing());
    EXPECT_TRUE(cap->Previewing());
    EXPECT_TRUE(WaitFrames(frames.load() + 2));
}

// The device enumeration inside a device choice services the queue: a second choice from
// a message meanwhile is made after the first, so only one camera instance is in the graph.
TEST_F(ReentrancyTest, DeviceChoiceDuringTheEnumerationIsMadeAfterIt) {
    const int camera = IndexOf(cap->VideoDeviceNames(false), vcam::kCameraName);
    ASSERT_GE(camera, 0);
    ActionWindow probe;
    probe.Post([&] { cap->SelectDevices(camera, -1); });
    ClearEvents();
    cap->SelectDevices(camera, -1);
    EXPECT_TRUE(probe.Ran());
    EXPECT_EQ(Events(), (std::vector<std::string>{"ChangeDevice", "ChangeDevice"}));
    EXPECT_EQ(CountFilters(vcam::CLSID_OrvixTestCamera), 1);
    ASSERT_TRUE(cap->StartPreview());
    EXPECT_TRUE(WaitFrames(frames.load() + 2));
}

// A camera that needs this thread to answer while it starts (a message sent to a window
// here) runs: the wait for it keeps sent messages flowing.
TEST_F(ReentrancyTest, CameraThatSendsToTheWindowThreadDuringItsStartRuns) {
    ActionWindow probe;
    config.SetDword(vcam::kValueRunNoticeWindow,
                    static_cast<DWORD>(reinterpret_cast<uintptr_t>(probe.Handle())));
    ASSERT_TRUE(SelectCamera());
    ClearEvents();
    EXPECT_TRUE(cap->StartPreview());
    EXPECT_TRUE(Errors().empty()) << Errors().front();
    EXPECT_GE(probe.RunNotices(), 1);
    EXPECT_TRUE(WaitFrames(frames.load() + 2));
}

// A device change that a message sent during that wait asks for is made once the start is
// over: the camera that is starting is not released under its own start.
TEST_F(ReentrancyTest, DeviceChangeSentDuringTheWaitForTheCameraIsMadeAfterTheStart) {
    ActionWindow probe;
    config.SetDword(vcam::kValueRunNoticeWindow,
                    static_cast<DWORD>(reinterpret_cast<uintptr_t>(probe.Handle())));
    ASSERT_TRUE(SelectCamera());
    const int camera = IndexOf(cap->VideoDeviceNames(false), vcam::kCameraName);
    bool changedInside = false;
    probe.OnRunNotice = [&] {
        cap->SelectDevices(camera, -1);
        changedInside = At(Events(), "ChangeDevice") != -1;
    };
    ClearEvents();
    EXPECT_TRUE(cap->StartPreview());
    EXPECT_GE(probe.RunNotices(), 1);
    EXPECT_FALSE(changedInside);
    const auto events = Events();
    EXPECT_TRUE(Errors().empty());
    ASSERT_NE(At(events, "StartPreview"), -1);
    EXPECT_LT(At(events, "StartPreview"), At(events, "StopPreview"));
    EXPECT_LT(At(events, "StopPreview"), At(events, "ChangeDevice"));
    EXPECT_EQ(CountFilters(vcam::CLSID_OrvixTestCamera), 1);
}

// A device change while a device's property frame is open is made once the frame is
// closed, not under the dialog.
TEST_F(ReentrancyTest, DeviceChangeInsideADeviceDialogIsMadeAfterTheDialog) {
    ASSERT_TRUE(SelectCamera());
    static TGDirectCapPin2* target;
    static int camera;
    static bool changedInside;
    static bool changeAsked;
    target = cap;
    camera = IndexOf(cap->VideoDeviceNames(false), vcam::kCameraName);
    changedInside = false;
    changeAsked = false;
    static std::function<bool()> changed;
    changed = [this] { return At(Events(), "ChangeDevice") != -1; };
    ClearEvents();
    // The property frame is modal: a timer on this thread asks for the change inside it,
    // then closes it.
    const UINT_PTR timer = ::SetTimer(nullptr, 0, 100, [](HWND, UINT, UINT_PTR, DWORD) CALLBACK {
        HWND w = testsupport::VisibleDialogOfThisThread();
        if (!w) return;
        if (!changeAsked) {
            changeAsked = true;
            target->SelectDevices(camera, -1);
            changedInside = changed();
        }
        ::PostMessageW(w, WM_COMMAND, IDCANCEL, 0);
    });
    cap->ShowDeviceOption(OptionVideoCaptureFilter);
    ::KillTimer(nullptr, timer);
    EXPECT_TRUE(changeAsked);
    EXPECT_FALSE(changedInside);
    EXPECT_TRUE(changed());
    EXPECT_EQ(CountFilters(vcam::CLSID_OrvixTestCamera), 1);
    ASSERT_TRUE(cap->StartPreview());
    EXPECT_TRUE(WaitFrames(frames.load() + 2));
}
