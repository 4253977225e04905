// The main window's recording command: the record and stop buttons, the running time in
// the caption, and the stop when the recording folder's disk runs low.
#include "app/u_CamForm.h"

#include "capture/GDirectCapPin2.h"
#include "common/u_GlobalDefine.h"
#include "common/u_Log.h"
#include "common/u_PathUtil.h"
#include "common/u_ResourceLib.h"
#include "common/u_SysQuery.h"
#include "framework/Application.h"
#include "ui/TntGButton.h"

#include <cwctype>
#include <utility>

namespace {

// Below this many free bytes the recording is ended.
constexpr int64_t kRecordingFreeSpaceLimit = 10240000;

}  // namespace

int64_t RecordingFolderFreeBytes(const std::wstring& Folder) {
    if (Folder.size() >= 2 && Folder[1] == L':' && std::iswalpha(Folder[0]))
        return GetDriveFreeBytes(static_cast<char>(Folder[0]));
    // A folder without a drive letter (a network share, \\server\share\...) has no drive
    // to ask: its own free space is asked for instead.
    return GetFolderFreeBytes(Folder);
}

void Tfrm_DADez::gbRecordClick() {
    gbSnap->SetEnabled(false);
    RunCameraStep(TCameraStep::Record);
}

void Tfrm_DADez::BeginRecording() {
    fw::HourglassCursor wait;
    // While the recording starts: the stop button in the record button's place, not yet
    // taking clicks.
    gbRecord->SetVisible(false);
    gbRecord->SetEnabled(false);
    gbRecordOff->SetVisible(true);
    gbRecordOff->SetEnabled(false);
    KeepBarFocus();
    gcap->StopPreview();
    gcap->SetAudioFormat(44100, 1, 16);
    gcap->SetVideoFormat(320, 240, gcap->Requested().VideoFrameRate,
                         static_cast<int16_t>(gcap->Requested().VideoBitCount));
    gcap->SelectCompressors(VideoCompressorIndex, AudioCompressorIndex);
    if (!gcap->StartCapture()) {
        // Ended by the end of the session while it waited for the camera: nothing to show.
        if (released_) return;
        // Nothing is recorded (no Windows Media writer, a camera that will not run): the
        // window must not claim otherwise.
        ShowNotRecording(true);
        Tell(GetTextOr("T_RECORD_ERR", ERROR_OPEN_FAILED));
        return;
    }
    RecordSeconds = 0;
    ShowRecordingTime();
    tmrChkSpace->SetEnabled(true);
}

void Tfrm_DADez::gcapStartCapture() {
    Log("recording", "started: " + ToUtf8(gcap->CaptureFileName()));
    ShowState(false);
}

void Tfrm_DADez::gcapCaptureProgress(uint32_t Sec) {
    RecordSeconds = Sec;
    ShowRecordingTime();
}

void Tfrm_DADez::ShowRecordingTime() {
    CaptionStatus = GetText("T_RECORDING") + L" " + AnsiToWide(SecondsToTimeText(RecordSeconds));
    captionShowsRecording_ = true;
    SetCaption(ComposeCaption(Handle(), GetText("APP_TITLE"), CaptionStatus));
}

void Tfrm_DADez::gbRecordOffClick() { RunCameraStep(TCameraStep::StopRecording); }

void Tfrm_DADez::EndRecording(bool RestartPreview) {
    fw::HourglassCursor wait;
    tmrChkSpace->SetEnabled(false);
    endingRecording_ = true;
    gcap->StopCapture();
    endingRecording_ = false;
    if (RestartPreview) {
        gcap->SelectDevices(VideoDeviceIndex, AudioDeviceIndex);
        gcap->SetVideoFormat(VideoWidth, VideoHeight, gcap->Requested().VideoFrameRate,
                             static_cast<int16_t>(gcap->Requested().VideoBitCount));
        gcap->StartPreview();
    }
}

void Tfrm_DADez::gcapStopCapture() {
    WIN32_FILE_ATTRIBUTE_DATA file{};
    const std::wstring name = gcap->CaptureFileName();
    const uint64_t bytes =
        GetFileAttributesExW(ExtendedPath(name).c_str(), GetFileExInfoStandard, &file)
            ? (uint64_t{file.nFileSizeHigh} << 32) | file.nFileSizeLow
            : 0;
    Log("recording", "ended: " + ToUtf8(name) + ", " + std::to_string(bytes) + " bytes");
    captionShowsRecording_ = false;
    CaptionStatus.clear();
    SetCaption(GetText("APP_TITLE"));
    ShowState(false);
    // Ended by the control itself (the camera lost, an aborted graph, its time limit): the
    // window follows once the control's own handling is over.
    if (!endingRecording_ && !recordingEndedByControl_) {
        recordingEndedByControl_ = true;
        PostMessageW(Handle(), kRecordingEndedMessage, 0, 0);
    }
}

void Tfrm_DADez::RecordingEnded() {
    if (!recordingEndedByControl_) return;
    recordingEndedByControl_ = false;
    const bool aborted = std::exchange(recordingAborted_, false);
    if (IsRecording()) return;
    // A lost camera is not asked for again here: it cannot run until it is back, and the
    // loss's one box says that the recording ended with it.
    ShowNotRecording(!cameraGone_);
    if (aborted && !cameraGone_) Tell(GetTextOr("T_RECORD_ABORT", ERROR_GEN_FAILURE));
}

void Tfrm_DADez::ShowNotRecording(bool RestartPreview) {
    fw::HourglassCursor wait;
    tmrChkSpace->SetEnabled(false);
    // The control may have brought its preview back at the recording's frame size.
    if (RestartPreview && (!IsPreviewing() || gcap->Requested().FrameWidth != VideoWidth ||
                           gcap->Requested().FrameHeight != VideoHeight)) {
        gcap->StopPreview();
        gcap->SelectDevices(VideoDeviceIndex, AudioDeviceIndex);
        gcap->SetVideoFormat(VideoWidth, VideoHeight, gcap->Requested().VideoFrameRate,
                             static_cast<int16_t>(gcap->Requested().VideoBitCount));
        gcap->StartPreview();
    }
}

void Tfrm_DADez::tmrChkSpaceTimer() {
    tmrChkSpace->SetEnabled(false);
    RunCameraStep(TCameraStep::LowSpace);
}

void Tfrm_DADez::CheckRecordingSpace() {
    if (!IsRecording()) return;
    // The folder of the file being written: the save folders may be changed meanwhile.
    const std::wstring& file = gcap->CaptureFileName();
    const size_t slash = file.find_last_of(L"\\/");
    const std::wstring folder = slash == std::wstring::npos ? MoviePath : file.substr(0, slash + 1);
    if (RecordingFolderFreeBytes(folder) >= kRecordingFreeSpaceLimit) {
        tmrChkSpace->SetEnabled(true);
        return;
    }
    // Ended as the stop button ends it: the part written stays, the preview comes back.
    EndRecording(true);
    Tell(GetTextOr("T_NO_FREESPACE", ERROR_DISK_FULL));
}
