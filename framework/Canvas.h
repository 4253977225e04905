// Drawing surface over a device context, with the font, brush and pen that its
// drawing operations use. The GDI objects are made from the plain settings when a
// drawing operation needs them and put back out of the DC when the canvas lets go.
#pragma once

#include "framework/Types.h"
#include "framework/WinHandles.h"

#include <string>

namespace fw {

class Bitmap;

using FontStyles = unsigned;
constexpr FontStyles fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8;

struct Font {
    std::wstring Name = L"MS Sans Serif";
    // LOGFONT convention: negative = character height in pixels, positive = cell height.
    int Height = -11;
    TColor Color = clWindowText;
    FontStyles Style = 0;

    // The default face with characters Pixels high.
    static Font OfCharHeight(int Pixels) {
        Font f;
        f.Height = -Pixels;
        return f;
    }

    // Size in points at the screen's pixel density (sets Height).
    int Size() const;
    void SetSize(int points);

    LOGFONTW ToLogFont() const;
    FontHandle CreateHandle() const;

    bool operator==(const Font&) const = default;
};

enum class BrushStyle { Solid, Clear };
struct Brush {
    TColor Color = clWhite;
    BrushStyle Style = BrushStyle::Solid;
    bool operator==(const Brush&) const = default;
};

enum class PenStyle { Solid, Dash, Dot, Clear };
struct Pen {
    TColor Color = clBlack;
    int Width = 1;
    PenStyle Style = PenStyle::Solid;
    bool operator==(const Pen&) const = default;
};

class Canvas {
public:
    Canvas() = default;
    explicit Canvas(HDC dc) { SetHandle(dc); }
    ~Canvas();
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    // The DC is borrowed: the canvas never deletes or releases it. Setting a new
    // one (or null) first puts the original objects back into the old DC.
    HDC Handle() const { return dc_; }
    void SetHandle(HDC dc);
    bool HandleAllocated() const { return dc_ != nullptr; }

    fw::Font Font;
    fw::Brush Brush;
    fw::Pen Pen;

    void FillRect(const RECT& r);   // brush, no outline
    void FrameRect(const RECT& r);  // one-pixel frame in the brush colour
    void Rectangle(int left, int top, int right, int bottom);  // pen outline, brush fill
    void Rectangle(const RECT& r) { Rectangle(r.left, r.top, r.right, r.bottom); }
    void Ellipse(int left, int top, int right, int bottom);
    void RoundRect(int left, int top, int right, int bottom, int ellipseW, int ellipseH);
    void MoveTo(int x, int y);
    void LineTo(int x, int y);
    void FillRegion(HRGN rgn);  // brush colour

    void TextOut(int x, int y, const std::wstring& text);
    SIZE TextExtent(const std::wstring& text);
    int TextWidth(const std::wstring& text) { return TextExtent(text).cx; }
    int TextHeight(const std::wstring& text) { return TextExtent(text).cy; }
    // DrawTextW with the canvas font; a clear brush draws transparently. Returns
    // the text height; with DT_CALCRECT r receives the measured rectangle.
    int DrawText(const std::wstring& text, RECT& r, UINT format);

    COLORREF Pixel(int x, int y);
    void SetPixel(int x, int y, TColor c);

    // Clipping: replaces the clip region (ResetClip removes it).
    void SetClipRect(const RECT& r);
    void SetClipRegion(HRGN rgn);
    void ResetClip();

    // Block transfers from another DC.
    void BitBlt(int x, int y, int w, int h, HDC src, int sx, int sy, DWORD rop = SRCCOPY);
    void StretchBlt(const RECT& dst, HDC src, const RECT& srcRect, DWORD rop = SRCCOPY);
    // Bitmap drawing: at a place, stretched into a rectangle, or with one key
    // colour left out (the bitmap is not changed).
    void Draw(int x, int y, const Bitmap& bmp);
    void Draw(int x, int y, const Bitmap& bmp, const RECT& srcRect);
    void StretchDraw(const RECT& dst, const Bitmap& bmp);
    void DrawTransparent(int x, int y, const Bitmap& bmp, COLORREF key);

    // Selects the canvas font (and colours) now; for callers that draw on
    // Handle() directly.
    void RequireFont();
    void RequireBrush();
    void RequirePen();

private:
    void RestoreObjects();

    HDC dc_ = nullptr;
    RegionHandle baseClip_;  // the clip the DC came with
    HGDIOBJ origFont_ = nullptr, origBrush_ = nullptr, origPen_ = nullptr;
    FontHandle font_;
    BrushHandle brush_;
    PenHandle pen_;
    fw::Font madeFont_;
    fw::Brush madeBrush_;
    fw::Pen madePen_;
    bool fontSelected_ = false, brushSelected_ = false, penSelected_ = false;
};

}  // namespace fw
