// Glyph button of the skinned look: a windowless control that shows one image of a
// horizontal bitmap strip chosen by its state (normal, disabled, hover, pressed), an
// optional Unicode caption beside, above, below or over it, and, without an image, a
// painted face in one of four shapes.
#pragma once

#include "framework/Bitmap.h"
#include "framework/GraphicControl.h"

#include <cstdint>
#include <memory>
#include <string>

enum TFrameStyle { fmNone, fmTransparent };
enum TBtnShape { btnRectangle, btnRoundRect, btnSimple, btnEllipse };
enum TTextStyle { txNone, txLowered, txRaised, txShadowed };
enum TBmpLayout { lyLeft, lyTop, lyRight, lyBottom, lyCenter };
enum TAutoSize { asNone, asGlyph, asCaption, asBoth };

// Colours, shape, frame and text effect of a button. A setter that changes a value
// fires OnChange; setting the stored value again does nothing.
class TGEffect {
public:
    TGEffect() = default;
    TGEffect(const TGEffect&) = delete;
    TGEffect& operator=(const TGEffect&) = delete;

    fw::TColor FaceColor() const { return FFaceColor; }
    void SetFaceColor(fw::TColor Value);
    fw::TColor FrameColor() const { return FFrameColor; }
    void SetFrameColor(fw::TColor Value);
    fw::TColor FrameColor2() const { return FFrameColor2; }
    void SetFrameColor2(fw::TColor Value);
    TFrameStyle FrameStyle() const { return FFrameStyle; }
    void SetFrameStyle(TFrameStyle Value);
    int FrameWidth() const { return FFrameWidth; }
    void SetFrameWidth(int Value);  // kept within 2..20
    fw::TColor HoverColor() const { return FHoverColor; }
    void SetHoverColor(fw::TColor Value);
    // Read at the next paint; changing it does not redraw.
    bool HoverLink = false;
    fw::TColor PushColor() const { return FPushColor; }
    void SetPushColor(fw::TColor Value);
    // Read at the next paint; changing it does not redraw.
    bool PushDown = true;
    TBtnShape Shape() const { return FShape; }
    void SetShape(TBtnShape Value);
    fw::TColor TransparentColor() const { return FTransparentColor; }
    void SetTransparentColor(fw::TColor Value);
    bool TransparentColorUse() const { return FTransparentColorUse; }
    void SetTransparentColorUse(bool Value);
    int CornerRadius() const { return FCornerRadius; }
    void SetCornerRadius(int Value);  // kept within 0..200
    TTextStyle TextStyle() const { return FTextStyle; }
    void SetTextStyle(TTextStyle Value);

    fw::NotifyEvent OnChange;

private:
    template <typename T>
    void Change(T& Field, T Value);
    void Changed();

    fw::TColor FFaceColor = fw::clBtnFace;
    fw::TColor FFrameColor = fw::clWhite;
    fw::TColor FFrameColor2 = fw::clBtnShadow;
    TFrameStyle FFrameStyle = fmTransparent;
    int FFrameWidth = 8;
    fw::TColor FHoverColor = fw::clBlue;
    fw::TColor FPushColor = fw::clNavy;
    TBtnShape FShape = btnRectangle;
    fw::TColor FTransparentColor = fw::clFuchsia;
    bool FTransparentColorUse = false;
    int FCornerRadius = 8;
    TTextStyle FTextStyle = txLowered;
};

// The image strip and how image and caption are laid out.
class TGGlyph {
public:
    TGGlyph() = default;
    TGGlyph(const TGGlyph&) = delete;
    TGGlyph& operator=(const TGGlyph&) = delete;

    // The strip itself. Loading a file straight into it (LoadGlyphFile) keeps Number
    // and notifies nobody: the owner invalidates the button afterwards.
    fw::Bitmap& Glyph() { return FGlyph; }
    const fw::Bitmap& Glyph() const { return FGlyph; }
    // Copies Value into the strip; a strip of square images side by side (width a
    // whole multiple of a non-zero height) first sets Number to their count (1..4).
    // Null empties the strip. Fires OnChange either way.
    void SetGlyph(const fw::Bitmap* Value);
    void SetGlyph(const fw::Bitmap& Value) { SetGlyph(&Value); }

    TBmpLayout Layout() const { return FLayout; }
    void SetLayout(TBmpLayout Value);
    // Images in the strip.
    int Number() const { return FNumber; }
    void SetNumber(int Value);  // kept within 1..4
    // Pixels between image and caption.
    int Distance() const { return FDistance; }
    void SetDistance(int Value);  // negative values become 0

    fw::NotifyEvent OnChange;

private:
    void Changed();

    fw::Bitmap FGlyph;
    TBmpLayout FLayout = lyLeft;
    std::uint8_t FNumber = 1;
    int FDistance = 4;
};

// Draws Bitmap at (X, Y) leaving out the pixels of colour Key, through masks in
// memory device contexts compatible with the canvas. The opaque-part masking is done
// in Bitmap itself, so its key-coloured pixels are black afterwards.
void DrawTransparentBitmap(fw::Canvas& Canvas, int X, int Y, COLORREF Key, fw::Bitmap& Bitmap);

// The button. Placement, Visible, Enabled, Font, PopupMenu, Hint and ShowHint (the
// hint is Unicode text) and the events OnClick, OnMouseDown, OnMouseUp and
// OnMouseMove come from the control base. A double click arrives as two presses.
class TTntGButton : public fw::GraphicControl {
public:
    explicit TTntGButton(fw::Component* AOwner);
    ~TTntGButton() override;

    TGEffect& ButtonEffects() { return *FButtonEffects; }
    const TGEffect& ButtonEffects() const { return *FButtonEffects; }
    TGGlyph& Glyphs() { return *FGlyphs; }
    const TGGlyph& Glyphs() const { return *FGlyphs; }

    const std::wstring& Caption() const { return FCaption; }
    void SetCaption(const std::wstring& Value);
    bool ShowCaption() const { return FShowCaption; }
    void SetShowCaption(bool Value);
    TAutoSize AutoSize() const { return FAutoSize; }
    void SetAutoSize(TAutoSize Value);

    // Mouse over the button; left button held after a press on it.
    bool Hover() const { return FHover; }
    bool Pressed() const { return FPressed; }
    // Width of one image of the strip, as of the last paint.
    int ImageWidth() const { return FImageWidth; }
    // The keyboard's focus within its bar, drawn as the system's focus rectangle while the
    // parent window shows focus cues (once the keyboard has been used there).
    bool Focused() const { return FFocused; }
    void SetFocused(bool Value);

    // Only invalidates: the paint follows with the parent's.
    void Repaint() override;

    void MouseDown(fw::MouseButton Button, fw::ShiftState Shift, int X, int Y) override;
    void MouseUp(fw::MouseButton Button, fw::ShiftState Shift, int X, int Y) override;
    void MouseEnter() override;
    void MouseLeave() override;
    bool DialogChar(wchar_t Ch) override;

protected:
    void Paint(fw::Canvas& Canvas) override;

private:
    void EffectsChanged();
    void ComputeLayout(fw::Canvas& Canvas);
    void PaintGlyph(fw::Canvas& Canvas);
    void PaintPushFrame(fw::Canvas& Canvas);
    void PaintGradientFace(fw::Canvas& Canvas);
    void PaintCaption(fw::Canvas& Canvas);
    int StateImageIndex() const;

    // Declared in this order so that the glyph object is freed first.
    std::unique_ptr<TGEffect> FButtonEffects;
    std::unique_ptr<TGGlyph> FGlyphs;
    std::wstring FCaption;
    bool FShowCaption = true;
    TAutoSize FAutoSize = asNone;
    bool FHover = false;
    bool FPressed = false;
    bool FFocused = false;
    int FImageWidth = 0;
    POINT FImagePos{0, 0};
    POINT FCaptionPos{0, 0};
};
