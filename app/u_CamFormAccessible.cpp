// What screen readers and other accessibility tools see of the main window: its client
// area with the bar's glyph buttons (which have no windows of their own) and the picture
// as children, through the platform's IAccessible (which UI Automation clients reach too).
#include "app/u_CamForm.h"

#include "capture/GDirectCapPin2.h"
#include "common/u_ResourceLib.h"
#include "framework/Accessible.h"
#include "ui/TntGButton.h"

#include <oleacc.h>

#include <algorithm>
#include <array>

namespace {

// Child ids: the buttons in the bar's order from 1, then the picture.
constexpr long kButtonCount = 9;
constexpr long kPictureChild = kButtonCount + 1;

BSTR Text(const std::wstring& text) {
    return SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

// A text of the language file; an older file lacks it: the system's own word then.
std::wstring AccessibleText(std::string_view Key, const wchar_t* Fallback, DWORD Role) {
    std::wstring text = GetText(Key);
    if (!text.empty()) return text;
    if (Role) {
        wchar_t name[128] = {};
        if (GetRoleTextW(Role, name, 128) > 0) return name;
    }
    return Fallback;
}

}  // namespace

class TWindowAccessible final : public fw::CountedAccessible {
public:
    explicit TWindowAccessible(Tfrm_DADez* Form) : form_(Form) {
        CreateStdAccessibleObject(Form->Handle(), OBJID_CLIENT, __uuidof(IAccessible),
                                  reinterpret_cast<void**>(&standard_));
    }
    ~TWindowAccessible() override {
        if (standard_) standard_->Release();
    }

    // The window is going: clients that still hold the object get "not connected".
    void Disconnect() { form_ = nullptr; }

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* Count) override {
        if (!Count) return E_POINTER;
        *Count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                     UINT*) override {
        return E_NOTIMPL;
    }

    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** Parent) override {
        if (!form_) return CO_E_OBJNOTCONNECTED;
        return standard_ ? standard_->get_accParent(Parent) : E_FAIL;
    }
    HRESULT STDMETHODCALLTYPE get_accChildCount(long* Count) override {
        if (!Count) return E_POINTER;
        if (!form_) return CO_E_OBJNOTCONNECTED;
        *Count = kPictureChild;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT Child, IDispatch** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (!form_) return CO_E_OBJNOTCONNECTED;
        // Simple elements, reached through this object with their ids.
        return ChildOf(Child) > 0 ? S_FALSE : E_INVALIDARG;
    }
    HRESULT STDMETHODCALLTYPE get_accName(VARIANT Child, BSTR* Name) override {
        if (!Name) return E_POINTER;
        *Name = nullptr;
        if (!form_) return CO_E_OBJNOTCONNECTED;
        const long id = ChildOf(Child);
        if (id == CHILDID_SELF) return standard_ ? standard_->get_accName(Child, Name) : S_FALSE;
        if (id < 0) return E_INVALIDARG;
        if (id == kPictureChild) {
            *Name = Text(AccessibleText("T_ACC_PICTURE", L"Picture", ROLE_SYSTEM_GRAPHIC));
            return S_OK;
        }
        const std::wstring& hint = Button(id)->Hint;
        if (hint.empty()) return S_FALSE;
        *Name = Text(hint);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT Child, BSTR* Value) override {
        if (!Value) return E_POINTER;
        *Value = nullptr;
        if (!form_) return CO_E_OBJNOTCONNECTED;
        return ChildOf(Child) < 0 ? E_INVALIDARG : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT Child, BSTR* Text) override {
        return get_accValue(Child, Text);
    }
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT Child, VARIANT* Role) override {
        if (!Role) return E_POINTER;
        VariantInit(Role);
        if (!form_) return CO_E_OBJNOTCONNECTED;
        const long id = ChildOf(Child);
        if (id < 0) return E_INVALIDARG;
        Role->vt = VT_I4;
        Role->lVal = id == CHILDID_SELF    ? ROLE_SYSTEM_CLIENT
                     : id == kPictureChild ? ROLE_SYSTEM_GRAPHIC
                                           : ROLE_SYSTEM_PUSHBUTTON;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT Child, VARIANT* State) override {
        if (!State) return E_POINTER;
        VariantInit(State);
        if (!form_) return CO_E_OBJNOTCONNECTED;
        const long id = ChildOf(Child);
        if (id < 0) return E_INVALIDARG;
        if (id == CHILDID_SELF) return standard_ ? standard_->get_accState(Child, State) : E_FAIL;
        long flags = 0;
        if (id == kPictureChild) {
            if (form_->gcap->Height() <= 0 || !IsWindowVisible(form_->Handle()))
                flags |= STATE_SYSTEM_INVISIBLE;
            flags |= STATE_SYSTEM_READONLY;
        } else {
            TTntGButton* b = Button(id);
            flags |= STATE_SYSTEM_FOCUSABLE;
            if (!b->Enabled()) flags |= STATE_SYSTEM_UNAVAILABLE;
            if (!b->Visible() || !IsWindowVisible(form_->Handle())) flags |= STATE_SYSTEM_INVISIBLE;
            if (b == form_->FocusedBarButton() && GetFocus() &&
                GetAncestor(GetFocus(), GA_ROOT) == form_->Handle())
                flags |= STATE_SYSTEM_FOCUSED;
        }
        State->vt = VT_I4;
        State->lVal = flags;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT Child, BSTR* Help) override {
        return get_accValue(Child, Help);
    }
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* File, VARIANT, long* Topic) override {
        if (File) *File = nullptr;
        if (Topic) *Topic = 0;
        return form_ ? S_FALSE : CO_E_OBJNOTCONNECTED;
    }
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT Child, BSTR* Keys) override {
        return get_accValue(Child, Keys);
    }
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* Focus) override {
        if (!Focus) return E_POINTER;
        VariantInit(Focus);
        if (!form_) return CO_E_OBJNOTCONNECTED;
        HWND f = GetFocus();
        if (!f || GetAncestor(f, GA_ROOT) != form_->Handle()) return S_FALSE;
        Focus->vt = VT_I4;
        Focus->lVal = CHILDID_SELF;
        if (TTntGButton* b = form_->FocusedBarButton()) Focus->lVal = form_->BarButtonId(b);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* Selection) override {
        if (!Selection) return E_POINTER;
        VariantInit(Selection);
        return form_ ? S_FALSE : CO_E_OBJNOTCONNECTED;
    }
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT Child, BSTR* Action) override {
        if (!Action) return E_POINTER;
        *Action = nullptr;
        if (!form_) return CO_E_OBJNOTCONNECTED;
        const long id = ChildOf(Child);
        if (id < 0) return E_INVALIDARG;
        if (id == CHILDID_SELF || id == kPictureChild) return S_FALSE;
        *Action = Text(AccessibleText("T_ACC_PRESS", L"Press", 0));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accSelect(long Flags, VARIANT Child) override {
        if (!form_) return CO_E_OBJNOTCONNECTED;
        const long id = ChildOf(Child);
        if (id < 0) return E_INVALIDARG;
        if (Flags != SELFLAG_TAKEFOCUS || id == kPictureChild) return DISP_E_MEMBERNOTFOUND;
        if (id == CHILDID_SELF) return standard_ ? standard_->accSelect(Flags, Child) : E_FAIL;
        PostMessageW(form_->Handle(), Tfrm_DADez::kAccessibleActionMessage, 0, id);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accLocation(long* X, long* Y, long* W, long* H,
                                          VARIANT Child) override {
        if (!X || !Y || !W || !H) return E_POINTER;
        *X = *Y = *W = *H = 0;
        if (!form_) return CO_E_OBJNOTCONNECTED;
        const long id = ChildOf(Child);
        if (id < 0) return E_INVALIDARG;
        if (id == CHILDID_SELF)
            return standard_ ? standard_->accLocation(X, Y, W, H, Child) : E_FAIL;
        RECT r = id == kPictureChild ? form_->gcap->BoundsRect() : Button(id)->BoundsRect();
        MapWindowPoints(form_->Handle(), nullptr, reinterpret_cast<POINT*>(&r), 2);
        *X = r.left;
        *Y = r.top;
        *W = r.right - r.left;
        *H = r.bottom - r.top;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accNavigate(long Direction, VARIANT Start, VARIANT* End) override {
        if (!End) return E_POINTER;
        VariantInit(End);
        if (!form_) return CO_E_OBJNOTCONNECTED;
        const long id = ChildOf(Start);
        if (id < 0) return E_INVALIDARG;
        long to = 0;
        if (id == CHILDID_SELF) {
            if (Direction == NAVDIR_FIRSTCHILD)
                to = 1;
            else if (Direction == NAVDIR_LASTCHILD)
                to = kPictureChild;
            else
                return standard_ ? standard_->accNavigate(Direction, Start, End) : S_FALSE;
        } else if (Direction == NAVDIR_NEXT || Direction == NAVDIR_RIGHT) {
            to = id + 1;
        } else if (Direction == NAVDIR_PREVIOUS || Direction == NAVDIR_LEFT) {
            to = id - 1;
        }
        if (to < 1 || to > kPictureChild) return S_FALSE;
        End->vt = VT_I4;
        End->lVal = to;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accHitTest(long X, long Y, VARIANT* At) override {
        if (!At) return E_POINTER;
        VariantInit(At);
        if (!form_) return CO_E_OBJNOTCONNECTED;
        POINT p{X, Y};
        ScreenToClient(form_->Handle(), &p);
        RECT client{};
        GetClientRect(form_->Handle(), &client);
        if (!PtInRect(&client, p)) return S_FALSE;
        At->vt = VT_I4;
        At->lVal = CHILDID_SELF;
        for (long id = 1; id <= kButtonCount; ++id) {
            TTntGButton* b = Button(id);
            const RECT r = b->BoundsRect();
            if (b->Visible() && PtInRect(&r, p)) At->lVal = id;
        }
        const RECT picture = form_->gcap->BoundsRect();
        if (At->lVal == CHILDID_SELF && PtInRect(&picture, p)) At->lVal = kPictureChild;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT Child) override {
        if (!form_) return CO_E_OBJNOTCONNECTED;
        const long id = ChildOf(Child);
        if (id < 0) return E_INVALIDARG;
        if (id == CHILDID_SELF || id == kPictureChild) return DISP_E_MEMBERNOTFOUND;
        TTntGButton* b = Button(id);
        if (!b->Visible() || !b->Enabled()) return DISP_E_MEMBERNOTFOUND;
        // Pressed once this call has returned: a press may open a box, whose loop must not
        // run inside another program's call.
        PostMessageW(form_->Handle(), Tfrm_DADez::kAccessibleActionMessage, 1, id);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT, BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT, BSTR) override { return E_NOTIMPL; }

private:
    TTntGButton* Button(long id) const {
        return form_->BarButtonsInOrder()[static_cast<size_t>(id - 1)];
    }

    // The child a VARIANT names: CHILDID_SELF, 1..kPictureChild, or -1 for none of them.
    static long ChildOf(const VARIANT& V) {
        if (V.vt != VT_I4) return -1;
        return V.lVal >= CHILDID_SELF && V.lVal <= kPictureChild ? V.lVal : -1;
    }

    Tfrm_DADez* form_;
    IAccessible* standard_ = nullptr;
};

std::array<TTntGButton*, 9> Tfrm_DADez::BarButtonsInOrder() const {
    return {gbOpenFolder, gbPreview, gbForward,   gbLens, gbBackward,
            gbSnap,       gbRecord,  gbRecordOff, gbHelp};
}

LRESULT Tfrm_DADez::AnswerGetObject(WPARAM wParam, LPARAM lParam) {
    if (static_cast<LONG>(static_cast<DWORD>(lParam)) != OBJID_CLIENT) return 0;
    if (!accessible_) accessible_ = new TWindowAccessible(this);
    return LresultFromObject(__uuidof(IAccessible), wParam, accessible_);
}

void Tfrm_DADez::ReleaseAccessible() {
    if (!accessible_) return;
    accessible_->Disconnect();
    accessible_->Release();
    accessible_ = nullptr;
}

void Tfrm_DADez::AccessibleAction(WPARAM Press, LPARAM Id) {
    if (Id < 1 || Id > kButtonCount) return;
    TTntGButton* b = BarButtonsInOrder()[static_cast<size_t>(Id - 1)];
    if (!b->Visible() || !b->Enabled()) return;
    if (Press)
        b->Click();
    else
        FocusButton(b);
}

void Tfrm_DADez::AnnounceBarStates() {
    const auto all = BarButtonsInOrder();
    for (size_t i = 0; i < all.size(); ++i) {
        const uint8_t state = (all[i]->Visible() ? 1 : 0) | (all[i]->Enabled() ? 2 : 0);
        if (state == announcedStates_[i]) continue;
        const bool first = announcedStates_[i] == 0xFF;
        announcedStates_[i] = state;
        if (!first && HandleAllocated())
            NotifyWinEvent(EVENT_OBJECT_STATECHANGE, Handle(), OBJID_CLIENT,
                           static_cast<LONG>(i) + 1);
    }
}

int Tfrm_DADez::BarButtonId(const TTntGButton* Button) const {
    const auto all = BarButtonsInOrder();
    const auto at = std::find(all.begin(), all.end(), Button);
    return at == all.end() ? CHILDID_SELF : static_cast<int>(at - all.begin()) + 1;
}

void Tfrm_DADez::AnnounceFocus() {
    if (HandleAllocated())
        NotifyWinEvent(EVENT_OBJECT_FOCUS, Handle(), OBJID_CLIENT, BarButtonId(focusedButton_));
}
