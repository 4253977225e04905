#include "tests/support/Wait.h"

#include "framework/Application.h"

namespace testsupport {

namespace {

void ServiceQueue() {
    if (fw::Application::Exists()) {
        fw::Application::Instance().ProcessMessages();
        return;
    }
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
}

}  // namespace

bool PumpUntil(const std::function<bool()>& Pred, DWORD TimeoutMs) {
    const DWORD start = ::GetTickCount();
    for (;;) {
        ServiceQueue();
        if (Pred()) return true;
        const DWORD elapsed = ::GetTickCount() - start;
        if (elapsed >= TimeoutMs) return false;
        ::MsgWaitForMultipleObjectsEx(0, nullptr, 5, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
}

bool WaitUntil(const std::function<bool()>& Pred, DWORD TimeoutMs) {
    const DWORD start = ::GetTickCount();
    while (!Pred()) {
        if (::GetTickCount() - start >= TimeoutMs) return false;
        ::MsgWaitForMultipleObjectsEx(0, nullptr, 10, QS_SENDMESSAGE, 0);
        MSG msg;
        ::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
    return true;
}

}  // namespace testsupport
