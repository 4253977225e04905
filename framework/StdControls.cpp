#include "framework/StdControls.h"

#include "framework/Form.h"

namespace fw {

// ---------------------------------------------------------------------------
// Label

Label::Label(Component* owner) : GraphicControl(owner) {
    width_ = 65;
    height_ = 13;
}

void Label::SetCaption(const std::wstring& c) {
    if (c == caption_) return;
    caption_ = c;
    Invalidate();
}

void Label::Paint(fw::Canvas& canvas) {
    RECT r{0, 0, width_, height_};
    if (!Transparent) {
        canvas.Brush.Style = BrushStyle::Solid;
        canvas.Brush.Color = color_;
        canvas.FillRect(r);
    }
    canvas.Brush.Style = BrushStyle::Clear;
    UINT format = DT_EXPANDTABS | (WordWrap ? DT_WORDBREAK : DT_SINGLELINE);
    if (!ShowAccelChar) format |= DT_NOPREFIX;
    if (Alignment == TextAlignment::Center)
        format |= DT_CENTER;
    else if (Alignment == TextAlignment::Right)
        format |= DT_RIGHT;
    if (!enabled_) {
        // The engraved look of disabled text.
        RECT s = r;
        ::OffsetRect(&s, 1, 1);
        canvas.Font.Color = clBtnHighlight;
        canvas.DrawText(caption_, s, format);
        canvas.Font.Color = clBtnShadow;
    }
    canvas.DrawText(caption_, r, format);
}

// ---------------------------------------------------------------------------
// Edit

Edit::Edit(Component* owner) : WinControl(owner) {
    TabStop = true;
    color_ = clWindow;
    width_ = 121;
    height_ = 21;
}

void Edit::CreateParams(fw::CreateParams& p) {
    WinControl::CreateParams(p);
    p.ClassName = L"EDIT";
    p.Style |= ES_AUTOHSCROLL;
    if (readOnly_) p.Style |= ES_READONLY;
    p.ExStyle |= WS_EX_CLIENTEDGE;
}

void Edit::SetReadOnly(bool on) {
    readOnly_ = on;
    if (hwnd_) ::SendMessageW(hwnd_, EM_SETREADONLY, on ? TRUE : FALSE, 0);
}

bool Edit::HandleCommand(WORD code) {
    if (code == EN_CHANGE) {
        if (OnChange && !Destroying()) {
            auto h = OnChange;
            h();
        }
        return true;
    }
    return false;
}

LRESULT Edit::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_SETFOCUS || msg == WM_KILLFOCUS) {
        auto alive = AliveToken();
        const LRESULT r = WinControl::WndProc(msg, wParam, lParam);
        if (alive.expired() || Destroying() || !hwnd_) return r;
        // Only focus moves inside the same form count as entering or leaving the
        // field; switching to another program does not.
        HWND other = reinterpret_cast<HWND>(wParam);
        const bool sameForm =
            other && ::GetAncestor(other, GA_ROOT) == ::GetAncestor(hwnd_, GA_ROOT);
        NotifyEvent& ev = msg == WM_SETFOCUS ? OnEnter : OnExit;
        if (ev && (sameForm || (msg == WM_SETFOCUS && !other))) {
            auto h = ev;
            h();
        }
        return r;
    }
    return WinControl::WndProc(msg, wParam, lParam);
}

// ---------------------------------------------------------------------------
// Button

Button::Button(Component* owner) : WinControl(owner) {
    TabStop = true;
    width_ = 75;
    height_ = 25;
}

Button::~Button() = default;

void Button::CreateParams(fw::CreateParams& p) {
    WinControl::CreateParams(p);
    p.ClassName = L"BUTTON";
    p.Style |= default_ ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON;
}

void Button::SetDefault(bool on) {
    default_ = on;
    if (hwnd_) ::SendMessageW(hwnd_, BM_SETSTYLE, on ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON, TRUE);
}

void Button::SetCancel(bool on) { cancel_ = on; }

void Button::Click() {
    if (Destroying()) return;
    if (ModalResult != mrNone) {
        if (Form* f = ParentForm()) f->ModalResult = ModalResult;
    }
    WinControl::Click();
}

bool Button::HandleCommand(WORD code) {
    if (code == BN_CLICKED) {
        Click();
        return true;
    }
    return false;
}

// ---------------------------------------------------------------------------
// ComboBox

ComboBox::ComboBox(Component* owner) : WinControl(owner) {
    TabStop = true;
    color_ = clWindow;
    width_ = 145;
    height_ = 21;
}

void ComboBox::CreateParams(fw::CreateParams& p) {
    WinControl::CreateParams(p);
    p.ClassName = L"COMBOBOX";
    p.Style |= WS_VSCROLL | CBS_AUTOHSCROLL;
    switch (style_) {
        case ComboStyle::DropDown:
            p.Style |= CBS_DROPDOWN;
            break;
        case ComboStyle::DropDownList:
            p.Style |= CBS_DROPDOWNLIST;
            break;
        case ComboStyle::Simple:
            p.Style |= CBS_SIMPLE;
            break;
    }
    p.Caption.clear();  // the text goes in after the items
}

RECT ComboBox::WindowBoundsFor(const RECT& b) const {
    if (style_ == ComboStyle::Simple) return b;
    // The window height of a drop-down combo box is the height of its open list.
    RECT r = b;
    const int itemHeight = (height_ > 0 ? height_ : 21) - 4;
    r.bottom += itemHeight * (DropDownCount > 0 ? DropDownCount : 8) + 2;
    return r;
}

void ComboBox::SyncBoundsFromWindow() { WinControl::SyncBoundsFromWindow(); }

void ComboBox::AfterCreateHandle() {
    for (const auto& s : items_)
        ::SendMessageW(hwnd_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s.c_str()));
    const int index = itemIndex_ >= 0 && itemIndex_ < ItemCount() ? itemIndex_ : -1;
    ::SendMessageW(hwnd_, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    if (style_ != ComboStyle::DropDownList && (index < 0 || text_ != items_[index]))
        ::SetWindowTextW(hwnd_, text_.c_str());
}

void ComboBox::DestroyingHandle() {
    itemIndex_ = static_cast<int>(::SendMessageW(hwnd_, CB_GETCURSEL, 0, 0));
    text_ = WinControl::Text();
}

void ComboBox::SetStyle(ComboStyle s) {
    if (s == style_) return;
    if (hwnd_) {
        itemIndex_ = ItemIndex();
        text_ = Text();
    }
    style_ = s;
    RecreateWnd();
}

int ComboBox::AddItem(const std::wstring& item) {
    items_.push_back(item);
    if (hwnd_) ::SendMessageW(hwnd_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
    return ItemCount() - 1;
}

void ComboBox::ClearItems() {
    items_.clear();
    itemIndex_ = -1;
    text_.clear();
    if (hwnd_) ::SendMessageW(hwnd_, CB_RESETCONTENT, 0, 0);
}

int ComboBox::IndexOf(const std::wstring& item) const {
    for (size_t i = 0; i < items_.size(); ++i)
        if (items_[i] == item) return static_cast<int>(i);
    return -1;
}

int ComboBox::ItemIndex() const {
    if (hwnd_) return static_cast<int>(::SendMessageW(hwnd_, CB_GETCURSEL, 0, 0));
    return itemIndex_;
}

void ComboBox::SetItemIndex(int i) {
    if (i < 0 || i >= ItemCount()) i = -1;
    itemIndex_ = i;
    text_ = i >= 0 ? items_[static_cast<size_t>(i)] : std::wstring();
    if (hwnd_) ::SendMessageW(hwnd_, CB_SETCURSEL, static_cast<WPARAM>(i), 0);
}

std::wstring ComboBox::Text() const {
    if (hwnd_) return WinControl::Text();
    if (style_ == ComboStyle::DropDownList)
        return itemIndex_ >= 0 && itemIndex_ < ItemCount() ? items_[static_cast<size_t>(itemIndex_)]
                                                           : std::wstring();
    return text_;
}

void ComboBox::SetText(const std::wstring& t) {
    if (style_ == ComboStyle::DropDownList) {
        // A list without an edit field can only show one of its items.
        SetItemIndex(IndexOf(t));
        return;
    }
    text_ = t;
    if (hwnd_) ::SetWindowTextW(hwnd_, t.c_str());
}

bool ComboBox::HandleCommand(WORD code) {
    if (code == CBN_SELCHANGE || code == CBN_EDITCHANGE) {
        if (code == CBN_SELCHANGE) itemIndex_ = ItemIndex();
        if (OnChange && !Destroying()) {
            auto h = OnChange;
            h();
        }
        return true;
    }
    return false;
}

}  // namespace fw
