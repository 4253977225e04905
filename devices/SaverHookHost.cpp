#include "devices/SaverHookHost.h"

#include "common/u_PathUtil.h"
#include "framework/WinHandles.h"
#include "quillhook/SaverRecord.h"

#include <cwchar>
#include <string>

namespace {

fw::Handle HostProcess;
DWORD HostThreadId = 0;

// The host may take a moment to remove its hook; one that does not end is ended.
constexpr DWORD kHostEndMs = 5000;

#ifndef _WIN64
bool RunsUnderWow64() {
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

std::wstring Hex(unsigned long Value) {
    wchar_t text[16] = {};
    std::swprintf(text, 16, L"%lx", Value);
    return text;
}
#endif

}  // namespace

void StartSaverHookHost(HWND Window, UINT Message) {
#ifdef _WIN64
    // A 64-bit program's hook reaches the 64-bit programs itself.
    (void)Window;
    (void)Message;
#else
    if (HostProcess || !RunsUnderWow64()) return;
    const std::wstring host = GetProgramFolderW() + L"x64\\QuillhookHost.exe";
    std::wstring command = L"\"" + host + L"\" " + Hex(quillhook::PackWindow(Window)) + L" " +
                           Hex(Message) + L" " + std::to_wstring(GetCurrentProcessId());
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    // Nothing inherited; a missing host leaves the 64-bit programs as they are.
    if (!CreateProcessW(host.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &si, &pi))
        return;
    CloseHandle(pi.hThread);
    HostProcess.reset(pi.hProcess);
    HostThreadId = pi.dwThreadId;
#endif
}

void StopSaverHookHost() {
    if (!HostProcess) return;
    // The thread may not have its queue yet when the host has only just started: asked
    // until it has ended or the time is up.
    const DWORD start = GetTickCount();
    while (WaitForSingleObject(HostProcess.get(), 0) == WAIT_TIMEOUT &&
           GetTickCount() - start < kHostEndMs) {
        PostThreadMessageW(HostThreadId, WM_QUIT, 0, 0);
        WaitForSingleObject(HostProcess.get(), 50);
    }
    if (WaitForSingleObject(HostProcess.get(), 0) == WAIT_TIMEOUT)
        TerminateProcess(HostProcess.get(), 1);
    HostProcess.reset();
    HostThreadId = 0;
}
