#include "framework/Control.h"

#include "framework/Accessible.h"
#include "framework/Application.h"
#include "framework/Form.h"
#include "framework/GraphicControl.h"
#include "framework/Menu.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>
#include <map>

namespace fw {

namespace {

const wchar_t kControlProp[] = L"OrvixFw.Control";

HINSTANCE ModuleInstance() { return ::GetModuleHandleW(nullptr); }

MouseButton ButtonOf(UINT msg) {
    switch (msg) {
        case WM_RBUTTONDOWN:
        case WM_RBUTTONUP:
        case WM_RBUTTONDBLCLK:
            return MouseButton::Right;
        case WM_MBUTTONDOWN:
        case WM_MBUTTONUP:
        case WM_MBUTTONDBLCLK:
            return MouseButton::Middle;
        default:
            return MouseButton::Left;
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// Control

Control::Control(Component* owner) : Component(owner) {}

Control::~Control() {
    if (parent_) parent_->RemoveChild(this);
}

void Control::SetParent(WinControl* parent) {
    if (parent == parent_) return;
    if (parent_) {
        if (!IsWindowed()) Invalidate();
        parent_->RemoveChild(this);
    }
    parent_ = parent;
    if (parent_) {
        parent_->AddChild(this);
        if (parentFont_) ParentFontChanged();
        if (align_ != ::fw::Align::None) parent_->Realign();
        if (!IsWindowed()) Invalidate();
    }
}

void Control::SetBounds(int left, int top, int width, int height) {
    left_ = left;
    top_ = top;
    width_ = width;
    height_ = height;
    BoundsChanged();
}

void Control::SetVisible(bool v) { visible_ = v; }
void Control::SetEnabled(bool v) { enabled_ = v; }
void Control::SetColor(TColor c) { color_ = c; }

const Font& Control::Font() const {
    if (parentFont_ && parent_) return parent_->Font();
    return font_;
}

void Control::SetFont(const fw::Font& f) {
    font_ = f;
    parentFont_ = false;
}

void Control::SetAlign(::fw::Align a) {
    align_ = a;
    if (parent_) parent_->Realign();
}

Form* Control::ParentForm() const {
    for (const Control* c = this; c; c = c->parent_) {
        if (auto* f = dynamic_cast<Form*>(const_cast<Control*>(c))) return f;
    }
    return nullptr;
}

POINT Control::ClientToScreen(POINT p) const {
    if (IsWindowed()) {
        auto* w = static_cast<const WinControl*>(this);
        if (w->hwnd_) {
            ::ClientToScreen(w->hwnd_, &p);
            return p;
        }
    }
    p.x += left_;
    p.y += top_;
    return parent_ ? parent_->ClientToScreen(p) : p;
}

POINT Control::ScreenToClient(POINT p) const {
    const POINT origin = ClientToScreen(POINT{0, 0});
    return POINT{p.x - origin.x, p.y - origin.y};
}

void Control::Click() {
    if (OnClick && !Destroying()) {
        auto h = OnClick;  // the handler may replace OnClick
        h();
    }
}

void Control::DblClick() {
    if (OnDblClick && !Destroying()) {
        auto h = OnDblClick;
        h();
    }
}

void Control::MouseDown(MouseButton button, ShiftState shift, int x, int y) {
    if (OnMouseDown && !Destroying()) {
        auto h = OnMouseDown;
        h(button, shift, x, y);
    }
}

void Control::MouseUp(MouseButton button, ShiftState shift, int x, int y) {
    if (OnMouseUp && !Destroying()) {
        auto h = OnMouseUp;
        h(button, shift, x, y);
    }
}

void Control::MouseMove(ShiftState shift, int x, int y) {
    if (OnMouseMove && !Destroying()) {
        auto h = OnMouseMove;
        h(shift, x, y);
    }
}

void Control::MouseEnter() {
    if (OnMouseEnter && !Destroying()) {
        auto h = OnMouseEnter;
        h();
    }
}

void Control::MouseLeave() {
    if (OnMouseLeave && !Destroying()) {
        auto h = OnMouseLeave;
        h();
    }
}

bool Control::DialogChar(wchar_t ch) {
    (void)ch;
    return false;
}

bool Control::ContextPopup(POINT screen) {
    if (!PopupMenu || Destroying()) return false;
    PopupMenu->Popup(screen.x, screen.y);
    return true;
}

// ---------------------------------------------------------------------------
// WinControl

WinControl::WinControl(Component* owner) : Control(owner) {}

WinControl::~WinControl() {
    MarkDestroying();
    // Owned components first: child controls are usually owned by their form and
    // must go while the form's window still exists.
    DestroyComponents();
    for (Control* c : std::vector<Control*>(controls_)) c->parent_ = nullptr;
    controls_.clear();
    capture_ = hover_ = nullptr;
    if (hwnd_) {
        ::DestroyWindow(hwnd_);
        if (hwnd_) Detach();  // not destroyed (another thread's window): let go anyway
    }
}

WinControl* WinControl::FromHandle(HWND hwnd) {
    return hwnd ? static_cast<WinControl*>(::GetPropW(hwnd, kControlProp)) : nullptr;
}

HWND WinControl::Handle() {
    if (!hwnd_) CreateWnd();
    return hwnd_;
}

void WinControl::CreateParams(fw::CreateParams& p) {
    p.Caption = text_;
    p.Style = WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
    if (parent_) p.Style |= WS_CHILD;
    if (visible_) p.Style |= WS_VISIBLE;
    if (!enabled_) p.Style |= WS_DISABLED;
    if (TabStop) p.Style |= WS_TABSTOP;
    const RECT b = WindowBoundsFor(BoundsRect());
    p.X = b.left;
    p.Y = b.top;
    p.Width = b.right - b.left;
    p.Height = b.bottom - b.top;
    p.WndParent = parent_ ? parent_->hwnd_ : nullptr;
}

const wchar_t* WinControl::RegisterOwnClass(UINT classStyle) {
    static std::map<UINT, std::wstring> names;
    auto it = names.find(classStyle);
    if (it != names.end()) return it->second.c_str();
    wchar_t name[48];
    ::wsprintfW(name, L"OrvixFw.Window.%08X", classStyle);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.style = classStyle;
    wc.lpfnWndProc = &WinControl::OwnWndProc;
    wc.hInstance = ModuleInstance();
    wc.hCursor = ::LoadCursorW(nullptr, MAKEINTRESOURCEW(32512) /* IDC_ARROW */);
    wc.lpszClassName = name;
    if (!::RegisterClassExW(&wc) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return nullptr;
    return names.emplace(classStyle, name).first->second.c_str();
}

void WinControl::CreateWnd() {
    if (hwnd_ || Destroying()) return;
    if (parent_) {
        parent_->HandleNeeded();
        if (!parent_->hwnd_) return;
    }
    fw::CreateParams p;
    CreateParams(p);
    CreateWindowHandle(p);
    if (!hwnd_) return;
    ApplyFont();
    SyncBoundsFromWindow();
    AfterCreateHandle();
    CreateChildHandles();
    Realign();
}

void WinControl::CreateWindowHandle(const fw::CreateParams& p) {
    static UINT nextId = 100;
    const bool own = p.ClassName.empty();
    const wchar_t* cls = own ? RegisterOwnClass(p.ClassStyle) : p.ClassName.c_str();
    if (!cls) return;
    ownClass_ = own;
    HMENU id = nullptr;
    if (p.Style & WS_CHILD) {
        id = reinterpret_cast<HMENU>(static_cast<UINT_PTR>(nextId));
        nextId = nextId >= 0x7FFF ? 100 : nextId + 1;
    }
    HWND h = ::CreateWindowExW(p.ExStyle, cls, p.Caption.c_str(), p.Style, p.X, p.Y, p.Width,
                               p.Height, p.WndParent, id, ModuleInstance(), own ? this : nullptr);
    if (!h) return;
    if (!own) {
        Attach(h);
        if (::SetWindowSubclass(h, &WinControl::SubclassProc, 1, reinterpret_cast<DWORD_PTR>(this)))
            subclassed_ = true;
    }
}

void WinControl::Attach(HWND hwnd) {
    hwnd_ = hwnd;
    ::SetPropW(hwnd, kControlProp, this);
}

void WinControl::Detach() {
    if (!hwnd_) return;
    ::RemovePropW(hwnd_, kControlProp);
    if (subclassed_) ::RemoveWindowSubclass(hwnd_, &WinControl::SubclassProc, 1);
    subclassed_ = false;
    hwnd_ = nullptr;
    capture_ = nullptr;
    hover_ = nullptr;
    tracking_ = false;
    selfClicked_ = false;
    selfHover_ = false;
}

void WinControl::CreateChildHandles() {
    for (Control* c : std::vector<Control*>(controls_)) {
        if (c->IsWindowed()) static_cast<WinControl*>(c)->CreateWnd();
    }
}

void WinControl::RecreateWnd() {
    if (!hwnd_) return;
    recreating_ = true;
    const bool hadFocus = Focused();
    DestroyingHandle();
    text_ = Text();
    ::DestroyWindow(hwnd_);
    if (hwnd_) Detach();
    CreateWnd();
    recreating_ = false;
    if (hadFocus && hwnd_) ::SetFocus(hwnd_);
}

LRESULT CALLBACK WinControl::OwnWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    WinControl* self = FromHandle(hwnd);
    if (!self && msg == WM_NCCREATE) {
        auto* cs = reinterpret_cast<CREATESTRUCTW*>(lParam);
        self = static_cast<WinControl*>(cs->lpCreateParams);
        if (self) self->Attach(hwnd);
    }
    if (!self) return ::DefWindowProcW(hwnd, msg, wParam, lParam);
    return self->Dispatch(msg, wParam, lParam);
}

LRESULT CALLBACK WinControl::SubclassProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam,
                                          UINT_PTR, DWORD_PTR ref) {
    auto* self = reinterpret_cast<WinControl*>(ref);
    if (!self || self->hwnd_ != hwnd) return ::DefSubclassProc(hwnd, msg, wParam, lParam);
    return self->Dispatch(msg, wParam, lParam);
}

LRESULT WinControl::Dispatch(UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCDESTROY) {
        const LRESULT r = DefaultHandler(msg, wParam, lParam);
        Detach();
        return r;
    }
    return WndProc(msg, wParam, lParam);
}

LRESULT WinControl::DefaultHandler(UINT msg, WPARAM wParam, LPARAM lParam) {
    if (!hwnd_) return 0;
    if (subclassed_) return ::DefSubclassProc(hwnd_, msg, wParam, lParam);
    return ::DefWindowProcW(hwnd_, msg, wParam, lParam);
}

LRESULT WinControl::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_GETOBJECT:
            if (!AccessibleName.empty()) {
                if (const LRESULT object = NamedClientObject(hwnd_, wParam, lParam, AccessibleName))
                    return object;
            }
            break;
        case WM_COMMAND:
            if (lParam) {
                WinControl* c = FromHandle(reinterpret_cast<HWND>(lParam));
                if (c && c != this && c->HandleCommand(HIWORD(wParam))) return 0;
            }
            break;
        case WM_WINDOWPOSCHANGING:
            WMWindowPosChanging(*reinterpret_cast<WINDOWPOS*>(lParam));
            break;
        case WM_WINDOWPOSCHANGED:
        case WM_SIZE:
            return HandleSizeMessage(msg, wParam, lParam);
        case WM_SETCURSOR:
            if (Application::Exists() && App().WaitCursorActive()) {
                ::SetCursor(::LoadCursorW(nullptr, MAKEINTRESOURCEW(32514) /* IDC_WAIT */));
                return TRUE;
            }
            break;
        case WM_ERASEBKGND:
            if (ownClass_) return 1;  // painted with the rest in WM_PAINT (no flicker)
            break;
        case WM_PAINT:
            if (ownClass_) {
                PaintOwnWindow();
                return 0;
            }
            break;
        case WM_MOUSEMOVE:
        case WM_LBUTTONDOWN:
        case WM_LBUTTONUP:
        case WM_LBUTTONDBLCLK:
        case WM_RBUTTONDOWN:
        case WM_RBUTTONUP:
        case WM_RBUTTONDBLCLK:
        case WM_MBUTTONDOWN:
        case WM_MBUTTONUP:
        case WM_MBUTTONDBLCLK:
        case WM_MOUSELEAVE:
        case WM_CAPTURECHANGED: {
            auto alive = AliveToken();
            const bool used = HandleMouse(msg, wParam, lParam);
            if (alive.expired() || used) return 0;
            break;
        }
        case WM_CONTEXTMENU:
            if (reinterpret_cast<HWND>(wParam) == hwnd_ && HandleContextMenu(lParam)) return 0;
            break;
        default:
            break;
    }
    return DefaultHandler(msg, wParam, lParam);
}

LRESULT WinControl::HandleSizeMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    // WM_WINDOWPOSCHANGED's default handling sends WM_SIZE / WM_MOVE.
    const LRESULT r = DefaultHandler(msg, wParam, lParam);
    if (hwnd_) {
        SyncBoundsFromWindow();
        if (msg == WM_SIZE) Realign();
    }
    return r;
}

bool WinControl::HandleContextMenu(LPARAM lParam) {
    POINT screen{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    Control* target = this;
    if (screen.x == -1 && screen.y == -1) {  // from the keyboard
        screen = ClientToScreen(POINT{width_ / 2, height_ / 2});
    } else if (ownClass_) {
        POINT c = screen;
        ::ScreenToClient(hwnd_, &c);
        if (Control* g = GraphicControlAt(c, false); g && g->PopupMenu) target = g;
    }
    return target->ContextPopup(screen);
}

bool WinControl::HandleMouse(UINT msg, WPARAM wParam, LPARAM lParam) {
    const POINT pt{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    const ShiftState shift = ShiftFromMouseKeys(wParam);
    switch (msg) {
        case WM_MOUSEMOVE:
            return HandleMouseMove(pt, shift);
        case WM_LBUTTONDOWN:
        case WM_RBUTTONDOWN:
        case WM_MBUTTONDOWN:
        case WM_LBUTTONDBLCLK:
        case WM_RBUTTONDBLCLK:
        case WM_MBUTTONDBLCLK:
            return HandleButtonDown(msg, pt, shift);
        case WM_LBUTTONUP:
        case WM_RBUTTONUP:
        case WM_MBUTTONUP:
            return HandleButtonUp(msg, (wParam & (MK_LBUTTON | MK_RBUTTON | MK_MBUTTON)) != 0, pt,
                                  shift);
        case WM_CAPTURECHANGED:
            if (reinterpret_cast<HWND>(lParam) != hwnd_) {
                if (capture_) static_cast<GraphicControl*>(capture_)->clicked_ = false;
                capture_ = nullptr;
                selfClicked_ = false;
            }
            return false;
        case WM_MOUSELEAVE:
            return HandleMouseLeave();
        default:
            return false;
    }
}

bool WinControl::HandleMouseMove(POINT pt, ShiftState shift) {
    auto alive = AliveToken();
    if (!tracking_) {
        TRACKMOUSEEVENT t{sizeof(t), TME_LEAVE, hwnd_, 0};
        tracking_ = ::TrackMouseEvent(&t) != 0;
    }
    if (!selfHover_) {
        selfHover_ = true;
        MouseEnter();
        if (alive.expired()) return true;
    }
    Control* under = ownClass_ ? GraphicControlAt(pt, true) : nullptr;
    SetHover(under);
    if (alive.expired()) return true;
    Control* target = capture_;
    if (!target && under && under->enabled_) target = under;
    if (target) {
        target->MouseMove(shift, pt.x - target->left_, pt.y - target->top_);
    } else {
        MouseMove(shift, pt.x, pt.y);
    }
    if (alive.expired()) return true;
    App().MouseOverControl(under ? under : this);
    return false;
}

bool WinControl::HandleButtonDown(UINT msg, POINT pt, ShiftState shift) {
    auto alive = AliveToken();
    App().CancelHint();
    const MouseButton button = ButtonOf(msg);
    bool dbl = msg == WM_LBUTTONDBLCLK || msg == WM_RBUTTONDBLCLK || msg == WM_MBUTTONDBLCLK;
    // A graphic child under the pointer (or holding the mouse) takes the press.
    Control* g = ownClass_ ? (capture_ ? capture_ : GraphicControlAt(pt, false)) : nullptr;
    if (g) {
        auto* gc = static_cast<GraphicControl*>(g);
        if (dbl && !gc->DoubleClicks) dbl = false;
        capture_ = g;
        if (::GetCapture() != hwnd_) ::SetCapture(hwnd_);
        if (button == MouseButton::Left) gc->clicked_ = true;
        auto gAlive = g->AliveToken();
        if (dbl && button == MouseButton::Left) g->DblClick();
        if (!gAlive.expired())
            g->MouseDown(button, shift | (dbl ? ssDouble : 0), pt.x - g->left_, pt.y - g->top_);
        return true;
    }
    if (ownClass_ && button == MouseButton::Left) {
        selfClicked_ = true;
        ::SetCapture(hwnd_);
    }
    if (dbl && button == MouseButton::Left) {
        DblClick();
        if (alive.expired()) return true;
    }
    MouseDown(button, shift | (dbl ? ssDouble : 0), pt.x, pt.y);
    return false;
}

bool WinControl::HandleButtonUp(UINT msg, bool anyHeld, POINT pt, ShiftState shift) {
    auto alive = AliveToken();
    const MouseButton button = ButtonOf(msg);
    // The graphic child that took the press takes the release, wherever it is.
    if (Control* g = capture_) {
        auto* gc = static_cast<GraphicControl*>(g);
        const bool clicked = button == MouseButton::Left && gc->clicked_;
        if (button == MouseButton::Left) gc->clicked_ = false;
        if (!anyHeld) {
            capture_ = nullptr;  // before ReleaseCapture: WM_CAPTURECHANGED comes at once
            if (::GetCapture() == hwnd_) ::ReleaseCapture();
        }
        auto gAlive = g->AliveToken();
        const RECT gb = g->BoundsRect();
        if (clicked && ::PtInRect(&gb, pt)) g->Click();
        if (!gAlive.expired()) g->MouseUp(button, shift, pt.x - g->left_, pt.y - g->top_);
        if (!alive.expired() && !capture_) SetHover(GraphicControlAt(pt, true));
        return true;
    }
    const bool clicked = button == MouseButton::Left && selfClicked_;
    if (button == MouseButton::Left) selfClicked_ = false;
    if (clicked && ::GetCapture() == hwnd_) ::ReleaseCapture();
    if (clicked) {
        RECT rc;
        ::GetClientRect(hwnd_, &rc);
        if (::PtInRect(&rc, pt)) {
            Click();
            if (alive.expired()) return true;
        }
    }
    MouseUp(button, shift, pt.x, pt.y);
    return false;
}

bool WinControl::HandleMouseLeave() {
    auto alive = AliveToken();
    tracking_ = false;
    if (!capture_) SetHover(nullptr);
    if (alive.expired()) return true;
    if (selfHover_) {
        selfHover_ = false;
        MouseLeave();
        if (alive.expired()) return true;
    }
    if (Application::Exists()) App().MouseLeft(this);
    return false;
}

void WinControl::SetHover(Control* c) {
    if (c == hover_) return;
    Control* old = hover_;
    hover_ = c;
    std::weak_ptr<void> cAlive = c ? c->AliveToken() : std::weak_ptr<void>();
    if (old) old->MouseLeave();
    if (c && !cAlive.expired() && hover_ == c) c->MouseEnter();
}

bool WinControl::DialogChar(wchar_t ch) {
    auto alive = AliveToken();
    const std::vector<Control*> children = controls_;  // a handler may change the list
    for (Control* c : children) {
        if (std::find(controls_.begin(), controls_.end(), c) == controls_.end()) continue;
        if (c->Visible() && c->DialogChar(ch)) return true;
        if (alive.expired()) return true;
    }
    return false;
}

Control* WinControl::GraphicControlAt(POINT p, bool allowDisabled) const {
    for (auto it = controls_.rbegin(); it != controls_.rend(); ++it) {
        Control* c = *it;
        if (c->IsWindowed() || !c->visible_ || (!allowDisabled && !c->enabled_)) continue;
        const RECT r = c->BoundsRect();
        if (::PtInRect(&r, p)) return c;
    }
    return nullptr;
}

void WinControl::PaintOwnWindow() {
    PAINTSTRUCT ps;
    HDC dc = ::BeginPaint(hwnd_, &ps);
    if (!dc) return;
    const RECT rc = ps.rcPaint;
    const int w = rc.right - rc.left, h = rc.bottom - rc.top;
    if (w > 0 && h > 0) {
        // Painted off screen first, so that the background fill never shows on its
        // own between the fill and the controls over it.
        DcHandle mem(::CreateCompatibleDC(dc));
        BitmapHandle bmp(mem ? ::CreateCompatibleBitmap(dc, w, h) : nullptr);
        if (mem && bmp) {
            {
                ScopedSelectObject sel(mem.get(), bmp.get());
                ::SetViewportOrgEx(mem.get(), -rc.left, -rc.top, nullptr);
                PaintTo(mem.get(), rc);
                ::BitBlt(dc, rc.left, rc.top, w, h, mem.get(), rc.left, rc.top, SRCCOPY);
            }
        } else {
            PaintTo(dc, rc);
        }
    }
    ::EndPaint(hwnd_, &ps);
}

void WinControl::PaintTo(HDC dc, const RECT& rc) {
    {
        BrushHandle b(::CreateSolidBrush(ColorToRGB(color_)));
        ::FillRect(dc, &rc, b.get());
    }
    auto alive = AliveToken();
    canvas_.SetHandle(dc);
    PaintWindow(canvas_);
    canvas_.SetHandle(nullptr);
    if (alive.expired()) return;
    for (Control* c : std::vector<Control*>(controls_)) {
        if (c->IsWindowed() || !c->visible_) continue;
        RECT r = c->BoundsRect(), x;
        if (!::IntersectRect(&x, &r, &rc)) continue;
        static_cast<GraphicControl*>(c)->PaintOn(dc);
        if (alive.expired()) return;
    }
}

void WinControl::PaintWindow(fw::Canvas&) {}

void WinControl::AddChild(Control* c) {
    controls_.push_back(c);
    if (!c->IsWindowed()) return;
    auto* w = static_cast<WinControl*>(c);
    if (w->hwnd_) {
        if (hwnd_) {
            ::SetParent(w->hwnd_, hwnd_);
        } else {
            ::DestroyWindow(w->hwnd_);  // made again when this parent gets its window
        }
    } else if (hwnd_) {
        w->CreateWnd();
    }
}

void WinControl::RemoveChild(Control* c) {
    auto it = std::find(controls_.begin(), controls_.end(), c);
    if (it != controls_.end()) controls_.erase(it);
    if (capture_ == c) {
        capture_ = nullptr;
        if (hwnd_ && ::GetCapture() == hwnd_) ::ReleaseCapture();
    }
    if (hover_ == c) hover_ = nullptr;
}

void WinControl::SetParent(WinControl* parent) {
    if (parent == parent_) return;
    if (!parent && hwnd_) ::DestroyWindow(hwnd_);  // a child window cannot live on alone
    Control::SetParent(parent);
}

void WinControl::SetBounds(int left, int top, int width, int height) {
    if (hwnd_) {
        const RECT b = WindowBoundsFor(MakeRect(left, top, width, height));
        // The fields follow from WM_WINDOWPOSCHANGED, so a refused size stays out.
        ::SetWindowPos(hwnd_, nullptr, b.left, b.top, b.right - b.left, b.bottom - b.top,
                       SWP_NOZORDER | SWP_NOACTIVATE);
    } else {
        Control::SetBounds(left, top, width, height);
        Realign();
    }
}

void WinControl::SyncBoundsFromWindow() {
    if (!hwnd_) return;
    RECT r;
    ::GetWindowRect(hwnd_, &r);
    HWND parent = (::GetWindowLongW(hwnd_, GWL_STYLE) & WS_CHILD) ? ::GetParent(hwnd_) : nullptr;
    if (parent) ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
    const bool changed = r.left != left_ || r.top != top_ || r.right - r.left != width_ ||
                         r.bottom - r.top != height_;
    left_ = r.left;
    top_ = r.top;
    width_ = r.right - r.left;
    height_ = r.bottom - r.top;
    if (changed) BoundsChanged();
}

void WinControl::WMWindowPosChanging(WINDOWPOS& wp) {
    if (Destroying() || (wp.flags & SWP_NOSIZE)) return;
    int w = wp.cx, h = wp.cy;
    if (!CanResize(w, h)) {
        wp.flags |= SWP_NOSIZE;
    } else {
        wp.cx = w;
        wp.cy = h;
    }
}

bool WinControl::CanResize(int&, int&) { return true; }

void WinControl::SetVisible(bool v) {
    visible_ = v;
    if (hwnd_) ::ShowWindow(hwnd_, v ? SW_SHOWNA : SW_HIDE);
}

void WinControl::SetEnabled(bool v) {
    enabled_ = v;
    if (hwnd_) ::EnableWindow(hwnd_, v ? TRUE : FALSE);
}

void WinControl::SetColor(TColor c) {
    color_ = c;
    Invalidate();
}

void WinControl::SetFont(const fw::Font& f) {
    Control::SetFont(f);
    ParentFontChanged();
}

void WinControl::ParentFontChanged() {
    ApplyFont();
    for (Control* c : controls_)
        if (c->parentFont_) c->ParentFontChanged();
    Invalidate();
}

void WinControl::ApplyFont() {
    if (!hwnd_) return;
    FontHandle f = Font().CreateHandle();
    if (!f) return;
    ::SendMessageW(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(f.get()), TRUE);
    fontHandle_ = std::move(f);  // the previous font is out of use now
}

int WinControl::ClientWidth() const {
    if (hwnd_) {
        RECT r;
        ::GetClientRect(hwnd_, &r);
        return r.right;
    }
    fw::CreateParams p;
    const_cast<WinControl*>(this)->CreateParams(p);
    RECT r{0, 0, 0, 0};
    ::AdjustWindowRectEx(&r, p.Style, FALSE, p.ExStyle);
    return width_ - (r.right - r.left);
}

int WinControl::ClientHeight() const {
    if (hwnd_) {
        RECT r;
        ::GetClientRect(hwnd_, &r);
        return r.bottom;
    }
    fw::CreateParams p;
    const_cast<WinControl*>(this)->CreateParams(p);
    RECT r{0, 0, 0, 0};
    ::AdjustWindowRectEx(&r, p.Style, FALSE, p.ExStyle);
    return height_ - (r.bottom - r.top);
}

std::wstring WinControl::Text() const {
    if (!hwnd_) return text_;
    const int n = ::GetWindowTextLengthW(hwnd_);
    std::wstring s(static_cast<size_t>(n) + 1, L'\0');
    const int got = ::GetWindowTextW(hwnd_, s.data(), n + 1);
    s.resize(static_cast<size_t>(got > 0 ? got : 0));
    return s;
}

void WinControl::SetText(const std::wstring& text) {
    text_ = text;
    if (hwnd_) ::SetWindowTextW(hwnd_, text.c_str());
}

bool WinControl::CanFocus() const {
    return hwnd_ && ::IsWindowVisible(hwnd_) && ::IsWindowEnabled(hwnd_);
}

void WinControl::SetFocus() {
    if (Handle()) ::SetFocus(hwnd_);
}

bool WinControl::Focused() const {
    if (!hwnd_) return false;
    HWND f = ::GetFocus();
    return f && (f == hwnd_ || ::IsChild(hwnd_, f));
}

void WinControl::Invalidate() {
    if (hwnd_) ::InvalidateRect(hwnd_, nullptr, TRUE);
}

void WinControl::Repaint() {
    Invalidate();
    if (hwnd_) ::UpdateWindow(hwnd_);
}

void WinControl::Realign() {
    if (Destroying()) return;
    for (Control* c : std::vector<Control*>(controls_)) {
        if (c->align_ == ::fw::Align::Client) {
            const int w = ClientWidth(), h = ClientHeight();
            if (c->left_ != 0 || c->top_ != 0 || c->width_ != w || c->height_ != h)
                c->SetBounds(0, 0, w, h);
        }
    }
}

}  // namespace fw
