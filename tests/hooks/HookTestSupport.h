// Shared pieces of the hook tests: helper processes next to the test program and plain
// windows to receive notifications.
#pragma once

#include "framework/WinHandles.h"
#include "quillhook/SaverRecord.h"
#include "tests/support/Wait.h"

#include <windows.h>
#include <tlhelp32.h>

#include <cstring>
#include <cwchar>
#include <functional>
#include <optional>
#include <string>

namespace hooktest {

// name may start with a subfolder ("x64\\hooks_syscommand").
inline std::wstring HelperPath(const wchar_t* name) {
    wchar_t path[MAX_PATH] = {};
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path, n);
    dir.resize(dir.find_last_of(L"\\/") + 1);
    return dir + name + L".exe";
}

// A started helper process; the destructor waits briefly and then ends it, so that a
// failed assertion never leaves it behind.
class HelperProcess {
public:
    HelperProcess(const wchar_t* name, const std::wstring& args) {
        std::wstring command = L"\"" + HelperPath(name) + L"\" " + args;
        STARTUPINFOW si{};
        si.cb = sizeof(si);
        PROCESS_INFORMATION pi{};
        if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                           &si, &pi)) {
            process_.reset(pi.hProcess);
            CloseHandle(pi.hThread);
        }
    }
    ~HelperProcess() {
        if (process_ && WaitForSingleObject(process_.get(), 5000) != WAIT_OBJECT_0)
            TerminateProcess(process_.get(), 99);
    }
    bool started() const { return process_.valid(); }
    // The exit code, or -1 when it did not end within the time.
    int Wait(DWORD ms = 20000) const {
        DWORD code = 0;
        if (!process_ || WaitForSingleObject(process_.get(), ms) != WAIT_OBJECT_0 ||
            !GetExitCodeProcess(process_.get(), &code))
            return -1;
        return static_cast<int>(code);
    }

private:
    fw::Handle process_;
};

inline int RunHelper(const wchar_t* name, const std::wstring& args) {
    HelperProcess helper(name, args);
    return helper.started() ? helper.Wait() : -2;
}

// A hidden top-level window with a replaceable window procedure.
class TestWindow {
public:
    std::function<bool(UINT, WPARAM, LPARAM)> OnMessage;  // true: handled

    TestWindow() {
        static ATOM atom = [] {
            WNDCLASSW wc{};
            wc.lpfnWndProc = Proc;
            wc.hInstance = GetModuleHandleW(nullptr);
            wc.lpszClassName = L"HooksTestWindow";
            return RegisterClassW(&wc);
        }();
        window_.reset(CreateWindowExW(0, MAKEINTATOM(atom), L"hooks", WS_OVERLAPPEDWINDOW, 0, 0,
                                      100, 100, nullptr, nullptr, GetModuleHandleW(nullptr), this));
    }
    HWND hwnd() const { return window_.get(); }
    void Destroy() { window_.reset(); }

private:
    static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
        if (msg == WM_NCCREATE)
            SetWindowLongPtrW(hwnd, GWLP_USERDATA,
                              reinterpret_cast<LONG_PTR>(
                                  reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
        auto* self = reinterpret_cast<TestWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (self && self->OnMessage && self->OnMessage(msg, wParam, lParam)) return 1;
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }

    fw::WindowHandle window_;
};

inline std::wstring Hex(unsigned long value) {
    wchar_t text[16];
    std::swprintf(text, 16, L"%lx", value);
    return text;
}

// What the hook chain in another process decides for WM_SYSCOMMAND(command, parameter)
// to a window of that process: 1 cancelled, 0 goes ahead.
inline int SysCommandElsewhere(unsigned long command, unsigned long parameter) {
    return RunHelper(L"hooks_syscommand", Hex(command) + L" " + Hex(parameter));
}

// The same from a 64-bit program, for a 32-bit build on 64-bit Windows (its x64 folder
// holds the 64-bit helper); -2 where there is none.
inline int SysCommandIn64BitProgram(unsigned long command, unsigned long parameter) {
    return RunHelper(L"x64\\hooks_syscommand", Hex(command) + L" " + Hex(parameter));
}

// The 64-bit half is a process of its own that sets its hook a moment after it was
// started: true once a 64-bit program's command is cancelled, asked until the time is up.
inline bool HeldBackIn64BitProgram(unsigned long command, unsigned long parameter) {
    return testsupport::WaitUntil([&] { return SysCommandIn64BitProgram(command, parameter) == 1; },
                                  10000);
}

// A 32-bit test program on 64-bit Windows, where the 64-bit programs need a hook of their
// own.
inline bool Under64BitWindows() {
    BOOL wow64 = FALSE;
    return sizeof(void*) == 4 && IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

// Running processes started by `parent` from a program of this file name.
inline int ChildrenNamed(DWORD parent, const wchar_t* exe) {
    fw::Handle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return -1;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    int count = 0;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
        if (entry.th32ParentProcessID == parent && _wcsicmp(entry.szExeFile, exe) == 0) {
            // An entry may outlive its process for a moment: only a running one counts.
            fw::Handle process(OpenProcess(SYNCHRONIZE, FALSE, entry.th32ProcessID));
            if (process && WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT) ++count;
        }
    }
    return count;
}

inline std::optional<quillhook::TSaverRecord> ReadRecord() {
    fw::Handle mapping(OpenFileMappingA(FILE_MAP_READ, FALSE, quillhook::SaverRecordName));
    if (!mapping) return std::nullopt;
    fw::MappedView view(MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0));
    if (!view) return std::nullopt;
    quillhook::TSaverRecord record;
    std::memcpy(&record, view.get(), sizeof(record));
    return record;
}

// The next `message` waiting in the queue of `to`, taken without dispatching.
inline std::optional<MSG> TakeMessage(HWND to, UINT message) {
    MSG msg;
    if (!PeekMessageW(&msg, to, message, message, PM_REMOVE)) return std::nullopt;
    return msg;
}

inline bool RecordExists() {
    fw::Handle mapping(OpenFileMappingA(FILE_MAP_READ, FALSE, quillhook::SaverRecordName));
    return mapping.valid();
}

}  // namespace hooktest
