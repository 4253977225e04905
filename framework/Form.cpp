#include "framework/Form.h"

#include "framework/Application.h"
#include "framework/StdControls.h"

#include <algorithm>

namespace fw {

namespace {

struct DisableState {
    HWND keep;
    std::vector<HWND> disabled;
};

BOOL CALLBACK DisableOne(HWND hwnd, LPARAM lp) {
    auto* st = reinterpret_cast<DisableState*>(lp);
    if (hwnd != st->keep && ::IsWindowVisible(hwnd) && ::IsWindowEnabled(hwnd)) {
        ::EnableWindow(hwnd, FALSE);
        st->disabled.push_back(hwnd);
    }
    return TRUE;
}

// Tab stops of a parent, depth first, each level by TabOrder then creation.
void CollectTabStops(const WinControl* parent, std::vector<WinControl*>& out) {
    std::vector<std::pair<long long, WinControl*>> level;
    long long index = 0;
    for (Control* c : parent->Controls()) {
        ++index;
        if (!c->IsWindowed()) continue;
        auto* w = static_cast<WinControl*>(c);
        const long long key =
            w->TabOrder >= 0 ? w->TabOrder * 100000LL + index : 0x7FFFFFFF00000LL + index;
        level.emplace_back(key, w);
    }
    std::stable_sort(level.begin(), level.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (auto& [key, w] : level) {
        if (w->TabStop && w->CanFocus()) out.push_back(w);
        CollectTabStops(w, out);
    }
}

WinControl* ControlOfWindow(HWND h) {
    for (; h; h = ::GetParent(h)) {
        if (WinControl* c = WinControl::FromHandle(h)) return c;
    }
    return nullptr;
}

template <typename Pred>
Button* FindButton(const WinControl* parent, Pred pred) {
    for (Control* c : parent->Controls()) {
        if (!c->IsWindowed()) continue;
        if (auto* b = dynamic_cast<Button*>(c); b && pred(b)) return b;
        if (Button* b = FindButton(static_cast<WinControl*>(c), pred)) return b;
    }
    return nullptr;
}

}  // namespace

Form::Form(Component* owner) : WinControl(owner) {
    visible_ = false;
    parentFont_ = false;
    color_ = clBtnFace;
    left_ = 100;
    top_ = 100;
    width_ = 320;
    height_ = 240;
}

Form::~Form() {
    MarkDestroying();
    if (Application::Exists()) {
        Application& app = App();
        app.CancelRelease(this);
        if (app.MainForm() == this) app.SetMainForm(nullptr);
    }
    // Children go while the window still exists (WinControl does it too, but the
    // order matters for the focus that leaves a destroyed edit field).
    DestroyComponents();
}

void Form::AfterConstruction() {
    if (created_) return;
    created_ = true;
    DoCreate();
}

// Each handler runs from a copy: it may replace itself or free the form, and its
// captures must outlive the call.
void Form::DoCreate() {
    if (OnCreate) {
        auto h = OnCreate;
        h();
    }
}

void Form::DoShow() {
    if (OnShow && !Destroying()) {
        auto h = OnShow;
        h();
    }
}

void Form::DoHide() {
    if (OnHide && !Destroying()) {
        auto h = OnHide;
        h();
    }
}

bool Form::CloseQuery() {
    bool can = true;
    if (OnCloseQuery && !Destroying()) {
        auto h = OnCloseQuery;
        h(can);
    }
    return can;
}

void Form::DoClose(CloseAction& action) {
    if (OnClose && !Destroying()) {
        auto h = OnClose;
        h(action);
    }
}

void Form::CreateParams(fw::CreateParams& p) {
    WinControl::CreateParams(p);
    p.Style &= ~(WS_CHILD | WS_VISIBLE | WS_TABSTOP);
    switch (BorderStyle) {
        case fw::BorderStyle::None:
            p.Style |= WS_POPUP;
            break;
        case fw::BorderStyle::Single:
            p.Style |= WS_CAPTION;
            break;
        case fw::BorderStyle::Sizeable:
            p.Style |= WS_CAPTION | WS_THICKFRAME;
            break;
        case fw::BorderStyle::Dialog:
            p.Style |= WS_CAPTION;
            p.ExStyle |= WS_EX_DLGMODALFRAME;
            break;
    }
    if (BorderStyle != fw::BorderStyle::None) {
        if (BorderIcons & biSystemMenu) p.Style |= WS_SYSMENU;
        if (BorderIcons & biMinimize) p.Style |= WS_MINIMIZEBOX;
        if (BorderIcons & biMaximize) p.Style |= WS_MAXIMIZEBOX;
    }
    p.ExStyle |= WS_EX_CONTROLPARENT;
    if (FormStyle == fw::FormStyle::StayOnTop) p.ExStyle |= WS_EX_TOPMOST;
    Application& app = App();
    if (app.MainForm() == this) {
        // The main form carries the taskbar button itself.
        p.WndParent = nullptr;
        p.ExStyle |= WS_EX_APPWINDOW;
    } else if (Form* main = app.MainForm(); main && main->HandleAllocated()) {
        p.WndParent = main->Handle();
    } else {
        p.WndParent = app.Handle();
    }
}

void Form::AfterCreateHandle() {
    Application& app = App();
    ::SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(app.Icon()));
    ::SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(app.SmallIcon()));
}

bool Form::CanResize(int& newWidth, int& newHeight) {
    bool resize = true;
    if (OnCanResize && !Destroying()) {
        auto h = OnCanResize;
        h(newWidth, newHeight, resize);
    }
    return resize;
}

void Form::SetClientWidth(int w) { SetClientSize(w, ClientHeight()); }
void Form::SetClientHeight(int h) { SetClientSize(ClientWidth(), h); }

void Form::SetClientSize(int w, int h) {
    // The frame is whatever the window has now (outer minus client).
    const int frameW = width_ - ClientWidth();
    const int frameH = height_ - ClientHeight();
    SetBounds(left_, top_, w + frameW, h + frameH);
}

void Form::CenterOnScreen() {
    const int sw = ::GetSystemMetrics(SM_CXSCREEN), sh = ::GetSystemMetrics(SM_CYSCREEN);
    SetBounds(sw / 2 - width_ / 2, sh / 2 - height_ / 2, width_, height_);
}

void Form::SetVisible(bool v) {
    if (v) {
        if (visible_ && hwnd_ && ::IsWindowVisible(hwnd_)) return;
        HandleNeeded();
        if (!hwnd_) return;
        if (!shownOnce_ && Position == FormPosition::ScreenCenter) CenterOnScreen();
        visible_ = true;
        auto alive = AliveToken();
        DoShow();  // before the window appears, so that it shows the texts set here
        if (alive.expired() || !hwnd_ || !visible_) return;
        shownOnce_ = true;
        ::ShowWindow(hwnd_, SW_SHOW);
        if (!ActiveControl()) SelectNext(true);
    } else {
        if (!visible_) return;
        visible_ = false;
        if (hwnd_) ::ShowWindow(hwnd_, SW_HIDE);
        DoHide();
    }
}

void Form::BringToFront() {
    if (!hwnd_) return;
    ::SetWindowPos(hwnd_, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    ::SetForegroundWindow(hwnd_);
}

void Form::Close() {
    if (modal_) {
        ModalResult = mrCancel;
        return;
    }
    if (!CloseQuery()) return;
    CloseAction action = CloseAction::Hide;
    auto alive = AliveToken();
    DoClose(action);
    if (alive.expired() || action == CloseAction::None) return;
    Application& app = App();
    if (app.MainForm() == this) {
        app.Terminate();
    } else if (action == CloseAction::Hide) {
        Hide();
    } else {
        Release();
    }
}

void Form::Release() { App().ReleaseForm(this); }

bool Form::CloseModal() {
    if (!CloseQuery()) {
        ModalResult = mrNone;
        return false;
    }
    CloseAction action = CloseAction::Hide;
    DoClose(action);
    if (action == CloseAction::None) {
        ModalResult = mrNone;
        return false;
    }
    modalAction_ = action;
    return true;
}

ModalResult Form::ShowModal() {
    if (modal_ || Destroying()) return mrCancel;
    if (visible_) Hide();
    Application& app = App();
    app.CancelHint();
    if (HWND cap = ::GetCapture()) ::SendMessageW(cap, WM_CANCELMODE, 0, 0);
    ::ReleaseCapture();
    HandleNeeded();
    if (!hwnd_) return mrCancel;

    HWND activeBefore = ::GetActiveWindow();
    modal_ = true;
    ModalResult = mrNone;
    modalAction_ = CloseAction::Hide;
    DisableState st{hwnd_, {}};
    ::EnumThreadWindows(::GetCurrentThreadId(), &DisableOne, reinterpret_cast<LPARAM>(&st));

    auto alive = AliveToken();
    Show();
    for (;;) {
        if (alive.expired()) break;
        if (app.Terminated()) {
            ModalResult = mrCancel;
            break;
        }
        if (ModalResult != mrNone && CloseModal()) break;
        if (alive.expired() || ModalResult != mrNone) continue;
        app.HandleMessage();
    }
    // The other windows come back before this one hides, so that the activation
    // goes back to them and not to another program.
    for (HWND h : st.disabled)
        if (::IsWindow(h)) ::EnableWindow(h, TRUE);
    if (alive.expired()) return mrCancel;
    const fw::ModalResult result = ModalResult;
    if (activeBefore && ::IsWindow(activeBefore) && activeBefore != hwnd_)
        ::SetActiveWindow(activeBefore);
    Hide();
    modal_ = false;
    if (modalAction_ == CloseAction::Free) Release();
    return result;
}

WinControl* Form::ActiveControl() const {
    if (!hwnd_) return nullptr;
    HWND f = ::GetFocus();
    if (f && f != hwnd_ && ::IsChild(hwnd_, f)) return ControlOfWindow(f);
    if (savedFocus_ && ::IsWindow(savedFocus_) && ::IsChild(hwnd_, savedFocus_))
        return ControlOfWindow(savedFocus_);
    return nullptr;
}

void Form::SetActiveControl(WinControl* c) {
    if (!c) return;
    HandleNeeded();
    HWND h = c->Handle();
    if (!h) return;
    savedFocus_ = h;
    if (hwnd_ && ::GetActiveWindow() == hwnd_) ::SetFocus(h);
}

void Form::SelectNext(bool forward) {
    std::vector<WinControl*> stops;
    CollectTabStops(this, stops);
    if (stops.empty()) return;
    WinControl* current = ActiveControl();
    auto it = std::find(stops.begin(), stops.end(), current);
    size_t i;
    if (it == stops.end()) {
        i = forward ? 0 : stops.size() - 1;
    } else {
        const size_t at = static_cast<size_t>(it - stops.begin());
        i = forward ? (at + 1) % stops.size() : (at + stops.size() - 1) % stops.size();
    }
    savedFocus_ = stops[i]->Handle();
    if (::GetActiveWindow() == hwnd_) stops[i]->SetFocus();
}

void Form::SaveFocus() {
    HWND f = ::GetFocus();
    if (f && hwnd_ && ::IsChild(hwnd_, f)) savedFocus_ = f;
}

void Form::RestoreFocus() {
    if (savedFocus_ && ::IsWindow(savedFocus_) && ::IsChild(hwnd_, savedFocus_) &&
        ::IsWindowVisible(savedFocus_) && ::IsWindowEnabled(savedFocus_)) {
        ::SetFocus(savedFocus_);
        return;
    }
    savedFocus_ = nullptr;
    SelectNext(true);
    if (!ActiveControl()) ::SetFocus(hwnd_);
}

bool Form::PreProcessKey(MSG& msg) {
    if (Destroying()) return false;
    auto alive = AliveToken();
    if (msg.message == WM_KEYDOWN || msg.message == WM_SYSKEYDOWN) {
        WORD key = static_cast<WORD>(msg.wParam);
        if (KeyPreview && OnKeyDown) {
            auto h = OnKeyDown;
            h(key, ShiftFromKeyboard());
            if (alive.expired() || key == 0) return true;
            msg.wParam = key;
        }
        if (msg.message != WM_KEYDOWN) return false;
        const ShiftState shift = ShiftFromKeyboard();
        if (key == VK_TAB && !(shift & (ssCtrl | ssAlt))) {
            SelectNext(!(shift & ssShift));
            return true;
        }
        if (key == VK_RETURN || key == VK_ESCAPE) {
            WinControl* focused = ControlOfWindow(msg.hwnd);
            // An open drop-down list takes its own Enter and Escape.
            if (auto* cb = dynamic_cast<ComboBox*>(focused);
                cb && cb->HandleAllocated() &&
                ::SendMessageW(cb->Handle(), CB_GETDROPPEDSTATE, 0, 0))
                return false;
            Button* b = nullptr;
            if (key == VK_RETURN) {
                b = dynamic_cast<Button*>(focused);
                if (!b) b = FindButton(this, [](Button* x) { return x->Default(); });
            } else {
                b = FindButton(this, [](Button* x) { return x->Cancel(); });
            }
            if (b && b->Visible() && b->Enabled()) {
                b->Click();
                return true;
            }
        }
        return false;
    }
    if (msg.message == WM_CHAR && KeyPreview && OnKeyPress) {
        wchar_t ch = static_cast<wchar_t>(msg.wParam);
        auto h = OnKeyPress;
        h(ch);
        if (alive.expired() || ch == 0) return true;
        msg.wParam = ch;
    }
    // Alt+key always looks for an accelerator; a plain key only when the focused
    // window does not take characters itself (an edit field keeps its typing).
    if (msg.message == WM_SYSCHAR ||
        (msg.message == WM_CHAR &&
         !(::SendMessageW(msg.hwnd, WM_GETDLGCODE, 0, 0) & DLGC_WANTCHARS))) {
        if (DialogChar(static_cast<wchar_t>(msg.wParam))) return true;
    }
    return false;
}

LRESULT Form::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_CLOSE:
            Close();
            return 0;
        case WM_ACTIVATE:
            if (LOWORD(wParam) == WA_INACTIVE) {
                SaveFocus();
            } else if (!HIWORD(wParam)) {  // not minimised
                RestoreFocus();
                return 0;
            }
            break;
        case WM_SHOWWINDOW:
            // The window also hides when its owner is minimised; Visible follows only
            // explicit Show/Hide.
            break;
        default:
            break;
    }
    return WinControl::WndProc(msg, wParam, lParam);
}

}  // namespace fw
