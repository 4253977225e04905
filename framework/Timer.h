// Timer component: raises OnTimer every Interval milliseconds while Enabled. A
// handler may disable its own timer (one-shot use) or free it.
#pragma once

#include "framework/Component.h"
#include "framework/Types.h"
#include "framework/WinHandles.h"

namespace fw {

class Timer : public Component {
public:
    explicit Timer(Component* owner);
    ~Timer() override;

    UINT Interval() const { return interval_; }
    void SetInterval(UINT ms);
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool on);

    // The timer runs only while Enabled, Interval > 0 and OnTimer is set; assign
    // OnTimer before enabling.
    NotifyEvent OnTimer;

    // Runs the handler as one tick would.
    void Tick();

private:
    static LRESULT CALLBACK TimerWndProc(HWND, UINT, WPARAM, LPARAM);
    void Update();

    UINT interval_ = 1000;
    bool enabled_ = true;
    bool running_ = false;
    WindowHandle wnd_;
};

}  // namespace fw
