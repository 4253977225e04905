// The program's main window: live picture above, skinned button bar below, the power
// and hook notifications, and the timers that do the deferred work.
#pragma once

#include "framework/ExtControls.h"
#include "framework/Form.h"
#include "framework/Menu.h"
#include "framework/Timer.h"

#include <windows.h>
#include <string>

class TGDirectCapPin2;
class TTntGButton;

class Tfrm_DADez : public fw::Form {
public:
    explicit Tfrm_DADez(fw::Component* owner);
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

    // Set once the one-time notice that sleep is held off has been shown.
    bool PreventNoticeShown = false;

    bool IsPreviewing() const;
    bool IsRecording() const;
    bool IsCameraActive() const { return IsPreviewing() || IsRecording(); }

    void FormCreate();
    void FormShow();
    void FormCloseQuery(bool& canClose);
    void FormClose(fw::CloseAction& action);
    void FormCanResize(int& newWidth, int& newHeight, bool& resize);

    // AppPath + "images" + separator: where the glyphs and bar backgrounds are looked for.
    static std::string ImagesFolder();
    void LoadButtonGlyphs();
    // Small: the bar of a picture narrower than 640 pixels.
    void ArrangeButtonBar(bool small);
    // Picture area from VideoWidth x VideoHeight; the window follows.
    void FitVideoArea();
    void BeginPreview();
    void EndPreview(bool collapse);
    void EndRecording(bool restartPreview);
    void gbPreviewClick();
    void UpdateButtons();

    void tmrStartTimer();
    void tmrCamUseTimer();
    void tmrShowMsgTimer();

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

    LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;
    void WMWindowPosChanging(WINDOWPOS& wp) override;

protected:
    void CreateParams(fw::CreateParams& params) override;

private:
    void ConnectCommands();
};

// What the user is told when the settings file could not be written: the program's text,
// or, with a language file that has none, the system's description of the error.
std::wstring SettingsNotSavedText(DWORD error);

// Size of the picture area for a frame size: frames larger than 640 x 480 each way are
// shown at 640 x 480, all others at their own size.
SIZE PictureAreaSize(int videoWidth, int videoHeight);

// True for the key record of the camera key being released: scan code low byte 0x64,
// flags with both LLKHF_UP (0x80) and LLKHF_EXTENDED (0x01).
bool IsCameraKeyRelease(const KBDLLHOOKSTRUCT& record);

// The status shown at the right end of the caption (snapshot names, recording time).
extern std::wstring CaptionStatus;

extern Tfrm_DADez* frm_DADez;
