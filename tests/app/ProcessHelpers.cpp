#include "ProcessHelpers.h"

#include "app/ButtonBarLayout.h"
#include "tests/support/Input.h"
#include "tests/support/MessageBoxes.h"
#include "tests/support/ScreenPixels.h"
#include "tests/support/Wait.h"

#include <shellapi.h>
#include <vector>

namespace apptest {

std::wstring StagedDir() {
    const std::wstring rel = TestBinDir() + L"..\\Orvix\\";
    wchar_t full[32768];
    const DWORD n = GetFullPathNameW(rel.c_str(), 32768, full, nullptr);
    return n > 0 && n < 32768 ? std::wstring(full, n) : rel;
}

RunningProgram::~RunningProgram() { Kill(); }

bool RunningProgram::Start(const std::wstring& exe) {
    // A pointer left over the window's place would hover a button and show its hint over
    // the picture.
    if (!testsupport::ParkPointer()) return false;
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    info.lpFile = exe.c_str();
    info.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExW(&info) || !info.hProcess) return false;
    process_ = info.hProcess;
    pid_ = GetProcessId(process_);
    return true;
}

HWND RunningProgram::WaitForWindow(DWORD timeoutMs) const {
    HWND window = nullptr;
    testsupport::WaitUntil(
        [&] {
            const std::vector<HWND> windows = testsupport::VisibleWindowsOf(pid_);
            if (!windows.empty()) window = windows.front();
            return window || WaitForSingleObject(process_, 0) == WAIT_OBJECT_0;
        },
        timeoutMs);
    return window;
}

bool RunningProgram::WaitExit(DWORD timeoutMs, DWORD* exitCode) const {
    if (!process_ || WaitForSingleObject(process_, timeoutMs) != WAIT_OBJECT_0) return false;
    if (exitCode) GetExitCodeProcess(process_, exitCode);
    return true;
}

void RunningProgram::Kill() {
    if (!process_) return;
    if (WaitForSingleObject(process_, 0) != WAIT_OBJECT_0) {
        TerminateProcess(process_, 99);
        WaitForSingleObject(process_, 5000);
    }
    CloseHandle(process_);
    process_ = nullptr;
}

}  // namespace apptest

#include <filesystem>
#include <fstream>
#include <iterator>

namespace apptest {

namespace {
// Copies the files and folders of from (trailing separator) into to (trailing separator).
bool CopyTree(const std::wstring& from, const std::wstring& to) {
    CreateDirectoryW(to.c_str(), nullptr);
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((from + L"*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return false;
    bool ok = true;
    do {
        const std::wstring name = fd.cFileName;
        if (name == L"." || name == L"..") continue;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            ok = CopyTree(from + name + L"\\", to + name + L"\\") && ok;
        else
            ok = CopyFileW((from + name).c_str(), (to + name).c_str(), FALSE) && ok;
    } while (FindNextFileW(h, &fd));
    FindClose(h);
    return ok;
}
}  // namespace

ProgramCopy::ProgramCopy() { ok_ = CopyTree(StagedDir(), Dir()) && std::filesystem::exists(Exe()); }

bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    std::ofstream out(std::filesystem::path(path), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

void ClickAt(HWND w, int x, int y) {
    POINT p{x, y};
    ClientToScreen(w, &p);
    testsupport::SendClick(p.x, p.y);
}

namespace {

POINT BarButtonCentre(HWND w, BarButton button) {
    RECT rc{};
    GetClientRect(w, &rc);
    const TButtonBarPositions bar = ButtonBarLayout(rc.right < 640, rc.bottom - 40);
    return POINT{bar.RowLefts[static_cast<size_t>(button)] + BarButtonWidth / 2,
                 bar.Top + BarButtonHeight / 2};
}

}  // namespace

void ClickBarButton(HWND w, BarButton button) {
    const POINT c = BarButtonCentre(w, button);
    ClickAt(w, c.x, c.y);
}

bool RecordButtonReady(HWND w) {
    const POINT c = BarButtonCentre(w, BarButton::Record);
    const testsupport::Rgb m = testsupport::ScreenMean(w, RECT{c.x - 5, c.y - 5, c.x + 5, c.y + 5});
    return m.r > m.b + 60;
}

bool LivePicture(HWND w) {
    const testsupport::Rgb m = testsupport::ScreenMean(w, RECT{0, 0, 320, 240});
    return m.b > m.r + 80;
}

}  // namespace apptest
