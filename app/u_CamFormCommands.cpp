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
void OpenFolder(const std::wstring& Folder) {
    std::error_code ec;
    std::filesystem::create_directories(ExtendedPath(Folder), ec);
    // Quoted for the blanks in folder names; a separator right before the closing quote
    // would escape it on the file manager's command line ("C:\a b\" reaches it as
    // C:\a b"), so it is left out, except for a drive's root, which has no blanks.
    std::wstring target = Folder;
    const bool driveRoot = target.size() == 3 && target[1] == L':' && target[2] == L'\\';
    if (!driveRoot) {
        if (target.size() > 1 && target.back() == L'\\') target.pop_back();
        target = L"\"" + target + L"\"";
    }
    ShellExecuteW(nullptr, L"open", target.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

}  // namespace

std::wstring SettingsNotSavedText(DWORD Error) {
    if (!GetText("T_SAVESETTING_ERR").empty()) return GetText("T_SAVESETTING_ERR");
    const std::wstring text = GetTextOr("T_SAVESETTING_ERR", Error);
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

void Tfrm_DADez::gbForwardClick() { RunCameraStep(TCameraStep::Forward); }

void Tfrm_DADez::gbBackwardClick() { RunCameraStep(TCameraStep::Backward); }

void Tfrm_DADez::SelectForwardCamera() {
    if (TVMFilter* sensor = gcap->SensorFilter()) sensor->SelectSensor(1);
}

void Tfrm_DADez::SelectBackwardCamera() {
    if (TVMFilter* sensor = gcap->SensorFilter()) sensor->SelectSensor(2);
}

void Tfrm_DADez::gbOpenFolderClick() {
    // The camera is let go first, as the preview button does: the window shrinks to its
    // bar and the preview button offers to start the preview again.
    if (TwoSensorModel && IsPreviewing() && !IsRecording())
        RunCameraStep(TCameraStep::PreviewSwitch);
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

// The source dialog may rebuild the graph: it is a camera step of its own.
void Tfrm_DADez::miVideoSourceClick() { RunCameraStep(TCameraStep::SourcePage); }

void Tfrm_DADez::ShowVideoSource() { gcap->ShowVideoSourcePage(); }

// The dialog runs inside its step: the camera's return check and the busy camera's retry
// wait until it is closed, so that nothing it shows or changes is out of date.
void Tfrm_DADez::miVideoFormatClick() { RunCameraStep(TCameraStep::FormatChange); }

void Tfrm_DADez::SelectVideoFormat() {
    std::vector<std::string> video = gcap->VideoDeviceNames(true);
    std::vector<std::string> audio = gcap->AudioDeviceNames(false);
    if (audio.empty()) AudioDeviceIndex = -1;
    // A camera that is not there keeps its place: Cancel must not forget it.
    const int32_t shownVideo = video.empty() ? -1 : VideoDeviceIndex;
    if (shownVideo < 0 && AudioDeviceIndex < 0) return;

    int32_t width = VideoWidth, height = VideoHeight;
    int32_t videoIndex = shownVideo, audioIndex = AudioDeviceIndex;
    const std::vector<std::string> names = video;
    // The dialog offers the sizes of the device this window's control has open.
    ShowSelectForm(std::move(video), std::move(audio), gcap->VideoSizeNames(), width, height,
                   videoIndex, audioIndex);
    if (width == VideoWidth && height == VideoHeight && videoIndex == shownVideo &&
        audioIndex == AudioDeviceIndex)
        return;
    VideoWidth = width;
    VideoHeight = height;
    AudioDeviceIndex = audioIndex;
    if (videoIndex >= 0) {
        VideoDeviceIndex = videoIndex;
        // Another camera chosen while the last one is gone: that one is opened now.
        if (cameraGone_ && static_cast<size_t>(videoIndex) < names.size() &&
            names[static_cast<size_t>(videoIndex)] != cameraName_) {
            cameraGone_ = false;
            tmrCamReturn->SetEnabled(false);
        }
    }
    previewWanted_ = true;
    // A camera still gone opens at the new size when it is back.
    if (cameraGone_) return;
    EndPreview(false);
    BeginPreview();
}

void Tfrm_DADez::miSaveFolderClick() {
    int result = 0;
    RunDialog([&result] { result = ShowOptionForm(); });
    if (result != fw::mrOk) return;
    // The folders apply to this run whether or not they could be stored.
    const bool saved = SaveSettings();
    const DWORD error = GetLastError();
    gcap->ImageFileName = ImagePath + L"image_kv_.jpg";
    gcap->VideoFileName = MoviePath + L"video_kv_.wmv";
    if (!saved) Tell(SettingsNotSavedText(error));
}
