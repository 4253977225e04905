#include "framework/Form.h"
#include "framework/Menu.h"
#include "framework/Timer.h"

#include "FrameworkTest.h"

#include <string>
#include <vector>

namespace {

class MenuTest : public FrameworkTest {
protected:
    void SetUp() override {
        // The menu opens where the pointer may be; items under it would take the keys' place.
        FrameworkTest::SetUp();
        form = fw::NewForm<fw::Form>(&app);
        form->SetBounds(50, 50, 300, 200);
        form->Show();
        ::SetForegroundWindow(form->Handle());
        menu = new fw::PopupMenu(form);
        source = menu->AddItem(L"Video Source", [this] { log.push_back("source"); });
        format = menu->AddItem(L"Video Format", [this] { log.push_back("format"); });
        menu->AddItem(L"-");
        folder = menu->AddItem(L"Save Folder...", [this] { log.push_back("folder"); });
        menu->OnPopup = [this] {
            log.push_back("popup");
            source->Enabled = sourceEnabled;
        };
    }
    // While the menu is open, the timer drives it with keys posted to the thread.
    void DriveMenu(std::vector<WORD> keys) {
        keys_ = std::move(keys);
        driver.SetInterval(40);
        driver.OnTimer = [this] {
            driver.SetEnabled(false);
            HWND owner = form->Handle();
            for (WORD k : keys_) ::PostMessageW(owner, WM_KEYDOWN, k, 1);
        };
        driver.SetEnabled(true);
    }
    fw::Form* form = nullptr;
    fw::PopupMenu* menu = nullptr;
    fw::MenuItem *source = nullptr, *format = nullptr, *folder = nullptr;
    bool sourceEnabled = true;
    std::vector<std::string> log;
    fw::Timer driver{nullptr};
    std::vector<WORD> keys_;
};

}  // namespace

TEST_F(MenuTest, ChosenItemClicksAfterTheMenuClosesAndPopupEventComesFirst) {
    menu->OwnerWindow = form->Handle();
    DriveMenu({VK_DOWN, VK_DOWN, VK_RETURN});
    POINT p = form->ClientToScreen(POINT{20, 20});
    EXPECT_TRUE(menu->Popup(p.x, p.y));
    EXPECT_EQ(log, (std::vector<std::string>{"popup", "format"}));
}

TEST_F(MenuTest, CancelledMenuClicksNothing) {
    menu->OwnerWindow = form->Handle();
    DriveMenu({VK_ESCAPE});
    POINT p = form->ClientToScreen(POINT{20, 20});
    EXPECT_FALSE(menu->Popup(p.x, p.y));
    EXPECT_EQ(log, (std::vector<std::string>{"popup"}));
}

TEST_F(MenuTest, DisabledItemsAndRemovedItems) {
    sourceEnabled = false;  // the popup event disables it just before opening
    menu->OwnerWindow = form->Handle();
    delete format;  // freed early: it leaves the menu
    EXPECT_EQ(menu->Items().size(), 3u);
    // Up from nothing selected goes to the last item.
    DriveMenu({VK_UP, VK_RETURN});
    POINT p = form->ClientToScreen(POINT{20, 20});
    EXPECT_TRUE(menu->Popup(p.x, p.y));
    EXPECT_EQ(log, (std::vector<std::string>{"popup", "folder"}));
    source->OnClick();  // handler still callable directly
    log.clear();
    source->Click();  // but a disabled item does not click
    EXPECT_TRUE(log.empty());
}

TEST_F(MenuTest, RightClickOnAControlOpensItsPopupMenu) {
    form->PopupMenu = menu;
    DriveMenu({VK_ESCAPE});
    POINT p = form->ClientToScreen(POINT{30, 30});
    ::SendMessageW(form->Handle(), WM_CONTEXTMENU, reinterpret_cast<WPARAM>(form->Handle()),
                   MAKELPARAM(p.x, p.y));
    EXPECT_EQ(log, (std::vector<std::string>{"popup"}));
}
