// Top-level forms: border and icons, placement, caption, creation/show/close
// events with a close action, modal showing with a modal result, and forms that
// free themselves when closed.
#pragma once

#include "framework/Control.h"

#include <utility>

namespace fw {

enum class BorderStyle { None, Single, Sizeable, Dialog };
using BorderIcons = unsigned;
constexpr BorderIcons biSystemMenu = 1, biMinimize = 2, biMaximize = 4;
enum class FormPosition { Designed, ScreenCenter };
enum class FormStyle { Normal, StayOnTop };
enum class CloseAction { None, Hide, Free };

class Form : public WinControl {
public:
    explicit Form(Component* owner);
    ~Form() override;

    // Runs the creation event. NewForm calls it once the derived object is complete.
    void AfterConstruction();

    std::wstring Caption() const { return Text(); }
    void SetCaption(const std::wstring& c) { SetText(c); }

    void SetClientWidth(int w);
    void SetClientHeight(int h);
    void SetClientSize(int w, int h);

    fw::BorderStyle BorderStyle = fw::BorderStyle::Single;
    fw::BorderIcons BorderIcons = biSystemMenu | biMinimize;
    FormPosition Position = FormPosition::Designed;
    fw::FormStyle FormStyle = fw::FormStyle::Normal;
    bool KeyPreview = false;

    void SetVisible(bool v) override;
    // Brings the form to the front and activates it.
    void BringToFront();

    // Asks to close: CloseQuery, then OnClose with the close action (Hide by
    // default). Closing the main form ends the application. A modal form gets
    // ModalResult mrCancel and its modal loop does the asking.
    void Close();
    // Shows the form modally: the other windows of the thread are disabled until
    // ModalResult becomes non-zero (a button's ModalResult or code) or the form
    // closes. Returns the result; with close action Free the form is freed after
    // returning, once the message queue is serviced.
    fw::ModalResult ShowModal();
    fw::ModalResult ModalResult = mrNone;
    bool Modal() const { return modal_; }
    // Frees the form once pending messages are handled (safe from its own handlers).
    void Release();

    // The control that has or gets the focus.
    WinControl* ActiveControl() const;
    void SetActiveControl(WinControl* c);
    // Moves the focus to the next (or previous) tab stop.
    void SelectNext(bool forward);

    NotifyEvent OnCreate;
    NotifyEvent OnShow;
    NotifyEvent OnHide;
    std::function<void(bool& canClose)> OnCloseQuery;
    std::function<void(CloseAction& action)> OnClose;
    std::function<void(int& newWidth, int& newHeight, bool& resize)> OnCanResize;
    KeyEvent OnKeyDown;
    KeyPressEvent OnKeyPress;

    // Keyboard handling before a key message is dispatched to one of this form's
    // windows: key preview, Tab, Enter (the focused or the Default button) and
    // Escape (the Cancel button). True when the message is used up.
    bool PreProcessKey(MSG& msg);

    LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

protected:
    void CreateParams(fw::CreateParams& params) override;
    void AfterCreateHandle() override;
    bool CanResize(int& newWidth, int& newHeight) override;
    virtual void DoCreate();
    virtual void DoShow();
    virtual void DoHide();
    virtual bool CloseQuery();
    virtual void DoClose(CloseAction& action);

private:
    bool CloseModal();
    void CenterOnScreen();
    void SaveFocus();
    void RestoreFocus();

    bool created_ = false;
    bool modal_ = false;
    bool shownOnce_ = false;
    CloseAction modalAction_ = CloseAction::Hide;
    HWND savedFocus_ = nullptr;
};

// Makes a form of type T and runs its creation event once the object is complete.
template <typename T, typename... Args>
T* NewForm(Args&&... args) {
    T* f = new T(std::forward<Args>(args)...);
    f->AfterConstruction();
    return f;
}

}  // namespace fw
