#include "standins/vcam/DriverDialog.h"

#include <cstring>

#include "standins/vcam/ComModule.h"
#include "standins/vcam/VCamConfig.h"

namespace vcam {

namespace {

// A dialog template in memory, item by item: DLGTEMPLATE and DLGITEMTEMPLATE records are
// DWORD-aligned, their strings follow as WORDs.
class DialogTemplate {
public:
    DialogTemplate(const wchar_t* title, short cx, short cy, WORD items) {
        DLGTEMPLATE t{};
        t.style = DS_MODALFRAME | DS_SETFONT | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU;
        t.cdit = items;
        t.cx = cx;
        t.cy = cy;
        Append(&t, sizeof(t));
        Word(0);  // no menu
        Word(0);  // the standard dialog class
        Text(title);
        Word(8);
        Text(L"MS Shell Dlg");
    }

    void Item(WORD id, WORD atom, const wchar_t* text, DWORD style, short x, short y, short cx,
              short cy) {
        Align();
        DLGITEMTEMPLATE item{};
        item.style = style | WS_CHILD | WS_VISIBLE;
        item.x = x;
        item.y = y;
        item.cx = cx;
        item.cy = cy;
        item.id = id;
        Append(&item, sizeof(item));
        Word(0xFFFF);
        Word(atom);
        Text(text);
        Word(0);  // no creation data
    }

    const DLGTEMPLATE* get() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

private:
    void Append(const void* data, size_t bytes) {
        const size_t at = words_.size();
        words_.resize(at + (bytes + 1) / 2);
        std::memcpy(words_.data() + at, data, bytes);
    }
    void Word(WORD w) { words_.push_back(w); }
    void Text(const wchar_t* s) { Append(s, (wcslen(s) + 1) * sizeof(wchar_t)); }
    void Align() {
        if (words_.size() % 2) words_.push_back(0);
    }

    std::vector<WORD> words_;
};

constexpr WORD kButtonAtom = 0x0080;
constexpr WORD kStaticAtom = 0x0082;
constexpr WORD kListBoxAtom = 0x0083;

struct DialogState {
    const std::vector<std::wstring>* choices;
    int* chosen;
};

INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wp, LPARAM lp) {
    switch (message) {
        case WM_INITDIALOG: {
            SetWindowLongPtrW(dialog, DWLP_USER, lp);
            const auto* state = reinterpret_cast<const DialogState*>(lp);
            if (HWND list = GetDlgItem(dialog, kDriverDialogListId)) {
                for (const std::wstring& choice : *state->choices)
                    SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(choice.c_str()));
                SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(*state->chosen), 0);
            }
            return TRUE;  // the focus goes to the first control that takes it
        }
        case WM_COMMAND: {
            const WORD id = LOWORD(wp);
            const bool picked = id == kDriverDialogListId && HIWORD(wp) == LBN_DBLCLK;
            if (id == IDOK || picked) {
                auto* state = reinterpret_cast<DialogState*>(GetWindowLongPtrW(dialog, DWLP_USER));
                if (HWND list = GetDlgItem(dialog, kDriverDialogListId)) {
                    const LRESULT at = SendMessageW(list, LB_GETCURSEL, 0, 0);
                    if (at != LB_ERR) *state->chosen = static_cast<int>(at);
                }
                EndDialog(dialog, IDOK);
                return TRUE;
            }
            if (id == IDCANCEL) {
                EndDialog(dialog, IDCANCEL);
                return TRUE;
            }
            return FALSE;
        }
        default:
            return FALSE;
    }
}

}  // namespace

INT_PTR ShowDriverDialog(HWND Owner, const wchar_t* Title, const std::vector<std::wstring>& Choices,
                         int& Chosen) {
    const bool list = !Choices.empty();
    DialogTemplate t(Title, 180, list ? 120 : 70, 3);
    if (list) {
        t.Item(kDriverDialogListId, kListBoxAtom, L"",
               LBS_NOTIFY | WS_BORDER | WS_VSCROLL | WS_TABSTOP, 7, 7, 166, 80);
    } else {
        t.Item(static_cast<WORD>(-1), kStaticAtom, L"This camera has no settings to change.",
               SS_LEFT, 7, 12, 166, 20);
    }
    const short buttons = list ? 97 : 45;
    t.Item(IDOK, kButtonAtom, L"OK", BS_DEFPUSHBUTTON | WS_TABSTOP, 62, buttons, 50, 14);
    t.Item(IDCANCEL, kButtonAtom, L"Cancel", BS_PUSHBUTTON | WS_TABSTOP, 123, buttons, 50, 14);
    DialogState state{&Choices, &Chosen};
    return DialogBoxIndirectParamW(ModuleHandle(), t.get(), Owner, DialogProc,
                                   reinterpret_cast<LPARAM>(&state));
}

}  // namespace vcam
