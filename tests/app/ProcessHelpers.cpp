#include "ProcessHelpers.h"

#include <shellapi.h>
#include <vector>

namespace orvix_test {

std::wstring TestBinDir()
{
    std::vector<wchar_t> buf(32768);
    const DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    std::wstring path(buf.data(), n);
    return path.substr(0, path.find_last_of(L"\\/") + 1);
}

std::wstring StagedDir()
{
    return TestBinDir() + L"..\\Orvix\\";
}

RunningProgram::~RunningProgram()
{
    Kill();
}

bool RunningProgram::Start(const std::wstring& exe)
{
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    info.lpFile = exe.c_str();
    info.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExW(&info) || !info.hProcess)
        return false;
    process_ = info.hProcess;
    pid_ = GetProcessId(process_);
    return true;
}

namespace {
struct FindData {
    DWORD pid;
    HWND found;
    int count;
};

BOOL CALLBACK FindProc(HWND h, LPARAM l)
{
    auto* d = reinterpret_cast<FindData*>(l);
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    if (pid == d->pid && IsWindowVisible(h)) {
        if (!d->found)
            d->found = h;
        ++d->count;
    }
    return TRUE;
}
} // namespace

int CountVisibleWindows(DWORD pid)
{
    FindData d{pid, nullptr, 0};
    EnumWindows(FindProc, reinterpret_cast<LPARAM>(&d));
    return d.count;
}

HWND RunningProgram::WaitForWindow(DWORD timeoutMs) const
{
    const DWORD start = GetTickCount();
    do {
        FindData d{pid_, nullptr, 0};
        EnumWindows(FindProc, reinterpret_cast<LPARAM>(&d));
        if (d.found)
            return d.found;
        if (WaitForSingleObject(process_, 50) == WAIT_OBJECT_0)
            return nullptr;
    } while (GetTickCount() - start < timeoutMs);
    return nullptr;
}

bool RunningProgram::WaitExit(DWORD timeoutMs, DWORD* exitCode) const
{
    if (!process_ || WaitForSingleObject(process_, timeoutMs) != WAIT_OBJECT_0)
        return false;
    if (exitCode)
        GetExitCodeProcess(process_, exitCode);
    return true;
}

void RunningProgram::Kill()
{
    if (!process_)
        return;
    if (WaitForSingleObject(process_, 0) != WAIT_OBJECT_0) {
        TerminateProcess(process_, 99);
        WaitForSingleObject(process_, 5000);
    }
    CloseHandle(process_);
    process_ = nullptr;
}

} // namespace orvix_test
