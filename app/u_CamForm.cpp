#include "app/u_CamForm.h"

#include "common/u_GlobalDefine.h"
#include "common/u_PathUtil.h"
#include "common/u_ResourceLib.h"
#include "common/u_SysQuery.h"
#include "devices/u_KBDHook.h"
#include "devices/u_Quillhook.h"
#include "framework/Application.h"

#include <shellapi.h>

std::wstring CaptionStatus;
Tfrm_DADez* frm_DADez = nullptr;

namespace {

// Both message ids must be known before any window exists: the hook libraries are
// handed them when the main window is created.
struct ModuleInit {
    ModuleInit()
    {
        KeyHookMessage = RegisterWindowMessageA("Pellhook");
        SaverHookMessage = RegisterWindowMessageA("Quillhook");
    }
    ~ModuleInit() { CaptionStatus.clear(); }
} moduleInit;

constexpr UINT kBroadcastQueryDeny = 0x424D5144; // BROADCAST_QUERY_DENY
constexpr UINT kPwrSuspendRequest = 1;
constexpr LRESULT kPwrFail = -1;

// The hook posts from ordinary programs, and an elevated window drops messages from
// lower integrity levels unless it lets them through. Looked up at run time: systems
// before Windows 7 do not have the call (nor the filtering).
void AllowSaverNotices(HWND wnd)
{
    if (!wnd || SaverHookMessage == 0)
        return;
    using FilterFn = BOOL(WINAPI*)(HWND, UINT, DWORD, void*);
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    auto filter = user32 ? reinterpret_cast<FilterFn>(reinterpret_cast<void*>(
                               GetProcAddress(user32, "ChangeWindowMessageFilterEx")))
                         : nullptr;
    if (filter)
        filter(wnd, SaverHookMessage, 1 /* MSGFLT_ALLOW */, nullptr);
}

} // namespace

bool IsCameraKeyRelease(const KBDLLHOOKSTRUCT& record)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(&record);
    return bytes[4] == 0x64 && (bytes[8] & 0x81) == 0x81;
}

Tfrm_DADez::Tfrm_DADez(fw::Component* owner) : fw::Form(owner)
{
    Name = L"frm_DADez";
    BorderStyle = fw::BorderStyle::Single;
    BorderIcons = fw::biSystemMenu | fw::biMinimize;
    Position = fw::FormPosition::Designed; // centred by FormCreate itself
    fw::Font f;
    f.Name = L"MS Sans Serif";
    f.Height = -13;
    SetFont(f);
    SetClientSize(640, 520);

    pmCam = new fw::PopupMenu(this);
    miVideoSource = pmCam->AddItem(L"Video Source");
    miVideoFormat = pmCam->AddItem(L"Video Format");
    N1 = pmCam->AddItem(L"-");
    miSaveFolder = pmCam->AddItem(L"Save Folder...");

    auto makeTimer = [this](UINT ms) {
        auto* t = new fw::Timer(this);
        t->SetEnabled(false);
        t->SetInterval(ms);
        return t;
    };
    tmrStart = makeTimer(50);
    tmrStart->OnTimer = [this] { tmrStartTimer(); };
    tmrCamUse = makeTimer(3000);
    tmrCamUse->OnTimer = [this] { tmrCamUseTimer(); };
    tmrShowMsg = makeTimer(1000);
    tmrShowMsg->OnTimer = [this] { tmrShowMsgTimer(); };
    tmrErase = makeTimer(1500);
    tmrChkSpace = makeTimer(10000);

    OnCreate = [this] { FormCreate(); };
    OnShow = [this] { FormShow(); };
    OnCloseQuery = [this](bool& canClose) { FormCloseQuery(canClose); };
    OnClose = [this](fw::CloseAction& action) { FormClose(action); };
}

Tfrm_DADez::~Tfrm_DADez()
{
    if (frm_DADez == this)
        frm_DADez = nullptr;
}

void Tfrm_DADez::CreateParams(fw::CreateParams& params)
{
    fw::Form::CreateParams(params);
    params.ClassStyle &= ~static_cast<UINT>(CS_DROPSHADOW);
}

// The window hosts no capture control yet, so nothing previews or records.
bool Tfrm_DADez::IsPreviewing() const
{
    return false;
}

bool Tfrm_DADez::IsRecording() const
{
    return false;
}

void Tfrm_DADez::FormCreate()
{
    TwoSensorModel = true;
    IsVista = GetOSName() == "Vista";
    IsWindowsXP = GetOSName() == "Windows XP";

    const std::string icon = AppPath + "Orvix.ico";
    if (FileExists(icon))
        fw::App().LoadIconFromFile(AnsiToWide(icon));

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

    RECT wr{};
    GetWindowRect(Handle(), &wr);
    const int w = wr.right - wr.left, h = wr.bottom - wr.top;
    SetBounds(GetSystemMetrics(SM_CXSCREEN) / 2 - w / 2, GetSystemMetrics(SM_CYSCREEN) / 2 - h / 2,
              w, h);

    if (IsVista)
        SetKeepAwake();

    HWND wnd = Handle();
    AllowSaverNotices(wnd);
    InstallSaverHook(wnd);
    InstallKeyHook(wnd);
}

void Tfrm_DADez::FormShow()
{
    miVideoSource->Caption = GetText("T_VIDEOSOURCE");
    miVideoFormat->Caption = GetText("T_VIDEOFORMAT");
    miSaveFolder->Caption = GetText("T_SAVEFOLDER");
    CameraRetryCount = 0;
    tmrStart->SetEnabled(true);
}

void Tfrm_DADez::FormCloseQuery(bool& canClose)
{
    if (IsRecording()) {
        canClose = false;
        ShowErrorBox(GetText("T_EXITREC_ERR"), GetText("T_CONFIRM"));
    }
}

void Tfrm_DADez::FormClose(fw::CloseAction&)
{
    tmrChkSpace->SetEnabled(false);
    if (IsVista)
        ClearKeepAwake();
    RemoveSaverHook();
    RemoveKeyHook();
}

void Tfrm_DADez::tmrStartTimer()
{
    tmrStart->SetEnabled(false);
}

void Tfrm_DADez::tmrCamUseTimer()
{
    tmrCamUse->SetEnabled(false);
    CameraRetryCount += 1;
    if (CameraRetryCount > 3)
        CameraRetryCount = 0;
}

void Tfrm_DADez::tmrShowMsgTimer()
{
    tmrShowMsg->SetEnabled(false);
    if (PreventNoticeShown)
        return;
    PreventNoticeShown = true;
    // No owner window: the box is centred on the screen, not on the main window.
    MessageBoxW(nullptr, GetText("T_PREVENT_SAVE").c_str(), fw::App().Title().c_str(),
                MB_OK | MB_TASKMODAL);
}

void Tfrm_DADez::ShowHelp()
{
    const std::string path = GetHelpFilePath();
    if (FileExists(path)) {
        const std::wstring wide = AnsiToWide(path);
        ShellExecuteW(nullptr, L"open", wide.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    } else {
        ShowErrorBox(GetText("T_NO_HELPFILE"), GetText("T_CONFIRM"));
    }
}

void Tfrm_DADez::HandleKeyHookMessage(LPARAM lParam)
{
    KBDLLHOOKSTRUCT record{};
    if (!ReadKeyHookRecord(lParam, record) || !IsCameraKeyRelease(record))
        return;
}

LRESULT Tfrm_DADez::WndProc(UINT msg, WPARAM wParam, LPARAM lParam)
{
    LRESULT result = fw::Form::WndProc(msg, wParam, lParam);
    switch (msg) {
    case WM_POWERBROADCAST:
        switch (wParam) {
        case PBT_APMQUERYSUSPEND:
            tmrShowMsg->SetEnabled(true);
            return kBroadcastQueryDeny;
        case PBT_APMRESUMESUSPEND:
        case PBT_APMRESUMESTANDBY:
            if (CameraRetryCount == 0)
                tmrCamUse->SetEnabled(true);
            break;
        default:
            break;
        }
        return result;
    case WM_POWER:
        if (wParam == kPwrSuspendRequest) {
            tmrShowMsg->SetEnabled(true);
            return kPwrFail;
        }
        return result;
    case WM_KEYUP:
        if (wParam == VK_F1)
            ShowHelp();
        return 1;
    default:
        break;
    }
    if (SaverHookMessage != 0 && msg == SaverHookMessage) {
        tmrShowMsg->SetEnabled(true);
        return 1;
    }
    if (KeyHookMessage != 0 && msg == KeyHookMessage) {
        HandleKeyHookMessage(lParam);
        return 1;
    }
    return result;
}
