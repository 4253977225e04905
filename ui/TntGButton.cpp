#include "ui/TntGButton.h"

#include <algorithm>
#include <cmath>

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

void TGEffect::SetFaceColor(fw::TColor Value) { Change(faceColor_, Value); }
void TGEffect::SetFrameColor(fw::TColor Value) { Change(frameColor_, Value); }
void TGEffect::SetFrameColor2(fw::TColor Value) { Change(frameColor2_, Value); }
void TGEffect::SetFrameStyle(TFrameStyle Value) { Change(frameStyle_, Value); }
void TGEffect::SetHoverColor(fw::TColor Value) { Change(hoverColor_, Value); }
void TGEffect::SetPushColor(fw::TColor Value) { Change(pushColor_, Value); }
void TGEffect::SetShape(TBtnShape Value) { Change(shape_, Value); }
void TGEffect::SetTransparentColor(fw::TColor Value) { Change(transparentColor_, Value); }
void TGEffect::SetTransparentColorUse(bool Value) { Change(transparentColorUse_, Value); }
void TGEffect::SetTextStyle(TTextStyle Value) { Change(textStyle_, Value); }

void TGEffect::SetFrameWidth(int Value) {
    if (Value == frameWidth_) return;
    frameWidth_ = std::clamp(Value, 2, 20);
    Changed();
}

void TGEffect::SetCornerRadius(int Value) {
    if (Value == cornerRadius_) return;
    cornerRadius_ = std::clamp(Value, 0, 200);
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
        if (H != 0 && W % H == 0) number_ = static_cast<std::uint8_t>(std::clamp(W / H, 1, 4));
        if (Value != &glyph_) glyph_ = *Value;
    } else {
        glyph_.Clear();
    }
    Changed();
}

void TGGlyph::SetLayout(TBmpLayout Value) {
    if (Value == layout_) return;
    layout_ = Value;
    Changed();
}

void TGGlyph::SetNumber(int Value) {
    if (Value == number_) return;
    number_ = static_cast<std::uint8_t>(std::clamp(Value, 1, 4));
    Changed();
}

void TGGlyph::SetDistance(int Value) {
    if (Value == distance_) return;
    distance_ = std::max(Value, 0);
    Changed();
}

// ---------------------------------------------------------------------------
// DrawTransparentBitmap

void DrawTransparentBitmap(fw::Canvas& Canvas, int X, int Y, COLORREF Key, fw::Bitmap& Bitmap) {
    HDC Dest = Canvas.Handle();
    if (!Dest || Bitmap.Empty()) return;
    // The bitmap keeps its own memory DC with it selected (a bitmap can be selected
    // into one DC only), so that DC serves as the source context.
    HDC Source = Bitmap.SourceDC();
    if (!Source) return;
    const int SavedSource = ::SaveDC(Source);
    ::SetMapMode(Source, ::GetMapMode(Dest));
    POINT Size{Bitmap.Width(), Bitmap.Height()};
    ::DPtoLP(Source, &Size, 1);
    const int W = Size.x, H = Size.y;

    fw::DcHandle Back(::CreateCompatibleDC(Dest));
    fw::DcHandle Object(::CreateCompatibleDC(Dest));
    fw::DcHandle Work(::CreateCompatibleDC(Dest));
    fw::BitmapHandle BackBmp(::CreateBitmap(W, H, 1, 1, nullptr));
    fw::BitmapHandle ObjectBmp(::CreateBitmap(W, H, 1, 1, nullptr));
    fw::BitmapHandle WorkBmp(::CreateCompatibleBitmap(Dest, W, H));
    if (Back && Object && Work && BackBmp && ObjectBmp && WorkBmp) {
        HGDIOBJ OldBack = ::SelectObject(Back.get(), BackBmp.get());
        HGDIOBJ OldObject = ::SelectObject(Object.get(), ObjectBmp.get());
        HGDIOBJ OldWork = ::SelectObject(Work.get(), WorkBmp.get());
        // Colour to monochrome: pixels of the background colour become 1.
        const COLORREF OldBk = ::SetBkColor(Source, Key & 0x00FFFFFF);
        ::BitBlt(Back.get(), 0, 0, W, H, Source, 0, 0, SRCCOPY);
        ::SetBkColor(Source, OldBk);
        ::BitBlt(Object.get(), 0, 0, W, H, Back.get(), 0, 0, NOTSRCCOPY);
        ::BitBlt(Work.get(), 0, 0, W, H, Dest, X, Y, SRCCOPY);
        // Monochrome to colour maps 1 to the background colour and 0 to the text
        // colour of the destination: white and black make the masks.
        ::SetBkColor(Work.get(), RGB(255, 255, 255));
        ::SetTextColor(Work.get(), RGB(0, 0, 0));
        ::BitBlt(Work.get(), 0, 0, W, H, Back.get(), 0, 0, SRCAND);
        ::SetBkColor(Source, RGB(255, 255, 255));
        ::SetTextColor(Source, RGB(0, 0, 0));
        ::BitBlt(Source, 0, 0, W, H, Object.get(), 0, 0, SRCAND);
        ::BitBlt(Work.get(), 0, 0, W, H, Source, 0, 0, SRCPAINT);
        ::BitBlt(Dest, X, Y, W, H, Work.get(), 0, 0, SRCCOPY);
        ::SelectObject(Back.get(), OldBack);
        ::SelectObject(Object.get(), OldObject);
        ::SelectObject(Work.get(), OldWork);
    }
    ::RestoreDC(Source, SavedSource);
    ::GdiFlush();
}

namespace {

int Half(int X) { return X / 2; }  // C++ division truncates toward zero

// Round to nearest, halves to even.
int RoundEven(double V) {
    double R = std::floor(V + 0.5);
    if (R - V == 0.5 && std::fmod(R, 2.0) != 0.0) R -= 1.0;
    return static_cast<int>(R);
}

fw::RegionHandle ShapeRegion(TBtnShape Shape, int L, int T, int R, int B, int Ellipse) {
    switch (Shape) {
        case btnRectangle:
            return fw::RegionHandle(::CreateRectRgn(L, T, R, B));
        case btnEllipse:
            return fw::RegionHandle(::CreateEllipticRgn(L, T, R, B));
        case btnRoundRect:
        case btnSimple:
            break;
    }
    return fw::RegionHandle(::CreateRoundRectRgn(L, T, R, B, Ellipse, Ellipse));
}

// One character in upper case (CharUpperW takes a lone character in the low word).
wchar_t UpperChar(wchar_t C) {
    LPWSTR Upper = ::CharUpperW(reinterpret_cast<LPWSTR>(static_cast<ULONG_PTR>(C)));
    return static_cast<wchar_t>(reinterpret_cast<ULONG_PTR>(Upper));
}

// The character after a single "&" of a caption, or 0.
wchar_t AccelChar(const std::wstring& Caption) {
    for (size_t i = 0; i + 1 < Caption.size(); ++i) {
        if (Caption[i] != L'&') continue;
        if (Caption[i + 1] != L'&') return Caption[i + 1];
        ++i;  // "&&" is a plain ampersand
    }
    return 0;
}

// What a button's layout is worked out from: the glyph image's width and height, the
// caption's, and the distance between the two.
struct TLayoutSizes {
    int iw, gh, tw, th, d;
};

// The size AutoSize gives the button, into BW and BH; false when the button keeps its
// size (BW and BH may still change: an empty glyph sizes to the caption alone).
bool AutoSizeFor(TAutoSize Mode, const TLayoutSizes& S, TBmpLayout Layout, bool Transparent,
                 int& BW, int& BH) {
    const int MarginX = Transparent ? 2 : 32, MarginY = Transparent ? 2 : 16;
    const bool Across = Layout == lyLeft || Layout == lyRight;
    const bool Down = Layout == lyTop || Layout == lyBottom;
    switch (Mode) {
        case asNone:
            return false;
        case asGlyph:
            if (S.iw <= 0) return false;
            BW = S.iw;
            BH = S.gh;
            return true;
        case asCaption:
        case asBoth:
            if (S.iw <= 0) {
                BW = S.tw + MarginX;
                BH = S.th + MarginY;
                return false;
            }
            if (Mode == asCaption) {
                BW = Across ? S.iw + S.d + S.tw : (S.tw > 0 ? S.tw : S.iw);
                BH = Down ? S.gh + S.d + S.th : (S.th > 0 ? S.th : S.gh);
            } else {
                BW = Across ? S.iw + S.d + S.tw : std::max(S.iw, S.tw);
                BH = Down ? S.gh + S.d + S.th : std::max(S.gh, S.th);
            }
            return true;
    }
    return false;
}

// Where the image and the caption go in a BW x BH layout of a button W wide.
void PlaceImageAndCaption(TBmpLayout Layout, const TLayoutSizes& S, int BW, int BH, int W,
                          POINT& Img, POINT& Cap) {
    const int iw = S.iw, gh = S.gh, tw = S.tw, th = S.th, d = S.d;
    const int CenteredX = iw < BW ? Half(BW - iw) : 0;
    const int CenteredY = gh < BH ? Half(BH - gh) : 0;
    switch (Layout) {
        case lyLeft:
            Img.x = iw + d + tw < BW ? Half(BW - iw - d - tw) : 0;
            Img.y = CenteredY;
            Cap.x = Img.x + iw + d;
            Cap.y = Half(BH - th);
            break;
        case lyRight:
            Img.x = iw + d + tw < BW ? W - Half(BW - iw - d - tw) - iw : BW - iw;
            Img.y = CenteredY;
            Cap.x = Img.x - tw - d;
            Cap.y = Half(BH - th);
            break;
        case lyTop:
            Img.x = CenteredX;
            Img.y = gh + d + th < BH ? Half(BH - gh - d - th) : 0;
            Cap.x = Half(BW - tw);
            Cap.y = Img.y + gh + d;
            break;
        case lyBottom:
            Img.x = CenteredX;
            Img.y = gh + d + th < BH ? BH - Half(BH - gh - d - th) - gh : BH - gh;
            Cap.x = Half(BW - tw);
            Cap.y = Img.y - d - th;
            break;
        case lyCenter:
            Img.x = CenteredX;
            Img.y = CenteredY;
            Cap.x = Half(BW - tw);
            Cap.y = Half(BH - th);
            break;
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// TTntGButton

TTntGButton::TTntGButton(fw::Component* AOwner)
    : fw::GraphicControl(AOwner),
      buttonEffects_(std::make_unique<TGEffect>()),
      glyphs_(std::make_unique<TGGlyph>()) {
    // A double click is two presses.
    DoubleClicks = false;
    buttonEffects_->OnChange = [this] { EffectsChanged(); };
    glyphs_->OnChange = [this] { EffectsChanged(); };
    width_ = 80;
    height_ = 30;
}

TTntGButton::~TTntGButton() {
    glyphs_.reset();
    buttonEffects_.reset();
}

void TTntGButton::EffectsChanged() { Invalidate(); }

void TTntGButton::SetCaption(const std::wstring& Value) {
    if (Value == caption_) return;
    caption_ = Value;
    Invalidate();
}

void TTntGButton::SetShowCaption(bool Value) {
    if (Value == showCaption_) return;
    showCaption_ = Value;
    Invalidate();
}

void TTntGButton::SetAutoSize(TAutoSize Value) {
    if (Value == autoSize_) return;
    autoSize_ = Value;
    Invalidate();
}

void TTntGButton::Repaint() { Invalidate(); }

void TTntGButton::MouseDown(fw::MouseButton Button, fw::ShiftState Shift, int X, int Y) {
    if (Button == fw::MouseButton::Left) {
        hover_ = true;
        pressed_ = true;
        Invalidate();
    }
    fw::GraphicControl::MouseDown(Button, Shift, X, Y);
}

void TTntGButton::MouseUp(fw::MouseButton Button, fw::ShiftState Shift, int X, int Y) {
    if (pressed_ && Button == fw::MouseButton::Left) {
        pressed_ = false;
        Invalidate();
    }
    fw::GraphicControl::MouseUp(Button, Shift, X, Y);
}

void TTntGButton::MouseEnter() {
    hover_ = true;
    if (Enabled()) {
        if (pressed_)
            Invalidate();
        else
            PaintNow();
    }
    fw::GraphicControl::MouseEnter();
}

void TTntGButton::MouseLeave() {
    hover_ = false;
    if (Enabled()) Invalidate();
    fw::GraphicControl::MouseLeave();
}

bool TTntGButton::DialogChar(wchar_t Ch) {
    const wchar_t Accel = AccelChar(caption_);
    if (Accel && Enabled() && UpperChar(Accel) == UpperChar(Ch)) {
        Click();
        return true;
    }
    return fw::GraphicControl::DialogChar(Ch);
}

int TTntGButton::StateImageIndex() const {
    int Index = 0;
    if (!Enabled())
        Index = 1;
    else if (hover_)
        Index = pressed_ ? 3 : 2;
    return Index < glyphs_->Number() ? Index : 0;
}

void TTntGButton::ComputeLayout(fw::Canvas& Canvas) {
    const TGGlyph& G = *glyphs_;
    TLayoutSizes S{imageWidth_, G.Glyph().Height(), 0, 0, G.Distance()};
    if (!caption_.empty()) {
        const SIZE Ext = Canvas.TextExtent(caption_);
        S.tw = Ext.cx;
        S.th = Ext.cy;
    }
    const bool Transparent = buttonEffects_->FrameStyle() == fmTransparent;
    const TBmpLayout Layout = G.Layout();
    const bool PushedIn = pressed_ && buttonEffects_->PushDown;

    int BW = Width(), BH = Height();
    if (AutoSizeFor(autoSize_, S, Layout, Transparent, BW, BH)) {
        const int Grow = PushedIn ? 1 : 0;
        SetBounds(Left(), Top(), BW + Grow, BH + Grow);
    }
    POINT Img{0, 0}, Cap{0, 0};
    PlaceImageAndCaption(Layout, S, BW, BH, Width(), Img, Cap);
    if (PushedIn) {
        ++Img.x;
        ++Img.y;
        ++Cap.x;
        ++Cap.y;
    }
    imagePos_ = Img;
    captionPos_ = Cap;
}

void TTntGButton::PaintGlyph(fw::Canvas& Canvas) {
    const fw::Bitmap& Strip = glyphs_->Glyph();
    const int Index = StateImageIndex();
    const RECT Source = fw::MakeRect(Index * imageWidth_, 0, imageWidth_, Strip.Height());
    const TGEffect& E = *buttonEffects_;
    if (E.FrameStyle() == fmNone) {
        Canvas.Draw(imagePos_.x, imagePos_.y, Strip, Source);
        return;
    }
    // The masking changes the bitmap it draws, so it works on a copy of the image.
    fw::Bitmap Image = Strip.Crop(Source);
    if (Image.Empty()) return;
    const COLORREF Key = E.TransparentColorUse() ? fw::ColorToRGB(E.TransparentColor())
                                                 : Image.GetPixel(0, Image.Height() - 1);
    DrawTransparentBitmap(Canvas, imagePos_.x, imagePos_.y, Key, Image);
}

void TTntGButton::PaintPushFrame(fw::Canvas& Canvas) {
    const TGEffect& E = *buttonEffects_;
    const int W = Width(), H = Height();
    int Ellipse = 0;
    if (E.Shape() == btnRoundRect) Ellipse = 2 * E.CornerRadius() - 2;
    if (E.Shape() == btnSimple) Ellipse = std::min(W, H) - 2;
    fw::RegionHandle Rgn = ShapeRegion(E.Shape(), 1, 1, W - 3, H - 3, Ellipse);
    if (!Rgn) return;
    Canvas.Brush.Style = fw::BrushStyle::Solid;
    Canvas.Brush.Color = pressed_ ? E.FrameColor2() : E.FrameColor();
    Canvas.FillRegion(Rgn.get());
    ::OffsetRgn(Rgn.get(), 3, 3);
    Canvas.Brush.Color = pressed_ ? E.FrameColor() : E.FrameColor2();
    Canvas.FillRegion(Rgn.get());
    const int Back = pressed_ ? -1 : -2;
    ::OffsetRgn(Rgn.get(), Back, Back);
    Canvas.Brush.Color = E.FaceColor();
    Canvas.FillRegion(Rgn.get());
    Canvas.Brush.Style = fw::BrushStyle::Clear;
}

void TTntGButton::PaintGradientFace(fw::Canvas& Canvas) {
    const TGEffect& E = *buttonEffects_;
    const COLORREF Edge = fw::ColorToRGB(pressed_ && hover_ ? E.FrameColor2() : E.FrameColor());
    const COLORREF Face = fw::ColorToRGB(E.FaceColor());
    const int W = Width(), H = Height();
    const int n = E.FrameWidth();
    Canvas.Brush.Style = fw::BrushStyle::Solid;
    for (int s = 0; s < n; ++s) {
        const double t = std::sqrt(static_cast<double>(n * n - (n - s) * (n - s))) / n;
        auto Mix = [t](int E, int F) { return E + RoundEven((F - E) * t); };
        Canvas.Brush.Color =
            RGB(Mix(GetRValue(Edge), GetRValue(Face)), Mix(GetGValue(Edge), GetGValue(Face)),
                Mix(GetBValue(Edge), GetBValue(Face)));
        int Ellipse = 0;
        if (E.Shape() == btnRoundRect) Ellipse = 2 * E.CornerRadius() - 2 * s;
        if (E.Shape() == btnSimple) Ellipse = std::min(W, H) - 2 * s;
        fw::RegionHandle Rgn = ShapeRegion(E.Shape(), s, s, W - s, H - s, Ellipse);
        if (Rgn) Canvas.FillRegion(Rgn.get());
    }
    Canvas.Brush.Style = fw::BrushStyle::Clear;
}

void TTntGButton::PaintCaption(fw::Canvas& Canvas) {
    const TGEffect& E = *buttonEffects_;
    Canvas.Font = Font();
    Canvas.Brush.Style = fw::BrushStyle::Clear;
    const SIZE Ext = Canvas.TextExtent(caption_);
    const RECT R = fw::MakeRect(captionPos_.x, captionPos_.y, Ext.cx, Ext.cy);
    fw::TColor Color;
    if (!Enabled())
        Color = E.TextStyle() == txShadowed ? fw::clBtnFace : fw::clBtnShadow;
    else if (hover_)
        Color = pressed_ ? E.PushColor() : E.HoverColor();
    else
        Color = Font().Color;
    if (hover_ && E.HoverLink) Canvas.Font.Style |= fw::fsUnderline;

    const UINT Format = DT_SINGLELINE | DT_CENTER | DT_VCENTER;
    int Dx = 0, Dy = 0;
    fw::TColor EffectColor = fw::clBtnHighlight;
    switch (E.TextStyle()) {
        case txNone:
            break;
        case txLowered:
            Dx = Dy = 1;
            break;
        case txRaised:
            Dx = Dy = -1;
            break;
        case txShadowed:
            Dx = Dy = 2;
            EffectColor = fw::clBtnShadow;
            break;
    }
    if (E.TextStyle() != txNone) {
        RECT Copy = R;
        ::OffsetRect(&Copy, Dx, Dy);
        Canvas.Font.Color = EffectColor;
        Canvas.DrawText(caption_, Copy, Format);
    }
    RECT Main = R;
    Canvas.Font.Color = Color;
    Canvas.DrawText(caption_, Main, Format);
}

void TTntGButton::Paint(fw::Canvas& Canvas) {
    if (!Visible()) return;
    Canvas.Font = Font();
    Canvas.Brush.Style = fw::BrushStyle::Clear;
    const fw::Bitmap& Strip = glyphs_->Glyph();
    imageWidth_ = Strip.Width() / glyphs_->Number();
    ComputeLayout(Canvas);
    if (Strip.Empty()) {
        if (buttonEffects_->FrameStyle() != fmTransparent) {
            if (buttonEffects_->PushDown)
                PaintPushFrame(Canvas);
            else
                PaintGradientFace(Canvas);
        }
    } else {
        PaintGlyph(Canvas);
    }
    if (showCaption_ && !caption_.empty()) PaintCaption(Canvas);
    // As a focused control does: only while its window is the active one.
    if (focused_ && Parent() && Parent()->HandleAllocated() &&
        ::GetActiveWindow() == ::GetAncestor(Parent()->Handle(), GA_ROOT) &&
        !(::SendMessageW(Parent()->Handle(), WM_QUERYUISTATE, 0, 0) & UISF_HIDEFOCUS)) {
        RECT R = fw::MakeRect(1, 1, Width() - 2, Height() - 2);
        ::SetTextColor(Canvas.Handle(), RGB(0, 0, 0));
        ::SetBkColor(Canvas.Handle(), RGB(255, 255, 255));
        ::DrawFocusRect(Canvas.Handle(), &R);
    }
}

void TTntGButton::SetFocused(bool Value) {
    if (focused_ == Value) return;
    focused_ = Value;
    Invalidate();
}
