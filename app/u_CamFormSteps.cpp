// The main window's camera steps, one at a time: whatever opens, closes or switches the
// camera or starts or ends a recording. The capture control services the message queue
// while it waits, and boxes and dialogs run their own loops, so clicks, timers and device
// or power notices can arrive in the middle of a step; they wait and run after it.
#include "app/u_CamForm.h"

#include "capture/GDirectCapPin2.h"
#include "common/u_GlobalDefine.h"
#include "common/u_Log.h"
#include "common/u_ResourceLib.h"

#include <algorithm>

bool Tfrm_DADez::StepsIdle() const {
    return heldSteps_.empty() && !stepRunning_ && modalDepth_ == 0 && waitingTexts_.empty() &&
           !gcap->Busy();
}

bool Tfrm_DADez::CanRunNow(TCameraStep Step) const {
    if (stepRunning_ || gcap->Busy()) return false;
    // A recording's own watch and a suspend do not wait for a box: a disk that fills up
    // still stops the recording, and the file is finished before the computer sleeps.
    if (modalDepth_ > 0) return Step == TCameraStep::LowSpace || Step == TCameraStep::Suspend;
    return true;
}

void Tfrm_DADez::RunCameraStep(TCameraStep Step) {
    if (released_) return;
    if (!CanRunNow(Step)) {
        // Asked for twice meanwhile, it still runs once (a double click on a busy button).
        if (std::find(heldSteps_.begin(), heldSteps_.end(), Step) == heldSteps_.end())
            heldSteps_.push_back(Step);
        tmrSteps->SetEnabled(true);
        return;
    }
    stepRunning_ = true;
    runningStep_ = Step;
    CarryOut(Step);
    stepRunning_ = false;
    if (released_) return;
    ShowState();
    TellWaiting();
    if (!heldSteps_.empty() || closeWanted_) tmrSteps->SetEnabled(true);
}

void Tfrm_DADez::RunHeldSteps() {
    tmrSteps->SetEnabled(false);
    const auto runnable = std::find_if(heldSteps_.begin(), heldSteps_.end(),
                                       [this](TCameraStep S) { return CanRunNow(S); });
    if (runnable != heldSteps_.end()) {
        const TCameraStep step = *runnable;
        heldSteps_.erase(runnable);
        RunCameraStep(step);
    } else if (closeWanted_ && heldSteps_.empty() && !stepRunning_ && !gcap->Busy() &&
               modalDepth_ == 0) {
        closeWanted_ = false;
        PostMessageW(Handle(), WM_CLOSE, 0, 0);
    }
    if (!heldSteps_.empty() || closeWanted_) tmrSteps->SetEnabled(true);
}

void Tfrm_DADez::CarryOutCameraEvent(TCameraStep Step) {
    switch (Step) {
        case TCameraStep::Retry:
            CameraRetryCount += 1;
            if (CameraRetryCount > 3) CameraRetryCount = 0;
            // A gone camera comes back by its own check; a recording is not the busy
            // camera's (and no click of the user's): the series ends without a box.
            if (cameraGone_ || IsRecording()) {
                CameraRetryCount = 0;
                break;
            }
            if (!IsPreviewing()) SwitchPreview();
            break;
        case TCameraStep::ReturnCheck:
            if (cameraGone_ && !IsCameraActive() && !RestartLostCamera()) break;
            cameraGone_ = false;
            tmrCamReturn->SetEnabled(false);
            break;
        case TCameraStep::Lost:
            // The dead device goes, and with it the renderer's last frame: the picture area
            // shows no picture that is not coming.
            if (!cameraGone_) break;
            if (!IsCameraActive()) gcap->SelectDevices(-1, -1);
            Tell(GetTextOr(lossEndedRecording_ ? "T_RECORD_LOST" : "T_CAMERA_LOST",
                           ERROR_DEVICE_NOT_CONNECTED));
            lossEndedRecording_ = false;
            break;
        case TCameraStep::StreamError:
            // The control starts the preview again after a stream error; when that failed
            // too, the window tries once more and says so if the camera will not run.
            if (IsCameraActive() || cameraGone_ || !previewWanted_) break;
            CameraRetryCount = 0;
            BeginPreview();
            break;
        default:
            break;
    }
}

void Tfrm_DADez::CarryOut(TCameraStep Step) {
    switch (Step) {
        case TCameraStep::Start:
            LogDevices();
            BeginPreview();
            startedOnce_ = true;
            break;
        case TCameraStep::PreviewSwitch:
            SwitchPreview();
            break;
        case TCameraStep::Retry:
        case TCameraStep::ReturnCheck:
        case TCameraStep::Lost:
        case TCameraStep::StreamError:
            CarryOutCameraEvent(Step);
            break;
        case TCameraStep::FormatChange:
            SelectVideoFormat();
            break;
        case TCameraStep::SourcePage:
            ShowVideoSource();
            break;
        case TCameraStep::Forward:
        case TCameraStep::Backward:
            if (IsRecording())
                Tell(GetTextOr("T_SWITCH_ERR", ERROR_BUSY));
            else if (Step == TCameraStep::Forward)
                SelectForwardCamera();
            else
                SelectBackwardCamera();
            break;
        case TCameraStep::Record:
            // Held behind a step that stopped the picture: nothing to record any more.
            if (!IsRecording() && IsPreviewing() && !cameraGone_) BeginRecording();
            break;
        case TCameraStep::StopRecording:
            if (IsRecording()) EndRecording(true);
            break;
        case TCameraStep::RecordingEnded:
            RecordingEnded();
            break;
        case TCameraStep::LowSpace:
            CheckRecordingSpace();
            break;
        case TCameraStep::Suspend:
            if (IsRecording()) EndRecording(false);
            if (IsPreviewing()) SwitchPreview();
            break;
    }
}

void Tfrm_DADez::RunDialog(const std::function<void()>& Dialog) {
    ++modalDepth_;
    Dialog();
    --modalDepth_;
    if (!heldSteps_.empty() || closeWanted_) tmrSteps->SetEnabled(true);
}

void Tfrm_DADez::Tell(const std::wstring& Text) {
    if (Text == shownText_ ||
        std::find(waitingTexts_.begin(), waitingTexts_.end(), Text) != waitingTexts_.end())
        return;
    waitingTexts_.push_back(Text);
    // What the user was told, in the user's words, beside the reasons logged before it.
    Log("told", ToUtf8(Text));
    TellWaiting();
}

void Tfrm_DADez::TellWaiting() {
    if (telling_ || stepRunning_) return;
    telling_ = true;
    while (!waitingTexts_.empty()) {
        shownText_ = waitingTexts_.front();
        waitingTexts_.erase(waitingTexts_.begin());
        RunDialog([this] { ShowErrorBox(shownText_, GetText("T_CONFIRM")); });
        shownText_.clear();
    }
    telling_ = false;
}

void Tfrm_DADez::LogDevices() {
    const auto list = [](const std::vector<std::string>& Names) {
        std::string text;
        for (const std::string& name : Names) text += (text.empty() ? "" : ", ") + AnsiToUtf8(name);
        return text.empty() ? std::string("none") : text;
    };
    Log("devices", "cameras: " + list(gcap->VideoDeviceNames(false)) +
                       "; microphones: " + list(gcap->AudioDeviceNames(false)));
}
