#include "ui/TntGButton.h"

#include <algorithm>

// ---------------------------------------------------------------------------
// TGEffect

template <typename T>
void TGEffect::Change(T& Field, T Value) {
    if (Field == Value) return;
    Field = Value;
    Changed();
}

void TGEffect::Changed() {
    if (OnChange) {
        auto Handler = OnChange;
        Handler();
    }
}

void TGEffect::SetFaceColor(fw::TColor Value) { Change(FFaceColor, Value); }
void TGEffect::SetFrameColor(fw::TColor Value) { Change(FFrameColor, Value); }
void TGEffect::SetFrameColor2(fw::TColor Value) { Change(FFrameColor2, Value); }
void TGEffect::SetFrameStyle(TFrameStyle Value) { Change(FFrameStyle, Value); }
void TGEffect::SetHoverColor(fw::TColor Value) { Change(FHoverColor, Value); }
void TGEffect::SetPushColor(fw::TColor Value) { Change(FPushColor, Value); }
void TGEffect::SetShape(TBtnShape Value) { Change(FShape, Value); }
void TGEffect::SetTransparentColor(fw::TColor Value) { Change(FTransparentColor, Value); }
void TGEffect::SetTransparentColorUse(bool Value) { Change(FTransparentColorUse, Value); }
void TGEffect::SetTextStyle(TTextStyle Value) { Change(FTextStyle, Value); }

void TGEffect::SetFrameWidth(int Value) {
    if (Value == FFrameWidth) return;
    FFrameWidth = std::clamp(Value, 2, 20);
    Changed();
}

void TGEffect::SetCornerRadius(int Value) {
    if (Value == FCornerRadius) return;
    FCornerRadius = std::clamp(Value, 0, 200);
    Changed();
}

// ---------------------------------------------------------------------------
// TGGlyph

void TGGlyph::Changed() {
    if (OnChange) {
        auto Handler = OnChange;
        Handler();
    }
}

void TGGlyph::SetGlyph(const fw::Bitmap* Value) {
    if (Value) {
        const int W = Value->Width(), H = Value->Height();
        if (H != 0 && W % H == 0) FNumber = static_cast<std::uint8_t>(std::clamp(W / H, 1, 4));
        if (Value != &FGlyph) FGlyph = *Value;
    } else {
        FGlyph.Clear();
    }
    Changed();
}

void TGGlyph::SetLayout(TBmpLayout Value) {
    if (Value == FLayout) return;
    FLayout = Value;
    Changed();
}

void TGGlyph::SetNumber(int Value) {
    if (Value == FNumber) return;
    FNumber = static_cast<std::uint8_t>(std::clamp(Value, 1, 4));
    Changed();
}

void TGGlyph::SetDistance(int Value) {
    if (Value == FDistance) return;
    FDistance = std::max(Value, 0);
    Changed();
}

// ---------------------------------------------------------------------------
// DrawTransparentBitmap

void DrawTransparentBitmap(fw::Canvas& Canvas, int X, int Y, COLORREF Key, fw::Bitmap& Bitmap) {
    (void)Canvas;
    (void)X;
    (void)Y;
    (void)Key;
    (void)Bitmap;
}

// ---------------------------------------------------------------------------
// TTntGButton

TTntGButton::TTntGButton(fw::Component* AOwner)
    : fw::GraphicControl(AOwner),
      FButtonEffects(std::make_unique<TGEffect>()),
      FGlyphs(std::make_unique<TGGlyph>()) {
    // A double click is two presses.
    DoubleClicks = false;
    FButtonEffects->OnChange = [this] { EffectsChanged(); };
    FGlyphs->OnChange = [this] { EffectsChanged(); };
    width_ = 80;
    height_ = 30;
}

TTntGButton::~TTntGButton() {
    FGlyphs.reset();
    FButtonEffects.reset();
}

void TTntGButton::EffectsChanged() { Invalidate(); }

void TTntGButton::SetCaption(const std::wstring& Value) {
    if (Value == FCaption) return;
    FCaption = Value;
    Invalidate();
}

void TTntGButton::SetShowCaption(bool Value) {
    if (Value == FShowCaption) return;
    FShowCaption = Value;
    Invalidate();
}

void TTntGButton::SetAutoSize(TAutoSize Value) {
    if (Value == FAutoSize) return;
    FAutoSize = Value;
    Invalidate();
}

void TTntGButton::Repaint() { Invalidate(); }

void TTntGButton::MouseDown(fw::MouseButton Button, fw::ShiftState Shift, int X, int Y) {
    if (Button == fw::MouseButton::Left) {
        FHover = true;
        FPressed = true;
        Invalidate();
    }
    fw::GraphicControl::MouseDown(Button, Shift, X, Y);
}

void TTntGButton::MouseUp(fw::MouseButton Button, fw::ShiftState Shift, int X, int Y) {
    if (FPressed && Button == fw::MouseButton::Left) {
        FPressed = false;
        Invalidate();
    }
    fw::GraphicControl::MouseUp(Button, Shift, X, Y);
}

void TTntGButton::MouseEnter() {
    FHover = true;
    if (Enabled()) {
        if (FPressed)
            Invalidate();
        else
            PaintNow();
    }
    fw::GraphicControl::MouseEnter();
}

void TTntGButton::MouseLeave() {
    FHover = false;
    if (Enabled()) Invalidate();
    fw::GraphicControl::MouseLeave();
}

bool TTntGButton::DialogChar(wchar_t Ch) {
    (void)Ch;
    return false;
}

int TTntGButton::StateImageIndex() const { return 0; }

void TTntGButton::ComputeLayout(fw::Canvas& Canvas) { (void)Canvas; }
void TTntGButton::PaintGlyph(fw::Canvas& Canvas) { (void)Canvas; }
void TTntGButton::PaintPushFrame(fw::Canvas& Canvas) { (void)Canvas; }
void TTntGButton::PaintGradientFace(fw::Canvas& Canvas) { (void)Canvas; }
void TTntGButton::PaintCaption(fw::Canvas& Canvas) { (void)Canvas; }

void TTntGButton::Paint(fw::Canvas& Canvas) { (void)Canvas; }
