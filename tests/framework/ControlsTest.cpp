#include "framework/Form.h"
#include "framework/GraphicControl.h"
#include "framework/StdControls.h"
#include "framework/ExtControls.h"

#include "FrameworkTest.h"
#include "tests/support/Input.h"

#include <string>
#include <vector>

namespace {

class Probe : public fw::GraphicControl {
public:
    explicit Probe(fw::Component* owner) : GraphicControl(owner) {
        OnClick = [this] { log.push_back("click"); };
        OnMouseEnter = [this] { log.push_back("enter"); };
        OnMouseLeave = [this] { log.push_back("leave"); };
        OnMouseDown = [this](fw::MouseButton, fw::ShiftState, int x, int y) {
            log.push_back("down " + std::to_string(x) + "," + std::to_string(y));
        };
        OnMouseUp = [this](fw::MouseButton, fw::ShiftState, int, int) { log.push_back("up"); };
    }
    std::vector<std::string> log;
    int paints = 0;
    fw::TColor fill = fw::clRed;

protected:
    void Paint(fw::Canvas& c) override {
        ++paints;
        c.Brush.Color = fill;
        c.FillRect(RECT{0, 0, Width(), Height()});
    }
};

class ControlsTest : public FrameworkTest {
protected:
    void SetUp() override {
        FrameworkTest::SetUp();
        form = fw::NewForm<fw::Form>(&app);
        form->SetClientSize(300, 200);
        form->SetBounds(40, 40, form->Width(), form->Height());
        probe = new Probe(form);
        probe->SetParent(form);
        probe->SetBounds(20, 30, 60, 40);
        form->Show();
        ::UpdateWindow(form->Handle());
    }
    void Send(UINT msg, WPARAM keys, int x, int y) {
        ::SendMessageW(form->Handle(), msg, keys, MousePos(x, y));
    }
    fw::Form* form = nullptr;
    Probe* probe = nullptr;
};

using Log = std::vector<std::string>;

}  // namespace

TEST_F(ControlsTest, GraphicControlClickNeedsPressAndReleaseOnIt) {
    Send(WM_MOUSEMOVE, 0, 25, 35);
    Send(WM_LBUTTONDOWN, MK_LBUTTON, 25, 35);
    EXPECT_EQ(::GetCapture(), form->Handle());  // held: the parent keeps the mouse
    EXPECT_TRUE(probe->MousePressed());
    Send(WM_LBUTTONUP, 0, 30, 40);
    EXPECT_EQ(probe->log, (Log{"enter", "down 5,5", "click", "up"}));
    EXPECT_NE(::GetCapture(), form->Handle());

    // Pressed on it, released outside: no click, but the release still reaches it.
    probe->log.clear();
    Send(WM_LBUTTONDOWN, MK_LBUTTON, 25, 35);
    Send(WM_MOUSEMOVE, MK_LBUTTON, 150, 150);
    Send(WM_LBUTTONUP, 0, 150, 150);
    EXPECT_EQ(probe->log, (Log{"down 5,5", "leave", "up"}));

    // Pressed outside, released on it: nothing for the control but the entry.
    probe->log.clear();
    int formDowns = 0;
    form->OnMouseDown = [&](fw::MouseButton, fw::ShiftState, int, int) { ++formDowns; };
    Send(WM_LBUTTONDOWN, MK_LBUTTON, 150, 150);
    Send(WM_MOUSEMOVE, MK_LBUTTON, 25, 35);
    Send(WM_LBUTTONUP, 0, 25, 35);
    EXPECT_EQ(probe->log, (Log{"enter"}));
    EXPECT_EQ(formDowns, 1);
}

TEST_F(ControlsTest, GraphicControlEnterLeaveFollowTheMouseEvenWhileHeld) {
    Send(WM_MOUSEMOVE, 0, 200, 150);
    EXPECT_TRUE(probe->log.empty());
    Send(WM_MOUSEMOVE, 0, 21, 31);
    Send(WM_MOUSEMOVE, 0, 50, 50);  // still on it: no second entry
    EXPECT_EQ(probe->log, (Log{"enter"}));
    Send(WM_LBUTTONDOWN, MK_LBUTTON, 50, 50);
    Send(WM_MOUSEMOVE, MK_LBUTTON, 100, 50);  // dragged off while held
    Send(WM_MOUSEMOVE, MK_LBUTTON, 60, 50);   // and back
    Send(WM_LBUTTONUP, 0, 60, 50);
    Send(WM_MOUSEMOVE, 0, 250, 10);
    EXPECT_EQ(probe->log, (Log{"enter", "down 30,20", "leave", "enter", "click", "up", "leave"}));
}

TEST_F(ControlsTest, DisabledOrHiddenGraphicControlGetsNoClick) {
    int formClicks = 0;
    form->OnClick = [&] { ++formClicks; };
    probe->SetEnabled(false);
    Send(WM_LBUTTONDOWN, MK_LBUTTON, 25, 35);
    Send(WM_LBUTTONUP, 0, 25, 35);
    probe->SetEnabled(true);
    probe->SetVisible(false);
    Send(WM_LBUTTONDOWN, MK_LBUTTON, 25, 35);
    Send(WM_LBUTTONUP, 0, 25, 35);
    for (const auto& e : probe->log) EXPECT_NE(e, "click");
    EXPECT_EQ(formClicks, 2);  // the form under it got them
}

TEST_F(ControlsTest, OverlappingGraphicControlsTheTopmostGetsTheMouse) {
    auto* top = new Probe(form);
    top->SetParent(form);
    top->SetBounds(50, 50, 60, 40);  // overlaps the lower right of probe
    Send(WM_MOUSEMOVE, 0, 60, 60);
    Send(WM_LBUTTONDOWN, MK_LBUTTON, 60, 60);
    Send(WM_LBUTTONUP, 0, 60, 60);
    EXPECT_EQ(top->log, (Log{"enter", "down 10,10", "click", "up"}));
    for (const auto& e : probe->log) EXPECT_NE(e, "click");
}

TEST_F(ControlsTest, GraphicControlPaintsItsRectangleOnTheParent) {
    ASSERT_TRUE(PumpUntil([&] { return probe->paints > 0; }));
    const int before = probe->paints;
    probe->fill = fw::clBlue;
    probe->Repaint();
    EXPECT_GT(probe->paints, before);
    // The off-screen picture of the form shows the control's colour at its place
    // and the form colour beside it.
    HDC screen = ::GetDC(form->Handle());
    HDC mem = ::CreateCompatibleDC(screen);
    HBITMAP bmp = ::CreateCompatibleBitmap(screen, 300, 200);
    HGDIOBJ old = ::SelectObject(mem, bmp);
    ::BitBlt(mem, 0, 0, 300, 200, screen, 0, 0, SRCCOPY);
    EXPECT_EQ(::GetPixel(mem, 30, 40), RGB(0, 0, 255));
    EXPECT_EQ(::GetPixel(mem, 10, 10), fw::ColorToRGB(fw::clBtnFace));
    ::SelectObject(mem, old);
    ::DeleteObject(bmp);
    ::DeleteDC(mem);
    ::ReleaseDC(form->Handle(), screen);
}

TEST_F(ControlsTest, HintOfTheControlUnderTheMouseShowsAfterThePause) {
    app.HintPause = 30;
    probe->Hint = L"Snapshot";
    probe->ShowHint = true;
    // The real pointer goes there too, so the platform's leave tracking agrees.
    POINT p = form->ClientToScreen(POINT{30, 40});
    ASSERT_TRUE(testsupport::MovePointer(p.x, p.y));
    Send(WM_MOUSEMOVE, 0, 30, 40);
    ASSERT_TRUE(PumpUntil([&] { return app.HintShowing(); }));
    EXPECT_EQ(app.HintText(), L"Snapshot");
    Send(WM_LBUTTONDOWN, MK_LBUTTON, 30, 40);
    EXPECT_FALSE(app.HintShowing());  // a press hides it
    Send(WM_LBUTTONUP, 0, 30, 40);
}

TEST_F(ControlsTest, ComboBoxKeepsItemsIndexAndTextAcrossStyleSwitches) {
    auto* cb = new fw::ComboBox(form);
    cb->SetStyle(fw::ComboStyle::DropDownList);
    cb->SetParent(form);
    cb->SetBounds(30, 100, 250, 24);
    cb->AddItem(L"352 x 288");
    cb->AddItem(L"640 x 480");
    cb->AddItem(L"1280 x 720");
    cb->SetItemIndex(1);
    EXPECT_EQ(cb->Text(), L"640 x 480");
    HWND before = cb->Handle();

    cb->SetStyle(fw::ComboStyle::Simple);
    EXPECT_NE(cb->Handle(), before);  // a new window with the new style
    EXPECT_TRUE((::GetWindowLongW(cb->Handle(), GWL_STYLE) & 3) == CBS_SIMPLE);
    EXPECT_EQ(::SendMessageW(cb->Handle(), CB_GETCOUNT, 0, 0), 3);
    EXPECT_EQ(cb->ItemIndex(), 1);
    EXPECT_EQ(cb->Text(), L"640 x 480");

    cb->SetStyle(fw::ComboStyle::DropDownList);
    EXPECT_TRUE((::GetWindowLongW(cb->Handle(), GWL_STYLE) & 3) == CBS_DROPDOWNLIST);
    EXPECT_EQ(cb->Items(), (std::vector<std::wstring>{L"352 x 288", L"640 x 480", L"1280 x 720"}));
    EXPECT_EQ(cb->ItemIndex(), 1);
    EXPECT_EQ(cb->Text(), L"640 x 480");
    EXPECT_EQ(cb->Top(), 100);
    EXPECT_EQ(cb->Width(), 250);
}

TEST_F(ControlsTest, EmptyComboBoxShowsFreeTextDisabledInSimpleStyle) {
    auto* cb = new fw::ComboBox(form);
    cb->SetStyle(fw::ComboStyle::DropDownList);
    cb->SetParent(form);
    cb->SetBounds(30, 100, 250, 24);
    cb->SetEnabled(false);
    cb->SetStyle(fw::ComboStyle::Simple);
    cb->SetText(L"NONE");
    EXPECT_EQ(cb->Text(), L"NONE");
    EXPECT_FALSE(::IsWindowEnabled(cb->Handle()));  // the new window kept the state
    EXPECT_EQ(cb->ItemIndex(), -1);
    cb->SetStyle(fw::ComboStyle::DropDownList);
    EXPECT_EQ(cb->Text(), L"");  // a list shows only its items
    cb->AddItem(L"a");
    cb->SetText(L"a");
    EXPECT_EQ(cb->ItemIndex(), 0);
}

TEST_F(ControlsTest, ComboBoxBeforeItsWindowExists) {
    auto* other = fw::NewForm<fw::Form>(&app);  // never shown: no windows yet
    auto* cb = new fw::ComboBox(other);
    cb->SetParent(other);
    cb->SetStyle(fw::ComboStyle::DropDownList);
    cb->AddItem(L"x");
    cb->AddItem(L"y");
    cb->SetItemIndex(1);
    cb->SetStyle(fw::ComboStyle::Simple);
    EXPECT_FALSE(cb->HandleAllocated());
    EXPECT_EQ(cb->Text(), L"y");
    other->Show();
    EXPECT_EQ(cb->ItemIndex(), 1);
    EXPECT_EQ(cb->Text(), L"y");
    EXPECT_EQ(::SendMessageW(cb->Handle(), CB_GETCOUNT, 0, 0), 2);
    cb->ClearItems();
    EXPECT_EQ(cb->ItemCount(), 0);
    EXPECT_EQ(cb->ItemIndex(), -1);
}

TEST_F(ControlsTest, ComboBoxChangeEventOnUserSelection) {
    auto* cb = new fw::ComboBox(form);
    cb->SetStyle(fw::ComboStyle::DropDownList);
    cb->SetParent(form);
    cb->AddItem(L"a");
    cb->AddItem(L"b");
    int changes = 0;
    cb->OnChange = [&] { ++changes; };
    cb->SetItemIndex(0);  // by code: no event
    EXPECT_EQ(changes, 0);
    ::SendMessageW(cb->Handle(), CB_SETCURSEL, 1, 0);
    ::SendMessageW(form->Handle(), WM_COMMAND, MAKEWPARAM(0, CBN_SELCHANGE),
                   reinterpret_cast<LPARAM>(cb->Handle()));
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(cb->ItemIndex(), 1);
}

TEST_F(ControlsTest, EditExitRunsWhenTheFocusMovesToAButtonBeforeItsClick) {
    auto* ed = new fw::Edit(form);
    ed->SetParent(form);
    ed->SetBounds(30, 100, 240, 21);
    auto* btn = new fw::Button(form);
    btn->SetParent(form);
    btn->SetBounds(30, 140, 75, 25);
    std::vector<std::string> order;
    ed->OnExit = [&] {
        order.push_back("exit:" + std::to_string(ed->Text().size()));
        ed->SetText(L"restored");
    };
    btn->OnClick = [&] { order.push_back("click"); };
    ::SetForegroundWindow(form->Handle());
    ed->SetFocus();
    ASSERT_TRUE(ed->Focused());
    ed->SetText(L"typed");
    ::SendMessageW(btn->Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MousePos(5, 5));
    ::SendMessageW(btn->Handle(), WM_LBUTTONUP, 0, MousePos(5, 5));
    EXPECT_EQ(order, (std::vector<std::string>{"exit:5", "click"}));
    EXPECT_EQ(ed->Text(), L"restored");
}

TEST_F(ControlsTest, KeyboardTabOrderDefaultCancelAndKeyPreview) {
    auto* a = new fw::Edit(form);
    auto* b = new fw::Edit(form);
    auto* c = new fw::Edit(form);
    for (auto* e : {a, b, c}) e->SetParent(form);
    a->TabOrder = 2;
    b->TabOrder = 0;
    c->TabOrder = 1;
    auto* ok = new fw::Button(form);
    ok->SetParent(form);
    ok->TabStop = false;
    ok->SetDefault(true);
    auto* cancel = new fw::Button(form);
    cancel->SetParent(form);
    cancel->TabStop = false;
    cancel->SetCancel(true);
    int oks = 0, cancels = 0;
    ok->OnClick = [&] { ++oks; };
    cancel->OnClick = [&] { ++cancels; };

    ::SetForegroundWindow(form->Handle());
    b->SetFocus();
    auto key = [&](WORD vk) {
        ::PostMessageW(::GetFocus(), WM_KEYDOWN, vk, 1);
        app.ProcessMessages();
    };
    key(VK_TAB);
    EXPECT_TRUE(c->Focused());
    key(VK_TAB);
    EXPECT_TRUE(a->Focused());
    key(VK_TAB);
    EXPECT_TRUE(b->Focused());
    key(VK_RETURN);
    EXPECT_EQ(oks, 1);
    key(VK_ESCAPE);
    EXPECT_EQ(cancels, 1);

    // With key preview the form sees characters first and can swallow them.
    cancel->SetCancel(false);
    form->KeyPreview = true;
    std::vector<wchar_t> seen;
    form->OnKeyPress = [&](wchar_t& ch) {
        seen.push_back(ch);
        if (ch == 27) ch = 0;
    };
    ::PostMessageW(b->Handle(), WM_CHAR, L'x', 1);
    ::PostMessageW(b->Handle(), WM_CHAR, 27, 1);
    app.ProcessMessages();
    EXPECT_EQ(seen, (std::vector<wchar_t>{L'x', 27}));
    EXPECT_EQ(b->Text(), L"x");
    EXPECT_EQ(cancels, 1);
}

TEST_F(ControlsTest, LabelBevelAndImagePaintWithoutWindows) {
    auto* lbl = new fw::Label(form);
    lbl->SetParent(form);
    lbl->SetBounds(100, 10, 100, 16);
    lbl->SetCaption(L"Save folder");
    auto* bv = new fw::Bevel(form);
    bv->SetParent(form);
    bv->Shape = fw::BevelShape::TopLine;
    bv->SetBounds(100, 40, 100, 11);
    auto* img = new fw::Image(form);
    img->SetParent(form);
    img->Stretch = true;
    img->SetBounds(100, 60, 80, 40);
    fw::Bitmap pic(4, 2);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x) pic.SetPixel(x, y, RGB(0, 200, 0));
    img->SetPicture(pic);
    form->Repaint();
    HDC dc = ::GetDC(form->Handle());
    HDC mem = ::CreateCompatibleDC(dc);
    HBITMAP bmp = ::CreateCompatibleBitmap(dc, 300, 200);
    HGDIOBJ old = ::SelectObject(mem, bmp);
    ::BitBlt(mem, 0, 0, 300, 200, dc, 0, 0, SRCCOPY);
    EXPECT_EQ(::GetPixel(mem, 140, 80), RGB(0, 200, 0));  // stretched image
    EXPECT_EQ(::GetPixel(mem, 150, 40), fw::ColorToRGB(fw::clBtnShadow));
    EXPECT_EQ(::GetPixel(mem, 150, 41), fw::ColorToRGB(fw::clBtnHighlight));
    int inked = 0;  // some pixels of the label text differ from the background
    for (int x = 100; x < 200; ++x)
        for (int y = 10; y < 26; ++y)
            inked += ::GetPixel(mem, x, y) != fw::ColorToRGB(fw::clBtnFace);
    EXPECT_GT(inked, 10);
    ::SelectObject(mem, old);
    ::DeleteObject(bmp);
    ::DeleteDC(mem);
    ::ReleaseDC(form->Handle(), dc);
    EXPECT_FALSE(img->LoadFromFile(L"C:\\no\\such\\file.bmp"));
    EXPECT_EQ(img->Picture().Width(), 4);
}
