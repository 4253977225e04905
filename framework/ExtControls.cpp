#include "framework/ExtControls.h"

namespace fw {

Bevel::Bevel(Component* owner) : GraphicControl(owner) {
    width_ = 50;
    height_ = 50;
}

void Bevel::Paint(fw::Canvas& canvas) {
    // Lowered: dark edge top/left, light edge bottom/right; raised the other way.
    const TColor c1 = Style == BevelStyle::Lowered ? clBtnShadow : clBtnHighlight;
    const TColor c2 = Style == BevelStyle::Lowered ? clBtnHighlight : clBtnShadow;
    const int w = width_, h = height_;
    auto line = [&](TColor c, int x1, int y1, int x2, int y2) {
        canvas.Pen.Style = PenStyle::Solid;
        canvas.Pen.Width = 1;
        canvas.Pen.Color = c;
        canvas.MoveTo(x1, y1);
        canvas.LineTo(x2, y2);
    };
    auto box = [&](int l, int t, int r, int b, TColor a, TColor z) {
        line(a, l, b - 1, l, t);
        line(a, l, t, r - 1, t);
        line(z, r - 1, t, r - 1, b - 1);
        line(z, r - 1, b - 1, l - 1, b - 1);
    };
    switch (Shape) {
        case BevelShape::Box:
            box(0, 0, w, h, c1, c2);
            break;
        case BevelShape::Frame:
            box(0, 0, w - 1, h - 1, c1, c1);
            box(1, 1, w, h, c2, c2);
            break;
        case BevelShape::TopLine:
            line(c1, 0, 0, w, 0);
            line(c2, 0, 1, w, 1);
            break;
        case BevelShape::BottomLine:
            line(c1, 0, h - 2, w, h - 2);
            line(c2, 0, h - 1, w, h - 1);
            break;
        case BevelShape::LeftLine:
            line(c1, 0, 0, 0, h);
            line(c2, 1, 0, 1, h);
            break;
        case BevelShape::RightLine:
            line(c1, w - 2, 0, w - 2, h);
            line(c2, w - 1, 0, w - 1, h);
            break;
        case BevelShape::Spacer:
            break;
    }
}

Image::Image(Component* owner) : GraphicControl(owner) {
    width_ = 105;
    height_ = 105;
}

void Image::SetPicture(const Bitmap& b) {
    picture_ = b;
    Invalidate();
}

bool Image::LoadFromFile(const std::wstring& path) {
    Bitmap b;
    if (!b.LoadFromFile(path)) return false;
    picture_ = std::move(b);
    Invalidate();
    return true;
}

void Image::Paint(fw::Canvas& canvas) {
    if (picture_.Empty()) return;
    if (Stretch) {
        canvas.StretchDraw(RECT{0, 0, width_, height_}, picture_);
    } else if (Center) {
        canvas.Draw((width_ - picture_.Width()) / 2, (height_ - picture_.Height()) / 2, picture_);
    } else {
        canvas.Draw(0, 0, picture_);
    }
}

}  // namespace fw
