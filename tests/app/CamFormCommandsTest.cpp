// The main window's commands with the stand-in camera, driven with real clicks and keys:
// sensor buttons, open folders, help, and the picture's menu with its two dialogs.
#include "MainWindowFixture.h"
#include "capture/GDirectCapPin2.h"
#include "common/u_GlobalDefine.h"
#include "common/u_PathUtil.h"
#include "common/u_ResourceLib.h"
#include "framework/Application.h"
#include "standins/vcam/VCamConfig.h"
#include "tests/capture/ControlProbe.h"
#include "tests/support/Input.h"
#include "tests/support/MessageBoxes.h"
#include "tests/support/ScreenPixels.h"
#include "tests/support/TestPaths.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/TntGButton.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <vector>

using namespace uitest;
using testsupport::PumpUntil;
using testsupport::WaitUntil;

namespace {

std::wstring SensorId() {
    wchar_t value[32] = {};
    DWORD size = sizeof(value);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, SensorKeyPath, SensorValueName, RRF_RT_REG_SZ, nullptr,
                     value, &size) != ERROR_SUCCESS)
        return L"";
    return value;
}

// The visible top-level windows of this process, for a failure's message.
std::string WindowsShown() {
    std::string out;
    for (HWND h : testsupport::VisibleWindowsOf(GetCurrentProcessId())) {
        wchar_t title[128] = {}, cls[64] = {};
        GetWindowTextW(h, title, 128);
        GetClassNameW(h, cls, 64);
        out += "[" + WideToAnsi(cls) + " \"" + WideToAnsi(title) + "\"" +
               (h == GetForegroundWindow() ? " foreground" : "") + "] ";
    }
    return out;
}

class CamFormCommands : public apptest::MainWindowTest {
protected:
    void SetUp() override {
        CreateMainWindow(Texts::English);
        form->gcap->OnStartPreview = [this] { ++previewStarts; };
        ShowAndStart();
    }

    // A real click on a control of the window, from the test thread.
    void ClickControl(fw::Control* c) {
        const RECT r = c->BoundsRect();
        POINT p{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
        ClientToScreen(wnd, &p);
        ClickAt(p.x, p.y);
    }

    // Right-clicks the picture and picks the menu entry at Position (1 = first).
    void PickFromPictureMenu(int position) {
        RECT r{};
        GetWindowRect(form->gcap->Handle(), &r);
        testsupport::SendClick((r.left + r.right) / 2, (r.top + r.bottom) / 2, true);
        HWND menu = nullptr;
        ASSERT_TRUE(WaitUntil([&] {
            menu = FindWindowW(L"#32768", nullptr);
            return menu && IsWindowVisible(menu);
        })) << "the menu did not open";
        // Clicked on the item: the menu opens under the pointer, and on a busy machine a
        // late report of the pointer's earlier place can pick another item under the keys.
        const auto items = reinterpret_cast<HMENU>(SendMessageW(menu, MN_GETHMENU, 0, 0));
        const int count = GetMenuItemCount(items);
        int wanted = -1;
        for (int i = 0, n = 0; i < count && wanted < 0; ++i)
            if (!(GetMenuState(items, i, MF_BYPOSITION) & MF_SEPARATOR) && ++n == position)
                wanted = i;
        ASSERT_GE(wanted, 0) << "the menu has no entry " << position;
        RECT item{};
        ASSERT_TRUE(GetMenuItemRect(nullptr, items, static_cast<UINT>(wanted), &item));
        testsupport::SendClick((item.left + item.right) / 2, (item.top + item.bottom) / 2);
    }

    // Runs Script as the user while the test thread services the window's messages.
    void AsUser(const std::function<void()>& script) {
        std::atomic<bool> finished{false};
        const DWORD thread = GetCurrentThreadId();
        RunWithUser([&] { PumpUntil([&] { return finished.load(); }, 60000); },
                    [&] {
                        script();
                        finished = true;
                        PostThreadMessageW(thread, WM_NULL, 0, 0);  // wakes the waiting loop
                    });
    }

    int previewStarts = 0;
};

}  // namespace

TEST_F(CamFormCommands, SensorButtonsSwitchThePictureAndStoreTheSensor) {
    auto forwardPicture = [&] {
        const testsupport::Rgb m = testsupport::ScreenMean(wnd, form->gcap->BoundsRect());
        return m.b > m.r + 60;
    };
    auto backwardPicture = [&] {
        const testsupport::Rgb m = testsupport::ScreenMean(wnd, form->gcap->BoundsRect());
        return m.r > m.b + 60;
    };
    ClickControl(form->gbForward);
    ASSERT_TRUE(PumpUntil(forwardPicture, 15000)) << "not the forward picture";
    EXPECT_EQ(SensorId(), L"1");
    const int starts = previewStarts;

    ClickControl(form->gbBackward);
    EXPECT_TRUE(PumpUntil(backwardPicture, 15000))
        << "the picture did not switch to the backward sensor";
    EXPECT_EQ(SensorId(), L"2");
    EXPECT_EQ(testsupport::CameraConfig::ReadDword(vcam::kValueLastSensor, 0), 2u);

    ClickControl(form->gbForward);
    EXPECT_TRUE(PumpUntil(forwardPicture, 15000));
    EXPECT_EQ(SensorId(), L"1");
    // The switch neither stops nor restarts the preview.
    EXPECT_TRUE(form->IsPreviewing());
    EXPECT_EQ(previewStarts, starts);
}

TEST_F(CamFormCommands, OpenFolderStopsThePreviewAndCreatesTheFolders) {
    const std::string pictures = folder.AnsiPath() + "new\\pictures\\";
    const std::string clips = folder.AnsiPath() + "new\\clips\\";
    ImagePath = AnsiToWide(pictures);
    MoviePath = AnsiToWide(clips);
    ClickControl(form->gbOpenFolder);
    ASSERT_TRUE(PumpUntil([&] { return !form->IsPreviewing(); }, 15000));
    EXPECT_TRUE(
        PumpUntil([&] { return DirectoryExists(pictures) && DirectoryExists(clips); }, 15000));
    // The two file managers are closed again, and their processes waited for: left
    // running, they would cover the windows later tests click and keep the foreground.
    for (const wchar_t* tag : {L"pictures", L"clips"}) {
        EXPECT_TRUE(PumpUntil([&] { return OtherWindowsTitled(tag).size() >= 1u; }, 30000))
            << "no file manager for " << WideToAnsi(tag);
        const std::vector<DWORD> pids = CloseOtherWindowsTitled(tag);
        EXPECT_TRUE(PumpUntil([&] { return OtherWindowsTitled(tag).size() == 0u; }, 15000));
        EXPECT_TRUE(ProcessesEnded(pids)) << "a file manager stayed running";
    }
    // Stopped as the preview button stops it (whose collapse to the bar MainWindowTest shows).
    EXPECT_EQ(form->gbPreview->Hint, GetText("T_PREVIEW"));
    EXPECT_FALSE(form->gbSnap->Enabled());
}

TEST_F(CamFormCommands, HelpWithoutItsFileSaysSoForTheButtonAndF1) {
    ASSERT_FALSE(FileExists(GetHelpFilePath()));
    std::wstring first, second;
    AsUser([&] {
        POINT p{form->gbHelp->Left() + form->gbHelp->Width() / 2,
                form->gbHelp->Top() + form->gbHelp->Height() / 2};
        ClientToScreen(wnd, &p);
        ClickAt(p.x, p.y);
        first = AnswerMessageBox();
        SetForegroundWindow(wnd);
        ASSERT_TRUE(WaitUntil([&] { return GetForegroundWindow() == wnd; }))
            << "the window did not come back to the front for the key";
        PressKey(VK_F1);
        second = AnswerMessageBox();
    });
    EXPECT_EQ(first, GetText("T_NO_HELPFILE"));
    EXPECT_EQ(second, GetText("T_NO_HELPFILE"));
}

TEST_F(CamFormCommands, CancelledSaveFolderDialogChangesNothing) {
    const std::string ini = SettingsFilePath();
    const std::string content =
        "[Option]\r\nImageFolder=" + WideToAnsi(ImagePath) + "\r\n; kept\r\n";
    std::ofstream(ini, std::ios::binary) << content;
    const std::wstring imageName = form->gcap->ImageFileName, videoName = form->gcap->VideoFileName;
    const std::string other = folder.MakeFolder("other");
    AsUser([&] {
        PickFromPictureMenu(3);  // Video Source, Video Format, Save Folder
        HWND f = WaitForActiveForm(GetText("T_FOLDER_SETTING"));
        ASSERT_TRUE(f) << "the save-folder dialog did not open: " << WindowsShown();
        HWND field = ChildWindowFromPointEx(f, POINT{40, 80}, CWP_SKIPINVISIBLE);
        ReplaceEditText(field, AnsiToWide(other));
        Click(ChildWindowFromPointEx(f, POINT{280, 180}, CWP_SKIPINVISIBLE));
        EXPECT_TRUE(WaitWindowGone(f));
    });
    EXPECT_EQ(testsupport::FileBytes(ini), content);
    EXPECT_EQ(form->gcap->ImageFileName, imageName);
    EXPECT_EQ(form->gcap->VideoFileName, videoName);
}

TEST_F(CamFormCommands, AcceptedSaveFoldersAreStoredOrTheUserIsTold) {
    const std::string ini = SettingsFilePath();
    const std::string pictures = folder.MakeFolder("pictures");
    for (bool readOnly : {false, true}) {
        if (readOnly) {
            std::ofstream(ini, std::ios::binary) << "[Option]\r\n";
            SetFileAttributesA(ini.c_str(), FILE_ATTRIBUTE_READONLY);
        }
        const std::string before = testsupport::FileBytes(ini);
        std::wstring box;
        AsUser([&] {
            PickFromPictureMenu(3);
            HWND f = WaitForActiveForm(GetText("T_FOLDER_SETTING"));
            ASSERT_TRUE(f) << "the save-folder dialog did not open: " << WindowsShown();
            ReplaceEditText(ChildWindowFromPointEx(f, POINT{40, 80}, CWP_SKIPINVISIBLE),
                            AnsiToWide(pictures));
            Click(ChildWindowFromPointEx(f, POINT{200, 180}, CWP_SKIPINVISIBLE));
            EXPECT_TRUE(WaitWindowGone(f));
            if (readOnly) box = AnswerMessageBox();
        });
        // The folders apply to this run either way.
        EXPECT_EQ(ImagePath, AnsiToWide(pictures + "\\"));
        EXPECT_EQ(form->gcap->ImageFileName, AnsiToWide(pictures + "\\image_kv_.jpg"));
        EXPECT_EQ(form->gcap->VideoFileName, MoviePath + L"video_kv_.wmv");
        if (readOnly) {
            EXPECT_EQ(box, GetText("T_SAVESETTING_ERR"));
            EXPECT_EQ(testsupport::FileBytes(ini), before)
                << "a read-only settings file was changed";
            SetFileAttributesA(ini.c_str(), FILE_ATTRIBUTE_NORMAL);
        } else {
            const std::string stored = testsupport::FileBytes(ini);
            EXPECT_NE(stored.find("ImageFolder=" + pictures + "\\"), std::string::npos) << stored;
            EXPECT_NE(stored.find("MovieFolder=" + WideToAnsi(MoviePath)), std::string::npos)
                << stored;
        }
    }
}

TEST(SettingsNotSaved, OlderLanguageFilesFallBackToTheSystemsText) {
    FreeLanguageTexts();
    const std::wstring text = SettingsNotSavedText(ERROR_ACCESS_DENIED);
    EXPECT_NE(text.find(AnsiToWide(SettingsFilePath())), std::wstring::npos);
    EXPECT_GT(text.size(), SettingsFilePath().size() + 4) << "no description of the error";
}

TEST_F(CamFormCommands, DeviceDialogRestartsThePreviewOnlyForAChange) {
    const int starts = previewStarts;
    AsUser([&] {
        PickFromPictureMenu(2);
        HWND f = WaitForActiveForm(GetText("T_VIDEOFORMAT"));
        ASSERT_TRUE(f) << "the device dialog did not open";
        Click(
            ChildWindowFromPointEx(f, POINT{110, 205}, CWP_SKIPINVISIBLE));  // OK, nothing changed
        EXPECT_TRUE(WaitWindowGone(f));
    });
    EXPECT_EQ(previewStarts, starts) << "the same choice restarted the preview";
    EXPECT_TRUE(form->IsPreviewing());

    RECT before{};
    GetWindowRect(wnd, &before);
    AsUser([&] {
        PickFromPictureMenu(2);
        HWND f = WaitForActiveForm(GetText("T_VIDEOFORMAT"));
        ASSERT_TRUE(f);
        EXPECT_TRUE(
            ChooseInDropDown(ChildWindowFromPointEx(f, POINT{60, 47}, CWP_SKIPINVISIBLE), VK_HOME));
        Click(ChildWindowFromPointEx(f, POINT{110, 205}, CWP_SKIPINVISIBLE));
        EXPECT_TRUE(WaitWindowGone(f));
    });
    EXPECT_TRUE(PumpUntil([&] { return previewStarts > starts && form->IsPreviewing(); }, 15000));
    EXPECT_EQ(VideoWidth, 352);
    EXPECT_EQ(VideoHeight, 288);
    EXPECT_EQ(form->gcap->Requested().FrameWidth, 352);
    RECT rc{};
    GetClientRect(wnd, &rc);
    EXPECT_EQ(rc.right, 352);
    EXPECT_EQ(rc.bottom, 288 + form->Image_Back->Height());
    RECT after{};
    GetWindowRect(wnd, &after);
    // The window shrinks around its centre.
    EXPECT_NEAR((after.left + after.right) / 2, (before.left + before.right) / 2, 2);
}

TEST_F(CamFormCommands, OpenFolderShowsEachDistinctFolderOnce) {
    ImagePath = MoviePath = AnsiToWide(folder.AnsiPath() + "orvix_same_folder\\");
    ClickControl(form->gbOpenFolder);
    EXPECT_TRUE(
        PumpUntil([&] { return OtherWindowsTitled(L"orvix_same_folder").size() >= 1u; }, 30000));

    ImagePath = AnsiToWide(folder.AnsiPath() + "orvix_folder_one\\");
    MoviePath = AnsiToWide(folder.AnsiPath() + "orvix_folder_two\\");
    ClickControl(form->gbOpenFolder);
    EXPECT_TRUE(PumpUntil([&] { return OtherWindowsTitled(L"orvix_folder_").size() >= 2u; }, 30000))
        << "file-manager windows: " << OtherWindowsTitled(L"orvix_folder_").size();
    // The shell handles the requests in order: once the later folders are up, a second
    // window for the equal ones would be too.
    EXPECT_EQ(OtherWindowsTitled(L"orvix_same_folder").size(), 1u);
    EXPECT_EQ(OtherWindowsTitled(L"orvix_folder_one").size(), 1u);
    EXPECT_EQ(OtherWindowsTitled(L"orvix_folder_two").size(), 1u);
    // Later tests click where these windows would stand.
    for (const wchar_t* tag : {L"orvix_same_folder", L"orvix_folder_"}) {
        const std::vector<DWORD> pids = CloseOtherWindowsTitled(tag);
        EXPECT_TRUE(PumpUntil([&] { return OtherWindowsTitled(tag).size() == 0u; }, 15000));
        EXPECT_TRUE(ProcessesEnded(pids)) << "a file manager stayed running";
    }
}

TEST_F(CamFormCommands, HelpOpensTheLanguagesHelpFileInTheViewer) {
    const std::wstring staged = testsupport::TestBinDir() + L"..\\Orvix\\help\\Orvix_ENG_d.chm";
    ASSERT_TRUE(FileExists(staged)) << "no staged help file";
    folder.MakeFolder(L"help");
    ASSERT_TRUE(CopyFileW(staged.c_str(), AnsiToWide(GetHelpFilePath()).c_str(), FALSE));
    ClickControl(form->gbHelp);
    HWND viewer = nullptr;
    EXPECT_TRUE(PumpUntil(
        [&] {
            viewer = FindWindowW(L"HH Parent", nullptr);
            return viewer && IsWindowVisible(viewer);
        },
        30000))
        << "the help viewer did not open";
    if (viewer) {
        DWORD pid = 0;
        GetWindowThreadProcessId(viewer, &pid);
        PostMessageW(viewer, WM_CLOSE, 0, 0);
        EXPECT_TRUE(
            PumpUntil([&] { return !IsWindow(viewer) || !IsWindowVisible(viewer); }, 15000));
        EXPECT_TRUE(ProcessesEnded({pid})) << "the help viewer stayed running";
    }
}

namespace {

// A camera with an old driver's dialogs, whose format dialog cannot reconnect.
class CamFormDriverDialogs : public CamFormCommands {
protected:
    void SetUp() override {
        config.SetDword(vcam::kValueDriverDialogs, 1);
        config.SetDword(vcam::kValueFormatDialogResult, static_cast<DWORD>(VFW_E_CANNOT_CONNECT));
        CamFormCommands::SetUp();
    }
};

// The width of the camera's capture output as connected now; 0 when unconnected.
LONG ConnectedWidth(IBaseFilter* camera) {
    Microsoft::WRL::ComPtr<IPin> pin;
    AM_MEDIA_TYPE mt{};
    if (!camera || FAILED(camera->FindPin(vcam::kCapturePinName, &pin)) ||
        FAILED(pin->ConnectionMediaType(&mt)))
        return 0;
    const LONG width = reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat)->bmiHeader.biWidth;
    CoTaskMemFree(mt.pbFormat);
    if (mt.pUnk) mt.pUnk->Release();
    return width;
}

}  // namespace

TEST_F(CamFormDriverDialogs,
       VideoSourceIsTheDriversDialogAndAFailedFormatDialogLeavesALivePicture) {
    AsUser([&] {
        PickFromPictureMenu(1);
        HWND d = WaitForActiveForm(vcam::kSourceDialogTitle);
        ASSERT_TRUE(d) << "the driver's source dialog did not open";
        PressKey(VK_RETURN);
        EXPECT_TRUE(WaitWindowGone(d));
    });
    EXPECT_TRUE(PumpUntil([&] { return form->IsPreviewing(); }, 15000));
    // The program has no menu entry for the driver's format dialog; the control shows it.
    RunWithUser([&] { form->gcap->ShowDeviceOption(OptionVideoFormat); },
                [&] {
                    HWND d = WaitForActiveForm(vcam::kFormatDialogTitle);
                    ASSERT_TRUE(d) << "the driver's format dialog did not open";
                    PressKey(VK_DOWN);  // from the window's 640 x 480 to 352 x 288
                    PressKey(VK_RETURN);
                    EXPECT_TRUE(WaitWindowGone(d));
                });
    EXPECT_TRUE(form->IsPreviewing());
    // A graph built anew: the camera runs connected at the size chosen.
    EXPECT_EQ(ConnectedWidth(captest::ControlProbe::VideoCaptureFilter(*form->gcap)), 352);
    EXPECT_TRUE(PictureShowsCamera()) << "no live picture after the format dialog";
}
