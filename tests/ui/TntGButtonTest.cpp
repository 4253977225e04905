#include "ui/TntGButton.h"

#include "framework/Application.h"
#include "framework/Bitmap.h"
#include "framework/Form.h"
#include "framework/StdControls.h"
#include "tests/support/Input.h"
#include "tests/support/Wait.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

namespace {

// One clearly different colour per image of a strip, none of them a system colour.
constexpr COLORREF kImageColor[4] = {RGB(200, 30, 30), RGB(30, 160, 30), RGB(30, 30, 200),
                                     RGB(220, 200, 20)};
constexpr COLORREF kBack = RGB(90, 60, 120);

// The button with its paint reachable, so it can be drawn into a memory DC.
class Probe : public TTntGButton {
public:
    explicit Probe(fw::Component* owner) : TTntGButton(owner) {}
    using TTntGButton::Paint;
};

fw::Bitmap MakeStrip(int count, int side) {
    fw::Bitmap b(count * side, side);
    for (int k = 0; k < count; ++k)
        for (int y = 0; y < side; ++y)
            for (int x = 0; x < side; ++x) b.SetPixel(k * side + x, y, kImageColor[k]);
    return b;
}

// Paints the button on a W x H picture filled with kBack.
fw::Bitmap Render(Probe& b, int w = 48, int h = 48) {
    fw::Bitmap out(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) out.SetPixel(x, y, kBack);
    b.Paint(out.Canvas());
    ::GdiFlush();
    return out;
}

// True when the side x side square at (x, y) has colour c throughout, checked at
// its corners and centre, and the pixels just outside its right and bottom are not c.
::testing::AssertionResult ImageAt(const fw::Bitmap& pic, int x, int y, int side, COLORREF c) {
    const POINT in[] = {{x, y},
                        {x + side - 1, y},
                        {x, y + side - 1},
                        {x + side - 1, y + side - 1},
                        {x + side / 2, y + side / 2}};
    for (POINT p : in)
        if (pic.GetPixel(p.x, p.y) != c)
            return ::testing::AssertionFailure()
                   << "pixel " << p.x << "," << p.y << " is " << std::hex << pic.GetPixel(p.x, p.y)
                   << ", expected " << c;
    if (pic.GetPixel(x + side, y + side / 2) == c || pic.GetPixel(x + side / 2, y + side) == c)
        return ::testing::AssertionFailure() << "the image reaches past " << side << " pixels";
    return ::testing::AssertionSuccess();
}

int CountColor(const fw::Bitmap& pic, COLORREF c) {
    int n = 0;
    for (int y = 0; y < pic.Height(); ++y)
        for (int x = 0; x < pic.Width(); ++x) n += pic.GetPixel(x, y) == c;
    return n;
}

class GlyphButtonTest : public ::testing::Test {
protected:
    void TearDown() override { app.ProcessMessages(); }
    fw::Application app;
};

// The main window's buttons: four-image strip, no frame, pushed down, sized to the image.
void MakeBarButton(Probe& b, int count = 4) {
    b.ButtonEffects().SetFrameStyle(fmNone);
    b.SetAutoSize(asGlyph);
    b.Glyphs().SetGlyph(MakeStrip(count, 30));
}

}  // namespace

TEST_F(GlyphButtonTest, ConstructionValues) {
    Probe b(nullptr);
    EXPECT_EQ(b.Width(), 80);
    EXPECT_EQ(b.Height(), 30);
    EXPECT_TRUE(b.Enabled());
    EXPECT_TRUE(b.Visible());
    EXPECT_TRUE(b.ShowCaption());
    EXPECT_EQ(b.AutoSize(), asNone);
    EXPECT_TRUE(b.Caption().empty());
    EXPECT_FALSE(b.DoubleClicks);
    const TGEffect& e = b.ButtonEffects();
    EXPECT_EQ(e.FaceColor(), 0x8000000Fu);
    EXPECT_EQ(e.FrameColor(), 0x00FFFFFFu);
    EXPECT_EQ(e.FrameColor2(), 0x80000010u);
    EXPECT_EQ(e.FrameStyle(), fmTransparent);
    EXPECT_EQ(e.FrameWidth(), 8);
    EXPECT_EQ(e.HoverColor(), 0x00FF0000u);
    EXPECT_FALSE(e.HoverLink);
    EXPECT_EQ(e.PushColor(), 0x00800000u);
    EXPECT_TRUE(e.PushDown);
    EXPECT_EQ(e.Shape(), btnRectangle);
    EXPECT_EQ(e.TransparentColor(), 0x00FF00FFu);
    EXPECT_FALSE(e.TransparentColorUse());
    EXPECT_EQ(e.CornerRadius(), 8);
    EXPECT_EQ(e.TextStyle(), txLowered);
    EXPECT_EQ(b.Glyphs().Layout(), lyLeft);
    EXPECT_EQ(b.Glyphs().Number(), 1);
    EXPECT_EQ(b.Glyphs().Distance(), 4);
    EXPECT_TRUE(b.Glyphs().Glyph().Empty());
}

TEST_F(GlyphButtonTest, SettersClampAndNotifyOnlyOnChange) {
    TGEffect e;
    int changes = 0;
    e.OnChange = [&] { ++changes; };
    e.SetFrameWidth(1);
    EXPECT_EQ(e.FrameWidth(), 2);
    e.SetFrameWidth(50);
    EXPECT_EQ(e.FrameWidth(), 20);
    e.SetCornerRadius(-5);
    EXPECT_EQ(e.CornerRadius(), 0);
    e.SetCornerRadius(500);
    EXPECT_EQ(e.CornerRadius(), 200);
    EXPECT_EQ(changes, 4);
    e.SetCornerRadius(200);
    e.SetFaceColor(e.FaceColor());
    e.SetShape(btnRectangle);
    EXPECT_EQ(changes, 4);  // same values: no notification
    e.SetShape(btnEllipse);
    e.SetTransparentColorUse(true);
    EXPECT_EQ(changes, 6);

    TGGlyph g;
    int glyphChanges = 0;
    g.OnChange = [&] { ++glyphChanges; };
    g.SetNumber(0);
    EXPECT_EQ(g.Number(), 1);  // 0 differs from the stored 1, so it notifies though clamped back
    g.SetNumber(9);
    EXPECT_EQ(g.Number(), 4);
    g.SetDistance(-3);
    EXPECT_EQ(g.Distance(), 0);
    EXPECT_EQ(glyphChanges, 3);
}

TEST_F(GlyphButtonTest, AssignedStripSetsNumberFromItsSquareImages) {
    TGGlyph g;
    int changes = 0;
    g.OnChange = [&] { ++changes; };
    g.SetGlyph(fw::Bitmap(96, 24));
    EXPECT_EQ(g.Number(), 4);
    EXPECT_EQ(g.Glyph().Width(), 96);
    g.SetGlyph(fw::Bitmap(48, 24));
    EXPECT_EQ(g.Number(), 2);
    g.SetGlyph(fw::Bitmap(100, 24));  // not whole squares: Number stays
    EXPECT_EQ(g.Number(), 2);
    EXPECT_EQ(g.Glyph().Width(), 100);
    g.SetGlyph(fw::Bitmap(240, 24));  // ten squares: at most 4
    EXPECT_EQ(g.Number(), 4);
    g.SetGlyph(nullptr);
    EXPECT_TRUE(g.Glyph().Empty());
    EXPECT_EQ(changes, 5);
    // A file loaded straight into the strip keeps Number.
    fw::Bitmap one(24, 24);
    g.Glyph() = one;
    EXPECT_EQ(g.Number(), 4);
}

TEST_F(GlyphButtonTest, ImageShownForEachStateAndStripLength) {
    struct Case {
        int count;
        int normal, disabled, hover, pressed;
    };
    for (const Case c : {Case{4, 0, 1, 2, 3}, Case{2, 0, 1, 0, 0}, Case{1, 0, 0, 0, 0}}) {
        SCOPED_TRACE("strip of " + std::to_string(c.count));
        Probe b(nullptr);
        MakeBarButton(b, c.count);
        EXPECT_TRUE(ImageAt(Render(b), 0, 0, 30, kImageColor[c.normal]));
        b.SetEnabled(false);
        EXPECT_TRUE(ImageAt(Render(b), 0, 0, 30, kImageColor[c.disabled]));
        b.SetEnabled(true);
        b.MouseEnter();
        EXPECT_TRUE(ImageAt(Render(b), 0, 0, 30, kImageColor[c.hover]));
        b.MouseDown(fw::MouseButton::Left, fw::ssLeft, 5, 5);
        EXPECT_TRUE(ImageAt(Render(b), 1, 1, 30, kImageColor[c.pressed]));
        b.MouseUp(fw::MouseButton::Left, 0, 5, 5);
        b.MouseLeave();
        EXPECT_TRUE(ImageAt(Render(b), 0, 0, 30, kImageColor[c.normal]));
    }
}

TEST_F(GlyphButtonTest, PressGrowsTheButtonByOnePixelAndShiftsTheImage) {
    Probe b(nullptr);
    MakeBarButton(b);
    b.SetBounds(0, 0, 80, 30);
    Render(b);
    EXPECT_EQ(b.ImageWidth(), 30);
    EXPECT_EQ(b.Width(), 30);
    EXPECT_EQ(b.Height(), 30);

    b.MouseEnter();
    b.MouseDown(fw::MouseButton::Left, fw::ssLeft, 10, 10);
    EXPECT_TRUE(b.Pressed());
    fw::Bitmap pic = Render(b);
    EXPECT_EQ(b.Width(), 31);
    EXPECT_EQ(b.Height(), 31);
    EXPECT_TRUE(ImageAt(pic, 1, 1, 30, kImageColor[3]));
    EXPECT_EQ(pic.GetPixel(0, 0), kBack);  // the uncovered top and left show the parent
    EXPECT_EQ(pic.GetPixel(0, 30), kBack);

    b.MouseUp(fw::MouseButton::Left, 0, 10, 10);
    EXPECT_FALSE(b.Pressed());
    pic = Render(b);
    EXPECT_EQ(b.Width(), 30);
    EXPECT_EQ(b.Height(), 30);
    EXPECT_TRUE(ImageAt(pic, 0, 0, 30, kImageColor[2]));

    // Without PushDown the press neither grows nor moves anything.
    b.ButtonEffects().PushDown = false;
    b.MouseDown(fw::MouseButton::Left, fw::ssLeft, 10, 10);
    pic = Render(b);
    EXPECT_EQ(b.Width(), 30);
    EXPECT_TRUE(ImageAt(pic, 0, 0, 30, kImageColor[3]));
    b.MouseUp(fw::MouseButton::Left, 0, 10, 10);
    // A right press is not a press of the button.
    b.MouseDown(fw::MouseButton::Right, 0, 10, 10);
    EXPECT_FALSE(b.Pressed());
}

TEST_F(GlyphButtonTest, GradientFaceSteps) {
    Probe b(nullptr);
    b.ButtonEffects().SetFrameStyle(fmNone);
    b.ButtonEffects().PushDown = false;
    b.ButtonEffects().SetFaceColor(RGB(192, 192, 192));
    b.SetBounds(0, 0, 40, 30);
    const fw::Bitmap pic = Render(b);
    const int expected[8] = {255, 225, 213, 206, 200, 197, 194, 192};
    for (int s = 0; s < 8; ++s) {
        SCOPED_TRACE("step " + std::to_string(s));
        const COLORREF grey = RGB(expected[s], expected[s], expected[s]);
        EXPECT_EQ(pic.GetPixel(s, 15), grey);       // left edge, outside in
        EXPECT_EQ(pic.GetPixel(20, s), grey);       // top edge
        EXPECT_EQ(pic.GetPixel(39 - s, 15), grey);  // right edge
        EXPECT_EQ(pic.GetPixel(20, 29 - s), grey);  // bottom edge
    }
    EXPECT_EQ(pic.GetPixel(20, 15), RGB(192, 192, 192));
    EXPECT_EQ(pic.GetPixel(40, 15), kBack);

    // Held down with the mouse over it, the edge starts from the second frame colour.
    b.ButtonEffects().SetFrameColor2(RGB(0, 0, 0));
    b.MouseEnter();
    b.MouseDown(fw::MouseButton::Left, fw::ssLeft, 5, 5);
    const fw::Bitmap pressed = Render(b);
    EXPECT_EQ(pressed.GetPixel(0, 15), RGB(0, 0, 0));
    EXPECT_EQ(pressed.GetPixel(1, 15), RGB(93, 93, 93));      // 192 x sqrt(15) / 8 = 92.95
    EXPECT_EQ(pressed.GetPixel(20, 15), RGB(190, 190, 190));  // 192 x sqrt(63) / 8 = 190.49
}

TEST_F(GlyphButtonTest, PushFrameEdges) {
    Probe b(nullptr);
    b.ButtonEffects().SetFrameStyle(fmNone);
    b.ButtonEffects().SetFrameColor(RGB(255, 255, 255));
    b.ButtonEffects().SetFrameColor2(RGB(0, 0, 0));
    b.ButtonEffects().SetFaceColor(RGB(192, 192, 192));
    b.SetBounds(0, 0, 40, 30);
    fw::Bitmap pic = Render(b);
    EXPECT_EQ(pic.GetPixel(0, 0), kBack);
    EXPECT_EQ(pic.GetPixel(1, 10), RGB(255, 255, 255));
    EXPECT_EQ(pic.GetPixel(20, 1), RGB(255, 255, 255));
    EXPECT_EQ(pic.GetPixel(20, 15), RGB(192, 192, 192));
    EXPECT_EQ(pic.GetPixel(39, 15), RGB(0, 0, 0));
    EXPECT_EQ(pic.GetPixel(20, 29), RGB(0, 0, 0));

    b.MouseEnter();
    b.MouseDown(fw::MouseButton::Left, fw::ssLeft, 5, 5);
    pic = Render(b);
    EXPECT_EQ(pic.GetPixel(1, 10), RGB(0, 0, 0));
    EXPECT_EQ(pic.GetPixel(2, 10), RGB(0, 0, 0));
    EXPECT_EQ(pic.GetPixel(20, 15), RGB(192, 192, 192));
    EXPECT_EQ(pic.GetPixel(39, 15), RGB(255, 255, 255));
}

TEST_F(GlyphButtonTest, TransparentFrameKeysOutTheBottomLeftColour) {
    // One 10 x 10 image: green background with a red 4 x 4 square in the middle and
    // a blue top row, so that only the bottom-left pixel tells the key.
    const COLORREF key = RGB(0, 255, 0), ink = RGB(255, 0, 0), top = RGB(0, 0, 255);
    fw::Bitmap strip(10, 10);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 10; ++x)
            strip.SetPixel(x, y, y == 0 ? top : (x >= 3 && x < 7 && y >= 3 && y < 7) ? ink : key);
    Probe b(nullptr);
    b.SetAutoSize(asGlyph);
    b.Glyphs().SetGlyph(strip);
    ASSERT_EQ(b.ButtonEffects().FrameStyle(), fmTransparent);
    fw::Bitmap pic = Render(b, 20, 20);
    EXPECT_EQ(pic.GetPixel(0, 9), kBack);
    EXPECT_EQ(pic.GetPixel(9, 1), kBack);
    EXPECT_EQ(pic.GetPixel(2, 5), kBack);
    EXPECT_EQ(CountColor(pic, top), 10);
    EXPECT_EQ(pic.GetPixel(3, 3), ink);
    EXPECT_EQ(pic.GetPixel(6, 6), ink);
    EXPECT_EQ(CountColor(pic, key), 0);
    EXPECT_EQ(CountColor(pic, ink), 16);
    // The masking works on a copy: the strip itself keeps its pixels.
    EXPECT_EQ(b.Glyphs().Glyph().GetPixel(0, 9), key);
    EXPECT_EQ(b.Glyphs().Glyph().GetPixel(5, 5), ink);

    // With TransparentColorUse the given colour is the key instead.
    b.ButtonEffects().SetTransparentColor(ink);
    b.ButtonEffects().SetTransparentColorUse(true);
    pic = Render(b, 20, 20);
    EXPECT_EQ(pic.GetPixel(0, 9), key);
    EXPECT_EQ(pic.GetPixel(5, 5), kBack);
}

TEST_F(GlyphButtonTest, CaptionWithoutImage) {
    // The font is smoothed, so the edges of the letters are blends: the checks look
    // for the fully covered pixels of a colour and for where anything was drawn.
    const COLORREF text = ::GetSysColor(COLOR_WINDOWTEXT);
    const COLORREF highlight = ::GetSysColor(COLOR_BTNHIGHLIGHT);
    auto drawn = [](const fw::Bitmap& pic) {
        return pic.Width() * pic.Height() - CountColor(pic, kBack);
    };
    auto drawnOnEdge = [](const fw::Bitmap& pic) {
        int n = 0;
        for (int y = 0; y < pic.Height(); ++y)
            for (int x = 0; x < pic.Width(); ++x)
                if ((x < 2 || y < 2 || x >= pic.Width() - 2 || y >= pic.Height() - 2) &&
                    pic.GetPixel(x, y) != kBack)
                    ++n;
        return n;
    };
    Probe b(nullptr);
    b.SetBounds(0, 0, 60, 24);
    b.SetCaption(L"WMW");
    b.ButtonEffects().SetTextStyle(txNone);
    // fmTransparent without image: only the caption is drawn, the rest shows the parent.
    fw::Bitmap pic = Render(b, 60, 24);
    EXPECT_GT(drawn(pic), 30);
    EXPECT_GT(CountColor(pic, text), 0);
    EXPECT_EQ(drawnOnEdge(pic), 0);

    // The lowered effect adds a highlight copy one pixel down and right.
    b.ButtonEffects().SetTextStyle(txLowered);
    pic = Render(b, 60, 24);
    EXPECT_GT(CountColor(pic, highlight), 0);
    EXPECT_GT(CountColor(pic, text), 0);

    // Hovered it takes the hover colour, held down the push colour.
    b.ButtonEffects().SetTextStyle(txNone);
    b.MouseEnter();
    pic = Render(b, 60, 24);
    EXPECT_GT(CountColor(pic, RGB(0, 0, 255)), 0);
    EXPECT_EQ(CountColor(pic, text), 0);
    b.MouseDown(fw::MouseButton::Left, fw::ssLeft, 3, 3);
    pic = Render(b, 60, 24);
    EXPECT_GT(CountColor(pic, RGB(0, 0, 128)), 0);
    EXPECT_EQ(CountColor(pic, RGB(0, 0, 255)), 0);
    b.MouseUp(fw::MouseButton::Left, 0, 3, 3);
    b.MouseLeave();

    // Hidden caption: nothing at all.
    b.SetShowCaption(false);
    pic = Render(b, 60, 24);
    EXPECT_EQ(drawn(pic), 0);

    // fmNone without image paints the face under the caption.
    b.SetShowCaption(true);
    b.ButtonEffects().SetFrameStyle(fmNone);
    pic = Render(b, 60, 24);
    EXPECT_EQ(pic.GetPixel(1, 1), RGB(255, 255, 255));
    EXPECT_GT(CountColor(pic, text), 0);
}

TEST_F(GlyphButtonTest, AutoSizeFollowsImageCaptionAndLayout) {
    Probe b(nullptr);
    b.Glyphs().SetGlyph(MakeStrip(1, 20));
    b.ButtonEffects().SetFrameStyle(fmNone);
    b.SetCaption(L"Open");
    b.SetShowCaption(false);
    SIZE t;
    {
        fw::Bitmap m(4, 4);
        m.Canvas().Font = b.Font();
        t = m.Canvas().TextExtent(L"Open");
    }
    ASSERT_GT(t.cx, 20);
    ASSERT_LT(t.cy, 20);

    b.SetAutoSize(asCaption);
    Render(b, 120, 80);
    EXPECT_EQ(b.Width(), 20 + 4 + t.cx);  // lyLeft: side by side
    EXPECT_EQ(b.Height(), t.cy);          // caption height wins when there is one

    b.SetAutoSize(asBoth);
    fw::Bitmap pic = Render(b, 120, 80);
    EXPECT_EQ(b.Width(), 20 + 4 + t.cx);
    EXPECT_EQ(b.Height(), 20);
    EXPECT_TRUE(ImageAt(pic, 0, 0, 20, kImageColor[0]));

    b.Glyphs().SetLayout(lyTop);
    pic = Render(b, 120, 80);
    EXPECT_EQ(b.Width(), t.cx);
    EXPECT_EQ(b.Height(), 20 + 4 + t.cy);
    EXPECT_TRUE(ImageAt(pic, (t.cx - 20) / 2, 0, 20, kImageColor[0]));

    b.Glyphs().SetLayout(lyBottom);
    pic = Render(b, 120, 80);
    EXPECT_TRUE(ImageAt(pic, (t.cx - 20) / 2, t.cy + 4, 20, kImageColor[0]));

    // A fixed size centres the image (lyCenter) and right-aligns it (lyRight).
    b.SetAutoSize(asNone);
    b.SetBounds(0, 0, 100, 40);
    b.SetCaption(L"");
    b.Glyphs().SetLayout(lyCenter);
    pic = Render(b, 120, 80);
    EXPECT_TRUE(ImageAt(pic, 40, 10, 20, kImageColor[0]));
    b.Glyphs().SetLayout(lyLeft);
    b.Glyphs().SetDistance(0);
    pic = Render(b, 120, 80);
    EXPECT_TRUE(ImageAt(pic, 40, 10, 20, kImageColor[0]));
}

// ---------------------------------------------------------------------------
// On a real window: the parent routes the mouse and paints the button.

namespace {

class OnFormTest : public GlyphButtonTest {
protected:
    void SetUp() override {
        // The messages of each case are its own: no real pointer over the form.
        ASSERT_TRUE(testsupport::ParkPointer());
        form = fw::NewForm<fw::Form>(&app);
        form->SetClientSize(200, 120);
        form->SetBounds(60, 60, form->Width(), form->Height());
        form->SetColor(fw::clBtnFace);
        button = new TTntGButton(form);
        button->SetParent(form);
        button->SetBounds(40, 30, 80, 30);
        button->ButtonEffects().SetFrameStyle(fmNone);
        button->SetAutoSize(asGlyph);
        button->Glyphs().SetGlyph(MakeStrip(4, 30));
        button->OnClick = [this] { ++clicks; };
        form->Show();
        Settle();
    }
    void Send(UINT msg, WPARAM keys, int x, int y) {
        ::SendMessageW(form->Handle(), msg, keys, MAKELPARAM(x, y));
        Settle();
    }
    // Paints everything that is due, twice: a paint that resizes the button
    // invalidates the grown part for the next one.
    void Settle() {
        for (int i = 0; i < 2; ++i) {
            ::UpdateWindow(form->Handle());
            app.ProcessMessages();
        }
    }
    // The form's client area as it is on the screen now.
    fw::Bitmap Shot() {
        fw::Bitmap pic(200, 120);
        HDC dc = ::GetDC(form->Handle());
        ::BitBlt(pic.Canvas().Handle(), 0, 0, 200, 120, dc, 0, 0, SRCCOPY);
        ::ReleaseDC(form->Handle(), dc);
        ::GdiFlush();
        return pic;
    }
    fw::Form* form = nullptr;
    TTntGButton* button = nullptr;
    int clicks = 0;
};

}  // namespace

TEST_F(OnFormTest, ClickShowsHoverAndPressedImages) {
    EXPECT_EQ(button->Width(), 30);
    EXPECT_TRUE(ImageAt(Shot(), 40, 30, 30, kImageColor[0]));
    Send(WM_MOUSEMOVE, 0, 50, 40);
    EXPECT_TRUE(button->Hover());
    EXPECT_TRUE(ImageAt(Shot(), 40, 30, 30, kImageColor[2]));
    Send(WM_LBUTTONDOWN, MK_LBUTTON, 50, 40);
    EXPECT_TRUE(ImageAt(Shot(), 41, 31, 30, kImageColor[3]));
    EXPECT_EQ(button->Width(), 31);
    Send(WM_LBUTTONUP, 0, 50, 40);
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(button->Width(), 30);
    const fw::Bitmap after = Shot();
    EXPECT_TRUE(ImageAt(after, 40, 30, 30, kImageColor[2]));
    // The pixel the press grew into shows the form again.
    EXPECT_EQ(after.GetPixel(70, 45), fw::ColorToRGB(fw::clBtnFace));
}

TEST_F(OnFormTest, PressDraggedOffAndReleasedOutsideDoesNotClick) {
    Send(WM_MOUSEMOVE, 0, 50, 40);
    Send(WM_LBUTTONDOWN, MK_LBUTTON, 50, 40);
    Send(WM_MOUSEMOVE, MK_LBUTTON, 150, 100);  // dragged off while held
    EXPECT_FALSE(button->Hover());
    EXPECT_TRUE(button->Pressed());
    EXPECT_EQ(button->Width(), 31);
    EXPECT_TRUE(ImageAt(Shot(), 41, 31, 30, kImageColor[0]));
    Send(WM_MOUSEMOVE, MK_LBUTTON, 55, 45);  // back on it
    EXPECT_TRUE(ImageAt(Shot(), 41, 31, 30, kImageColor[3]));
    Send(WM_MOUSEMOVE, MK_LBUTTON, 150, 100);
    Send(WM_LBUTTONUP, 0, 150, 100);
    EXPECT_EQ(clicks, 0);
    EXPECT_FALSE(button->Pressed());
    EXPECT_EQ(button->Width(), 30);
    EXPECT_TRUE(ImageAt(Shot(), 40, 30, 30, kImageColor[0]));
}

TEST_F(OnFormTest, DisabledButtonShowsImageOneAndTakesNoClick) {
    button->SetEnabled(false);
    Settle();
    EXPECT_TRUE(ImageAt(Shot(), 40, 30, 30, kImageColor[1]));
    Send(WM_MOUSEMOVE, 0, 50, 40);
    Send(WM_LBUTTONDOWN, MK_LBUTTON, 50, 40);
    Send(WM_LBUTTONUP, 0, 50, 40);
    EXPECT_EQ(clicks, 0);
    EXPECT_TRUE(ImageAt(Shot(), 40, 30, 30, kImageColor[1]));
}

TEST_F(OnFormTest, AcceleratorCharacterClicksAnEnabledButton) {
    button->SetCaption(L"&Snap");
    ::PostMessageW(form->Handle(), WM_SYSCHAR, L's', 0);
    app.ProcessMessages();
    EXPECT_EQ(clicks, 1);
    ::PostMessageW(form->Handle(), WM_CHAR, L'x', 0);  // not the accelerator
    app.ProcessMessages();
    EXPECT_EQ(clicks, 1);
    button->SetEnabled(false);
    ::PostMessageW(form->Handle(), WM_SYSCHAR, L'S', 0);
    app.ProcessMessages();
    EXPECT_EQ(clicks, 1);
    button->SetEnabled(true);
    // A plain key typed into an edit field is its text, not an accelerator.
    auto* edit = new fw::Edit(form);
    edit->SetParent(form);
    edit->SetBounds(10, 80, 100, 22);
    ::PostMessageW(edit->Handle(), WM_CHAR, L's', 1);
    app.ProcessMessages();
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(edit->Text(), L"s");
    button->SetCaption(L"Fish && Chips");  // "&&" is a plain ampersand
    ::PostMessageW(form->Handle(), WM_SYSCHAR, L'&', 0);
    app.ProcessMessages();
    EXPECT_EQ(clicks, 1);
}

TEST_F(OnFormTest, HintIsShownAsUnicodeText) {
    app.HintPause = 30;
    button->Hint = L"Aufnahme \u00fcber \u0421\u043d\u0438\u043c\u043e\u043a";
    button->ShowHint = true;
    POINT p = form->ClientToScreen(POINT{50, 40});
    ASSERT_TRUE(testsupport::MovePointer(p.x, p.y));
    Send(WM_MOUSEMOVE, 0, 50, 40);
    ASSERT_TRUE(testsupport::PumpUntil([&] { return app.HintShowing(); }));
    EXPECT_EQ(app.HintText(), button->Hint);
}
