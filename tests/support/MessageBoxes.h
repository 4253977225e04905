// The message boxes a test waits for, reads and answers: of another process (the staged
// program) or of this one, where a watcher answers them from a thread of its own so that
// the code that showed one returns.
#pragma once

#include <windows.h>

#include <atomic>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

// A window's caption, of this process or another.
std::wstring Caption(HWND Window);
// The visible top-level windows of process Pid, in z order.
std::vector<HWND> VisibleWindowsOf(DWORD Pid);
// The visible message boxes of process Pid, in z order.
std::vector<HWND> MessageBoxesOf(DWORD Pid);
// A message box's text.
std::wstring MessageBoxText(HWND Box);
// The texts of Pid's message boxes.
std::vector<std::wstring> MessageBoxTexts(DWORD Pid);
// Answers each of Pid's message boxes with OK; returns how many there were.
int AnswerMessageBoxes(DWORD Pid);
// The first visible dialog window (a property frame, a box) of this thread, or null: for a
// timer that answers a modal dialog from inside its loop.
HWND VisibleDialogOfThisThread();

// Answers every message box of this process with OK as soon as it shows and keeps what
// it said: a box shown by a call that has returned has been seen by then.
class MessageBoxWatcher {
public:
    MessageBoxWatcher();
    ~MessageBoxWatcher();
    MessageBoxWatcher(const MessageBoxWatcher&) = delete;
    MessageBoxWatcher& operator=(const MessageBoxWatcher&) = delete;

    struct Box {
        std::wstring text, caption;
        HWND owner = nullptr;
        // Whether the owner took input while the box was up.
        bool ownerEnabled = false;
    };
    std::vector<Box> Boxes();
    std::vector<std::wstring> Texts();

private:
    void Run();

    std::atomic<bool> stop_{false};
    std::mutex lock_;
    std::vector<Box> boxes_;
    std::set<HWND> seen_;
    std::thread thread_;
};

}  // namespace testsupport
