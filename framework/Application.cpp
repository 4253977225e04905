#include "framework/Application.h"

#include "framework/Control.h"
#include "framework/Form.h"

#include <commctrl.h>

#include <algorithm>

namespace fw {

namespace {

Application* g_current = nullptr;

constexpr UINT kReleaseMessage = WM_APP + 1;
constexpr UINT_PTR kHintShowTimer = 1;
constexpr UINT_PTR kHintHideTimer = 2;
const wchar_t kAppClass[] = L"OrvixFw.Application";
const wchar_t kHintClass[] = L"OrvixFw.Hint";

HINSTANCE ModuleInstance() { return ::GetModuleHandleW(nullptr); }

std::wstring ExeBaseName() {
    wchar_t path[MAX_PATH] = {};
    const DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring s(path, n < MAX_PATH ? n : 0);
    const size_t slash = s.find_last_of(L"\\/");
    if (slash != std::wstring::npos) s.erase(0, slash + 1);
    const size_t dot = s.find_last_of(L'.');
    if (dot != std::wstring::npos) s.erase(dot);
    return s;
}

void RegisterClasses() {
    static bool done = false;
    if (done) return;
    done = true;
    INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
    ::InitCommonControlsEx(&icc);
}

}  // namespace

Application::Application() : Component(nullptr) {
    RegisterClasses();
    previous_ = g_current;
    g_current = this;

    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = &Application::AppWndProc;
    wc.hInstance = ModuleInstance();
    wc.lpszClassName = kAppClass;
    ::RegisterClassExW(&wc);  // fails harmlessly when a second application object registers again

    WNDCLASSEXW hc{};
    hc.cbSize = sizeof(hc);
    hc.style = CS_SAVEBITS;
    hc.lpfnWndProc = &Application::HintWndProc;
    hc.hInstance = ModuleInstance();
    hc.hCursor = ::LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));
    hc.lpszClassName = kHintClass;
    ::RegisterClassExW(&hc);

    title_ = ExeBaseName();
    defaultIcon_ = ::LoadIconW(ModuleInstance(), L"MAINICON");
    if (!defaultIcon_) defaultIcon_ = ::LoadIconW(ModuleInstance(), MAKEINTRESOURCEW(1));
    if (!defaultIcon_)
        defaultIcon_ = ::LoadIconW(nullptr, MAKEINTRESOURCEW(32512) /* IDI_APPLICATION */);

    // Hidden owner of the forms and target of the framework's own messages.
    hwnd_.reset(::CreateWindowExW(WS_EX_TOOLWINDOW, kAppClass, title_.c_str(), WS_POPUP, 0, 0, 0, 0,
                                  nullptr, nullptr, ModuleInstance(), this));
    if (hwnd_) ::SetWindowLongPtrW(hwnd_.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

Application::~Application() {
    MarkDestroying();
    HideHint();
    DestroyComponents();  // forms first, while this object still answers them
    releases_.clear();
    if (g_current == this) g_current = previous_;
    hintWnd_.reset();
    if (hwnd_) ::SetWindowLongPtrW(hwnd_.get(), GWLP_USERDATA, 0);
    hwnd_.reset();
}

Application& Application::Instance() {
    if (g_current) return *g_current;
    static Application fallback;
    return g_current ? *g_current : fallback;
}

bool Application::Exists() { return g_current != nullptr; }

Application& App() { return Application::Instance(); }

void Application::SetTitle(const std::wstring& t) {
    title_ = t;
    if (hwnd_) ::SetWindowTextW(hwnd_.get(), t.c_str());
}

bool Application::LoadIconFromFile(const std::wstring& path) {
    IconHandle big(static_cast<HICON>(
        ::LoadImageW(nullptr, path.c_str(), IMAGE_ICON, ::GetSystemMetrics(SM_CXICON),
                     ::GetSystemMetrics(SM_CYICON), LR_LOADFROMFILE)));
    if (!big) return false;
    IconHandle small(static_cast<HICON>(
        ::LoadImageW(nullptr, path.c_str(), IMAGE_ICON, ::GetSystemMetrics(SM_CXSMICON),
                     ::GetSystemMetrics(SM_CYSMICON), LR_LOADFROMFILE)));
    SetIcon(std::move(big), std::move(small));
    return true;
}

namespace {
BOOL CALLBACK SetIconOn(HWND hwnd, LPARAM lp) {
    auto* app = reinterpret_cast<Application*>(lp);
    if (dynamic_cast<Form*>(WinControl::FromHandle(hwnd)) || hwnd == app->Handle()) {
        ::SendMessageW(hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(app->Icon()));
        ::SendMessageW(hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(app->SmallIcon()));
    }
    return TRUE;
}
}  // namespace

void Application::SetIcon(IconHandle big, IconHandle small) {
    // The old icons are freed only after every window has the new ones.
    IconHandle oldBig = std::move(icon_), oldSmall = std::move(smallIcon_);
    icon_ = std::move(big);
    smallIcon_ = std::move(small);
    ::EnumThreadWindows(::GetCurrentThreadId(), &SetIconOn, reinterpret_cast<LPARAM>(this));
}

void Application::Run() {
    if (mainForm_ && !mainForm_->Visible()) mainForm_->Show();
    while (!terminated_) HandleMessage();
}

void Application::Terminate() {
    terminated_ = true;
    ::PostQuitMessage(0);
}

bool Application::HandleMessage() {
    MSG msg;
    const BOOL r = ::GetMessageW(&msg, nullptr, 0, 0);
    if (r == 0) {
        terminated_ = true;
        return false;
    }
    if (r == -1) return false;
    ProcessMessage(msg);
    return true;
}

void Application::ProcessMessages() {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            terminated_ = true;
            break;
        }
        ProcessMessage(msg);
    }
}

bool Application::ProcessMessage(MSG& msg) {
    if (msg.hwnd && msg.message >= WM_KEYFIRST && msg.message <= WM_KEYLAST) {
        HWND root = ::GetAncestor(msg.hwnd, GA_ROOT);
        if (auto* form = dynamic_cast<Form*>(WinControl::FromHandle(root))) {
            if (form->PreProcessKey(msg)) return true;
        }
    }
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
    return true;
}

LRESULT CALLBACK Application::AppWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* app = reinterpret_cast<Application*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (app) return app->AppMessage(msg, wParam, lParam);
    return ::DefWindowProcW(hwnd, msg, wParam, lParam);
}

LRESULT Application::AppMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case kReleaseMessage:
            DoReleases();
            return 0;
        case WM_TIMER:
            if (wParam == kHintShowTimer) {
                ::KillTimer(hwnd_.get(), kHintShowTimer);
                ShowHintNow();
                return 0;
            }
            if (wParam == kHintHideTimer) {
                HideHint();
                return 0;
            }
            break;
        default:
            break;
    }
    return ::DefWindowProcW(hwnd_.get(), msg, wParam, lParam);
}

void Application::ReleaseForm(Form* f) {
    if (!f) return;
    if (std::find(releases_.begin(), releases_.end(), f) == releases_.end()) releases_.push_back(f);
    if (hwnd_) ::PostMessageW(hwnd_.get(), kReleaseMessage, 0, 0);
}

void Application::CancelRelease(Form* f) {
    releases_.erase(std::remove(releases_.begin(), releases_.end(), f), releases_.end());
}

void Application::DoReleases() {
    // One at a time: freeing a form frees what it owns, which takes itself out of
    // the list through CancelRelease.
    while (!releases_.empty()) {
        Form* f = releases_.back();
        releases_.pop_back();
        delete f;
    }
}

void Application::MouseOverControl(Control* c) {
    if (c == hintControl_ && !hintAlive_.expired()) return;
    HideHint();
    ::KillTimer(hwnd_.get(), kHintShowTimer);
    hintControl_ = c;
    hintAlive_ = c ? c->AliveToken() : std::weak_ptr<void>();
    if (c && ShowHint && c->ShowHint && !c->Hint.empty() && hwnd_)
        ::SetTimer(hwnd_.get(), kHintShowTimer, HintPause ? HintPause : 1, nullptr);
}

void Application::MouseLeft(Control* windowed) {
    if (!hintControl_ || hintAlive_.expired()) return;
    if (hintControl_ == windowed ||
        (!hintControl_->IsWindowed() && hintControl_->Parent() == windowed))
        MouseOverControl(nullptr);
}

void Application::CancelHint() {
    if (hwnd_) ::KillTimer(hwnd_.get(), kHintShowTimer);
    HideHint();
}

bool Application::HintShowing() const { return hintWnd_ && ::IsWindowVisible(hintWnd_.get()); }

void Application::ShowHintNow() {
    if (!hintControl_ || hintAlive_.expired()) return;
    Control* c = hintControl_;
    if (!ShowHint || !c->ShowHint || c->Hint.empty()) return;
    if (!hintWnd_) {
        hintWnd_.reset(::CreateWindowExW(WS_EX_TOOLWINDOW | WS_EX_TOPMOST | WS_EX_NOACTIVATE,
                                         kHintClass, L"", WS_POPUP | WS_BORDER, 0, 0, 0, 0,
                                         hwnd_.get(), nullptr, ModuleInstance(), nullptr));
        if (!hintWnd_) return;
        ::SetWindowLongPtrW(hintWnd_.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        NONCLIENTMETRICSW ncm{};
        ncm.cbSize = sizeof(ncm);
        if (::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(ncm), &ncm, 0))
            hintFont_.reset(::CreateFontIndirectW(&ncm.lfStatusFont));
    }
    hintText_ = c->Hint;
    RECT tr{0, 0, 400, 0};
    {
        ScopedGetDC dc(hintWnd_.get());
        ScopedSelectObject sel(dc, hintFont_.get());
        ::DrawTextW(dc, hintText_.c_str(), static_cast<int>(hintText_.size()), &tr,
                    DT_CALCRECT | DT_NOPREFIX | DT_WORDBREAK);
    }
    POINT pt;
    ::GetCursorPos(&pt);
    const int w = tr.right + 8, h = tr.bottom + 4;
    int x = pt.x, y = pt.y + ::GetSystemMetrics(SM_CYCURSOR) / 2 + 4;
    const int sw = ::GetSystemMetrics(SM_CXSCREEN), sh = ::GetSystemMetrics(SM_CYSCREEN);
    if (x + w > sw) x = sw - w;
    if (y + h > sh) y = pt.y - h - 2;
    if (x < 0) x = 0;
    if (y < 0) y = 0;
    ::SetWindowPos(hintWnd_.get(), HWND_TOPMOST, x, y, w, h, SWP_NOACTIVATE | SWP_SHOWWINDOW);
    ::InvalidateRect(hintWnd_.get(), nullptr, TRUE);
    ::SetTimer(hwnd_.get(), kHintHideTimer, HintHidePause ? HintHidePause : 1, nullptr);
}

void Application::HideHint() {
    if (hwnd_) ::KillTimer(hwnd_.get(), kHintHideTimer);
    if (hintWnd_ && ::IsWindowVisible(hintWnd_.get())) ::ShowWindow(hintWnd_.get(), SW_HIDE);
    hintText_.clear();
}

LRESULT CALLBACK Application::HintWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* app = reinterpret_cast<Application*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    switch (msg) {
        case WM_NCHITTEST:
            return HTTRANSPARENT;
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = ::BeginPaint(hwnd, &ps);
            RECT r;
            ::GetClientRect(hwnd, &r);
            BrushHandle bk(::CreateSolidBrush(::GetSysColor(COLOR_INFOBK)));
            ::FillRect(dc, &r, bk.get());
            if (app) {
                ScopedSelectObject sel(dc, app->hintFont_.get());
                ::SetBkMode(dc, TRANSPARENT);
                ::SetTextColor(dc, ::GetSysColor(COLOR_INFOTEXT));
                ::InflateRect(&r, -3, -1);
                ::DrawTextW(dc, app->hintText_.c_str(), static_cast<int>(app->hintText_.size()), &r,
                            DT_NOPREFIX | DT_WORDBREAK);
            }
            ::EndPaint(hwnd, &ps);
            return 0;
        }
        default:
            return ::DefWindowProcW(hwnd, msg, wParam, lParam);
    }
}

void Application::PushWaitCursor() {
    ++waitCursor_;
    ::SetCursor(::LoadCursorW(nullptr, MAKEINTRESOURCEW(32514) /* IDC_WAIT */));
}

void Application::PopWaitCursor() {
    if (waitCursor_ > 0) --waitCursor_;
    if (waitCursor_) return;
    ::SetCursor(::LoadCursorW(nullptr, MAKEINTRESOURCEW(32512) /* IDC_ARROW */));
    // Let the window under the mouse choose its own cursor again.
    POINT pt;
    if (::GetCursorPos(&pt)) {
        HWND under = ::WindowFromPoint(pt);
        if (under && ::GetWindowThreadProcessId(under, nullptr) == ::GetCurrentThreadId())
            ::SendMessageW(under, WM_SETCURSOR, reinterpret_cast<WPARAM>(under),
                           MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    }
}

HourglassCursor::HourglassCursor() { App().PushWaitCursor(); }
HourglassCursor::~HourglassCursor() {
    if (Application::Exists()) App().PopWaitCursor();
}

}  // namespace fw
