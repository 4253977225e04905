#include "framework/GraphicControl.h"

namespace fw {

GraphicControl::GraphicControl(Component* owner) : Control(owner) {}

GraphicControl::~GraphicControl() {
    if (parent_) Invalidate();
}

void GraphicControl::SetBounds(int left, int top, int width, int height) {
    if (left == left_ && top == top_ && width == width_ && height == height_) return;
    Invalidate();
    Control::SetBounds(left, top, width, height);
    Invalidate();
}

void GraphicControl::SetVisible(bool v) {
    if (v == visible_) return;
    visible_ = v;
    if (!v && parent_) {
        if (parent_->hover_ == this) parent_->SetHover(nullptr);
        if (parent_->capture_ == this) {
            parent_->capture_ = nullptr;
            clicked_ = false;
            if (parent_->hwnd_ && ::GetCapture() == parent_->hwnd_) ::ReleaseCapture();
        }
    }
    Invalidate();
}

void GraphicControl::SetEnabled(bool v) {
    if (v == enabled_) return;
    enabled_ = v;
    Invalidate();
}

void GraphicControl::SetColor(TColor c) {
    if (c == color_) return;
    color_ = c;
    Invalidate();
}

void GraphicControl::SetFont(const fw::Font& f) {
    Control::SetFont(f);
    Invalidate();
}

void GraphicControl::Invalidate() {
    if (!parent_ || !parent_->hwnd_) return;
    const RECT r = BoundsRect();
    ::InvalidateRect(parent_->hwnd_, &r, TRUE);
}

void GraphicControl::Repaint() {
    Invalidate();
    if (parent_ && parent_->hwnd_) ::UpdateWindow(parent_->hwnd_);
}

void GraphicControl::PaintNow() {
    if (!visible_ || !parent_ || !parent_->hwnd_) return;
    ScopedGetDC dc(parent_->hwnd_);
    if (dc) PaintOn(dc);
}

void GraphicControl::PaintOn(HDC dc) {
    const int saved = ::SaveDC(dc);
    ::OffsetViewportOrgEx(dc, left_, top_, nullptr);
    ::IntersectClipRect(dc, 0, 0, width_, height_);
    canvas_.SetHandle(dc);
    canvas_.Font = Font();
    Paint(canvas_);
    canvas_.SetHandle(nullptr);
    ::RestoreDC(dc, saved);
}

}  // namespace fw
