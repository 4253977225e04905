// The program's main window: live picture above, skinned button bar below, the power
// and hook notifications, and the timers that do the deferred work.
#pragma once

#include "framework/ExtControls.h"
#include "framework/Form.h"
#include "framework/Menu.h"
#include "framework/Timer.h"

#include <windows.h>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class TGDirectCapPin2;
class TTntGButton;
class TWindowAccessible;

class Tfrm_DADez : public fw::Form {
public:
    explicit Tfrm_DADez(fw::Component* Owner);
    ~Tfrm_DADez() override;

    TGDirectCapPin2* gcap;
    fw::Image* Image_Back;
    TTntGButton* gbOpenFolder;
    TTntGButton* gbPreview;
    TTntGButton* gbForward;
    TTntGButton* gbLens;
    TTntGButton* gbBackward;
    TTntGButton* gbSnap;
    TTntGButton* gbRecord;
    TTntGButton* gbHelp;
    TTntGButton* gbRecordOff;
    fw::PopupMenu* pmCam;
    fw::MenuItem* miVideoSource;
    fw::MenuItem* miVideoFormat;
    fw::MenuItem* N1;
    fw::MenuItem* miSaveFolder;
    fw::Timer* tmrStart;
    fw::Timer* tmrCamUse;
    fw::Timer* tmrShowMsg;
    fw::Timer* tmrErase;
    fw::Timer* tmrChkSpace;
    // While the chosen camera is gone: looks for it now and then, in case no device-change
    // notice comes.
    fw::Timer* tmrCamReturn;

    // Set once the one-time notice that sleep is held off has been shown.
    bool PreventNoticeShown = false;

    bool IsPreviewing() const;
    bool IsRecording() const;
    bool IsCameraActive() const { return IsPreviewing() || IsRecording(); }

    void FormCreate();
    void FormShow();
    void FormCloseQuery(bool& CanClose);
    void FormClose(fw::CloseAction& Action);
    // What a close lets go of (the recording finished, the preview, the hooks); also at the
    // end of the Windows session, which ends the process without a close.
    void ReleaseAll();
    void FormCanResize(int& NewWidth, int& NewHeight, bool& Resize);

    // AppPath + "images" + separator: where the glyphs and bar backgrounds are looked for.
    static std::string ImagesFolder();
    void LoadButtonGlyphs();
    // Small: the bar of a picture narrower than 640 pixels.
    void ArrangeButtonBar(bool Small);
    // Picture area from VideoWidth x VideoHeight; the window follows.
    void FitVideoArea();
    void BeginPreview();
    void EndPreview(bool Collapse);
    void EndRecording(bool RestartPreview);
    void gbRecordClick();
    void BeginRecording();
    void gbRecordOffClick();
    void ShowRecordingTime();
    void gcapStartCapture();
    void gcapCaptureProgress(uint32_t Sec);
    void gcapStopCapture();
    // A recording that the control ended by itself: the window follows.
    void RecordingEnded();
    void tmrChkSpaceTimer();
    // The free-space watch: a recording on a disk that runs low is ended.
    void CheckRecordingSpace();
    void gbPreviewClick();
    void UpdateButtons();

    void tmrStartTimer();
    void tmrCamUseTimer();
    void tmrShowMsgTimer();

    // The capture control's error codes: only a lost camera is the window's to tell (start
    // failures are told where the start is asked for). The user is told once, and the live
    // picture comes back by itself when the same camera is there again (device-change
    // notice or tmrCamReturn).
    void gcapError(int ErrCode);
    void CameraLost();
    void tmrCamReturnTimer();
    bool CameraGone() const { return cameraGone_; }
    // No camera step is running or waiting, no box or dialog of the window is open and the
    // capture control is not in the middle of an operation.
    bool StepsIdle() const;

    // The snapshot command (the snapshot button and the camera key): shutter sound and
    // the capture control armed for the next frame.
    void gbSnapClick();
    void TakeSnapshot();
    // A picture was saved: its name at the right end of the caption for 1.5 s.
    void gcapSnapShot(const std::wstring& FileName);
    void tmrEraseTimer();
    // A picture could not be saved: the user is told why.
    void SnapshotFailed(DWORD Error);

    void ShowHelp();

    // The commands of the bar's sensor, folder and help buttons and of the picture's menu.
    void gbForwardClick();
    void gbBackwardClick();
    void SelectForwardCamera();
    void SelectBackwardCamera();
    void gbOpenFolderClick();
    void gbHelpClick();
    void pmCamPopup();
    void miVideoSourceClick();
    void ShowVideoSource();
    void miVideoFormatClick();
    void SelectVideoFormat();
    void miSaveFolderClick();
    // The camera's snapshot key (reported by the keyboard hook) takes a picture.
    void HandleKeyHookMessage(LPARAM lParam);

    // The keyboard: the button bar is the window's one tab stop (Tab and Shift+Tab in and
    // out, the arrows, Home and End between its enabled buttons, Space and Enter press the
    // focused one). True: key used. Shift+F10 and the menu key open the picture's menu
    // (ShowPictureMenu, from the window's WM_CONTEXTMENU).
    bool BarKey(WORD Key, fw::ShiftState Shift);
    TTntGButton* FocusedBarButton() const { return focusedButton_; }
    void ShowPictureMenu();

    // Accessibility tools see the bar's buttons in this order (child ids from 1) and then
    // the picture. A press or focus they ask for comes back as this message (wParam 1: a
    // press, 0: the focus; lParam the child id).
    std::array<TTntGButton*, 9> BarButtonsInOrder() const;
    int BarButtonId(const TTntGButton* Button) const;  // CHILDID_SELF for none
    static constexpr UINT kAccessibleActionMessage = WM_APP + 22;

    LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;
    void WMWindowPosChanging(WINDOWPOS& Wp) override;

protected:
    void CreateParams(fw::CreateParams& Params) override;

private:
    // The constructor's parts: the capture control and its events, the bar image with its
    // buttons, the picture's menu and the timers.
    void CreateCaptureControl();
    void CreateButtonBar();
    void CreateMenuAndTimers();
    // WndProc's message groups, handled after the framework's (result: its answer).
    LRESULT HandlePowerMessage(UINT msg, WPARAM wParam, LRESULT Result);
    void HandleWindowStateMessage(UINT msg, WPARAM wParam);
    LRESULT HandleSessionMessage(UINT msg, WPARAM wParam);
    // The hook libraries' registered messages and the ones the window posts itself.
    LRESULT HandleProgramMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT Result);

    // The bar's buttons shown and taking clicks, left to right.
    std::vector<TTntGButton*> UsableBarButtons() const;
    void FocusButton(TTntGButton* Button);
    // A focused button that was hidden hands the focus to the one in its place (record and
    // stop swap), else to the next usable one.
    void KeepBarFocus();
    TTntGButton* focusedButton_ = nullptr;
    LRESULT AnswerGetObject(WPARAM wParam, LPARAM lParam);
    void ReleaseAccessible();
    void AccessibleAction(WPARAM Press, LPARAM Id);
    // Tells accessibility tools of each button shown or hidden, enabled or disabled since
    // the last call, and of the bar's focus.
    void AnnounceBarStates();
    void AnnounceFocus();
    TWindowAccessible* accessible_ = nullptr;
    std::array<uint8_t, 9> announcedStates_{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

    // What opens, closes or switches the camera, or starts or ends a recording. Each runs
    // through RunCameraStep, one at a time: what asks for one while another is under way
    // (the control services the message queue while it waits) or while a box or dialog is
    // open waits and runs afterwards.
    enum class TCameraStep {
        Start,
        PreviewSwitch,
        Retry,
        ReturnCheck,
        Lost,
        StreamError,
        FormatChange,
        SourcePage,
        Forward,
        Backward,
        Record,
        StopRecording,
        RecordingEnded,
        LowSpace,
        Suspend,
    };
    void RunCameraStep(TCameraStep Step);
    void CarryOut(TCameraStep Step);
    // The steps that follow the camera rather than the user: a retry of a busy camera, its
    // loss and return, a stream error.
    void CarryOutCameraEvent(TCameraStep Step);
    // The cameras and microphones found, into the log at the start.
    void LogDevices();
    bool CanRunNow(TCameraStep Step) const;
    // Runs the steps that waited, one per tick of tmrSteps, when nothing holds them.
    void RunHeldSteps();
    std::vector<TCameraStep> heldSteps_;
    bool stepRunning_ = false;
    TCameraStep runningStep_ = TCameraStep::Start;
    // Boxes and dialogs of this window that are open, and the system's move and menu loops.
    int modalDepth_ = 0;
    bool inMoveLoop_ = false;
    bool inMenuLoop_ = false;
    fw::Timer* tmrSteps;
    void RunDialog(const std::function<void()>& Dialog);

    // The error box, one at a time and never from inside a step: a text asked for
    // meanwhile is shown after it, once, unless it is the one on the screen.
    void Tell(const std::wstring& Text);
    void TellWaiting();
    std::vector<std::wstring> waitingTexts_;
    std::wstring shownText_;
    bool telling_ = false;

    // The window's buttons, glyph, caption and picture area for the state of the camera
    // and the control; run after every step and every event of the control.
    void ShowState(bool Sizes = true);
    bool captionShowsRecording_ = false;
    // The user's wish for the live picture (the preview button's last choice), which the
    // camera's return, a retry and the button's glyph follow.
    bool previewWanted_ = true;
    bool previewGlyphIsStop_ = true;

    void SwitchPreview();
    void EnterCameraGone();
    // The camera last opened is no longer in a fresh device list.
    bool CameraMissing();
    // The first start has run: from then on a missing camera no longer ends the program.
    bool startedOnce_ = false;
    // Set once ReleaseAll has let the camera go (the close, the end of the session): a
    // step still under way below it opens nothing again and tells nothing.
    bool released_ = false;
    // A close asked for while a step was under way.
    bool closeWanted_ = false;
    // The bar, timer and picture of a window that records nothing; restartPreview brings
    // the live picture back at the window's frame size.
    void ShowNotRecording(bool RestartPreview);
    // Set while the window itself stops the recording.
    bool endingRecording_ = false;
    // The control stopped a recording on its own (its time limit, a graph error, a lost
    // camera); a graph error is told once the window has followed.
    bool recordingEndedByControl_ = false;
    bool recordingAborted_ = false;
    bool minimised_ = false;
    // The window's size and bar for the picture it shows (none while the camera is off).
    void FitToPicture();
    bool cameraGone_ = false;
    // The loss ended a recording: its one box says so.
    bool lossEndedRecording_ = false;
    // The camera last opened, looked for by name when it has gone.
    std::string cameraName_;
    // Posted when the control has ended a recording by itself.
    static constexpr UINT kRecordingEndedMessage = WM_APP + 20;
    bool RestartLostCamera();
    // Opens the chosen devices in the preview format and starts the live picture.
    bool OpenCamera();
    // Names of saved pictures on their way from the streaming thread to the window
    // thread. Shared with the capture control's handler, so that a late report after the
    // window has gone still finds it.
    struct TSnapshotMailbox;
    std::shared_ptr<TSnapshotMailbox> snapshots_;
    void DeliverSnapshotName();
    void ConnectCommands();
};

// What the user is told when the settings file could not be written: the program's text,
// or, with a language file that has none, the system's description of the error.
std::wstring SettingsNotSavedText(DWORD Error);

// Size of the picture area for a frame size: frames larger than 640 x 480 each way are
// shown at 640 x 480, all others at their own size.
SIZE PictureAreaSize(int VideoWidth, int VideoHeight);

// Free bytes for the recording folder: its drive's, or, for a folder without a drive
// letter (a network share), the folder's own; -1 when they cannot be asked for.
int64_t RecordingFolderFreeBytes(const std::wstring& Folder);

// The status shown at the right end of the caption (snapshot names, recording time).
extern std::wstring CaptionStatus;

extern Tfrm_DADez* frm_DADez;
