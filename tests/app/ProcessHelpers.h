// Starting and watching the staged program from tests.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

#include "tests/support/MessageBoxes.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestPaths.h"
#include "tests/support/Wait.h"

namespace apptest {

using testsupport::AnswerMessageBoxes;
using testsupport::Caption;
using testsupport::MessageBoxesOf;
using testsupport::MessageBoxTexts;
using testsupport::TestBinDir;
using testsupport::WaitUntil;
// The staged program folder (<build>/Orvix), with a trailing separator.
std::wstring StagedDir();

// A started copy of the staged Orvix.exe; ends it (if still running) when destroyed.
class RunningProgram {
public:
    RunningProgram() = default;
    ~RunningProgram();
    RunningProgram(const RunningProgram&) = delete;
    RunningProgram& operator=(const RunningProgram&) = delete;

    // Starts the program at path (elevation-aware, as a user's double click would).
    bool Start(const std::wstring& exe);
    DWORD Pid() const { return pid_; }
    HANDLE Process() const { return process_; }
    // The first visible top-level window of the process, or null after timeoutMs.
    HWND WaitForWindow(DWORD timeoutMs) const;
    // Waits for the end of the process; false on time-out.
    bool WaitExit(DWORD timeoutMs, DWORD* exitCode = nullptr) const;
    // Ends the process at once (clean-up after a failed test).
    void Kill();

private:
    HANDLE process_ = nullptr;
    DWORD pid_ = 0;
};

}  // namespace apptest

namespace apptest {

// A private copy of the staged program folder in a temporary folder, removed again when
// the object goes; tests change its files without touching the staged folder.
class ProgramCopy {
public:
    ProgramCopy();
    ProgramCopy(const ProgramCopy&) = delete;
    ProgramCopy& operator=(const ProgramCopy&) = delete;

    bool Ok() const { return ok_; }
    // The copy's folder, with a trailing separator.
    const std::wstring& Dir() const { return folder_.Path(); }
    std::wstring Exe() const { return Dir() + L"Orvix.exe"; }

private:
    testsupport::TempFolder folder_{L"orvix_copy"};
    bool ok_ = false;
};

// Whole file contents; empty when unreadable.
bool WriteFileBytes(const std::wstring& path, const std::string& bytes);

// A real pointer click at a point of the window's client area.
void ClickAt(HWND w, int x, int y);
// The bar's buttons from the open-folder button to the record button, as the window's
// layout places them.
enum class BarButton { OpenFolder, Preview, Forward, Lens, Backward, Snap, Record };
// A real pointer click at the centre of a button of the bar (the bottom 40 pixels of the
// main window's client area).
void ClickBarButton(HWND w, BarButton button);
// Whether the record button shows its red glyph, as it does once the camera is open and
// it takes clicks (grey, it takes none).
bool RecordButtonReady(HWND w);
// The stand-in camera's forward picture (blue) in the top left 320 x 240 of the window.
bool LivePicture(HWND w);

}  // namespace apptest
