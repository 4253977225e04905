// The main window from the keyboard: the button bar as one tab stop, as a toolbar is, and
// the picture's menu from the keys that the system turns into a context menu request.
#include "app/u_CamForm.h"

#include "capture/GDirectCapPin2.h"
#include "ui/TntGButton.h"

#include <algorithm>

std::vector<TTntGButton*> Tfrm_DADez::UsableBarButtons() const {
    // The bar's order is left to right.
    std::vector<TTntGButton*> usable;
    for (TTntGButton* b : BarButtonsInOrder())
        if (b->Visible() && b->Enabled()) usable.push_back(b);
    return usable;
}

void Tfrm_DADez::FocusButton(TTntGButton* Button) {
    if (focusedButton_ == Button) return;
    if (focusedButton_) focusedButton_->SetFocused(false);
    focusedButton_ = Button;
    if (Button) Button->SetFocused(true);
    AnnounceFocus();
}

void Tfrm_DADez::KeepBarFocus() {
    AnnounceBarStates();
    if (!focusedButton_ || focusedButton_->Visible()) return;
    TTntGButton* hidden = focusedButton_;
    for (TTntGButton* b : {gbRecord, gbRecordOff}) {
        if (b != hidden && b->Visible() && b->Left() == hidden->Left()) {
            FocusButton(b);
            return;
        }
    }
    const std::vector<TTntGButton*> usable = UsableBarButtons();
    const auto next = std::find_if(usable.begin(), usable.end(),
                                   [&](TTntGButton* B) { return B->Left() > hidden->Left(); });
    FocusButton(next != usable.end() ? *next : usable.empty() ? nullptr : usable.front());
}

void Tfrm_DADez::ShowPictureMenu() {
    if (!gcap->HandleAllocated()) return;
    // As the system sends it for the keyboard: the menu opens over the picture.
    SendMessageW(gcap->Handle(), WM_CONTEXTMENU, reinterpret_cast<WPARAM>(gcap->Handle()),
                 MAKELPARAM(-1, -1));
}

bool Tfrm_DADez::BarKey(WORD Key, fw::ShiftState Shift) {
    if (Shift & (fw::ssCtrl | fw::ssAlt)) return false;
    const bool withShift = (Shift & fw::ssShift) != 0;
    const std::vector<TTntGButton*> usable = UsableBarButtons();
    const auto focused = std::find(usable.begin(), usable.end(), focusedButton_);
    switch (Key) {
        case VK_TAB:
            // The keyboard is in use: from now on the window shows where its focus is.
            SendMessageW(Handle(), WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS), 0);
            if (focusedButton_)
                FocusButton(nullptr);
            else if (!usable.empty())
                FocusButton(withShift ? usable.back() : usable.front());
            return true;
        case VK_LEFT:
        case VK_UP:
        case VK_RIGHT:
        case VK_DOWN:
        case VK_HOME:
        case VK_END: {
            if (!focusedButton_ || usable.empty()) return false;
            SendMessageW(Handle(), WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS), 0);
            const int count = static_cast<int>(usable.size());
            int at = focused == usable.end() ? -1 : static_cast<int>(focused - usable.begin());
            if (Key == VK_HOME)
                at = 0;
            else if (Key == VK_END)
                at = count - 1;
            else if (Key == VK_LEFT || Key == VK_UP)
                at = at < 0 ? count - 1 : (at + count - 1) % count;
            else
                at = (at + 1) % count;
            FocusButton(usable[static_cast<size_t>(at)]);
            return true;
        }
        case VK_SPACE:
        case VK_RETURN:
            if (!focusedButton_) return false;
            // A button that does not take clicks right now (the stop button while the
            // recording starts) keeps the focus and ignores the key.
            if (focused != usable.end()) focusedButton_->Click();
            return true;
        default:
            return false;
    }
}
