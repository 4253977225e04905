#include "framework/Menu.h"

#include "framework/Application.h"

#include <algorithm>
#include <memory>

namespace fw {

MenuItem::MenuItem(Component* owner) : Component(owner) {}

MenuItem::~MenuItem() {
    if (menu_) menu_->Remove(this);
}

void MenuItem::Click() {
    if (!Enabled || !OnClick || Destroying()) return;
    auto h = OnClick;
    h();
}

PopupMenu::PopupMenu(Component* owner) : Component(owner) {}

PopupMenu::~PopupMenu() {
    for (MenuItem* it : items_) it->menu_ = nullptr;
    items_.clear();
}

MenuItem* PopupMenu::AddItem(const std::wstring& caption, NotifyEvent onClick) {
    auto* it = new MenuItem(this);
    it->Caption = caption;
    it->OnClick = std::move(onClick);
    Add(it);
    return it;
}

void PopupMenu::Add(MenuItem* item) {
    if (!item || item->menu_ == this) return;
    if (item->menu_) item->menu_->Remove(item);
    items_.push_back(item);
    item->menu_ = this;
}

void PopupMenu::Remove(MenuItem* item) {
    auto it = std::find(items_.begin(), items_.end(), item);
    if (it == items_.end()) return;
    items_.erase(it);
    item->menu_ = nullptr;
}

bool PopupMenu::Popup(int x, int y) {
    auto alive = AliveToken();
    if (OnPopup && !Destroying()) {
        auto h = OnPopup;
        h();
        if (alive.expired()) return false;
    }
    MenuHandle menu(::CreatePopupMenu());
    if (!menu) return false;
    std::vector<MenuItem*> byId;
    std::vector<std::weak_ptr<void>> tokens;
    for (MenuItem* it : items_) {
        if (!it->Visible) continue;
        if (it->IsSeparator()) {
            ::AppendMenuW(menu.get(), MF_SEPARATOR, 0, nullptr);
            continue;
        }
        byId.push_back(it);
        tokens.push_back(it->AliveToken());
        UINT flags = MF_STRING;
        if (!it->Enabled) flags |= MF_GRAYED;
        if (it->Checked) flags |= MF_CHECKED;
        ::AppendMenuW(menu.get(), flags, byId.size(), it->Caption.c_str());
    }
    HWND owner = OwnerWindow;
    if (!owner || !::IsWindow(owner)) owner = ::GetActiveWindow();
    if (!owner) owner = App().Handle();
    // Without the owner in the foreground the menu does not close when the user
    // clicks elsewhere; the posted message lets it close properly (Win32 quirk).
    ::SetForegroundWindow(owner);
    const UINT cmd = static_cast<UINT>(::TrackPopupMenuEx(
        menu.get(), TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_LEFTALIGN | TPM_TOPALIGN, x, y, owner,
        nullptr));
    ::PostMessageW(owner, WM_NULL, 0, 0);
    if (cmd == 0 || cmd > byId.size() || alive.expired() || tokens[cmd - 1].expired()) return false;
    byId[cmd - 1]->Click();
    return true;
}

}  // namespace fw
