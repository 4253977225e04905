#include "framework/Canvas.h"

#include "framework/Bitmap.h"

#include <cstring>

namespace fw {

namespace {

int ScreenDpiY() {
    ScopedGetDC dc(nullptr);
    const int dpi = dc ? ::GetDeviceCaps(dc, LOGPIXELSY) : 96;
    return dpi > 0 ? dpi : 96;
}

}  // namespace

int Font::Size() const {
    const int h = Height < 0 ? -Height : Height;
    return ::MulDiv(h, 72, ScreenDpiY());
}

void Font::SetSize(int points) { Height = -::MulDiv(points, ScreenDpiY(), 72); }

LOGFONTW Font::ToLogFont() const {
    LOGFONTW lf{};
    lf.lfHeight = Height;
    lf.lfWeight = (Style & fsBold) ? FW_BOLD : FW_NORMAL;
    lf.lfItalic = (Style & fsItalic) ? 1 : 0;
    lf.lfUnderline = (Style & fsUnderline) ? 1 : 0;
    lf.lfStrikeOut = (Style & fsStrikeOut) ? 1 : 0;
    lf.lfCharSet = DEFAULT_CHARSET;
    lf.lfOutPrecision = OUT_DEFAULT_PRECIS;
    lf.lfClipPrecision = CLIP_DEFAULT_PRECIS;
    lf.lfQuality = DEFAULT_QUALITY;
    lf.lfPitchAndFamily = DEFAULT_PITCH | FF_DONTCARE;
    const size_t n = Name.size() < LF_FACESIZE - 1 ? Name.size() : LF_FACESIZE - 1;
    std::memcpy(lf.lfFaceName, Name.data(), n * sizeof(wchar_t));
    lf.lfFaceName[n] = L'\0';
    return lf;
}

FontHandle Font::CreateHandle() const {
    LOGFONTW lf = ToLogFont();
    return FontHandle(::CreateFontIndirectW(&lf));
}

Canvas::~Canvas() { RestoreObjects(); }

void Canvas::SetHandle(HDC dc) {
    if (dc == dc_) return;
    RestoreObjects();
    dc_ = dc;
    baseClip_.reset();
    if (dc_) {
        RegionHandle r(::CreateRectRgn(0, 0, 0, 0));
        if (r && ::GetClipRgn(dc_, r.get()) == 1) baseClip_ = std::move(r);
    }
}

void Canvas::RestoreObjects() {
    if (dc_) {
        if (origFont_) ::SelectObject(dc_, origFont_);
        if (origBrush_) ::SelectObject(dc_, origBrush_);
        if (origPen_) ::SelectObject(dc_, origPen_);
    }
    origFont_ = origBrush_ = origPen_ = nullptr;
    fontSelected_ = brushSelected_ = penSelected_ = false;
}

void Canvas::RequireFont() {
    if (!dc_) return;
    if (!fontSelected_ || !font_ || !(Font == madeFont_)) {
        FontHandle f = (font_ && Font == madeFont_) ? std::move(font_) : Font.CreateHandle();
        if (f) {
            HGDIOBJ prev = ::SelectObject(dc_, f.get());
            if (!origFont_) origFont_ = prev;
            font_ = std::move(f);  // the one replaced here is no longer selected
            madeFont_ = Font;
            fontSelected_ = true;
        }
    }
    ::SetTextColor(dc_, ColorToRGB(Font.Color));
}

void Canvas::RequireBrush() {
    if (!dc_) return;
    if (!brushSelected_ || !(Brush == madeBrush_)) {
        BrushHandle b;
        HGDIOBJ obj;
        if (Brush.Style == BrushStyle::Clear) {
            obj = ::GetStockObject(NULL_BRUSH);
        } else {
            b.reset(::CreateSolidBrush(ColorToRGB(Brush.Color)));
            obj = b.get();
        }
        if (obj) {
            HGDIOBJ prev = ::SelectObject(dc_, obj);
            if (!origBrush_) origBrush_ = prev;
            brush_ = std::move(b);
            madeBrush_ = Brush;
            brushSelected_ = true;
        }
    }
    if (Brush.Style == BrushStyle::Clear) {
        ::SetBkMode(dc_, TRANSPARENT);
    } else {
        ::SetBkMode(dc_, OPAQUE);
        ::SetBkColor(dc_, ColorToRGB(Brush.Color));
    }
}

void Canvas::RequirePen() {
    if (!dc_) return;
    if (!penSelected_ || !(Pen == madePen_)) {
        PenHandle p;
        HGDIOBJ obj;
        if (Pen.Style == PenStyle::Clear) {
            obj = ::GetStockObject(NULL_PEN);
        } else {
            const int style = Pen.Style == PenStyle::Dash  ? PS_DASH
                              : Pen.Style == PenStyle::Dot ? PS_DOT
                                                           : PS_SOLID;
            p.reset(::CreatePen(style, Pen.Width, ColorToRGB(Pen.Color)));
            obj = p.get();
        }
        if (obj) {
            HGDIOBJ prev = ::SelectObject(dc_, obj);
            if (!origPen_) origPen_ = prev;
            pen_ = std::move(p);
            madePen_ = Pen;
            penSelected_ = true;
        }
    }
}

void Canvas::FillRect(const RECT& r) {
    if (!dc_) return;
    RequireBrush();
    if (Brush.Style == BrushStyle::Clear || !brush_) return;
    ::FillRect(dc_, &r, brush_.get());
}

void Canvas::FrameRect(const RECT& r) {
    if (!dc_) return;
    RequireBrush();
    if (Brush.Style == BrushStyle::Clear || !brush_) return;
    ::FrameRect(dc_, &r, brush_.get());
}

void Canvas::Rectangle(int left, int top, int right, int bottom) {
    if (!dc_) return;
    RequirePen();
    RequireBrush();
    ::Rectangle(dc_, left, top, right, bottom);
}

void Canvas::Ellipse(int left, int top, int right, int bottom) {
    if (!dc_) return;
    RequirePen();
    RequireBrush();
    ::Ellipse(dc_, left, top, right, bottom);
}

void Canvas::RoundRect(int left, int top, int right, int bottom, int ew, int eh) {
    if (!dc_) return;
    RequirePen();
    RequireBrush();
    ::RoundRect(dc_, left, top, right, bottom, ew, eh);
}

void Canvas::MoveTo(int x, int y) {
    if (dc_) ::MoveToEx(dc_, x, y, nullptr);
}

void Canvas::LineTo(int x, int y) {
    if (!dc_) return;
    RequirePen();
    ::LineTo(dc_, x, y);
}

void Canvas::FillRegion(HRGN rgn) {
    if (!dc_ || !rgn) return;
    RequireBrush();
    if (Brush.Style == BrushStyle::Clear || !brush_) return;
    ::FillRgn(dc_, rgn, brush_.get());
}

void Canvas::TextOut(int x, int y, const std::wstring& text) {
    if (!dc_) return;
    RequireFont();
    RequireBrush();
    ::TextOutW(dc_, x, y, text.c_str(), static_cast<int>(text.size()));
}

SIZE Canvas::TextExtent(const std::wstring& text) {
    SIZE sz{0, 0};
    if (dc_) {
        RequireFont();
        ::GetTextExtentPoint32W(dc_, text.c_str(), static_cast<int>(text.size()), &sz);
        return sz;
    }
    // Measuring without a surface: on the screen DC with the canvas font.
    ScopedGetDC screen(nullptr);
    if (!screen) return sz;
    FontHandle f = Font.CreateHandle();
    ScopedSelectObject sel(screen, f.get());
    ::GetTextExtentPoint32W(screen, text.c_str(), static_cast<int>(text.size()), &sz);
    return sz;
}

int Canvas::DrawText(const std::wstring& text, RECT& r, UINT format) {
    if (!dc_) return 0;
    RequireFont();
    RequireBrush();
    return ::DrawTextW(dc_, text.c_str(), static_cast<int>(text.size()), &r, format);
}

COLORREF Canvas::Pixel(int x, int y) { return dc_ ? ::GetPixel(dc_, x, y) : CLR_INVALID; }

void Canvas::SetPixel(int x, int y, TColor c) {
    if (dc_) ::SetPixelV(dc_, x, y, ColorToRGB(c));
}

void Canvas::ResetClip() {
    if (dc_) ::SelectClipRgn(dc_, baseClip_ ? baseClip_.get() : nullptr);
}

void Canvas::SetClipRect(const RECT& r) {
    if (!dc_) return;
    ResetClip();
    ::IntersectClipRect(dc_, r.left, r.top, r.right, r.bottom);
}

void Canvas::SetClipRegion(HRGN rgn) {
    if (!dc_) return;
    ResetClip();
    if (!rgn) return;
    // Clip regions are in device units; the canvas may have a moved origin.
    RegionHandle copy(::CreateRectRgn(0, 0, 0, 0));
    if (!copy || ::CombineRgn(copy.get(), rgn, nullptr, RGN_COPY) == ERROR) return;
    POINT origin{0, 0};
    ::LPtoDP(dc_, &origin, 1);
    ::OffsetRgn(copy.get(), origin.x, origin.y);
    ::ExtSelectClipRgn(dc_, copy.get(), RGN_AND);
}

void Canvas::BitBlt(int x, int y, int w, int h, HDC src, int sx, int sy, DWORD rop) {
    if (dc_ && src) ::BitBlt(dc_, x, y, w, h, src, sx, sy, rop);
}

void Canvas::StretchBlt(const RECT& dst, HDC src, const RECT& s, DWORD rop) {
    if (!dc_ || !src) return;
    const int dw = dst.right - dst.left, dh = dst.bottom - dst.top;
    const int sw = s.right - s.left, sh = s.bottom - s.top;
    if (dw == sw && dh == sh) {
        ::BitBlt(dc_, dst.left, dst.top, dw, dh, src, s.left, s.top, rop);
        return;
    }
    POINT org;
    const int oldMode = ::SetStretchBltMode(dc_, HALFTONE);
    ::SetBrushOrgEx(dc_, 0, 0, &org);
    ::StretchBlt(dc_, dst.left, dst.top, dw, dh, src, s.left, s.top, sw, sh, rop);
    ::SetBrushOrgEx(dc_, org.x, org.y, nullptr);
    ::SetStretchBltMode(dc_, oldMode);
}

void Canvas::Draw(int x, int y, const Bitmap& bmp) {
    Draw(x, y, bmp, RECT{0, 0, bmp.Width(), bmp.Height()});
}

void Canvas::Draw(int x, int y, const Bitmap& bmp, const RECT& s) {
    if (!dc_ || bmp.Empty()) return;
    HDC src = bmp.SourceDC();
    if (src) ::BitBlt(dc_, x, y, s.right - s.left, s.bottom - s.top, src, s.left, s.top, SRCCOPY);
}

void Canvas::StretchDraw(const RECT& dst, const Bitmap& bmp) {
    if (!dc_ || bmp.Empty()) return;
    StretchBlt(dst, bmp.SourceDC(), RECT{0, 0, bmp.Width(), bmp.Height()});
}

void Canvas::DrawTransparent(int x, int y, const Bitmap& bmp, COLORREF key) {
    if (!dc_ || bmp.Empty()) return;
    HDC src = bmp.SourceDC();
    if (src)
        ::TransparentBlt(dc_, x, y, bmp.Width(), bmp.Height(), src, 0, 0, bmp.Width(), bmp.Height(),
                         key & 0x00FFFFFF);
}

}  // namespace fw
