// The main window's commands: sensor switch, save folders in the file manager, help,
// and the picture's menu with the device dialogs.
#include "app/u_CamForm.h"

#include "capture/GDirectCapPin2.h"
#include "common/u_GlobalDefine.h"
#include "common/u_PathUtil.h"
#include "common/u_ResourceLib.h"
#include "ui/TntGButton.h"
#include "ui/u_Option.h"
#include "ui/u_SelectForm.h"

#include <shellapi.h>

#include <filesystem>
#include <system_error>

namespace {

// Creates the folder with its missing parents and shows it in the file manager. What
// the shell makes of it is not checked: the user sees the outcome.
void OpenFolder(const std::wstring& folder) {
    std::error_code ec;
    std::filesystem::create_directories(ExtendedPath(folder), ec);
    // Quoted for the blanks in folder names; a separator right before the closing quote
    // would escape it on the file manager's command line ("C:\a b\" reaches it as
    // C:\a b"), so it is left out, except for a drive's root, which has no blanks.
    std::wstring target = folder;
    const bool driveRoot = target.size() == 3 && target[1] == L':' && target[2] == L'\\';
    if (!driveRoot) {
        if (target.size() > 1 && target.back() == L'\\') target.pop_back();
        target = L"\"" + target + L"\"";
    }
    ShellExecuteW(nullptr, L"open", target.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

}  // namespace

std::wstring SettingsNotSavedText(DWORD error) {
    if (!GetText("T_SAVESETTING_ERR").empty()) return GetText("T_SAVESETTING_ERR");
    const std::wstring text = GetTextOr("T_SAVESETTING_ERR", error);
    const std::wstring file = AnsiToWide(SettingsFilePath());
    return text.empty() ? file : file + L"\r\n\r\n" + text;
}

void Tfrm_DADez::ConnectCommands() {
    gbForward->OnClick = [this] { gbForwardClick(); };
    gbBackward->OnClick = [this] { gbBackwardClick(); };
    gbOpenFolder->OnClick = [this] { gbOpenFolderClick(); };
    gbHelp->OnClick = [this] { gbHelpClick(); };
    pmCam->OnPopup = [this] { pmCamPopup(); };
    miVideoSource->OnClick = [this] { miVideoSourceClick(); };
    miVideoFormat->OnClick = [this] { miVideoFormatClick(); };
    miSaveFolder->OnClick = [this] { miSaveFolderClick(); };
}

void Tfrm_DADez::gbForwardClick() {
    if (IsRecording()) {
        ShowErrorBox(GetText("T_SWITCH_ERR"), GetText("T_CONFIRM"));
        return;
    }
    SelectForwardCamera();
}

void Tfrm_DADez::gbBackwardClick() {
    if (IsRecording()) {
        ShowErrorBox(GetText("T_SWITCH_ERR"), GetText("T_CONFIRM"));
        return;
    }
    SelectBackwardCamera();
}

void Tfrm_DADez::SelectForwardCamera() {
    if (TVMFilter* sensor = gcap->SensorFilter()) sensor->SelectSensor(1);
}

void Tfrm_DADez::SelectBackwardCamera() {
    if (TVMFilter* sensor = gcap->SensorFilter()) sensor->SelectSensor(2);
}

void Tfrm_DADez::gbOpenFolderClick() {
    // The camera is let go first, as the preview button does: the window shrinks to its
    // bar and the preview button offers to start the preview again.
    if (TwoSensorModel && IsPreviewing() && !IsRecording()) gbPreviewClick();
    OpenFolder(ImagePath);
    if (MoviePath != ImagePath) OpenFolder(MoviePath);
}

void Tfrm_DADez::gbHelpClick() { ShowHelp(); }

void Tfrm_DADez::pmCamPopup() {
    const bool recording = IsRecording();
    miVideoSource->Enabled = !recording;
    miVideoFormat->Enabled = !recording;
    miSaveFolder->Enabled = true;
}

void Tfrm_DADez::miVideoSourceClick() { ShowVideoSource(); }

void Tfrm_DADez::ShowVideoSource() { gcap->ShowVideoSourcePage(); }

void Tfrm_DADez::miVideoFormatClick() { SelectVideoFormat(); }

void Tfrm_DADez::SelectVideoFormat() {
    std::vector<std::string> video = gcap->VideoDeviceNames(true);
    if (video.empty()) VideoDeviceIndex = -1;
    std::vector<std::string> audio = gcap->AudioDeviceNames(false);
    if (audio.empty()) AudioDeviceIndex = -1;
    if (VideoDeviceIndex < 0 && AudioDeviceIndex < 0) return;

    const int32_t width = VideoWidth, height = VideoHeight;
    const int32_t videoIndex = VideoDeviceIndex, audioIndex = AudioDeviceIndex;
    // The dialog offers the sizes of the device this window's control has open.
    ShowSelectForm(std::move(video), std::move(audio), gcap->VideoSizeNames(), VideoWidth,
                   VideoHeight, VideoDeviceIndex, AudioDeviceIndex);
    if (width == VideoWidth && height == VideoHeight && videoIndex == VideoDeviceIndex &&
        audioIndex == AudioDeviceIndex)
        return;
    RunCameraSwitch([this] {
        EndPreview(false);
        BeginPreview();
    });
    UpdateButtons();
}

void Tfrm_DADez::miSaveFolderClick() {
    if (ShowOptionForm() != fw::mrOk) return;
    // The folders apply to this run whether or not they could be stored.
    const bool saved = SaveSettings();
    const DWORD error = GetLastError();
    gcap->ImageFileName = ImagePath + L"image_kv_.jpg";
    gcap->VideoFileName = MoviePath + L"video_kv_.wmv";
    if (!saved) ShowErrorBox(SettingsNotSavedText(error), GetText("T_CONFIRM"));
}
