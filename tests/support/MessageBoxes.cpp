#include "tests/support/MessageBoxes.h"

#include "tests/support/Wait.h"

#include <cwchar>

namespace testsupport {

namespace {

// The static control that holds a message box's text.
constexpr int kTextId = 0xFFFF;

bool IsMessageBox(HWND h) {
    wchar_t cls[32]{};
    GetClassNameW(h, cls, 32);
    return wcscmp(cls, L"#32770") == 0 && GetDlgItem(h, kTextId);
}

}  // namespace

std::wstring Caption(HWND Window) {
    wchar_t text[512]{};
    GetWindowTextW(Window, text, 512);
    return text;
}

HWND VisibleDialogOfThisThread() {
    HWND found = nullptr;
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND h, LPARAM l) CALLBACK -> BOOL {
            wchar_t cls[32]{};
            GetClassNameW(h, cls, 32);
            if (wcscmp(cls, L"#32770") != 0 || !IsWindowVisible(h)) return TRUE;
            *reinterpret_cast<HWND*>(l) = h;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

std::vector<HWND> VisibleWindowsOf(DWORD Pid) {
    struct Data {
        DWORD pid;
        std::vector<HWND> windows;
    } data{Pid, {}};
    EnumWindows(
        [](HWND h, LPARAM l) CALLBACK -> BOOL {
            auto* d = reinterpret_cast<Data*>(l);
            DWORD pid = 0;
            GetWindowThreadProcessId(h, &pid);
            if (pid == d->pid && IsWindowVisible(h)) d->windows.push_back(h);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&data));
    return data.windows;
}

std::vector<HWND> MessageBoxesOf(DWORD Pid) {
    std::vector<HWND> boxes;
    for (HWND h : VisibleWindowsOf(Pid))
        if (IsMessageBox(h)) boxes.push_back(h);
    return boxes;
}

std::wstring MessageBoxText(HWND Box) {
    wchar_t text[1024]{};
    GetDlgItemTextW(Box, kTextId, text, 1024);
    return text;
}

std::vector<std::wstring> MessageBoxTexts(DWORD Pid) {
    std::vector<std::wstring> texts;
    for (HWND box : MessageBoxesOf(Pid)) texts.push_back(MessageBoxText(box));
    return texts;
}

int AnswerMessageBoxes(DWORD Pid) {
    const std::vector<HWND> boxes = MessageBoxesOf(Pid);
    for (HWND box : boxes) PostMessageW(box, WM_COMMAND, IDOK, 0);
    return static_cast<int>(boxes.size());
}

MessageBoxWatcher::MessageBoxWatcher() : thread_([this] { Run(); }) {}

MessageBoxWatcher::~MessageBoxWatcher() {
    stop_ = true;
    thread_.join();
}

std::vector<MessageBoxWatcher::Box> MessageBoxWatcher::Boxes() {
    std::lock_guard<std::mutex> g(lock_);
    return boxes_;
}

std::vector<std::wstring> MessageBoxWatcher::Texts() {
    std::vector<std::wstring> texts;
    for (const Box& b : Boxes()) texts.push_back(b.text);
    return texts;
}

void MessageBoxWatcher::Run() {
    WaitUntil(
        [this] {
            for (HWND h : MessageBoxesOf(GetCurrentProcessId())) {
                if (seen_.count(h)) continue;
                seen_.insert(h);
                Box b;
                b.text = MessageBoxText(h);
                wchar_t caption[256]{};
                GetWindowTextW(h, caption, 256);
                b.caption = caption;
                b.owner = GetWindow(h, GW_OWNER);
                b.ownerEnabled = b.owner && IsWindowEnabled(b.owner);
                {
                    std::lock_guard<std::mutex> g(lock_);
                    boxes_.push_back(b);
                }
                PostMessageW(h, WM_COMMAND, IDOK, 0);
            }
            return stop_.load();
        },
        INFINITE);
}

}  // namespace testsupport
