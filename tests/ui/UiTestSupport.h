// Helpers of the dialog tests: the program's English texts, and a
// "user" that acts on the real windows from a second thread through the system's input
// queue while the test thread runs a modal loop.
#pragma once

#include "framework/Application.h"
#include "tests/support/TempFolder.h"
#include "tests/support/Wait.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace uitest {

using testsupport::PumpUntil;
using testsupport::WaitUntil;

// The name accessibility tools read for a window (through its WM_GETOBJECT answer or the
// system's own object); "(none)" when they get none.
std::wstring AccessibleNameOf(HWND Window);

// Loads the staged English language file and points AppPath at Folder.
void UseEnglishTexts();

// A visible top-level window of this process with that caption (any class when Class
// is empty), or null after the time-out.
HWND WaitForTopWindow(const std::wstring& Caption, const std::wstring& Class = L"",
                      DWORD TimeoutMs = 10000);
// WaitForTopWindow, then BringToFront, so that the next click acts on what it hits
// rather than activating.
HWND WaitForActiveForm(const std::wstring& Caption, DWORD TimeoutMs = 10000);
// Waits until the top-level window is shown, enabled and in place, then clicks its caption
// until it is the foreground window; false when it never became so.
bool BringToFront(HWND Top);
// Waits until the window is gone or hidden.
bool WaitWindowGone(HWND Window, DWORD TimeoutMs = 10000);
// Waits for a message box of this process, answers it with OK and waits for it to go;
// gives its text (empty when none showed) and, through Owner, its owner window.
std::wstring AnswerMessageBox(HWND* Owner = nullptr, DWORD TimeoutMs = 10000);
// Clicks the selected item of a folder browser's tree, so that the tree has the focus, and
// moves the selection with Key, as a user with the keyboard would.
void MoveInBrowserTree(HWND Browser, WORD Key);
// The status line of an open folder browser, or null.
HWND StatusControlOf(HWND Browser);

// Visible top-level windows of other processes whose caption contains Part (the file
// manager and help viewer that the program starts).
std::vector<HWND> OtherWindowsTitled(const std::wstring& Part);
// Closes the windows that OtherWindowsTitled finds and returns their processes.
std::vector<DWORD> CloseOtherWindowsTitled(const std::wstring& Part);
// Waits until those processes have ended: one that lingers keeps a claim on the
// foreground and the focus that later dialog tests need. The desktop's own process is
// never waited for.
bool ProcessesEnded(const std::vector<DWORD>& Pids, DWORD TimeoutMs = 15000);

// Child windows (at any depth) of a class, in z order.
std::vector<HWND> Children(HWND Parent, const std::wstring& Class);
std::wstring WindowText(HWND Window);

// Real input through the system's queue.
void ClickAt(int X, int Y);
// At its centre, once it is shown and its window is in front.
void Click(HWND Control);
void ClickCloseBox(HWND Window);
void PressKey(WORD Vk, bool Shift = false, bool Ctrl = false, bool Alt = false);
void TypeText(const std::wstring& Text);
// Opens a drop-down list with a click, moves in it with Key and takes the item with
// Enter, waiting for each step to show; true when the list closed on the new item.
bool ChooseInDropDown(HWND Combo, WORD Key);
// Whether the drop-down list of Combo is open.
bool Dropped(HWND Combo);
// Puts the caret into an edit field and replaces its text as a user would.
void ReplaceEditText(HWND Edit, const std::wstring& Text);

// Runs Body on the test thread (typically a modal call) while Script acts as the user
// on a second thread. Should the script stop early (a failed check), the windows left
// open are closed so that Body returns and the failure is reported.
void RunWithUser(const std::function<void()>& Body, const std::function<void()>& Script);

// Test fixture with an application object and the English texts.
class UiTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    fw::Application app;
    std::string savedAppPath;
    std::wstring savedImagePath, savedMoviePath;
};

}  // namespace uitest
