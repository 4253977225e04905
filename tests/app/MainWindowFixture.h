// The main window in the test process, as the tests of its behaviour build it: a scratch
// program folder, the language texts, the window, and its orderly end.
#pragma once

#include "app/u_CamForm.h"
#include "framework/Application.h"
#include "tests/support/CameraConfig.h"
#include "tests/support/MessageBoxes.h"
#include "tests/support/TempFolder.h"
#include "tests/support/Wait.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <string>

namespace apptest {

using testsupport::Caption;
using testsupport::PumpUntil;

// A bitmap file of one colour, as the tests put glyph strips and bar pictures into the
// images folder.
void WriteSolidBmp(const std::wstring& path, int w, int h, COLORREF c);

class MainWindowTest : public testing::Test {
protected:
    enum class Texts {
        // A short language file of the tests' own ("Orvix under test", "Confirm", ...).
        Test,
        // The staged English language file, read through GetText.
        English,
    };

    void TearDown() override;

    // Loads the texts with the program folder (AppPath) at the scratch folder, then
    // creates the window (not shown yet).
    void CreateMainWindow(Texts texts);
    // Shows the window and lets its start timer open the camera.
    void ShowAndStart();
    // Closes and frees the window, as the program's end does.
    void CloseMainWindow();

    SIZE ClientSize() const;
    RECT WindowRect() const;
    // Waits until the picture area on the screen shows the stand-in's forward picture (a
    // blue checkerboard: blue well above red).
    bool PictureShowsCamera();
    // Runs Inside on this thread from within the next box or dialog that the window opens
    // (its modal loop dispatches a thread timer's tick), given that box or dialog, which
    // Inside must close. As a timer of the window firing inside the box would. Null: none.
    void InsideNextModal(std::function<void(HWND)> inside);
    // The log the window has written in this test (its lines flushed first).
    std::string LogText();

    testsupport::CameraConfig config;
    testsupport::TempFolder folder{L"orvix_mainwindow"};
    fw::Application app;
    Tfrm_DADez* form = nullptr;
    HWND wnd = nullptr;
};

}  // namespace apptest
