// Standard controls: label (windowless), edit field, push button and combo box
// (system classes with their own window procedures).
#pragma once

#include "framework/Control.h"
#include "framework/GraphicControl.h"

#include <string>
#include <vector>

namespace fw {

enum class TextAlignment { Left, Right, Center };

class Label : public GraphicControl {
public:
    explicit Label(Component* owner);

    const std::wstring& Caption() const { return caption_; }
    void SetCaption(const std::wstring& c);
    TextAlignment Alignment = TextAlignment::Left;
    bool Transparent = true;  // false: filled with Color
    bool WordWrap = false;
    bool ShowAccelChar = true;  // "&" underlines the next character

protected:
    void Paint(fw::Canvas& canvas) override;

private:
    std::wstring caption_;
};

class Edit : public WinControl {
public:
    explicit Edit(Component* owner);

    std::wstring Text() const { return WinControl::Text(); }
    void SetText(const std::wstring& t) { WinControl::SetText(t); }
    bool ReadOnly() const { return readOnly_; }
    void SetReadOnly(bool on);

    NotifyEvent OnChange;
    // Focus moved into / out of the field, to another window of the same form.
    NotifyEvent OnEnter;
    NotifyEvent OnExit;

    LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

protected:
    void CreateParams(fw::CreateParams& params) override;
    bool HandleCommand(WORD code) override;

private:
    bool readOnly_ = false;
};

class Button : public WinControl {
public:
    explicit Button(Component* owner);
    ~Button() override;

    std::wstring Caption() const { return Text(); }
    void SetCaption(const std::wstring& c) { SetText(c); }
    // Clicking sets the form's ModalResult to this value when it is not mrNone.
    fw::ModalResult ModalResult = mrNone;
    // Enter (Default) or Escape (Cancel) anywhere on the form clicks the button.
    bool Default() const { return default_; }
    void SetDefault(bool on);
    bool Cancel() const { return cancel_; }
    void SetCancel(bool on);

    void Click() override;

protected:
    void CreateParams(fw::CreateParams& params) override;
    bool HandleCommand(WORD code) override;

private:
    bool default_ = false;
    bool cancel_ = false;
};

enum class ComboStyle { DropDown, DropDownList, Simple };

class ComboBox : public WinControl {
public:
    explicit ComboBox(Component* owner);

    // The style can change at run time; items, ItemIndex and Text are kept.
    ComboStyle Style() const { return style_; }
    void SetStyle(ComboStyle s);

    const std::vector<std::wstring>& Items() const { return items_; }
    int AddItem(const std::wstring& item);
    void ClearItems();
    int ItemCount() const { return static_cast<int>(items_.size()); }
    int IndexOf(const std::wstring& item) const;

    // -1 when nothing is selected.
    int ItemIndex() const;
    void SetItemIndex(int i);
    // The selected item's text (DropDownList) or the edit text.
    std::wstring Text() const;
    void SetText(const std::wstring& t);

    int DropDownCount = 8;
    // The user changed the selection or the text.
    NotifyEvent OnChange;

protected:
    void CreateParams(fw::CreateParams& params) override;
    void AfterCreateHandle() override;
    void DestroyingHandle() override;
    bool HandleCommand(WORD code) override;
    RECT WindowBoundsFor(const RECT& bounds) const override;
    void SyncBoundsFromWindow() override;

private:
    ComboStyle style_ = ComboStyle::DropDown;
    std::vector<std::wstring> items_;
    int itemIndex_ = -1;
    std::wstring text_;
};

}  // namespace fw
