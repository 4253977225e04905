#include "UiTestSupport.h"

#include "common/u_GlobalDefine.h"
#include "common/u_PathUtil.h"
#include "common/u_ResourceLib.h"
#include "framework/Bitmap.h"
#include "ui/TntGButton.h"
#include "ui/u_SelectForm.h"

#include <windows.h>

#include <fstream>

using namespace uitest;

namespace {

class SelectFormTest : public UiTest {
protected:
    void SetUp() override {
        UiTest::SetUp();
        AppPath = scratch.AnsiPath();
        sizes = {"1280 x 720", "160 x 120", "352 x 288", "320 x 240", "640 x 480"};
    }

    // A form filled as ShowSelectForm fills it, shown without a modal loop.
    Tfrm_SelectForm* OpenForm(int Videos, int Audios) {
        auto* f = fw::NewForm<Tfrm_SelectForm>(&app);
        for (int i = 0; i < Videos; ++i) f->cbVideo->AddItem(L"Camera " + std::to_wstring(i));
        for (int i = 0; i < Audios; ++i) f->cbAudio->AddItem(L"Microphone " + std::to_wstring(i));
        f->SetFrameSizes(sizes);
        f->Show();
        return f;
    }

    static HWND Form() { return WaitForActiveForm(GetText("T_VIDEOFORMAT")); }
    static HWND At(HWND Form, int X, int Y) {
        return ChildWindowFromPointEx(Form, POINT{X, Y}, CWP_SKIPINVISIBLE | CWP_SKIPTRANSPARENT);
    }

    testsupport::TempFolder scratch{L"orvix_ui"};
    std::vector<std::string> sizes;
};

std::vector<std::wstring> Items(fw::ComboBox* Box) { return Box->Items(); }

}  // namespace

TEST_F(SelectFormTest, ParseAndCompareResolutions) {
    int32_t w = 1, h = 2;
    EXPECT_FALSE(ParseResolution("640x480", w, h));
    EXPECT_FALSE(ParseResolution("", w, h));
    EXPECT_EQ(w, 1);
    EXPECT_EQ(h, 2);
    EXPECT_TRUE(ParseResolution("640 x 480", w, h));
    EXPECT_EQ(w, 640);
    EXPECT_EQ(h, 480);
    EXPECT_TRUE(ParseResolution("wide x 480", w, h));
    EXPECT_EQ(w, 352);
    EXPECT_EQ(h, 480);
    EXPECT_TRUE(ParseResolution("800 x tall", w, h));
    EXPECT_EQ(w, 800);
    EXPECT_EQ(h, 288);
    EXPECT_TRUE(ParseResolution("99999999999 x 480 ", w, h));  // out of range, trailing blank
    EXPECT_EQ(w, 352);
    EXPECT_EQ(h, 288);

    EXPECT_EQ(CompareResolutionWidth("352 x 288", "640 x 480"), -1);
    EXPECT_EQ(CompareResolutionWidth("1280 x 720", "640 x 480"), 1);
    EXPECT_EQ(CompareResolutionWidth("640 x 360", "640 x 480"), 0);
    EXPECT_EQ(CompareResolutionWidth("NONE", "640 x 480"), 0);

    EXPECT_EQ(OfferedResolutions(
                  {"1280 x 720", "160 x 120", "352 x 288", "320 x 240", "640 x 480", "junk"}),
              (std::vector<std::string>{"352 x 288", "640 x 480", "1280 x 720"}));
    EXPECT_TRUE(OfferedResolutions({"160 x 120", "320 x 240"}).empty());
}

TEST_F(SelectFormTest, LayoutListsAndStoredChoice) {
    SelWidth = 640;
    SelHeight = 480;
    SelVideoIndex = 1;
    SelAudioIndex = -1;
    auto* f = OpenForm(2, 1);
    RECT rc{};
    GetClientRect(f->Handle(), &rc);
    EXPECT_EQ(rc.right, 312);
    EXPECT_EQ(rc.bottom, 233);
    EXPECT_TRUE(GetWindowLongW(f->Handle(), GWL_EXSTYLE) & WS_EX_TOPMOST);
    EXPECT_EQ(f->Caption(), GetText("T_VIDEOFORMAT"));
    EXPECT_EQ(f->lblAudioDevice->Caption(), GetText("T_AUDIODEVICE"));
    EXPECT_EQ(f->btnOk->Caption(), GetText("T_OK"));
    EXPECT_EQ(Items(f->cbResolution),
              (std::vector<std::wstring>{L"352 x 288", L"640 x 480", L"1280 x 720"}));
    EXPECT_EQ(f->cbResolution->ItemIndex(), 1);
    EXPECT_EQ(f->cbVideo->ItemIndex(), 1);
    EXPECT_EQ(f->cbAudio->ItemIndex(), 0);  // -1 selects the first device
    EXPECT_TRUE(f->cbResolution->Enabled());
    // Screen readers name each list by its label, though the labels have no windows.
    EXPECT_EQ(AccessibleNameOf(f->cbResolution->Handle()), GetText("T_RESOLUTION"));
    EXPECT_EQ(AccessibleNameOf(f->cbVideo->Handle()), GetText("T_VIDEODEVICE"));
    EXPECT_EQ(AccessibleNameOf(f->cbAudio->Handle()), GetText("T_AUDIODEVICE"));
    // The decorative buttons lie under the push buttons.
    EXPECT_EQ(f->gbOk->Left(), f->btnOk->Left());
    EXPECT_EQ(f->gbCancel->Top(), f->btnCancel->Top());
    EXPECT_FALSE(f->gbOk->OnClick);
    delete f;
}

TEST_F(SelectFormTest, ListsWithoutEntries) {
    // Only sizes the dialog does not offer.
    sizes = {"160 x 120", "320 x 240"};
    SelVideoIndex = 5;  // beyond the two devices
    auto* f = OpenForm(2, 0);
    EXPECT_FALSE(f->cbResolution->Enabled());
    EXPECT_EQ(f->cbResolution->Style(), fw::ComboStyle::Simple);
    EXPECT_EQ(f->cbResolution->Text(), L"NONE");
    EXPECT_EQ(f->cbVideo->ItemIndex(), 0);
    EXPECT_FALSE(f->cbAudio->Enabled());
    EXPECT_EQ(f->cbAudio->Text(), GetText("T_NO_DEVICE"));
    delete f;

    // A capture control that reports no sizes at all: the two defaults.
    sizes.clear();
    SelWidth = 800;  // not in the list: nothing selected
    SelHeight = 600;
    f = OpenForm(1, 1);
    EXPECT_EQ(Items(f->cbResolution), (std::vector<std::wstring>{L"352 x 288", L"640 x 480"}));
    EXPECT_EQ(f->cbResolution->ItemIndex(), -1);
    delete f;
}

TEST_F(SelectFormTest, GlyphFilesThatAreNotBitmapsDoNotStopTheDialog) {
    const std::string images = scratch.MakeFolder("images");
    std::ofstream(images + "\\gbOk.bmp") << "this is not a bitmap";
    fw::Bitmap strip(24, 24);
    ASSERT_TRUE(strip.SaveToFile(AnsiToWide(images + "\\gbCancel.bmp")));
    auto* f = OpenForm(1, 1);
    EXPECT_TRUE(f->gbOk->Glyphs().Glyph().Empty());
    EXPECT_EQ(f->gbCancel->Glyphs().Glyph().Width(), 24);
    EXPECT_EQ(f->cbResolution->ItemCount(), 3);
    delete f;
}

TEST_F(SelectFormTest, UserPicksASizeAndDevicesWithKeysAndOk) {
    int32_t w = 640, h = 480, video = 0, audio = 0;
    RunWithUser(
        [&] {
            ShowSelectForm({"Camera A", "Camera B"}, {"Microphone"}, sizes, w, h, video, audio);
        },
        [&] {
            HWND f = Form();
            ASSERT_TRUE(f);
            EXPECT_TRUE(ChooseInDropDown(At(f, 60, 47), VK_HOME));  // the first size
            EXPECT_TRUE(ChooseInDropDown(At(f, 60, 102), VK_END));  // the last camera
            Click(At(f, 110, 205));
            EXPECT_TRUE(WaitWindowGone(f));
        });
    EXPECT_EQ(w, 352);
    EXPECT_EQ(h, 288);
    EXPECT_EQ(video, 1);
    EXPECT_EQ(audio, 0);
}

TEST_F(SelectFormTest, EscapeAndCancelGiveTheCallersValuesBack) {
    for (bool escape : {true, false}) {
        int32_t w = 640, h = 480, video = 7, audio = 0;
        RunWithUser(
            [&] {
                ShowSelectForm({"Camera A", "Camera B"}, {"Microphone"}, sizes, w, h, video, audio);
            },
            [&] {
                HWND f = Form();
                ASSERT_TRUE(f);
                EXPECT_TRUE(ChooseInDropDown(At(f, 60, 47), VK_HOME));
                EXPECT_TRUE(ChooseInDropDown(At(f, 60, 102), VK_END));
                if (escape)
                    PressKey(VK_ESCAPE);
                else
                    Click(At(f, 200, 205));
                EXPECT_TRUE(WaitWindowGone(f));
            });
        EXPECT_EQ(w, 640) << escape;
        EXPECT_EQ(h, 480);
        EXPECT_EQ(video, 7);
        EXPECT_EQ(audio, 0);
    }
}

// Escape on an open list closes the list only: the dialog stays, and its OK takes the
// choice made before.
TEST_F(SelectFormTest, EscapeOnAnOpenListClosesOnlyTheList) {
    int32_t w = 640, h = 480, video = 0, audio = 0;
    RunWithUser([&] { ShowSelectForm({"Camera A"}, {"Microphone"}, sizes, w, h, video, audio); },
                [&] {
                    HWND f = Form();
                    ASSERT_TRUE(f);
                    const HWND sizes = At(f, 60, 47);
                    EXPECT_TRUE(ChooseInDropDown(sizes, VK_HOME));
                    bool dropped = false;
                    for (int attempt = 0; attempt < 3 && !dropped; ++attempt) {
                        Click(sizes);
                        dropped = WaitUntil([&] { return Dropped(sizes); }, 2000);
                    }
                    ASSERT_TRUE(dropped);
                    PressKey(VK_ESCAPE);
                    ASSERT_TRUE(WaitUntil([&] { return !Dropped(sizes); }, 5000));
                    Click(At(f, 110, 205));
                    EXPECT_TRUE(WaitWindowGone(f));
                });
    EXPECT_EQ(w, 352) << "the dialog was cancelled";
    EXPECT_EQ(h, 288);
}

TEST_F(SelectFormTest, OkWithoutUsableSizesOrAudioKeepsTheSizeAndReportsNoAudio) {
    sizes = {"160 x 120"};
    int32_t w = 640, h = 480, video = 5, audio = 0;
    RunWithUser(
        [&] {
            ShowSelectForm({"Camera A", "Camera B"}, {}, sizes, w, h, video, audio);
        },
        [&] {
            HWND f = Form();
            ASSERT_TRUE(f);
            Click(At(f, 110, 205));
            EXPECT_TRUE(WaitWindowGone(f));
        });
    EXPECT_EQ(w, 640);
    EXPECT_EQ(h, 480);
    EXPECT_EQ(video, 0);  // out of range: the first device was selected
    EXPECT_EQ(audio, -1);
}
