#include "UiTestSupport.h"

#include "common/u_GlobalDefine.h"
#include "common/u_PathUtil.h"
#include "common/u_ResourceLib.h"
#include "framework/WinHandles.h"
#include "ui/GDialogs.h"
#include "tests/support/Input.h"
#include "tests/support/MessageBoxes.h"
#include "tests/support/TestPaths.h"

#include <commctrl.h>
#include <oleacc.h>

#include <atomic>
#include <cstring>
#include <thread>

namespace uitest {

std::wstring AccessibleNameOf(HWND Window) {
    IAccessible* object = nullptr;
    if (FAILED(AccessibleObjectFromWindow(Window, OBJID_CLIENT, __uuidof(IAccessible),
                                          reinterpret_cast<void**>(&object))))
        return L"(none)";
    VARIANT self;
    VariantInit(&self);
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    BSTR name = nullptr;
    std::wstring text = L"(none)";
    if (object->get_accName(self, &name) == S_OK && name) text.assign(name, SysStringLen(name));
    SysFreeString(name);
    object->Release();
    return text;
}

void UseEnglishTexts() {
    const std::wstring file = testsupport::TestBinDir() + L"..\\Orvix\\language\\Orvix_ENG.txt";
    ASSERT_TRUE(LoadLanguageTexts(WideToAnsi(file))) << "the staged English texts are missing";
}

namespace {

struct FindTop {
    std::wstring caption, cls;
    HWND found = nullptr;
};

BOOL CALLBACK FindTopProc(HWND h, LPARAM data) {
    auto* f = reinterpret_cast<FindTop*>(data);
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    if (pid != GetCurrentProcessId() || !IsWindowVisible(h)) return TRUE;
    if (WindowText(h) != f->caption) return TRUE;
    if (!f->cls.empty()) {
        wchar_t cls[256] = {};
        GetClassNameW(h, cls, 256);
        if (f->cls != cls) return TRUE;
    }
    f->found = h;
    return FALSE;
}

BOOL CALLBACK CloseAllProc(HWND h, LPARAM) {
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    if (pid == GetCurrentProcessId() && IsWindowVisible(h) && IsWindowEnabled(h))
        PostMessageW(h, WM_CLOSE, 0, 0);
    return TRUE;
}

void Send(INPUT* in, UINT n) { SendInput(n, in, sizeof(INPUT)); }

INPUT KeyInput(WORD vk, bool up) {
    INPUT in{};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = vk;
    in.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    return in;
}

}  // namespace

HWND WaitForTopWindow(const std::wstring& Caption, const std::wstring& Class, DWORD TimeoutMs) {
    FindTop f{Caption, Class};
    WaitUntil(
        [&] {
            EnumWindows(FindTopProc, reinterpret_cast<LPARAM>(&f));
            return f.found != nullptr;
        },
        TimeoutMs);
    return f.found;
}

HWND WaitForActiveForm(const std::wstring& Caption, DWORD TimeoutMs) {
    HWND form = WaitForTopWindow(Caption, L"", TimeoutMs);
    if (!form) return nullptr;
    BringToFront(form);
    return form;
}

bool WaitWindowGone(HWND Window, DWORD TimeoutMs) {
    return WaitUntil([&] { return !IsWindow(Window) || !IsWindowVisible(Window); }, TimeoutMs);
}

std::vector<HWND> Children(HWND Parent, const std::wstring& Class) {
    struct Data {
        std::wstring cls;
        std::vector<HWND> found;
    } data{Class, {}};
    EnumChildWindows(
        Parent,
        [](HWND h, LPARAM p) CALLBACK -> BOOL {
            auto* d = reinterpret_cast<Data*>(p);
            wchar_t cls[256] = {};
            GetClassNameW(h, cls, 256);
            if (_wcsicmp(cls, d->cls.c_str()) == 0) d->found.push_back(h);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&data));
    return data.found;
}

std::wstring WindowText(HWND Window) {
    const LRESULT n = SendMessageW(Window, WM_GETTEXTLENGTH, 0, 0);
    std::wstring text(static_cast<size_t>(n) + 1, L'\0');
    const LRESULT got =
        SendMessageW(Window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<size_t>(got));
    return text;
}

void ClickAt(int X, int Y) { testsupport::SendClick(X, Y); }

namespace {

// The window is the system's foreground window and its own thread's active window:
// only then does real keyboard input reach it and a click act instead of activating.
bool IsFront(HWND Top) {
    GUITHREADINFO gi{};
    gi.cbSize = sizeof(gi);
    return GetForegroundWindow() == Top &&
           GetGUIThreadInfo(GetWindowThreadProcessId(Top, nullptr), &gi) && gi.hwndActive == Top;
}

// A point of the caption bar, where a click activates without doing anything else.
bool CaptionPoint(HWND Top, POINT& P) {
    RECT r{};
    GetWindowRect(Top, &r);
    for (int y = r.top + 2; y < r.top + 40; y += 2)
        for (int x = (r.left + r.right) / 2; x > r.left + 4; x -= 8)
            if (SendMessageW(Top, WM_NCHITTEST, 0, MAKELPARAM(x, y)) == HTCAPTION) {
                P = POINT{x, y};
                return true;
            }
    return false;
}

// The rectangle stays the same for a while: a dialog that is still being laid out or
// moved into place would receive the click somewhere else.
bool SettledRect(HWND Window, RECT& R) {
    RECT last{};
    GetWindowRect(Window, &last);
    int same = 0;
    WaitUntil(
        [&] {
            RECT now{};
            GetWindowRect(Window, &now);
            same = EqualRect(&now, &last) ? same + 1 : 0;
            last = now;
            return same >= 3;
        },
        3000);
    R = last;
    return same >= 3;
}

}  // namespace

bool BringToFront(HWND Top) {
    if (!WaitUntil([&] { return IsWindowVisible(Top) && IsWindowEnabled(Top); })) return false;
    RECT r{};
    SettledRect(Top, r);
    for (int attempt = 0; attempt < 4 && !IsFront(Top); ++attempt) {
        // Some other window may hold the foreground; a click on the caption takes it as a
        // user's would, and the process may then also claim it itself.
        POINT p{};
        if (CaptionPoint(Top, p))
            ClickAt(p.x, p.y);
        else {
            p = POINT{3, 3};
            ClientToScreen(Top, &p);
            ClickAt(p.x, p.y);
        }
        if (WaitUntil([&] { return IsFront(Top); }, 2000)) break;
        SetForegroundWindow(Top);
        WaitUntil([&] { return IsFront(Top); }, 1000);
    }
    return IsFront(Top);
}

void Click(HWND Control) {
    if (!Control) {
        ADD_FAILURE() << "no window to click";
        return;
    }
    // A click on a window that is not yet shown, enabled, in place and in front is lost
    // or only activates it.
    WaitUntil([&] { return IsWindowVisible(Control) && IsWindowEnabled(Control); });
    HWND top = GetAncestor(Control, GA_ROOT);
    if (top && !IsFront(top)) {
        EXPECT_TRUE(BringToFront(top)) << "the window did not come to the front";
    }
    RECT r{};
    SettledRect(Control, r);
    // Pressed only where the control itself is under the pointer: a window still coming
    // up or not yet gone may cover it, and the press would act on that window instead.
    const POINT c{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    EXPECT_TRUE(WaitUntil([&] {
        const HWND hit = WindowFromPoint(c);
        return hit == Control || IsChild(Control, hit);
    })) << "another window covers the control";
    ClickAt(c.x, c.y);
}

void ClickCloseBox(HWND Window) {
    EXPECT_TRUE(BringToFront(Window)) << "the window did not come to the front";
    RECT r{};
    GetWindowRect(Window, &r);
    // The close box is where the window itself says it is.
    for (int y = r.top + 2; y < r.top + 40; ++y)
        for (int x = r.right - 2; x > r.right - 60; --x)
            if (SendMessageW(Window, WM_NCHITTEST, 0, MAKELPARAM(x, y)) == HTCLOSE) {
                ClickAt(x, y);
                return;
            }
    ADD_FAILURE() << "no close box found";
}

void PressKey(WORD Vk, bool Shift, bool Ctrl, bool Alt) {
    std::vector<INPUT> in;
    if (Ctrl) in.push_back(KeyInput(VK_CONTROL, false));
    if (Shift) in.push_back(KeyInput(VK_SHIFT, false));
    if (Alt) in.push_back(KeyInput(VK_MENU, false));
    in.push_back(KeyInput(Vk, false));
    in.push_back(KeyInput(Vk, true));
    if (Alt) in.push_back(KeyInput(VK_MENU, true));
    if (Shift) in.push_back(KeyInput(VK_SHIFT, true));
    if (Ctrl) in.push_back(KeyInput(VK_CONTROL, true));
    Send(in.data(), static_cast<UINT>(in.size()));
}

void TypeText(const std::wstring& Text) {
    std::vector<INPUT> in;
    for (wchar_t c : Text) {
        INPUT down{};
        down.type = INPUT_KEYBOARD;
        down.ki.wScan = c;
        down.ki.dwFlags = KEYEVENTF_UNICODE;
        INPUT up = down;
        up.ki.dwFlags |= KEYEVENTF_KEYUP;
        in.push_back(down);
        in.push_back(up);
    }
    if (!in.empty()) Send(in.data(), static_cast<UINT>(in.size()));
}

namespace {

// Keys go to the focus of the thread whose window is in front: the window must hold both.
bool HasFocus(HWND Window) {
    GUITHREADINFO gi{};
    gi.cbSize = sizeof(gi);
    const DWORD thread = GetWindowThreadProcessId(Window, nullptr);
    return GetGUIThreadInfo(thread, &gi) &&
           (gi.hwndFocus == Window || IsChild(Window, gi.hwndFocus)) &&
           GetWindowThreadProcessId(GetForegroundWindow(), nullptr) == thread;
}

// Clicks until the window has the focus (the first click may only activate its form).
bool ClickToFocus(HWND Window) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        Click(Window);
        if (WaitUntil([&] { return HasFocus(Window); }, 3000)) return true;
    }
    return false;
}

}  // namespace

bool Dropped(HWND Combo) { return SendMessageW(Combo, CB_GETDROPPEDSTATE, 0, 0) != 0; }

bool ChooseInDropDown(HWND Combo, WORD Key) {
    if (!Combo) return false;
    // The first click on a form that is not yet active may only activate it.
    bool dropped = false;
    for (int attempt = 0; attempt < 3 && !dropped; ++attempt) {
        Click(Combo);
        dropped = WaitUntil([&] { return Dropped(Combo); }, 2000);
    }
    if (!dropped) return false;
    const LRESULT before = SendMessageW(Combo, CB_GETCURSEL, 0, 0);
    PressKey(Key);
    WaitUntil([&] { return SendMessageW(Combo, CB_GETCURSEL, 0, 0) != before; }, 3000);
    PressKey(VK_RETURN);
    return WaitUntil([&] { return !Dropped(Combo); }, 5000);
}

void ReplaceEditText(HWND Edit, const std::wstring& Text) {
    // On a busy machine the keys may reach the window before the focus has: the field is
    // emptied again until it is empty, as a user would.
    for (int attempt = 0; attempt < 3 && !WindowText(Edit).empty(); ++attempt) {
        ASSERT_TRUE(ClickToFocus(Edit)) << "the field did not take the focus";
        PressKey(VK_HOME);
        PressKey(VK_END, true);
        PressKey(VK_DELETE);
        WaitUntil([&] { return WindowText(Edit).empty(); }, 3000);
    }
    ASSERT_TRUE(WindowText(Edit).empty())
        << "the field's text was not deleted: " << testing::PrintToString(WindowText(Edit));
    ASSERT_TRUE(ClickToFocus(Edit)) << "the field did not take the focus";
    TypeText(Text);
    ASSERT_TRUE(WaitUntil([&] { return WindowText(Edit) == Text; }))
        << "typed text did not arrive: " << testing::PrintToString(WindowText(Edit));
}

void RunWithUser(const std::function<void()>& Body, const std::function<void()>& Script) {
    std::atomic<bool> done{false};
    std::thread user([&] {
        Script();
        // Whatever the script left open is closed, so that the body can return; a body
        // that ends by itself is given time to do so.
        WaitUntil([&] { return done.load(); }, 10000);
        while (!done) {
            EnumWindows(CloseAllProc, 0);
            WaitUntil([&] { return done.load(); }, 500);
        }
    });
    Body();
    done = true;
    user.join();
}

void UiTest::SetUp() {
    // Windows shown under a pointer left there by an earlier program get its messages.
    ASSERT_TRUE(testsupport::ParkPointer());
    savedAppPath = AppPath;
    savedImagePath = ImagePath;
    savedMoviePath = MoviePath;
    UseEnglishTexts();
}

void UiTest::TearDown() {
    app.ProcessMessages();
    FreeLanguageTexts();
    AppPath = savedAppPath;
    ImagePath = savedImagePath;
    MoviePath = savedMoviePath;
}

std::wstring AnswerMessageBox(HWND* Owner, DWORD TimeoutMs) {
    HWND box = nullptr;
    WaitUntil(
        [&] {
            const std::vector<HWND> boxes = testsupport::MessageBoxesOf(GetCurrentProcessId());
            box = boxes.empty() ? nullptr : boxes.front();
            return box != nullptr;
        },
        TimeoutMs);
    if (!box) return L"";
    if (Owner) *Owner = GetWindow(box, GW_OWNER);
    const std::wstring text = testsupport::MessageBoxText(box);
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(WaitWindowGone(box)) << "the message box stayed";
    return text;
}

void MoveInBrowserTree(HWND Browser, WORD Key) {
    const auto trees = Children(Browser, WC_TREEVIEWW);
    ASSERT_FALSE(trees.empty());
    HWND tree = trees[0];
    auto item = reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
    ASSERT_TRUE(item);
    RECT r{};
    std::memcpy(&r, &item, sizeof(item));  // the message takes the item in the rectangle
    ASSERT_TRUE(SendMessageW(tree, TVM_GETITEMRECT, TRUE, reinterpret_cast<LPARAM>(&r)));
    POINT p{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    ClientToScreen(tree, &p);
    ASSERT_TRUE(BringToFront(Browser));
    ClickAt(p.x, p.y);
    ASSERT_TRUE(WaitUntil([&] {
        GUITHREADINFO gi{};
        gi.cbSize = sizeof(gi);
        return GetGUIThreadInfo(GetWindowThreadProcessId(tree, nullptr), &gi) &&
               gi.hwndFocus == tree;
    })) << "the tree did not take the focus";
    PressKey(Key);
}

HWND StatusControlOf(HWND Browser) {
    HWND found = nullptr;
    EnumChildWindows(
        Browser,
        [](HWND c, LPARAM d) CALLBACK -> BOOL {
            if (GetDlgCtrlID(c) != BrowseStatusControlId) return TRUE;
            *reinterpret_cast<HWND*>(d) = c;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

// Visible top-level windows of other processes whose caption contains Part.
std::vector<HWND> OtherWindowsTitled(const std::wstring& Part) {
    struct Data {
        std::wstring part;
        std::vector<HWND> found;
    } data{Part, {}};
    EnumWindows(
        [](HWND h, LPARAM l) CALLBACK -> BOOL {
            auto* d = reinterpret_cast<Data*>(l);
            DWORD pid = 0;
            GetWindowThreadProcessId(h, &pid);
            if (pid != GetCurrentProcessId() && IsWindowVisible(h) &&
                WindowText(h).find(d->part) != std::wstring::npos)
                d->found.push_back(h);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&data));
    return data.found;
}

// Closes the windows that OtherWindowsTitled finds and returns their processes.
std::vector<DWORD> CloseOtherWindowsTitled(const std::wstring& Part) {
    std::vector<DWORD> pids;
    for (HWND h : OtherWindowsTitled(Part)) {
        DWORD pid = 0;
        GetWindowThreadProcessId(h, &pid);
        PostMessageW(h, WM_CLOSE, 0, 0);
        pids.push_back(pid);
    }
    return pids;
}

// Waits until the processes that showed those windows have ended: one that lingers
// keeps a claim on the foreground and the focus that later dialog tests need. The
// desktop's own process is never waited for.
bool ProcessesEnded(const std::vector<DWORD>& Pids, DWORD TimeoutMs) {
    DWORD desktop = 0;
    GetWindowThreadProcessId(GetDesktopWindow(), &desktop);
    std::vector<fw::Handle> running;
    for (DWORD pid : Pids) {
        if (pid == desktop || pid == GetCurrentProcessId()) continue;
        fw::Handle h(OpenProcess(SYNCHRONIZE, FALSE, pid));
        if (h) running.push_back(std::move(h));  // not open: already gone
    }
    return WaitUntil(
        [&] {
            for (const fw::Handle& h : running)
                if (WaitForSingleObject(h.get(), 0) != WAIT_OBJECT_0) return false;
            return true;
        },
        TimeoutMs);
}

}  // namespace uitest
