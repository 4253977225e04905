// Popup menu with items. The menu is built fresh from the items each time it
// opens (after OnPopup, which may change them); the chosen item's OnClick runs
// after the menu has closed.
#pragma once

#include "framework/Component.h"
#include "framework/Types.h"

#include <string>
#include <vector>

namespace fw {

class PopupMenu;

class MenuItem : public Component {
public:
    explicit MenuItem(Component* owner);
    ~MenuItem() override;

    std::wstring Caption;  // "-" makes a separator
    bool Enabled = true;
    bool Visible = true;
    bool Checked = false;
    NotifyEvent OnClick;

    bool IsSeparator() const { return Caption == L"-"; }
    fw::PopupMenu* Menu() const { return menu_; }
    void Click();

private:
    friend class PopupMenu;
    fw::PopupMenu* menu_ = nullptr;
};

class PopupMenu : public Component {
public:
    explicit PopupMenu(Component* owner);
    ~PopupMenu() override;

    // Makes a new item owned by the menu, at the end.
    MenuItem* AddItem(const std::wstring& caption, NotifyEvent onClick = nullptr);
    // Adds an item made elsewhere (it keeps its owner; freeing it removes it).
    void Add(MenuItem* item);
    void Remove(MenuItem* item);
    const std::vector<MenuItem*>& Items() const { return items_; }

    NotifyEvent OnPopup;

    // Opens the menu at a screen point and waits until it closes; the chosen
    // item's OnClick runs then. True when an item was chosen.
    bool Popup(int x, int y);
    // The window that owns the open menu (the application window by default).
    HWND OwnerWindow = nullptr;

private:
    std::vector<MenuItem*> items_;
};

}  // namespace fw
