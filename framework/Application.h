// The application object: a hidden owner window, the title and icon, the message
// loop, the hint window, deferred freeing of forms, and the hourglass cursor.
#pragma once

#include "framework/Component.h"
#include "framework/Types.h"
#include "framework/WinHandles.h"

#include <memory>
#include <string>
#include <vector>

namespace fw {

class Control;
class Form;

class Application : public Component {
public:
    Application();
    ~Application() override;

    // The application object of the process: the one constructed last that still
    // lives, or else a default one made on first use.
    static Application& Instance();
    static bool Exists();

    HWND Handle() const { return hwnd_.get(); }

    std::wstring Title() const { return title_; }
    void SetTitle(const std::wstring& t);
    HICON Icon() const { return icon_.get() ? icon_.get() : defaultIcon_; }
    // Loads an .ico file as the icon of the application and its forms.
    bool LoadIconFromFile(const std::wstring& path);
    void SetIcon(IconHandle big, IconHandle small);
    HICON SmallIcon() const { return smallIcon_.get() ? smallIcon_.get() : Icon(); }

    Form* MainForm() const { return mainForm_; }
    void SetMainForm(Form* f) { mainForm_ = f; }
    // Makes a form owned by the application; the first one becomes the main form.
    template <typename T, typename... Args>
    T* CreateForm(Args&&... args);

    // Shows the main form and runs the message loop until Terminate (closing the
    // main form terminates).
    void Run();
    void Terminate();
    bool Terminated() const { return terminated_; }
    // Handles every message waiting in the queue, then returns.
    void ProcessMessages();
    // Waits for one message and handles it (returns false after WM_QUIT).
    bool HandleMessage();

    // Hints.
    bool ShowHint = true;
    UINT HintPause = 500;       // ms before the hint shows
    UINT HintHidePause = 5000;  // ms the hint stays
    void CancelHint();
    bool HintShowing() const;
    std::wstring HintText() const { return hintText_; }
    HWND HintWindow() const { return hintWnd_.get(); }

    // Internal: called by the framework.
    void MouseOverControl(Control* c);
    void MouseLeft(Control* windowed);
    void ReleaseForm(Form* f);
    void CancelRelease(Form* f);
    bool WaitCursorActive() const { return waitCursor_ > 0; }
    void PushWaitCursor();
    void PopWaitCursor();

private:
    static LRESULT CALLBACK AppWndProc(HWND, UINT, WPARAM, LPARAM);
    static LRESULT CALLBACK HintWndProc(HWND, UINT, WPARAM, LPARAM);
    LRESULT AppMessage(UINT msg, WPARAM wParam, LPARAM lParam);
    bool ProcessMessage(MSG& msg);
    void ShowHintNow();
    void HideHint();
    void DoReleases();

    WindowHandle hwnd_;
    WindowHandle hintWnd_;
    FontHandle hintFont_;
    std::wstring title_;
    IconHandle icon_, smallIcon_;
    HICON defaultIcon_ = nullptr;
    Form* mainForm_ = nullptr;
    bool terminated_ = false;
    int waitCursor_ = 0;
    Application* previous_ = nullptr;

    Control* hintControl_ = nullptr;
    std::weak_ptr<void> hintAlive_;
    std::wstring hintText_;
    std::vector<Form*> releases_;
};

// The application object of the process (Application::Instance()).
Application& App();

// Shows the hourglass over the application's windows for its lifetime.
class HourglassCursor {
public:
    HourglassCursor();
    ~HourglassCursor();
    HourglassCursor(const HourglassCursor&) = delete;
    HourglassCursor& operator=(const HourglassCursor&) = delete;
};

template <typename T, typename... Args>
T* Application::CreateForm(Args&&... args) {
    T* f = new T(this, std::forward<Args>(args)...);
    if (!mainForm_) mainForm_ = f;
    f->AfterConstruction();
    return f;
}

}  // namespace fw
