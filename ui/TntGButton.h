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

    fw::TColor FaceColor() const { return faceColor_; }
    void SetFaceColor(fw::TColor Value);
    fw::TColor FrameColor() const { return frameColor_; }
    void SetFrameColor(fw::TColor Value);
    fw::TColor FrameColor2() const { return frameColor2_; }
    void SetFrameColor2(fw::TColor Value);
    TFrameStyle FrameStyle() const { return frameStyle_; }
    void SetFrameStyle(TFrameStyle Value);
    int FrameWidth() const { return frameWidth_; }
    void SetFrameWidth(int Value);  // kept within 2..20
    fw::TColor HoverColor() const { return hoverColor_; }
    void SetHoverColor(fw::TColor Value);
    // Read at the next paint; changing it does not redraw.
    bool HoverLink = false;
    fw::TColor PushColor() const { return pushColor_; }
    void SetPushColor(fw::TColor Value);
    // Read at the next paint; changing it does not redraw.
    bool PushDown = true;
    TBtnShape Shape() const { return shape_; }
    void SetShape(TBtnShape Value);
    fw::TColor TransparentColor() const { return transparentColor_; }
    void SetTransparentColor(fw::TColor Value);
    bool TransparentColorUse() const { return transparentColorUse_; }
    void SetTransparentColorUse(bool Value);
    int CornerRadius() const { return cornerRadius_; }
    void SetCornerRadius(int Value);  // kept within 0..200
    TTextStyle TextStyle() const { return textStyle_; }
    void SetTextStyle(TTextStyle Value);

    fw::NotifyEvent OnChange;

private:
    template <typename T>
    void Change(T& Field, T Value);
    void Changed();

    fw::TColor faceColor_ = fw::clBtnFace;
    fw::TColor frameColor_ = fw::clWhite;
    fw::TColor frameColor2_ = fw::clBtnShadow;
    TFrameStyle frameStyle_ = fmTransparent;
    int frameWidth_ = 8;
    fw::TColor hoverColor_ = fw::clBlue;
    fw::TColor pushColor_ = fw::clNavy;
    TBtnShape shape_ = btnRectangle;
    fw::TColor transparentColor_ = fw::clFuchsia;
    bool transparentColorUse_ = false;
    int cornerRadius_ = 8;
    TTextStyle textStyle_ = txLowered;
};

// The image strip and how image and caption are laid out.
class TGGlyph {
public:
    TGGlyph() = default;
    TGGlyph(const TGGlyph&) = delete;
    TGGlyph& operator=(const TGGlyph&) = delete;

    // The strip itself. Loading a file straight into it (LoadGlyphFile) keeps Number
    // and notifies nobody: the owner invalidates the button afterwards.
    fw::Bitmap& Glyph() { return glyph_; }
    const fw::Bitmap& Glyph() const { return glyph_; }
    // Copies Value into the strip; a strip of square images side by side (width a
    // whole multiple of a non-zero height) first sets Number to their count (1..4).
    // Null empties the strip. Fires OnChange either way.
    void SetGlyph(const fw::Bitmap* Value);
    void SetGlyph(const fw::Bitmap& Value) { SetGlyph(&Value); }

    TBmpLayout Layout() const { return layout_; }
    void SetLayout(TBmpLayout Value);
    // Images in the strip.
    int Number() const { return number_; }
    void SetNumber(int Value);  // kept within 1..4
    // Pixels between image and caption.
    int Distance() const { return distance_; }
    void SetDistance(int Value);  // negative values become 0

    fw::NotifyEvent OnChange;

private:
    void Changed();

    fw::Bitmap glyph_;
    TBmpLayout layout_ = lyLeft;
    std::uint8_t number_ = 1;
    int distance_ = 4;
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

    TGEffect& ButtonEffects() { return *buttonEffects_; }
    const TGEffect& ButtonEffects() const { return *buttonEffects_; }
    TGGlyph& Glyphs() { return *glyphs_; }
    const TGGlyph& Glyphs() const { return *glyphs_; }

    const std::wstring& Caption() const { return caption_; }
    void SetCaption(const std::wstring& Value);
    bool ShowCaption() const { return showCaption_; }
    void SetShowCaption(bool Value);
    TAutoSize AutoSize() const { return autoSize_; }
    void SetAutoSize(TAutoSize Value);

    // Mouse over the button; left button held after a press on it.
    bool Hover() const { return hover_; }
    bool Pressed() const { return pressed_; }
    // Width of one image of the strip, as of the last paint.
    int ImageWidth() const { return imageWidth_; }
    // The keyboard's focus within its bar, drawn as the system's focus rectangle while the
    // parent window shows focus cues (once the keyboard has been used there).
    bool Focused() const { return focused_; }
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
    std::unique_ptr<TGEffect> buttonEffects_;
    std::unique_ptr<TGGlyph> glyphs_;
    std::wstring caption_;
    bool showCaption_ = true;
    TAutoSize autoSize_ = asNone;
    bool hover_ = false;
    bool pressed_ = false;
    bool focused_ = false;
    int imageWidth_ = 0;
    POINT imagePos_{0, 0};
    POINT captionPos_{0, 0};
};
