#include "UiTestSupport.h"

#include "common/FolderProbe.h"
#include "common/u_PathUtil.h"
#include "framework/Form.h"
#include "ui/GDialogs.h"
#include "tests/support/VistaListing.h"

#include <windows.h>
#include <commctrl.h>

#include <atomic>

using namespace uitest;

namespace {

// A status line like the browser's: a static control with a known font, of a width
// the test chooses.
class StatusLine {
public:
    StatusLine() {
        parent_ = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 800, 100, nullptr, nullptr,
                                  nullptr, nullptr);
        control_ = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 0, 0, 100, 20, parent_,
                                   nullptr, nullptr, nullptr);
        LOGFONTW lf{};
        lf.lfHeight = -11;
        wcscpy(lf.lfFaceName, L"Tahoma");
        font_ = CreateFontIndirectW(&lf);
        SendMessageW(control_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    }
    ~StatusLine() {
        DestroyWindow(parent_);
        DeleteObject(font_);
    }
    HWND Handle() const { return control_; }
    void SetWidth(int Width) {
        SetWindowPos(control_, nullptr, 0, 0, Width, 20, SWP_NOZORDER | SWP_NOMOVE);
    }
    int Width(const std::string& Text) const {
        HDC dc = GetDC(control_);
        HGDIOBJ old = SelectObject(dc, font_);
        SIZE s{};
        GetTextExtentPoint32A(dc, Text.c_str(), static_cast<int>(Text.size()), &s);
        SelectObject(dc, old);
        ReleaseDC(control_, dc);
        return s.cx;
    }

private:
    HWND parent_ = nullptr;
    HWND control_ = nullptr;
    HFONT font_ = nullptr;
};

// Each step must be what a control exactly as wide as that step shows, and a control
// one pixel narrower must show the next step.
void ExpectSteps(StatusLine& Line, const std::string& Text, const std::vector<std::string>& Steps) {
    for (size_t i = 0; i < Steps.size(); ++i) {
        Line.SetWidth(Line.Width(Steps[i]));
        EXPECT_EQ(CompactPath(Line.Handle(), Text), Steps[i]) << "step " << i;
        Line.SetWidth(Line.Width(Steps[i]) - 1);
        const std::string next = i + 1 < Steps.size() ? Steps[i + 1] : Steps[i];
        EXPECT_EQ(CompactPath(Line.Handle(), Text), next) << "narrower than step " << i;
    }
}

class BrowseDialogTest : public UiTest {};

}  // namespace

TEST_F(BrowseDialogTest, SelectionGetsASeparatorOnlyForExistingFolders) {
    testsupport::TempFolder scratch{L"orvix_ui"};
    const std::string folder = scratch.MakeFolder("Temp");
    TGBrowseDialog d(nullptr);
    d.SetSelection(folder);
    EXPECT_EQ(d.Selection(), folder + "\\");
    d.SetSelection(folder + "\\missing");
    EXPECT_EQ(d.Selection(), folder + "\\missing");
    // A file is not a folder.
    const std::string file = scratch.AnsiPath() + "file.txt";
    CloseHandle(CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    d.SetSelection(file);
    EXPECT_EQ(d.Selection(), file);
    d.SetSelection("C:");
    EXPECT_EQ(d.Selection(), "C:");

    // A folder longer than MAX_PATH is recognised whole.
    const std::string deep = scratch.MakeFolder(
        std::string(120, 'a') + "\\" + std::string(120, 'b') + "\\" + std::string(60, 'c'));
    ASSERT_GT(deep.size(), static_cast<size_t>(MAX_PATH));
    d.SetSelection(deep);
    EXPECT_EQ(d.Selection(), deep + "\\");
}

TEST_F(BrowseDialogTest, OptionsAddTheOptionsTheyImply) {
    TGBrowseDialog d(nullptr);
    EXPECT_EQ(d.Options(), TBrowseFlags(bfDirectoriesOnly));
    d.SetOptions(bfShareable);
    EXPECT_EQ(d.Options(), TBrowseFlags(bfShareable | bfUseNewUI | bfEditBox | bfNewDialogStyle));
    d.SetOptions(bfIncludeURLs);
    EXPECT_EQ(d.Options(), TBrowseFlags(bfIncludeURLs | bfIncludeFiles | bfUseNewUI | bfEditBox |
                                        bfNewDialogStyle));
    d.SetOptions(0);
    EXPECT_EQ(d.Options(), 0u);

    EXPECT_EQ(BrowseInfoFlags(bfDirectoriesOnly | bfComputers | bfEditBox),
              UINT(BIF_RETURNONLYFSDIRS | BIF_BROWSEFORCOMPUTER | BIF_EDITBOX));
    EXPECT_EQ(BrowseInfoFlags(bfAncestors | bfPrinters | bfIncludeFiles | bfIncludeURLs |
                              bfShareable | bfDomainOnly),
              UINT(BIF_RETURNFSANCESTORS | BIF_BROWSEFORPRINTER | BIF_BROWSEINCLUDEFILES |
                   BIF_BROWSEINCLUDEURLS | BIF_SHAREABLE | BIF_DONTGOBELOWDOMAIN));
}

TEST_F(BrowseDialogTest, StatusTextFollowsTheSelectionWhenDisplayingIt) {
    TGBrowseDialog d(nullptr);
    d.SetStatusText("Pick one");
    EXPECT_EQ(d.StatusText(), "Pick one");
    d.SetSelection("X:\\nowhere");
    d.SetDisplaySelection(true);
    EXPECT_EQ(d.StatusText(), "X:\\nowhere");
    d.SetStatusText("ignored");
    EXPECT_EQ(d.StatusText(), "X:\\nowhere");
    d.SetSelection("Y:\\elsewhere");
    EXPECT_EQ(d.StatusText(), "Y:\\elsewhere");
    // Closed: the title is the stored one.
    d.SetTitle("Folders");
    EXPECT_EQ(d.Title(), "Folders");
}

TEST_F(BrowseDialogTest, RootTableForBothPlatforms) {
    EXPECT_EQ(RootFolderId(TRootID::idDesktop, true), CSIDL_DESKTOP);
    EXPECT_EQ(RootFolderId(TRootID::idDesktopDirectory, true), CSIDL_DESKTOPDIRECTORY);
    EXPECT_EQ(RootFolderId(TRootID::idDrives, false), CSIDL_DRIVES);
    EXPECT_EQ(RootFolderId(TRootID::idTemplates, true), CSIDL_TEMPLATES);
    EXPECT_EQ(RootFolderId(TRootID::idAppData, false), CSIDL_APPDATA);
    EXPECT_EQ(RootFolderId(TRootID::idPrintHood, true), CSIDL_PRINTHOOD);
    EXPECT_EQ(RootFolderId(TRootID::idCommonStartMenu, true), CSIDL_COMMON_STARTMENU);
    EXPECT_EQ(RootFolderId(TRootID::idCommonStartMenu, false), CSIDL_STARTMENU);
    EXPECT_EQ(RootFolderId(TRootID::idCommonPrograms, true), CSIDL_COMMON_PROGRAMS);
    EXPECT_EQ(RootFolderId(TRootID::idCommonPrograms, false), CSIDL_PROGRAMS);
    EXPECT_EQ(RootFolderId(TRootID::idCommonStartup, true), CSIDL_COMMON_STARTUP);
    EXPECT_EQ(RootFolderId(TRootID::idCommonStartup, false), CSIDL_STARTUP);
    EXPECT_EQ(RootFolderId(TRootID::idCommonDesktopDirectory, true), CSIDL_COMMON_DESKTOPDIRECTORY);
    EXPECT_EQ(RootFolderId(TRootID::idCommonDesktopDirectory, false), CSIDL_DESKTOPDIRECTORY);
    EXPECT_EQ(RootFolderId(TRootID::idCommonDesktopDirectory), CSIDL_COMMON_DESKTOPDIRECTORY);
}

TEST_F(BrowseDialogTest, ExistingFolderTest) {
    testsupport::TempFolder scratch{L"orvix_ui"};
    const std::string folder = scratch.MakeFolder("one");
    EXPECT_TRUE(IsExistingFolder(folder));
    EXPECT_TRUE(IsExistingFolder(folder + "\\"));
    // Vista refuses the quick listing; the plain one answers.
    FindFirstFileExRoutine = &testsupport::VistaFindFirstFileEx;
    const bool onVista = IsExistingFolder(folder);
    FindFirstFileExRoutine = &::FindFirstFileExW;
    EXPECT_TRUE(onVista);
    EXPECT_FALSE(IsExistingFolder(folder + "\\two"));
    EXPECT_FALSE(IsExistingFolder(""));
    EXPECT_FALSE(IsExistingFolder("\\"));
    EXPECT_FALSE(IsExistingFolder(scratch.AnsiPath() + "*"));
    EXPECT_FALSE(IsExistingFolder(scratch.AnsiPath() + "on?"));
    const std::string file = scratch.AnsiPath() + "f.txt";
    CloseHandle(CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    EXPECT_FALSE(IsExistingFolder(file));

    EXPECT_TRUE(IsExistingFolder("C:\\"));
    EXPECT_TRUE(IsExistingFolder("c:\\"));
    const DWORD drives = GetLogicalDrives();
    for (char letter = 'Z'; letter > 'C'; --letter) {
        if (!(drives & (1u << (letter - 'A')))) {
            EXPECT_FALSE(IsExistingFolder(std::string(1, letter) + ":\\")) << letter;
            break;
        }
    }
    EXPECT_FALSE(IsExistingFolder("1:\\"));
}

TEST_F(BrowseDialogTest, ShortenFolderPartSteps) {
    EXPECT_EQ(ShortenFolderPart("\\"), "");
    EXPECT_EQ(ShortenFolderPart("\\a\\b\\c\\"), "\\...\\b\\c\\");
    EXPECT_EQ(ShortenFolderPart("\\...\\b\\c\\"), "\\...\\c\\");
    EXPECT_EQ(ShortenFolderPart("\\...\\c\\"), "\\...\\");
    EXPECT_EQ(ShortenFolderPart("...\\"), "");
    EXPECT_EQ(ShortenFolderPart("a\\b\\"), "...\\b\\");
    EXPECT_EQ(ShortenFolderPart("ab"), "");
}

TEST_F(BrowseDialogTest, CompactPathStepByStepInARealControl) {
    StatusLine line;
    const std::string path = "C:\\Documents and Settings\\All Users\\Documents\\My Pictures";
    line.SetWidth(line.Width(path));
    EXPECT_EQ(CompactPath(line.Handle(), path), path);
    ExpectSteps(line, path,
                {"C:\\...\\All Users\\Documents\\My Pictures", "C:\\...\\Documents\\My Pictures",
                 "C:\\...\\My Pictures", "...\\My Pictures", "My Pictures"});
    line.SetWidth(5);
    EXPECT_EQ(CompactPath(line.Handle(), path), "My Pictures");

    // The first step of a network path only turns its leading pair of separators into
    // "\...\", which is wider still; a control just too narrow shows the second step.
    const std::string unc = "\\\\server\\share\\folder\\sub";
    line.SetWidth(line.Width(unc) - 1);
    EXPECT_EQ(CompactPath(line.Handle(), unc), "\\...\\share\\folder\\sub");
    ExpectSteps(
        line, unc,
        {"\\...\\share\\folder\\sub", "\\...\\folder\\sub", "\\...\\sub", "...\\sub", "sub"});

    // Without a device context nothing is measured and nothing shortened.
    EXPECT_EQ(CompactPath(reinterpret_cast<HWND>(static_cast<uintptr_t>(0x7ffe)), path), path);
}

TEST_F(BrowseDialogTest, TruncateTextFitsWithAnEllipsis) {
    StatusLine line;
    const std::string text = "Choose the folder into which Orvix saves its pictures";
    line.SetWidth(line.Width(text));
    EXPECT_EQ(TruncateText(line.Handle(), text), text);
    for (int width : {250, 120, 60, 20}) {
        line.SetWidth(width);
        const std::string fitted = TruncateText(line.Handle(), text);
        ASSERT_GE(fitted.size(), 3u);
        EXPECT_EQ(fitted.substr(fitted.size() - 3), "...") << width;
        EXPECT_LE(line.Width(fitted), width) << fitted;
        const std::string kept = fitted.substr(0, fitted.size() - 3);
        EXPECT_EQ(text.substr(0, kept.size()), kept);
        // One character more would not have fitted.
        EXPECT_GT(line.Width(text.substr(0, kept.size() + 1) + "..."), width) << fitted;
    }
    line.SetWidth(2);
    EXPECT_EQ(TruncateText(line.Handle(), text), "...");
}

namespace {

HWND ButtonOf(HWND Browser, int Id) { return GetDlgItem(Browser, Id); }

}  // namespace

class BrowseExecuteTest : public UiTest {
protected:
    void SetUp() override {
        UiTest::SetUp();
        owner = fw::NewForm<fw::Form>(&app);
        owner->SetCaption(L"Browse owner");
        owner->SetBounds(10, 10, 300, 200);
        owner->Show();
        dialog = new TGBrowseDialog(owner);
        dialog->SetTitle("Orvix test browser");
        a = scratch.MakeFolder("a");
        b = scratch.MakeFolder("b");
    }

    fw::Form* owner = nullptr;
    TGBrowseDialog* dialog = nullptr;
    testsupport::TempFolder scratch{L"orvix_ui"};
    std::string a, b;
};

TEST_F(BrowseExecuteTest, OpensCentredWithTitleAndFittedStatusAndOkReturnsTheFolder) {
    const std::string status =
        "A status line far too long for the browser's status control, so that it must be cut short "
        "to fit";
    dialog->SetStatusText(status);
    dialog->SetSelection(a);
    int shown = 0, closed = 0;
    dialog->OnShow = [&] { ++shown; };
    dialog->OnClose = [&] { ++closed; };
    bool result = false;
    RunWithUser(
        [&] { result = dialog->Execute(); },
        [&] {
            HWND w = WaitForTopWindow(L"Orvix test browser");
            ASSERT_TRUE(w) << "the browser did not open with its title";
            RECT r{};
            GetWindowRect(w, &r);
            EXPECT_EQ(r.left, (GetSystemMetrics(SM_CXSCREEN) - (r.right - r.left)) / 2);
            EXPECT_EQ(r.top, (GetSystemMetrics(SM_CYSCREEN) - (r.bottom - r.top)) / 2);
            HWND statusLine = StatusControlOf(w);
            ASSERT_TRUE(statusLine);
            const std::string expected = TruncateText(statusLine, status);
            EXPECT_NE(expected, status);
            EXPECT_TRUE(WaitUntil([&] { return WideToAnsi(WindowText(statusLine)) == expected; }))
                << WideToAnsi(WindowText(statusLine));
            Click(ButtonOf(w, IDOK));
            EXPECT_TRUE(WaitWindowGone(w));
        });
    EXPECT_TRUE(result);
    EXPECT_EQ(dialog->Selection(), a);  // as the shell gives it: no separator
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(closed, 1);
    EXPECT_EQ(dialog->BrowserWindow(), nullptr);
}

TEST_F(BrowseExecuteTest, CancelRestoresTheSelectionAfterTheUserMovedIt) {
    dialog->SetDisplaySelection(true);
    dialog->SetSelection(a);
    std::vector<std::string> seen;
    dialog->OnSelectionChange = [&] { seen.push_back(dialog->Selection()); };
    bool result = true;
    RunWithUser([&] { result = dialog->Execute(); },
                [&] {
                    HWND w = WaitForTopWindow(L"Orvix test browser");
                    ASSERT_TRUE(w);
                    HWND statusLine = StatusControlOf(w);
                    ASSERT_TRUE(statusLine);
                    // The browser starts at the selection and shows it in the status line.
                    EXPECT_TRUE(WaitUntil([&] {
                        return WideToAnsi(WindowText(statusLine)) == CompactPath(statusLine, a);
                    })) << WideToAnsi(WindowText(statusLine));
                    MoveInBrowserTree(w, VK_UP);
                    EXPECT_TRUE(WaitUntil([&] {
                        return WideToAnsi(WindowText(statusLine)) != CompactPath(statusLine, a);
                    }));
                    Click(ButtonOf(w, IDCANCEL));
                    EXPECT_TRUE(WaitWindowGone(w));
                });
    EXPECT_FALSE(result);
    EXPECT_GE(seen.size(), 2u);
    EXPECT_EQ(dialog->Selection(), a + "\\");
}

// Wine's browser ignores a typed name (it returns the tree's selection and never
// reports a failed validation), so the answer to the shell is checked at the callback:
// 0 lets the browser close, 1 keeps it open.
TEST_F(BrowseExecuteTest, ValidateFailCancelDecidesWhatTheShellIsTold) {
    std::vector<std::string> typed;
    bool cancel = false;
    dialog->OnValidateFail = [&](TGBrowseDialog* sender, const std::string& path, bool& c) {
        EXPECT_EQ(sender, dialog);
        EXPECT_FALSE(c);  // starts false
        typed.push_back(path);
        c = cancel;
    };
    const char name[] = "Q:\\no such place";
    const LPARAM self = reinterpret_cast<LPARAM>(dialog);
    EXPECT_EQ(TGBrowseDialog::BrowseCallback(nullptr, BFFM_VALIDATEFAILEDA,
                                             reinterpret_cast<LPARAM>(name), self),
              1);
    cancel = true;
    EXPECT_EQ(TGBrowseDialog::BrowseCallback(nullptr, BFFM_VALIDATEFAILEDA,
                                             reinterpret_cast<LPARAM>(name), self),
              0);
    ASSERT_EQ(typed.size(), 2u);
    EXPECT_EQ(typed[0], name);
    // Without a handler the browser stays open; without a component nothing happens.
    dialog->OnValidateFail = nullptr;
    EXPECT_EQ(TGBrowseDialog::BrowseCallback(nullptr, BFFM_VALIDATEFAILEDA,
                                             reinterpret_cast<LPARAM>(name), self),
              1);
    EXPECT_EQ(TGBrowseDialog::BrowseCallback(nullptr, BFFM_VALIDATEFAILEDA,
                                             reinterpret_cast<LPARAM>(name), 0),
              0);
    EXPECT_EQ(TGBrowseDialog::BrowseCallback(nullptr, BFFM_IUNKNOWN, 0, self), 0);
    EXPECT_EQ(typed.size(), 2u);
}

// The edit box option asks the shell for validation; Wine shows the box.
TEST_F(BrowseExecuteTest, EditBoxOptionShowsTheEditBox) {
    dialog->SetOptions(bfDirectoriesOnly | bfUseNewUI);
    dialog->SetSelection(a);
    bool result = false;
    RunWithUser([&] { result = dialog->Execute(); },
                [&] {
                    HWND w = WaitForTopWindow(L"Orvix test browser");
                    ASSERT_TRUE(w);
                    const std::vector<HWND> edits = Children(w, L"Edit");
                    ASSERT_FALSE(edits.empty()) << "no edit box";
                    // The browser has taken the selection once its box shows the name.
                    EXPECT_TRUE(WaitUntil([&] { return WindowText(edits[0]) == L"a"; }))
                        << WideToAnsi(WindowText(edits[0]));
                    Click(ButtonOf(w, IDOK));
                    EXPECT_TRUE(WaitWindowGone(w));
                });
    EXPECT_TRUE(result);
    EXPECT_EQ(dialog->Selection(), a);
}

// A folder deeper than MAX_PATH comes back whole or not at all, never cut short.
TEST_F(BrowseExecuteTest, LongFolderComesBackWhole) {
    const std::string deep = scratch.MakeFolder(
        std::string(100, 'x') + "\\" + std::string(100, 'y') + "\\" + std::string(90, 'z'));
    ASSERT_GT(deep.size(), static_cast<size_t>(MAX_PATH));
    dialog->SetSelection(deep);
    bool result = false;
    RunWithUser([&] { result = dialog->Execute(); },
                [&] {
                    HWND w = WaitForTopWindow(L"Orvix test browser");
                    ASSERT_TRUE(w);
                    Click(ButtonOf(w, IDOK));
                    EXPECT_TRUE(WaitWindowGone(w));
                });
    if (result) {
        EXPECT_TRUE(IsExistingFolder(dialog->Selection())) << dialog->Selection();
        EXPECT_TRUE(dialog->Selection() == deep || deep.rfind(dialog->Selection(), 0) != 0 ||
                    deep[dialog->Selection().size()] == '\\')
            << "cut short: " << dialog->Selection();
    } else {
        EXPECT_EQ(dialog->Selection(), deep + "\\");
    }
}
