#include "app/u_CamForm.h"

#include "app/ButtonBarLayout.h"
#include "capture/GDirectCapPin2.h"
#include "common/u_GlobalDefine.h"
#include "common/u_Log.h"
#include "common/u_PathUtil.h"
#include "common/u_ResourceLib.h"
#include "common/u_SysQuery.h"
#include "devices/u_KBDHook.h"
#include "devices/u_Quillhook.h"
#include "framework/Application.h"
#include "framework/SlimLock.h"
#include "resources/OrvixResources.h"
#include "ui/TntGButton.h"
#include "ui/u_SelectForm.h"

#include <dbt.h>
#include <mmsystem.h>
#include <shellapi.h>

#include <algorithm>
#include <atomic>
#include <iterator>
#include <mutex>

std::wstring CaptionStatus;
Tfrm_DADez* frm_DADez = nullptr;

namespace {

// Both message ids must be known before any window exists: the hook libraries are
// handed them when the main window is created.
struct TModuleInit {
    TModuleInit() {
        KeyHookMessage = RegisterWindowMessageA("Pellhook");
        SaverHookMessage = RegisterWindowMessageA("Quillhook");
    }
    ~TModuleInit() { CaptionStatus.clear(); }
} moduleInit;

// The busy camera's two lines; a language file without them still says why.
std::wstring CameraInUseText() {
    std::wstring text = GetTextOr("T_PREVIEW_ERR", ERROR_BUSY);
    const std::wstring advice = GetText("T_PREVIEW_ERR2");
    if (!advice.empty()) text += L"\r\n\r\n" + advice;
    return text;
}

constexpr UINT kBroadcastQueryDeny = 0x424D5144;  // BROADCAST_QUERY_DENY
constexpr UINT kPwrSuspendRequest = 1;
constexpr LRESULT kPwrFail = -1;
// Set by the system on the position changes of minimising, maximising and restoring.
constexpr UINT kSwpStateChanged = 0x8000;

// Posted by the streaming thread when a picture was saved (no parameters: the name waits
// in the snapshot mailbox).
constexpr UINT kSnapshotSavedMessage = WM_APP + 10;
// A stream error that the control has handled: does the picture run again?
constexpr UINT kStreamErrorMessage = WM_APP + 11;
// Posted by the streaming thread when a picture could not be saved (wParam: the reason).
constexpr UINT kSnapshotFailedMessage = WM_APP + 21;
// The camera was lost: the user is told once the capture control's event handling is over.
constexpr UINT kCameraLostMessage = WM_APP + 12;
// A device arrived or left while the camera is gone: is it back?
constexpr UINT kCameraCheckMessage = WM_APP + 13;
// How often a gone camera is looked for when no device-change notice comes.
constexpr UINT kCameraReturnCheckMs = 2000;
// sndPlaySoundA's flags: SND_ASYNC together with the bit PlaySound calls SND_FILENAME.
constexpr UINT kClickSoundFlags = 0x20001;

constexpr int kMaxPictureWidth = 640;
constexpr int kMaxPictureHeight = 480;

// The settings every button of the bar shares, where they differ from a new button's:
// the look comes from its four-image strip, drawn without a frame.
void SetUpBarButton(TTntGButton* B) {
    B->ButtonEffects().SetFrameStyle(fmNone);
    B->Glyphs().SetNumber(4);
    B->SetShowCaption(false);
    B->SetAutoSize(asGlyph);
    B->ShowHint = true;
}

// A glyph file from the images folder into a button; a missing file leaves it as it is.
void LoadButtonGlyph(TTntGButton* B, const char* File) {
    if (LoadGlyphFile(B->Glyphs().Glyph(), Tfrm_DADez::ImagesFolder() + File)) B->Invalidate();
}

}  // namespace

SIZE PictureAreaSize(int VideoWidth, int VideoHeight) {
    if (VideoWidth > kMaxPictureWidth && VideoHeight > kMaxPictureHeight)
        return SIZE{kMaxPictureWidth, kMaxPictureHeight};
    return SIZE{VideoWidth, VideoHeight};
}

// The last saved picture's name, left by the streaming thread for the window thread. A
// second picture before the window thread looks replaces the name: the caption shows the
// latest one either way.
struct Tfrm_DADez::TSnapshotMailbox {
    fw::SlimMutex lock;
    std::wstring name;
    bool pending = false;
    std::atomic<HWND> window{nullptr};
};

Tfrm_DADez::Tfrm_DADez(fw::Component* Owner)
    : fw::Form(Owner), snapshots_(std::make_shared<TSnapshotMailbox>()) {
    Name = L"frm_DADez";
    BorderStyle = fw::BorderStyle::Single;
    BorderIcons = fw::biSystemMenu | fw::biMinimize;
    Position = fw::FormPosition::Designed;  // centred by FormCreate itself
    SetFont(fw::Font::OfCharHeight(13));
    SetClientSize(640, 520);

    CreateCaptureControl();
    CreateButtonBar();
    CreateMenuAndTimers();
    ConnectCommands();

    OnCreate = [this] { FormCreate(); };
    OnShow = [this] { FormShow(); };
    OnCloseQuery = [this](bool& CanClose) { FormCloseQuery(CanClose); };
    OnClose = [this](fw::CloseAction& Action) { FormClose(Action); };
    OnCanResize = [this](int& W, int& H, bool& Resize) { FormCanResize(W, H, Resize); };
}

void Tfrm_DADez::CreateCaptureControl() {
    gcap = new TGDirectCapPin2(this);
    gcap->SetParent(this);
    gcap->SetBounds(0, 0, 640, 480);
    gcap->SetColor(fw::clBlack);
    gcap->SetVideoFrameRate(15);
    gcap->SetVideoBitCount(24);
    gcap->ImageFileName = L"capture.bmp";
    gcap->VideoFileName = L"video.avi";
    gcap->WantPreview = true;
    gcap->SetCapTimeLimit(0);
    gcap->BufferFileSize = 1;
    gcap->OnStartCapture = [this] { gcapStartCapture(); };
    gcap->OnCaptureProgress = [this](uint32_t Sec) { gcapCaptureProgress(Sec); };
    gcap->OnStopCapture = [this] { gcapStopCapture(); };
    gcap->OnError = [this](int Code) { gcapError(Code); };
    // Raised on the streaming thread, which the graph's Stop waits for from the window
    // thread: the name is only posted, never sent.
    gcap->OnSnapShot = [mailbox = snapshots_](const std::wstring& FileName) {
        HWND window = nullptr;
        {
            std::lock_guard<fw::SlimMutex> guard(mailbox->lock);
            mailbox->name = FileName;
            mailbox->pending = true;
            window = mailbox->window.load();
        }
        if (window) PostMessageW(window, kSnapshotSavedMessage, 0, 0);
    };

    gcap->OnSnapShotFailed = [mailbox = snapshots_](DWORD Error) {
        if (HWND window = mailbox->window.load())
            PostMessageW(window, kSnapshotFailedMessage, Error, 0);
    };
}

void Tfrm_DADez::CreateButtonBar() {
    Image_Back = new fw::Image(this);
    Image_Back->SetParent(this);
    Image_Back->Stretch = true;
    Image_Back->SetBounds(0, 481, 640, 40);
    // The built-in bar picture, until the images folder offers one.
    Image_Back->Picture().LoadFromResource(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDB_BACK));

    // Created after the bar image, so that they paint over it.
    const TButtonBarPositions bar = ButtonBarLayout(false, Image_Back->Top());
    auto makeButton = [this, &bar](int Left, int Width) {
        auto* b = new TTntGButton(this);
        b->SetParent(this);
        SetUpBarButton(b);
        b->SetBounds(Left, bar.Top, Width, BarButtonHeight);
        return b;
    };
    gbOpenFolder = makeButton(bar.RowLefts[0], BarButtonWidth);
    gbPreview = makeButton(bar.RowLefts[1], BarButtonWidth);
    gbPreview->OnClick = [this] { gbPreviewClick(); };
    gbForward = makeButton(bar.RowLefts[2], BarButtonWidth);
    gbLens = makeButton(bar.RowLefts[3], 26);
    gbLens->SetEnabled(false);
    gbLens->SetVisible(false);
    gbBackward = makeButton(bar.RowLefts[4], BarButtonWidth);
    gbSnap = makeButton(bar.RowLefts[5], BarButtonWidth);
    gbSnap->OnClick = [this] { gbSnapClick(); };
    // The camera buttons wait for the camera (UpdateButtons once it is open).
    for (TTntGButton* b : {gbForward, gbBackward, gbSnap}) b->SetEnabled(false);
    gbRecord = makeButton(bar.RowLefts[6], BarButtonWidth);
    gbRecord->SetEnabled(false);
    gbRecord->OnClick = [this] { gbRecordClick(); };
    gbHelp = makeButton(bar.HelpLeft, 22);
    gbRecordOff = makeButton(bar.RowLefts[6], BarButtonWidth);
    gbRecordOff->SetVisible(false);
    gbRecordOff->OnClick = [this] { gbRecordOffClick(); };
    KeyPreview = true;
    OnKeyDown = [this](WORD& Key, fw::ShiftState Shift) {
        if (BarKey(Key, Shift)) Key = 0;
    };
}

void Tfrm_DADez::CreateMenuAndTimers() {
    pmCam = new fw::PopupMenu(this);
    miVideoSource = pmCam->AddItem(L"Video Source");
    miVideoFormat = pmCam->AddItem(L"Video Format");
    N1 = pmCam->AddItem(L"-");
    miSaveFolder = pmCam->AddItem(L"Save Folder...");

    auto makeTimer = [this](UINT Ms) {
        auto* t = new fw::Timer(this);
        t->SetEnabled(false);
        t->SetInterval(Ms);
        return t;
    };
    tmrStart = makeTimer(50);
    tmrStart->OnTimer = [this] { tmrStartTimer(); };
    tmrCamUse = makeTimer(3000);
    tmrCamUse->OnTimer = [this] { tmrCamUseTimer(); };
    tmrShowMsg = makeTimer(1000);
    tmrShowMsg->OnTimer = [this] { tmrShowMsgTimer(); };
    tmrErase = makeTimer(1500);
    tmrErase->OnTimer = [this] { tmrEraseTimer(); };
    tmrChkSpace = makeTimer(10000);
    tmrChkSpace->OnTimer = [this] { tmrChkSpaceTimer(); };
    tmrCamReturn = makeTimer(kCameraReturnCheckMs);
    tmrCamReturn->OnTimer = [this] { tmrCamReturnTimer(); };
    tmrSteps = makeTimer(50);
    tmrSteps->OnTimer = [this] { RunHeldSteps(); };
}

Tfrm_DADez::~Tfrm_DADez() {
    // Pictures saved from here on are not shown.
    snapshots_->window = nullptr;
    ReleaseAccessible();
    if (frm_DADez == this) frm_DADez = nullptr;
}

void Tfrm_DADez::CreateParams(fw::CreateParams& Params) {
    fw::Form::CreateParams(Params);
    Params.ClassStyle &= ~static_cast<UINT>(CS_DROPSHADOW);
}

bool Tfrm_DADez::IsPreviewing() const { return gcap->Previewing(); }

bool Tfrm_DADez::IsRecording() const { return gcap->Capturing(); }

void Tfrm_DADez::FormCreate() {
    TwoSensorModel = true;
    IsVista = GetOSName() == "Vista";
    IsWindowsXP = GetOSName() == "Windows XP";

    const std::string icon = AppPath + "Orvix.ico";
    if (FileExists(icon)) fw::App().LoadIconFromFile(AnsiToWide(icon));

    const std::wstring title = GetText("APP_TITLE");
    SetCaption(title);
    // The application title is kept in the system code page, as the taskbar shows it.
    fw::App().SetTitle(AnsiToWide(WideToAnsi(title)));

    SetColor(fw::clBtnFace);
    PreventNoticeShown = false;

    VideoDeviceIndex = 0;
    AudioDeviceIndex = 0;
    VideoCompressorIndex = -1;
    AudioCompressorIndex = -1;
    KeepWindowPos = false;
    VideoWidth = 640;
    VideoHeight = 480;

    LoadSettings();
    LoadButtonGlyphs();
    ArrangeButtonBar(false);

    RECT wr{};
    GetWindowRect(Handle(), &wr);
    const int w = wr.right - wr.left, h = wr.bottom - wr.top;
    SetBounds(GetSystemMetrics(SM_CXSCREEN) / 2 - w / 2, GetSystemMetrics(SM_CYSCREEN) / 2 - h / 2,
              w, h);

    gcap->ImageFileName = ImagePath + L"image_kv_.jpg";
    gcap->VideoFileName = MoviePath + L"video_kv_.wmv";

    if (IsVista) SetKeepAwake();

    HWND wnd = Handle();
    snapshots_->window = wnd;
    AllowSaverNotices(wnd);
    InstallSaverHook(wnd);
    InstallKeyHook(wnd);
}

void Tfrm_DADez::FormShow() {
    miVideoSource->Caption = GetText("T_VIDEOSOURCE");
    miVideoFormat->Caption = GetText("T_VIDEOFORMAT");
    miSaveFolder->Caption = GetText("T_SAVEFOLDER");
    gcap->PopupMenu = pmCam;
    gbForward->SetVisible(TwoSensorModel);
    gbLens->SetVisible(TwoSensorModel);
    gbBackward->SetVisible(TwoSensorModel);
    CameraRetryCount = 0;
    tmrStart->SetEnabled(true);
}

void Tfrm_DADez::FormCloseQuery(bool& CanClose) {
    if (IsRecording()) {
        CanClose = false;
        Tell(GetTextOr("T_EXITREC_ERR", ERROR_BUSY));
    } else if (stepRunning_ || gcap->Busy()) {
        // Asked for while the camera is being opened or released: carried out after that.
        CanClose = false;
        closeWanted_ = true;
        tmrSteps->SetEnabled(true);
    }
}

void Tfrm_DADez::FormClose(fw::CloseAction&) { ReleaseAll(); }

void Tfrm_DADez::ReleaseAll() {
    released_ = true;
    tmrChkSpace->SetEnabled(false);
    tmrCamReturn->SetEnabled(false);
    tmrSteps->SetEnabled(false);
    tmrCamUse->SetEnabled(false);
    heldSteps_.clear();
    cameraGone_ = false;
    // A recording start still waiting for the camera (the end of the session came in one
    // of its waits) ends without recording and without its file.
    if (gcap->StartingCapture()) gcap->StopCapture();
    if (IsPreviewing()) EndPreview(false);
    if (IsRecording()) EndRecording(false);
    if (IsVista) ClearKeepAwake();
    RemoveSaverHook();
    RemoveKeyHook();
}

void Tfrm_DADez::FormCanResize(int& NewWidth, int& NewHeight, bool& Resize) {
    if (NewWidth != Width() || NewHeight != Height()) ArrangeButtonBar(NewWidth < 640);
    Resize = true;
}

std::string Tfrm_DADez::ImagesFolder() { return AppPath + "images\\"; }

void Tfrm_DADez::LoadButtonGlyphs() {
    if (TwoSensorModel) {
        LoadButtonGlyph(gbForward, "gbForward.bmp");
        LoadButtonGlyph(gbBackward, "gbBackward.bmp");
    }
    LoadButtonGlyph(gbOpenFolder, "gbOpen.bmp");
    LoadButtonGlyph(gbPreview, "gbPreviewOff.bmp");
    LoadButtonGlyph(gbLens, "gbLens.bmp");
    LoadButtonGlyph(gbSnap, "gbSnap.bmp");
    LoadButtonGlyph(gbRecord, "gbRecordOn.bmp");
    LoadButtonGlyph(gbRecordOff, "gbRecordOff.bmp");
    LoadButtonGlyph(gbHelp, "gbHelp.bmp");
}

void Tfrm_DADez::ArrangeButtonBar(bool Small) {
    if (LoadGlyphFile(Image_Back->Picture(),
                      ImagesFolder() + (Small ? "Back_Small.bmp" : "Back_Big.bmp")))
        Image_Back->Invalidate();

    Image_Back->SetBounds(Image_Back->Left(), gcap->Top() + gcap->Height() + 1, gcap->Width(),
                          Image_Back->Height());
    const TButtonBarPositions bar = ButtonBarLayout(Small, Image_Back->Top());
    TTntGButton* const row[] = {gbOpenFolder, gbPreview, gbForward, gbLens,
                                gbBackward,   gbSnap,    gbRecord};
    for (size_t i = 0; i < std::size(row); ++i) {
        row[i]->SetLeft(bar.RowLefts[i]);
        row[i]->SetTop(bar.Top);
    }
    gbHelp->SetLeft(bar.HelpLeft);
    gbHelp->SetTop(bar.Top);
    gbRecordOff->SetBounds(gbRecord->Left(), gbRecord->Top(), gbRecord->Width(),
                           gbRecord->Height());
}

void Tfrm_DADez::FitVideoArea() {
    const SIZE area = PictureAreaSize(VideoWidth, VideoHeight);
    gcap->SetBounds(gcap->Left(), gcap->Top(), area.cx, area.cy);
    SetClientSize(area.cx, area.cy + Image_Back->Height());
}

void Tfrm_DADez::FitToPicture() {
    if (minimised_ || IsIconic(Handle())) return;
    const int barHeight = Image_Back->Height();
    // The picture area stays while the picture is wanted, dark while the camera is gone or
    // busy, so that it comes back where it was.
    if (IsCameraActive() || previewWanted_) {
        const SIZE area = PictureAreaSize(VideoWidth, VideoHeight);
        if (gcap->Width() == area.cx && gcap->Height() == area.cy &&
            ClientHeight() == area.cy + barHeight)
            return;
        FitVideoArea();
    } else {
        if (gcap->Height() == 0 && ClientHeight() == barHeight) return;
        gcap->SetHeight(0);
        SetClientHeight(barHeight);
    }
    ArrangeButtonBar(ClientWidth() < kMaxPictureWidth);
}

void Tfrm_DADez::WMWindowPosChanging(WINDOWPOS& Wp) {
    // Minimising and restoring are no moves of ours: the window comes back where it was.
    const bool stateChange = (Wp.flags & kSwpStateChanged) || (hwnd_ && IsIconic(hwnd_));
    if (!stateChange && !(Wp.flags & SWP_NOMOVE)) {
        const int width = Width(), height = Height();
        if (!KeepWindowPos && !(Wp.flags & SWP_NOSIZE) && Wp.cx > 0 && Wp.cy > 0) {
            Wp.x += width / 2 - Wp.cx / 2;
            Wp.y += height / 2 - Wp.cy / 2;
        }
        // Kept on the monitor of the new place, from its top to its work area's bottom
        // (with one monitor: from 0 to above the taskbar).
        const int newWidth = (Wp.flags & SWP_NOSIZE) ? width : Wp.cx;
        const int newHeight = (Wp.flags & SWP_NOSIZE) ? height : Wp.cy;
        const TMonitorAreas areas =
            MonitorAreasAt(RECT{Wp.x, Wp.y, Wp.x + newWidth, Wp.y + newHeight});
        if (Wp.y < areas.Monitor.top)
            Wp.y = areas.Monitor.top;
        else if (Wp.y > areas.Work.bottom - height)
            Wp.y = areas.Work.bottom - height;
    }
    fw::Form::WMWindowPosChanging(Wp);
}

void Tfrm_DADez::EndPreview(bool Collapse) {
    tmrChkSpace->SetEnabled(false);
    gcap->StopPreview();
    Log("camera close", AnsiToUtf8(cameraName_));
    if (!Collapse) return;
    const int barTop = Image_Back->Top() + Top();
    gcap->SetHeight(0);
    SetClientHeight(Image_Back->Height());
    if (KeepWindowPos) {
        SetTop(barTop);
        KeepWindowPos = false;
    }
}

void Tfrm_DADez::BeginPreview() {
    if (IsPreviewing()) return;
    if (KeepWindowPos) SetTop(Image_Back->Top() + Top() - (VideoHeight > 480 ? 480 : VideoHeight));
    FitVideoArea();
    KeepWindowPos = false;

    // Nothing to record or take a picture of until the camera is open.
    for (TTntGButton* b : {gbRecord, gbSnap, gbForward, gbBackward}) b->SetEnabled(false);
    if (gcap->VideoDeviceNames(false).empty()) {
        if (!startedOnce_) {
            Log("start", "no camera is listed: the program ends");
            ShowErrorBox(GetTextOr("T_NOVIDEO_DRV", ERROR_DEV_NOT_EXIST), GetText("T_CONFIRM"));
            fw::App().Terminate();
            return;
        }
        // Once running, the program does not end for a camera that has gone.
        EnterCameraGone();
        return;
    }
    bool started = false;
    {
        fw::HourglassCursor wait;
        started = OpenCamera();
    }
    if (started)
        CameraRetryCount = 0;
    else if (CameraMissing())
        EnterCameraGone();
    else if (CameraRetryCount == 0)
        Tell(CameraInUseText());
    else
        tmrCamUse->SetEnabled(true);
}

void Tfrm_DADez::gbPreviewClick() { RunCameraStep(TCameraStep::PreviewSwitch); }

void Tfrm_DADez::SwitchPreview() {
    if (IsRecording()) {
        Tell(GetTextOr("T_STOPREC_ERR", ERROR_BUSY));
        return;
    }
    if (IsPreviewing()) {
        previewWanted_ = false;
        KeepWindowPos = true;
        EndPreview(true);
        // Lets the camera go for other programs.
        gcap->SelectDevices(-1, -1);
    } else if (cameraGone_) {
        // Nothing to open until it is back (the device list has lost it meanwhile); the
        // picture comes back by itself then.
        previewWanted_ = true;
        Tell(GetTextOr("T_CAMERA_LOST", ERROR_DEVICE_NOT_CONNECTED));
    } else {
        previewWanted_ = true;
        KeepWindowPos = true;
        BeginPreview();
    }
}

void Tfrm_DADez::UpdateButtons() { ShowState(); }

void Tfrm_DADez::ShowState(bool Sizes) {
    const bool recording = IsRecording();
    // What the camera delivers right now: nothing while it is gone.
    const bool live = IsCameraActive() && !cameraGone_;
    gbRecordOff->SetVisible(recording);
    gbRecordOff->SetEnabled(recording);
    gbRecord->SetVisible(!recording);
    gbRecord->SetEnabled(live && !recording);
    gbSnap->SetEnabled(live && !recording);
    gbForward->SetEnabled(live);
    gbBackward->SetEnabled(live);
    // The folders are not opened while a file is being written.
    gbOpenFolder->SetEnabled(!recording);
    // The glyph names the button's next action.
    gbPreview->Hint = GetText(previewWanted_ ? "T_PREVIEWSTOP" : "T_PREVIEW");
    if (previewGlyphIsStop_ != previewWanted_) {
        previewGlyphIsStop_ = previewWanted_;
        LoadButtonGlyph(gbPreview, previewWanted_ ? "gbPreviewOff.bmp" : "gbPreviewOn.bmp");
    }
    if (!recording && captionShowsRecording_) {
        // A stop that the control could not report leaves no running time behind.
        captionShowsRecording_ = false;
        CaptionStatus.clear();
        SetCaption(GetText("APP_TITLE"));
    }
    KeepBarFocus();
    if (Sizes) FitToPicture();
    Image_Back->Repaint();
}

void Tfrm_DADez::tmrStartTimer() {
    tmrStart->SetEnabled(false);
    previewWanted_ = VideoDeviceIndex >= 0;
    RunCameraStep(TCameraStep::Start);
    gbOpenFolder->Hint = GetText("T_OPENFOLDER");
    gbForward->Hint = GetText("T_FORWARDCAM");
    gbBackward->Hint = GetText("T_BACKWARDCAM");
    gbSnap->Hint = GetText("T_SNAPSHOT");
    gbRecord->Hint = GetText("T_RECORD");
    gbRecordOff->Hint = GetText("T_RECORDSTOP");
    gbHelp->Hint = GetText("T_HELP");
    ShowState();
}

void Tfrm_DADez::tmrCamUseTimer() {
    tmrCamUse->SetEnabled(false);
    RunCameraStep(TCameraStep::Retry);
}

void Tfrm_DADez::tmrShowMsgTimer() {
    tmrShowMsg->SetEnabled(false);
    if (PreventNoticeShown) return;
    PreventNoticeShown = true;
    // No owner window: the box is centred on the screen, not on the main window.
    RunDialog([] {
        MessageBoxW(nullptr, GetText("T_PREVENT_SAVE").c_str(), fw::App().Title().c_str(),
                    MB_OK | MB_TASKMODAL);
    });
}

void Tfrm_DADez::gcapError(int ErrCode) {
    Log("capture", "error code " + std::to_string(ErrCode));
    if (ErrCode == ErrDeviceLost) CameraLost();
    if (ErrCode == ErrGraphAborted) {
        // Told once the window has followed the recording that the error ended; a preview
        // that the control could not start again is told once its handling is over.
        if (recordingEndedByControl_)
            recordingAborted_ = true;
        else
            PostMessageW(Handle(), kStreamErrorMessage, 0, 0);
    }
}

void Tfrm_DADez::CameraLost() {
    // The capture control tries the dead camera again at once; only the first loss is told.
    if (cameraGone_) return;
    cameraGone_ = true;
    Log("camera lost", AnsiToUtf8(cameraName_));
    lossEndedRecording_ = recordingEndedByControl_;
    tmrCamReturn->SetEnabled(true);
    ShowState(false);
    PostMessageW(Handle(), kCameraLostMessage, 0, 0);
}

void Tfrm_DADez::EnterCameraGone() {
    if (cameraGone_) return;
    cameraGone_ = true;
    Log("camera lost",
        cameraName_.empty() ? std::string("no camera listed") : AnsiToUtf8(cameraName_));
    tmrCamReturn->SetEnabled(true);
    // The camera's return brings the picture back; no retry of a busy camera meanwhile.
    tmrCamUse->SetEnabled(false);
    CameraRetryCount = 0;
    Tell(GetTextOr("T_CAMERA_LOST", ERROR_DEVICE_NOT_CONNECTED));
}

bool Tfrm_DADez::CameraMissing() {
    if (cameraName_.empty()) return false;
    const std::vector<std::string> names = gcap->VideoDeviceNames(true);
    return std::find(names.begin(), names.end(), cameraName_) == names.end();
}

void Tfrm_DADez::tmrCamReturnTimer() {
    // A look that falls inside the last look (still opening a camera that will not run) is
    // not held for afterwards: the next tick looks again soon enough. One that falls inside
    // another step (a dialog) waits for it.
    if (stepRunning_ && runningStep_ == TCameraStep::ReturnCheck) return;
    RunCameraStep(TCameraStep::ReturnCheck);
}

bool Tfrm_DADez::RestartLostCamera() {
    const std::vector<std::string> names = gcap->VideoDeviceNames(true);
    const auto found =
        cameraName_.empty() ? names.begin() : std::find(names.begin(), names.end(), cameraName_);
    if (found == names.end()) return false;
    VideoDeviceIndex = static_cast<int>(found - names.begin());
    Log("camera back", AnsiToUtf8(*found));
    // Back, but the preview was switched off meanwhile: nothing to open.
    if (!previewWanted_) return true;
    fw::HourglassCursor wait;
    // A fresh device: the one from before the loss stays dead.
    return OpenCamera();
}

bool Tfrm_DADez::OpenCamera() {
    const std::vector<std::string> names = gcap->VideoDeviceNames(false);
    gcap->SelectDevices(VideoDeviceIndex, AudioDeviceIndex);
    gcap->SetAudioFormat(44100, 1, 16);
    gcap->SetVideoFormat(VideoWidth, VideoHeight, 15.0, 24);
    const bool started = gcap->StartPreview();
    const bool listed =
        VideoDeviceIndex >= 0 && static_cast<size_t>(VideoDeviceIndex) < names.size();
    if (started && listed) cameraName_ = names[static_cast<size_t>(VideoDeviceIndex)];
    std::string sizes;
    for (const std::string& size : gcap->VideoSizeNames())
        sizes += (sizes.empty() ? "" : ", ") + size;
    Log("camera open", std::string(started ? "" : "failed: ") +
                           (listed ? AnsiToUtf8(names[static_cast<size_t>(VideoDeviceIndex)])
                                   : std::string("no camera chosen")) +
                           ", " + std::to_string(gcap->Requested().FrameWidth) + " x " +
                           std::to_string(gcap->Requested().FrameHeight) +
                           (sizes.empty() ? std::string() : " (offers " + sizes + ")"));
    return started;
}

void Tfrm_DADez::ShowHelp() {
    const std::string path = GetHelpFilePath();
    if (FileExists(path)) {
        const std::wstring wide = AnsiToWide(path);
        ShellExecuteW(nullptr, L"open", wide.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    } else {
        Tell(GetTextOr("T_NO_HELPFILE", ERROR_FILE_NOT_FOUND));
    }
}

void Tfrm_DADez::HandleKeyHookMessage(LPARAM lParam) {
    KBDLLHOOKSTRUCT record{};
    if (!ReadKeyHookRecord(lParam, record) || !IsCameraKeyRelease(record)) return;
    gbSnapClick();
}

void Tfrm_DADez::gbSnapClick() {
    // Nothing to take a picture of: the button stays off until the camera is there.
    if (!IsCameraActive()) {
        gbSnap->SetEnabled(false);
        return;
    }
    const std::string click = AppPath + "Click.wav";
    if (FileExists(click)) sndPlaySoundA(click.c_str(), kClickSoundFlags);
    TakeSnapshot();
}

void Tfrm_DADez::TakeSnapshot() { gcap->SnapShot(); }

void Tfrm_DADez::gcapSnapShot(const std::wstring& FileName) {
    const size_t slash = FileName.find_last_of(L"\\/");
    const std::wstring name = slash == std::wstring::npos ? FileName : FileName.substr(slash + 1);
    CaptionStatus = AnsiToWide(WideToAnsi(name));
    SetCaption(ComposeCaption(Handle(), GetText("APP_TITLE"), CaptionStatus));
    // Already running after an earlier picture: it still ends 1.5 s after that one.
    tmrErase->SetEnabled(true);
}

void Tfrm_DADez::SnapshotFailed(DWORD Error) {
    // Pictures failing in a row (the camera key held) are told once: the same text is not
    // shown again while it is on the screen.
    Tell(GetTextOr("T_SNAPSHOT_ERR", Error));
}

void Tfrm_DADez::tmrEraseTimer() {
    tmrErase->SetEnabled(false);
    // During a recording the running time comes back at once, not with the next report:
    // the plain title would say that nothing is being recorded.
    if (captionShowsRecording_)
        ShowRecordingTime();
    else
        SetCaption(GetText("APP_TITLE"));
}

void Tfrm_DADez::DeliverSnapshotName() {
    std::wstring name;
    {
        std::lock_guard<fw::SlimMutex> guard(snapshots_->lock);
        if (!snapshots_->pending) return;
        snapshots_->pending = false;
        name.swap(snapshots_->name);
    }
    gcapSnapShot(name);
}

LRESULT Tfrm_DADez::HandlePowerMessage(UINT msg, WPARAM wParam, LRESULT Result) {
    if (msg == WM_POWER) {
        if (wParam != kPwrSuspendRequest) return Result;
        tmrShowMsg->SetEnabled(true);
        return kPwrFail;
    }
    switch (wParam) {
        case PBT_APMQUERYSUSPEND:
            tmrShowMsg->SetEnabled(true);
            return kBroadcastQueryDeny;
        case PBT_APMRESUMESUSPEND:
        case PBT_APMRESUMESTANDBY:
            if (CameraRetryCount == 0) tmrCamUse->SetEnabled(true);
            break;
        case PBT_APMSUSPEND:
        case PBT_APMSTANDBY:
            RunCameraStep(TCameraStep::Suspend);
            break;
        default:
            break;
    }
    return Result;
}

void Tfrm_DADez::HandleWindowStateMessage(UINT msg, WPARAM wParam) {
    switch (msg) {
        case WM_UPDATEUISTATE:
        case WM_ACTIVATE:
            // The focus rectangle follows the focus cues and the window's activation.
            if (focusedButton_) focusedButton_->Invalidate();
            return;
        case WM_SIZE:
            // Sizes set while minimised (a suspend or resume stops or starts the picture)
            // reach only the icon: the window is fitted to what it shows when restored.
            if (wParam == SIZE_MINIMIZED) {
                minimised_ = true;
            } else if (wParam == SIZE_RESTORED && minimised_) {
                minimised_ = false;
                FitToPicture();
            }
            return;
        case WM_ENTERSIZEMOVE:
        case WM_ENTERMENULOOP:
        case WM_EXITSIZEMOVE:
        case WM_EXITMENULOOP: {
            // The window dragged or its menu open: a loop of the system's own, in which a
            // camera step would resize the window under the pointer or change what the menu
            // offers. Held like under a box.
            bool& inLoop =
                (msg == WM_ENTERSIZEMOVE || msg == WM_EXITSIZEMOVE) ? inMoveLoop_ : inMenuLoop_;
            const bool entering = msg == WM_ENTERSIZEMOVE || msg == WM_ENTERMENULOOP;
            if (inLoop != entering) {
                inLoop = entering;
                modalDepth_ += entering ? 1 : -1;
                if (!entering) tmrSteps->SetEnabled(true);
            }
            return;
        }
        default:
            return;
    }
}

LRESULT Tfrm_DADez::HandleSessionMessage(UINT msg, WPARAM wParam) {
    if (msg == WM_QUERYENDSESSION) {
        // The session may end: a running recording is finished at WM_ENDSESSION.
        return TRUE;
    }
    if (msg == WM_ENDSESSION) {
        // The system ends the process as soon as this returns, without a close: the
        // recording's file is finished and the camera and hooks let go here.
        if (wParam) {
            Log("session end", "the system ends the program");
            ReleaseAll();
            FlushLog();
        }
        return 0;
    }
    // WM_DEVICECHANGE, posted on: the system may be sending it to every window and waiting.
    if (wParam == DBT_DEVNODES_CHANGED && cameraGone_)
        PostMessageW(Handle(), kCameraCheckMessage, 0, 0);
    return TRUE;
}

LRESULT Tfrm_DADez::HandleProgramMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT Result) {
    if (SaverHookMessage != 0 && msg == SaverHookMessage) {
        tmrShowMsg->SetEnabled(true);
        return 1;
    }
    if (KeyHookMessage != 0 && msg == KeyHookMessage) {
        HandleKeyHookMessage(lParam);
        return 1;
    }
    if (msg == kRecordingEndedMessage) {
        // Posted from the control's handling of the graph's events, which goes on to restart
        // the preview: the window follows once the control is done.
        RunCameraStep(TCameraStep::RecordingEnded);
        return 0;
    }
    if (msg == kAccessibleActionMessage) {
        AccessibleAction(wParam, lParam);
        return 0;
    }
    if (msg == kStreamErrorMessage) {
        RunCameraStep(TCameraStep::StreamError);
        return 0;
    }
    if (msg == kSnapshotFailedMessage) {
        SnapshotFailed(static_cast<DWORD>(wParam));
        return 0;
    }
    if (msg == kCameraLostMessage) {
        RunCameraStep(TCameraStep::Lost);
        return 0;
    }
    if (msg == kCameraCheckMessage) {
        if (cameraGone_) RunCameraStep(TCameraStep::ReturnCheck);
        return 0;
    }
    if (msg == kSnapshotSavedMessage) {
        DeliverSnapshotName();
        return 0;
    }
    return Result;
}

LRESULT Tfrm_DADez::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    LRESULT result = fw::Form::WndProc(msg, wParam, lParam);
    switch (msg) {
        case WM_POWERBROADCAST:
        case WM_POWER:
            return HandlePowerMessage(msg, wParam, result);
        case WM_KEYUP:
            if (wParam == VK_F1) ShowHelp();
            return 1;
        case WM_CONTEXTMENU:
            // Shift+F10 or the menu key with the focus on the window itself: the picture's
            // menu, as a right click on the picture gives it.
            if (reinterpret_cast<HWND>(wParam) == Handle() &&
                static_cast<short>(LOWORD(lParam)) == -1 &&
                static_cast<short>(HIWORD(lParam)) == -1)
                ShowPictureMenu();
            return result;
        case WM_GETOBJECT:
            if (const LRESULT object = AnswerGetObject(wParam, lParam)) return object;
            return result;
        case WM_UPDATEUISTATE:
        case WM_ACTIVATE:
        case WM_SIZE:
        case WM_ENTERSIZEMOVE:
        case WM_ENTERMENULOOP:
        case WM_EXITSIZEMOVE:
        case WM_EXITMENULOOP:
            HandleWindowStateMessage(msg, wParam);
            return result;
        case WM_QUERYENDSESSION:
        case WM_ENDSESSION:
        case WM_DEVICECHANGE:
            return HandleSessionMessage(msg, wParam);
        default:
            return HandleProgramMessage(msg, wParam, lParam, result);
    }
}
