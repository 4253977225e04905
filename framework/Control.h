// Controls: the common base (placement, visibility, hints, mouse events) and the
// windowed control with its own window procedure. Windowless controls are in
// GraphicControl.h.
#pragma once

#include "framework/Canvas.h"
#include "framework/Component.h"
#include "framework/Types.h"
#include "framework/WinHandles.h"

#include <memory>
#include <string>
#include <vector>

namespace fw {

class WinControl;
class PopupMenu;
class Form;

enum class Align { None, Client };

class Control : public Component {
public:
    explicit Control(Component* owner);
    ~Control() override;

    WinControl* Parent() const { return parent_; }
    virtual void SetParent(WinControl* parent);

    // Bounds relative to the parent's client area (a form: to the screen).
    int Left() const { return left_; }
    int Top() const { return top_; }
    int Width() const { return width_; }
    int Height() const { return height_; }
    RECT BoundsRect() const { return MakeRect(left_, top_, width_, height_); }
    virtual void SetBounds(int left, int top, int width, int height);
    void SetLeft(int v) { SetBounds(v, top_, width_, height_); }
    void SetTop(int v) { SetBounds(left_, v, width_, height_); }
    void SetWidth(int v) { SetBounds(left_, top_, v, height_); }
    void SetHeight(int v) { SetBounds(left_, top_, width_, v); }
    virtual int ClientWidth() const { return width_; }
    virtual int ClientHeight() const { return height_; }

    bool Visible() const { return visible_; }
    virtual void SetVisible(bool v);
    void Show() { SetVisible(true); }
    void Hide() { SetVisible(false); }
    bool Enabled() const { return enabled_; }
    virtual void SetEnabled(bool v);

    TColor Color() const { return color_; }
    virtual void SetColor(TColor c);

    // The font used: the parent's while ParentFont is set, else the own one.
    const fw::Font& Font() const;
    virtual void SetFont(const fw::Font& f);  // clears ParentFont
    bool ParentFont() const { return parentFont_; }

    ::fw::Align Align() const { return align_; }
    void SetAlign(::fw::Align a);

    std::wstring Hint;
    bool ShowHint = false;
    fw::PopupMenu* PopupMenu = nullptr;  // shown on a right click (not owned)

    MouseEvent OnMouseDown;
    MouseEvent OnMouseUp;
    MouseMoveEvent OnMouseMove;
    NotifyEvent OnClick;
    NotifyEvent OnDblClick;
    NotifyEvent OnMouseEnter;
    NotifyEvent OnMouseLeave;

    // The form this control sits on (itself for a form), or null.
    Form* ParentForm() const;
    // Converts between the control's client coordinates and the screen.
    POINT ClientToScreen(POINT p) const;
    POINT ScreenToClient(POINT p) const;

    virtual void Invalidate() = 0;
    virtual void Repaint() = 0;

    // Overridable event steps; the defaults raise the On... events.
    virtual void Click();
    virtual void DblClick();
    virtual void MouseDown(MouseButton button, ShiftState shift, int x, int y);
    virtual void MouseUp(MouseButton button, ShiftState shift, int x, int y);
    virtual void MouseMove(ShiftState shift, int x, int y);
    virtual void MouseEnter();
    virtual void MouseLeave();
    // Shows PopupMenu at a screen point; true when there was one to show.
    virtual bool ContextPopup(POINT screen);
    // A character typed on the form that may be a control's accelerator ("&x" in
    // its caption); true when a control took it. A windowed control offers it to
    // its visible children.
    virtual bool DialogChar(wchar_t ch);

    virtual bool IsWindowed() const { return false; }

protected:
    friend class WinControl;
    virtual void ParentFontChanged() {}
    virtual void BoundsChanged() {}

    WinControl* parent_ = nullptr;
    int left_ = 0, top_ = 0, width_ = 0, height_ = 0;
    bool visible_ = true;
    bool enabled_ = true;
    TColor color_ = clBtnFace;
    fw::Font font_;
    bool parentFont_ = true;
    ::fw::Align align_ = ::fw::Align::None;
};

// Parameters of the window a windowed control makes; CreateParams fills them and
// a derived control may change them before the window is made.
struct CreateParams {
    std::wstring ClassName;        // a system class ("EDIT") or empty for the framework's own
    UINT ClassStyle = CS_DBLCLKS;  // own class only
    std::wstring Caption;
    DWORD Style = 0;
    DWORD ExStyle = 0;
    int X = 0, Y = 0, Width = 0, Height = 0;
    HWND WndParent = nullptr;
};

class WinControl : public Control {
public:
    explicit WinControl(Component* owner);
    ~WinControl() override;

    // The window, made on first need (the parent's first, then the children's).
    HWND Handle();
    bool HandleAllocated() const { return hwnd_ != nullptr; }
    void HandleNeeded() { Handle(); }

    void SetParent(WinControl* parent) override;
    void SetBounds(int left, int top, int width, int height) override;
    void SetVisible(bool v) override;
    void SetEnabled(bool v) override;
    void SetColor(TColor c) override;
    void SetFont(const fw::Font& f) override;
    int ClientWidth() const override;
    int ClientHeight() const override;
    bool IsWindowed() const override { return true; }

    // Window text (caption of a form or button, text of an edit).
    std::wstring Text() const;
    void SetText(const std::wstring& text);

    int TabOrder = -1;  // -1: creation order
    bool TabStop = false;
    // What accessibility tools name the window by, where no label window before it does
    // (a windowless Label's text, say). Empty: the system's own name.
    std::wstring AccessibleName;
    bool CanFocus() const;
    void SetFocus();
    bool Focused() const;

    // Direct children in creation order (windowed and graphic).
    const std::vector<Control*>& Controls() const { return controls_; }
    // The topmost visible graphic child at a client point (enabled ones only unless
    // allowDisabled).
    Control* GraphicControlAt(POINT p, bool allowDisabled) const;

    void Invalidate() override;
    void Repaint() override;
    void Realign();
    bool DialogChar(wchar_t ch) override;

    // The canvas during painting of the own-class window.
    fw::Canvas& Canvas() { return canvas_; }

    // Window procedure: a derived control overrides it and calls the base for
    // everything it does not handle completely.
    virtual LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam);
    // Finds the control object of a window made by the framework.
    static WinControl* FromHandle(HWND hwnd);

protected:
    virtual void CreateParams(fw::CreateParams& params);
    virtual void CreateWnd();
    // Runs right after the window exists, before the children are made.
    virtual void CreateWindowHandle(const fw::CreateParams& params);
    virtual void AfterCreateHandle() {}
    // Destroys and makes the window again (style changes that need a new window).
    void RecreateWnd();
    virtual void DestroyingHandle() {}

    // The default handling: DefWindowProc, or the system class's own procedure.
    LRESULT DefaultHandler(UINT msg, WPARAM wParam, LPARAM lParam);
    // Paints the own-class window's client area: background, then PaintWindow, then
    // graphic children. Only for own-class windows.
    virtual void PaintWindow(fw::Canvas& canvas);
    // Notifications from a child window (WM_COMMAND / WM_NOTIFY reflected to it).
    virtual bool HandleCommand(WORD code) {
        (void)code;
        return false;
    }
    // Bounds of the window as set: a combo box asks for room for its list.
    virtual RECT WindowBoundsFor(const RECT& bounds) const { return bounds; }
    virtual void SyncBoundsFromWindow();
    virtual void WMWindowPosChanging(WINDOWPOS& wp);
    // Return false to keep the current size; may change the new size.
    virtual bool CanResize(int& newWidth, int& newHeight);
    void ParentFontChanged() override;
    void ApplyFont();
    bool OwnClass() const { return ownClass_; }

    HWND hwnd_ = nullptr;

private:
    friend class Control;
    friend class GraphicControl;
    friend class Application;
    static LRESULT CALLBACK OwnWndProc(HWND, UINT, WPARAM, LPARAM);
    static LRESULT CALLBACK SubclassProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
    static const wchar_t* RegisterOwnClass(UINT classStyle);
    LRESULT Dispatch(UINT msg, WPARAM wParam, LPARAM lParam);
    void Attach(HWND hwnd);
    void Detach();
    void AddChild(Control* c);
    void RemoveChild(Control* c);
    void CreateChildHandles();
    // WM_WINDOWPOSCHANGED and WM_SIZE: the bounds follow the window's.
    LRESULT HandleSizeMessage(UINT msg, WPARAM wParam, LPARAM lParam);
    // The menu of this control or of the graphic child under the point; true when shown.
    bool HandleContextMenu(LPARAM lParam);
    // The mouse messages, routed to the graphic children; true when one took the message
    // (or the control is gone).
    bool HandleMouse(UINT msg, WPARAM wParam, LPARAM lParam);
    bool HandleMouseMove(POINT pt, ShiftState shift);
    bool HandleButtonDown(UINT msg, POINT pt, ShiftState shift);
    // anyHeld: a button is still down after this release.
    bool HandleButtonUp(UINT msg, bool anyHeld, POINT pt, ShiftState shift);
    bool HandleMouseLeave();
    void SetHover(Control* c);
    void PaintOwnWindow();
    void PaintTo(HDC dc, const RECT& rc);

    std::vector<Control*> controls_;
    std::wstring text_;
    bool ownClass_ = false;
    bool subclassed_ = false;
    bool recreating_ = false;
    FontHandle fontHandle_;
    fw::Canvas canvas_;
    // Mouse routing to graphic children.
    Control* capture_ = nullptr;
    Control* hover_ = nullptr;
    bool tracking_ = false;
    bool selfClicked_ = false;
    bool selfHover_ = false;
};

}  // namespace fw
