#include "framework/Timer.h"

namespace fw {

namespace {
const wchar_t kTimerClass[] = L"OrvixFw.Timer";
constexpr UINT_PTR kTimerId = 1;
}  // namespace

Timer::Timer(Component* owner) : Component(owner) {}

Timer::~Timer() {
    if (wnd_) {
        ::KillTimer(wnd_.get(), kTimerId);
        ::SetWindowLongPtrW(wnd_.get(), GWLP_USERDATA, 0);
    }
}

void Timer::SetInterval(UINT ms) {
    if (ms == interval_) return;
    interval_ = ms;
    if (running_ && wnd_) ::KillTimer(wnd_.get(), kTimerId);  // restarts with the new interval
    running_ = false;
    Update();
}

void Timer::SetEnabled(bool on) {
    if (on == enabled_ && (!on || running_)) return;
    enabled_ = on;
    Update();
}

void Timer::Update() {
    const bool run = enabled_ && interval_ > 0 && OnTimer && !Destroying();
    if (!run) {
        if (running_ && wnd_) ::KillTimer(wnd_.get(), kTimerId);
        running_ = false;
        return;
    }
    if (running_) return;
    if (!wnd_) {
        static bool registered = false;
        if (!registered) {
            WNDCLASSEXW wc{};
            wc.cbSize = sizeof(wc);
            wc.lpfnWndProc = &Timer::TimerWndProc;
            wc.hInstance = ::GetModuleHandleW(nullptr);
            wc.lpszClassName = kTimerClass;
            ::RegisterClassExW(&wc);
            registered = true;
        }
        // A message-only window per timer: its WM_TIMER carries no foreign ids.
        wnd_.reset(::CreateWindowExW(0, kTimerClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                     ::GetModuleHandleW(nullptr), nullptr));
        if (!wnd_) return;
        ::SetWindowLongPtrW(wnd_.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    running_ = ::SetTimer(wnd_.get(), kTimerId, interval_, nullptr) != 0;
}

void Timer::Tick() {
    if (!OnTimer || Destroying()) return;
    auto handler = OnTimer;  // the handler may replace OnTimer or free this timer
    handler();
}

LRESULT CALLBACK Timer::TimerWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_TIMER && wParam == kTimerId) {
        auto* t = reinterpret_cast<Timer*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (t) {
            if (!t->OnTimer) {
                t->Update();  // the handler was removed: stop
                return 0;
            }
            t->Tick();
        }
        return 0;
    }
    return ::DefWindowProcW(hwnd, msg, wParam, lParam);
}

}  // namespace fw
