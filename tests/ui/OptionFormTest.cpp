#include "UiTestSupport.h"

#include "common/u_GlobalDefine.h"
#include "common/u_PathUtil.h"
#include "common/u_ResourceLib.h"
#include "ui/GDialogs.h"
#include "ui/u_Option.h"

#include <windows.h>
#include <commctrl.h>

using namespace uitest;

namespace {

class OptionFormTest : public UiTest {
protected:
    void SetUp() override {
        UiTest::SetUp();
        a = scratch.MakeFolder("a");
        b = scratch.MakeFolder("b");
        c = scratch.MakeFolder("c");
        ImagePath = AnsiToWide(a + "\\");
        MoviePath = AnsiToWide(b + "\\");
    }

    // The dialog's window, and its controls by where they sit.
    static HWND Form() { return WaitForActiveForm(GetText("T_FOLDER_SETTING")); }
    static HWND At(HWND Form, int X, int Y) {
        return ChildWindowFromPointEx(Form, POINT{X, Y}, CWP_SKIPINVISIBLE | CWP_SKIPTRANSPARENT);
    }
    static HWND ImageField(HWND F) { return At(F, 40, 80); }
    static HWND MovieField(HWND F) { return At(F, 40, 140); }
    static HWND ImageBrowse(HWND F) { return At(F, 315, 80); }
    static HWND MovieBrowse(HWND F) { return At(F, 315, 140); }
    static HWND OkButton(HWND F) { return At(F, 200, 180); }
    static HWND CancelButton(HWND F) { return At(F, 280, 180); }

    int Show() {
        int result = 0;
        result = ShowOptionForm();
        return result;
    }

    testsupport::TempFolder scratch{L"orvix_ui"};
    std::string a, b, c;
};

std::wstring W(const std::string& s) { return AnsiToWide(s); }

// Waits until the browser's status line shows Folder (as the browser shortens it).
bool StatusShows(HWND Browser, const std::string& Folder) {
    HWND status = StatusControlOf(Browser);
    return status &&
           WaitUntil([&] { return WideToAnsi(WindowText(status)) == CompactPath(status, Folder); });
}

}  // namespace

TEST_F(OptionFormTest, LayoutAndTexts) {
    auto* f = fw::NewForm<Tfrm_Option>(&app);
    f->Show();
    RECT rc{};
    GetClientRect(f->Handle(), &rc);
    EXPECT_EQ(rc.right, 372);
    EXPECT_EQ(rc.bottom, 213);
    const LONG style = GetWindowLongW(f->Handle(), GWL_STYLE);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_FALSE(style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX));
    EXPECT_EQ(f->Caption(), GetText("T_FOLDER_SETTING"));
    EXPECT_EQ(f->edImagePath->Text(), ImagePath);
    EXPECT_EQ(f->edMoviePath->Text(), MoviePath);
    EXPECT_EQ(f->lblImagePath->Caption(), GetText("T_IMAGE_PATH"));
    EXPECT_EQ(f->btnMovieFolder->Caption(), GetText("T_SEARCH_PATH"));
    EXPECT_EQ(f->btnCancel->Caption(), GetText("T_CANCEL"));
    EXPECT_EQ(f->GBD1->Title(), WideToAnsi(GetText("T_FOLDER_SETTING")));
    EXPECT_EQ(f->GBD1->Options(), 0u);
    EXPECT_TRUE(f->GBD1->DisplaySelection());
    EXPECT_EQ(f->btnMovieFolder->BoundsRect().top, 126);
    EXPECT_EQ(f->edMoviePath->BoundsRect().left, 30);
    // Screen readers name each field by its label, though the labels have no windows.
    EXPECT_EQ(AccessibleNameOf(f->edImagePath->Handle()), GetText("T_IMAGE_PATH"));
    EXPECT_EQ(AccessibleNameOf(f->edMoviePath->Handle()), GetText("T_MOVIE_PATH"));
    EXPECT_EQ(AccessibleNameOf(f->btnOk->Handle()), GetText("T_OK"));
    // Tab order: picture field, its button, the recording button, the recording field.
    f->edImagePath->SetFocus();
    f->SelectNext(true);
    EXPECT_TRUE(f->btnImageFolder->Focused());
    f->SelectNext(true);
    EXPECT_TRUE(f->btnMovieFolder->Focused());
    f->SelectNext(true);
    EXPECT_TRUE(f->edMoviePath->Focused());
    delete f;
}

TEST_F(OptionFormTest, TypedMissingFolderIsReplacedOnLeavingAndOkAddsTheSeparator) {
    int result = 0;
    RunWithUser([&] { result = Show(); },
                [&] {
                    HWND f = Form();
                    ASSERT_TRUE(f);
                    ReplaceEditText(ImageField(f), L"C:\\no\\such\\folder");
                    PressKey(VK_TAB);
                    EXPECT_TRUE(WaitUntil([&] { return WindowText(ImageField(f)) == W(a + "\\"); }))
                        << WideToAnsi(WindowText(ImageField(f)));
                    ReplaceEditText(MovieField(f), W(c));
                    Click(OkButton(f));
                    EXPECT_TRUE(WaitWindowGone(f));
                });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(ImagePath, W(a + "\\"));
    EXPECT_EQ(MoviePath, W(c + "\\"));
}

TEST_F(OptionFormTest, OkRightAfterTypingTestsTheFieldFirst) {
    const std::wstring image = ImagePath;
    int result = 0;
    RunWithUser([&] { result = Show(); },
                [&] {
                    HWND f = Form();
                    ASSERT_TRUE(f);
                    ReplaceEditText(MovieField(f), L"");  // a cleared field
                    ReplaceEditText(ImageField(f), L"C:\\no\\such\\folder");
                    EXPECT_EQ(WindowText(MovieField(f)), W(b + "\\"));  // restored when left
                    Click(OkButton(f));
                    EXPECT_TRUE(WaitWindowGone(f));
                });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(ImagePath, image);
    EXPECT_EQ(MoviePath, W(b + "\\"));
}

// A folder name the system code page cannot hold would be stored with other letters
// (another folder, or none): the stored folder stays and the user is told, over the dialog.
TEST_F(OptionFormTest, AFolderOutsideTheCodePageKeepsTheStoredOneAndIsTold) {
    const std::wstring greek = W(scratch.AnsiPath()) + L"\\\x03A9mega";
    ASSERT_TRUE(CreateDirectoryW(greek.c_str(), nullptr));
    scratch.MakeFolder("Omega");  // where a look-alike conversion would lead
    const std::wstring image = ImagePath;
    int result = 0;
    std::wstring told;
    HWND owner = nullptr, dialog = nullptr;
    RunWithUser([&] { result = Show(); },
                [&] {
                    dialog = Form();
                    ASSERT_TRUE(dialog);
                    ReplaceEditText(ImageField(dialog), greek);
                    PressKey(VK_TAB);
                    told = AnswerMessageBox(&owner);
                    ASSERT_FALSE(told.empty()) << "nothing told";
                    EXPECT_EQ(WindowText(ImageField(dialog)), image);
                    Click(OkButton(dialog));
                    EXPECT_TRUE(WaitWindowGone(dialog));
                });
    EXPECT_EQ(told, GetText("T_FOLDER_ERR"));
    EXPECT_EQ(owner, dialog);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(ImagePath, image);
}

TEST_F(OptionFormTest, FoldersLongerThanMaxPathAreKeptWhole) {
    const std::string deep = scratch.MakeFolder(
        std::string(100, 'p') + "\\" + std::string(100, 'q') + "\\" + std::string(90, 'r'));
    ASSERT_GT(deep.size(), static_cast<size_t>(MAX_PATH));
    int result = 0;
    RunWithUser(
        [&] { result = Show(); },
        [&] {
            HWND f = Form();
            ASSERT_TRUE(f);
            ReplaceEditText(ImageField(f), W(deep));
            ReplaceEditText(MovieField(f), W(deep + "\\missing"));
            PressKey(VK_TAB);
            EXPECT_TRUE(WaitUntil([&] { return WindowText(MovieField(f)) == W(b + "\\"); }));
            Click(OkButton(f));
            EXPECT_TRUE(WaitWindowGone(f));
        });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(ImagePath, W(deep + "\\"));
    EXPECT_EQ(MoviePath, W(b + "\\"));
}

TEST_F(OptionFormTest, CancelAndCloseBoxReturnTwoAndChangeNothing) {
    const std::wstring image = ImagePath, movie = MoviePath;
    for (bool closeBox : {false, true}) {
        int result = 0;
        HWND form = nullptr;
        RunWithUser([&] { result = Show(); },
                    [&] {
                        HWND f = Form();
                        ASSERT_TRUE(f);
                        form = f;
                        ReplaceEditText(ImageField(f), W(c));
                        ReplaceEditText(MovieField(f), W(c));
                        if (closeBox)
                            ClickCloseBox(f);
                        else
                            Click(CancelButton(f));
                        EXPECT_TRUE(WaitWindowGone(f));
                    });
        EXPECT_EQ(result, 2) << (closeBox ? "close box" : "cancel");
        EXPECT_EQ(ImagePath, image);
        EXPECT_EQ(MoviePath, movie);
        // Each dialog is freed once it has closed.
        EXPECT_TRUE(PumpUntil([&] { return !IsWindow(form); }));
    }
}

TEST_F(OptionFormTest, BrowsingStartsAtTheStoredFolderEachTime) {
    int result = 0;
    const std::wstring title = GetText("T_FOLDER_SETTING");
    RunWithUser([&] { result = Show(); },
                [&] {
                    HWND f = Form();
                    ASSERT_TRUE(f);
                    Click(ImageBrowse(f));
                    HWND browser = WaitForTopWindow(title, L"#32770");
                    ASSERT_TRUE(browser) << "the folder browser did not open";
                    EXPECT_TRUE(StatusShows(browser, a)) << "not started at the stored folder";
                    MoveInBrowserTree(browser, VK_DOWN);
                    EXPECT_TRUE(StatusShows(browser, b));
                    Click(GetDlgItem(browser, IDOK));
                    ASSERT_TRUE(WaitWindowGone(browser));
                    EXPECT_TRUE(WaitUntil([&] { return WindowText(ImageField(f)) == W(b); }))
                        << WideToAnsi(WindowText(ImageField(f)));

                    // Again: the browser starts at the stored folder, not at the one just
                    // picked; cancelling it keeps the field.
                    Click(ImageBrowse(f));
                    browser = WaitForTopWindow(title, L"#32770");
                    ASSERT_TRUE(browser);
                    EXPECT_TRUE(StatusShows(browser, a));
                    Click(GetDlgItem(browser, IDCANCEL));
                    ASSERT_TRUE(WaitWindowGone(browser));
                    EXPECT_EQ(WindowText(ImageField(f)), W(b));

                    // The recording folder's browser starts at its own stored folder.
                    Click(MovieBrowse(f));
                    browser = WaitForTopWindow(title, L"#32770");
                    ASSERT_TRUE(browser);
                    EXPECT_TRUE(StatusShows(browser, b));
                    Click(GetDlgItem(browser, IDCANCEL));
                    ASSERT_TRUE(WaitWindowGone(browser));
                    Click(OkButton(f));
                    EXPECT_TRUE(WaitWindowGone(f));
                });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(ImagePath, W(b + "\\"));
    EXPECT_EQ(MoviePath, W(b + "\\"));
}
