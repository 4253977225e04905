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
    return HeldSteps_.empty() && !StepRunning_ && ModalDepth_ == 0 && WaitingTexts_.empty() &&
           !gcap->Busy();
}

bool Tfrm_DADez::CanRunNow(CameraStep step) const {
    if (StepRunning_ || gcap->Busy()) return false;
    // A recording's own watch and a suspend do not wait for a box: a disk that fills up
    // still stops the recording, and the file is finished before the computer sleeps.
    if (ModalDepth_ > 0) return step == CameraStep::LowSpace || step == CameraStep::Suspend;
    return true;
}

void Tfrm_DADez::RunCameraStep(CameraStep step) {
    if (Released_) return;
    if (!CanRunNow(step)) {
        // Asked for twice meanwhile, it still runs once (a double click on a busy button).
        if (std::find(HeldSteps_.begin(), HeldSteps_.end(), step) == HeldSteps_.end())
            HeldSteps_.push_back(step);
        tmrSteps->SetEnabled(true);
        return;
    }
    StepRunning_ = true;
    RunningStep_ = step;
    CarryOut(step);
    StepRunning_ = false;
    if (Released_) return;
    ShowState();
    TellWaiting();
    if (!HeldSteps_.empty() || CloseWanted_) tmrSteps->SetEnabled(true);
}

void Tfrm_DADez::RunHeldSteps() {
    tmrSteps->SetEnabled(false);
    const auto runnable = std::find_if(HeldSteps_.begin(), HeldSteps_.end(),
                                       [this](CameraStep s) { return CanRunNow(s); });
    if (runnable != HeldSteps_.end()) {
        const CameraStep step = *runnable;
        HeldSteps_.erase(runnable);
        RunCameraStep(step);
    } else if (CloseWanted_ && HeldSteps_.empty() && !StepRunning_ && !gcap->Busy() &&
               ModalDepth_ == 0) {
        CloseWanted_ = false;
        PostMessageW(Handle(), WM_CLOSE, 0, 0);
    }
    if (!HeldSteps_.empty() || CloseWanted_) tmrSteps->SetEnabled(true);
}

void Tfrm_DADez::CarryOutCameraEvent(CameraStep step) {
    switch (step) {
        case CameraStep::Retry:
            CameraRetryCount += 1;
            if (CameraRetryCount > 3) CameraRetryCount = 0;
            // A gone camera comes back by its own check; a recording is not the busy
            // camera's (and no click of the user's): the series ends without a box.
            if (CameraGone_ || IsRecording()) {
                CameraRetryCount = 0;
                break;
            }
            if (!IsPreviewing()) SwitchPreview();
            break;
        case CameraStep::ReturnCheck:
            if (CameraGone_ && !IsCameraActive() && !RestartLostCamera()) break;
            CameraGone_ = false;
            tmrCamReturn->SetEnabled(false);
            break;
        case CameraStep::Lost:
            // The dead device goes, and with it the renderer's last frame: the picture area
            // shows no picture that is not coming.
            if (!CameraGone_) break;
            if (!IsCameraActive()) gcap->SelectDevices(-1, -1);
            Tell(GetTextOr(LossEndedRecording_ ? "T_RECORD_LOST" : "T_CAMERA_LOST",
                           ERROR_DEVICE_NOT_CONNECTED));
            LossEndedRecording_ = false;
            break;
        case CameraStep::StreamError:
            // The control starts the preview again after a stream error; when that failed
            // too, the window tries once more and says so if the camera will not run.
            if (IsCameraActive() || CameraGone_ || !PreviewWanted_) break;
            CameraRetryCount = 0;
            BeginPreview();
            break;
        default:
            break;
    }
}

void Tfrm_DADez::CarryOut(CameraStep step) {
    switch (step) {
        case CameraStep::Start:
            LogDevices();
            BeginPreview();
            StartedOnce_ = true;
            break;
        case CameraStep::PreviewSwitch:
            SwitchPreview();
            break;
        case CameraStep::Retry:
        case CameraStep::ReturnCheck:
        case CameraStep::Lost:
        case CameraStep::StreamError:
            CarryOutCameraEvent(step);
            break;
        case CameraStep::FormatChange:
            SelectVideoFormat();
            break;
        case CameraStep::SourcePage:
            ShowVideoSource();
            break;
        case CameraStep::Forward:
        case CameraStep::Backward:
            if (IsRecording())
                Tell(GetTextOr("T_SWITCH_ERR", ERROR_BUSY));
            else if (step == CameraStep::Forward)
                SelectForwardCamera();
            else
                SelectBackwardCamera();
            break;
        case CameraStep::Record:
            // Held behind a step that stopped the picture: nothing to record any more.
            if (!IsRecording() && IsPreviewing() && !CameraGone_) BeginRecording();
            break;
        case CameraStep::StopRecording:
            if (IsRecording()) EndRecording(true);
            break;
        case CameraStep::RecordingEnded:
            RecordingEnded();
            break;
        case CameraStep::LowSpace:
            CheckRecordingSpace();
            break;
        case CameraStep::Suspend:
            if (IsRecording()) EndRecording(false);
            if (IsPreviewing()) SwitchPreview();
            break;
    }
}

void Tfrm_DADez::RunDialog(const std::function<void()>& dialog) {
    ++ModalDepth_;
    dialog();
    --ModalDepth_;
    if (!HeldSteps_.empty() || CloseWanted_) tmrSteps->SetEnabled(true);
}

void Tfrm_DADez::Tell(const std::wstring& text) {
    if (text == ShownText_ ||
        std::find(WaitingTexts_.begin(), WaitingTexts_.end(), text) != WaitingTexts_.end())
        return;
    WaitingTexts_.push_back(text);
    // What the user was told, in the user's words, beside the reasons logged before it.
    Log("told", ToUtf8(text));
    TellWaiting();
}

void Tfrm_DADez::TellWaiting() {
    if (Telling_ || StepRunning_) return;
    Telling_ = true;
    while (!WaitingTexts_.empty()) {
        ShownText_ = WaitingTexts_.front();
        WaitingTexts_.erase(WaitingTexts_.begin());
        RunDialog([this] { ShowErrorBox(ShownText_, GetText("T_CONFIRM")); });
        ShownText_.clear();
    }
    Telling_ = false;
}

void Tfrm_DADez::LogDevices() {
    const auto list = [](const std::vector<std::string>& names) {
        std::string text;
        for (const std::string& name : names) text += (text.empty() ? "" : ", ") + AnsiToUtf8(name);
        return text.empty() ? std::string("none") : text;
    };
    Log("devices", "cameras: " + list(gcap->VideoDeviceNames(false)) +
                       "; microphones: " + list(gcap->AudioDeviceNames(false)));
}
