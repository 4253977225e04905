// Windowless control: it has no window of its own; its parent paints it (Paint
// with the canvas origin at the control's top left, clipped to it) and routes the
// mouse to it. The parent captures the mouse while a button is held on it, and a
// click fires only when the press and the release both fall on the control.
#pragma once

#include "framework/Control.h"

namespace fw {

class GraphicControl : public Control {
public:
    explicit GraphicControl(Component* owner);
    ~GraphicControl() override;

    void SetBounds(int left, int top, int width, int height) override;
    void SetVisible(bool v) override;
    void SetEnabled(bool v) override;
    void SetColor(TColor c) override;
    void SetFont(const fw::Font& f) override;

    // Invalidates just the control's rectangle of the parent (painted later).
    void Invalidate() override;
    // Invalidates and paints now.
    void Repaint() override;
    // Paints over what the parent shows now, without erasing first.
    void PaintNow();

    // The canvas while Paint runs.
    fw::Canvas& Canvas() { return canvas_; }

    // When false a double click arrives as a second press.
    bool DoubleClicks = true;

    // Set by the parent while the left button pressed on this control is held.
    bool MousePressed() const { return clicked_; }

protected:
    friend class WinControl;
    virtual void Paint(fw::Canvas& canvas) = 0;
    void ParentFontChanged() override { Invalidate(); }

private:
    void PaintOn(HDC dc);

    fw::Canvas canvas_;
    bool clicked_ = false;
};

}  // namespace fw
