// The program's main window: live picture above, skinned button bar below, the power
// and hook notifications, and the timers that do the deferred work.
#pragma once

#include "framework/Form.h"
#include "framework/Menu.h"
#include "framework/Timer.h"

#include <windows.h>
#include <string>

class Tfrm_DADez : public fw::Form {
public:
    explicit Tfrm_DADez(fw::Component* owner);
    ~Tfrm_DADez() override;

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

    void tmrStartTimer();
    void tmrCamUseTimer();
    void tmrShowMsgTimer();

    void ShowHelp();
    // The camera's snapshot key (reported by the keyboard hook) takes a picture.
    void HandleKeyHookMessage(LPARAM lParam);

    LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

protected:
    void CreateParams(fw::CreateParams& params) override;
};

// True for the key record of the camera key being released: scan code low byte 0x64,
// flags with both LLKHF_UP (0x80) and LLKHF_EXTENDED (0x01).
bool IsCameraKeyRelease(const KBDLLHOOKSTRUCT& record);

// The status shown at the right end of the caption (snapshot names, recording time).
extern std::wstring CaptionStatus;

extern Tfrm_DADez* frm_DADez;
