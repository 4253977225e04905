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
std::wstring AccessibleText(std::string_view key, const wchar_t* fallback, DWORD role) {
    std::wstring text = GetText(key);
    if (!text.empty()) return text;
    if (role) {
        wchar_t name[128] = {};
        if (GetRoleTextW(role, name, 128) > 0) return name;
    }
    return fallback;
}

}  // namespace

class TWindowAccessible final : public fw::CountedAccessible {
public:
    explicit TWindowAccessible(Tfrm_DADez* form) : form_(form) {
        CreateStdAccessibleObject(form->Handle(), OBJID_CLIENT, __uuidof(IAccessible),
                                  reinterpret_cast<void**>(&standard_));
    }
    ~TWindowAccessible() override {
        if (standard_) standard_->Release();
    }

    // The window is going: clients that still hold the object get "not connected".
    void Disconnect() { form_ = nullptr; }

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 0;
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

    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override {
        if (!form_) return CO_E_OBJNOTCONNECTED;
        return standard_ ? standard_->get_accParent(parent) : E_FAIL;
    }
    HRESULT STDMETHODCALLTYPE get_accChildCount(long* count) override {
        if (!count) return E_POINTER;
        if (!form_) return CO_E_OBJNOTCONNECTED;
        *count = kPictureChild;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (!form_) return CO_E_OBJNOTCONNECTED;
        // Simple elements, reached through this object with their ids.
        return ChildOf(child) > 0 ? S_FALSE : E_INVALIDARG;
    }
    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override {
        if (!name) return E_POINTER;
        *name = nullptr;
        if (!form_) return CO_E_OBJNOTCONNECTED;
        const long id = ChildOf(child);
        if (id == CHILDID_SELF) return standard_ ? standard_->get_accName(child, name) : S_FALSE;
        if (id < 0) return E_INVALIDARG;
        if (id == kPictureChild) {
            *name = Text(AccessibleText("T_ACC_PICTURE", L"Picture", ROLE_SYSTEM_GRAPHIC));
            return S_OK;
        }
        const std::wstring& hint = Button(id)->Hint;
        if (hint.empty()) return S_FALSE;
        *name = Text(hint);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override {
        if (!value) return E_POINTER;
        *value = nullptr;
        if (!form_) return CO_E_OBJNOTCONNECTED;
        return ChildOf(child) < 0 ? E_INVALIDARG : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* text) override {
        return get_accValue(child, text);
    }
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override {
        if (!role) return E_POINTER;
        VariantInit(role);
        if (!form_) return CO_E_OBJNOTCONNECTED;
        const long id = ChildOf(child);
        if (id < 0) return E_INVALIDARG;
        role->vt = VT_I4;
        role->lVal = id == CHILDID_SELF    ? ROLE_SYSTEM_CLIENT
                     : id == kPictureChild ? ROLE_SYSTEM_GRAPHIC
                                           : ROLE_SYSTEM_PUSHBUTTON;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override {
        if (!state) return E_POINTER;
        VariantInit(state);
        if (!form_) return CO_E_OBJNOTCONNECTED;
        const long id = ChildOf(child);
        if (id < 0) return E_INVALIDARG;
        if (id == CHILDID_SELF) return standard_ ? standard_->get_accState(child, state) : E_FAIL;
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
        state->vt = VT_I4;
        state->lVal = flags;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* help) override {
        return get_accValue(child, help);
    }
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT, long* topic) override {
        if (file) *file = nullptr;
        if (topic) *topic = 0;
        return form_ ? S_FALSE : CO_E_OBJNOTCONNECTED;
    }
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* keys) override {
        return get_accValue(child, keys);
    }
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* focus) override {
        if (!focus) return E_POINTER;
        VariantInit(focus);
        if (!form_) return CO_E_OBJNOTCONNECTED;
        HWND f = GetFocus();
        if (!f || GetAncestor(f, GA_ROOT) != form_->Handle()) return S_FALSE;
        focus->vt = VT_I4;
        focus->lVal = CHILDID_SELF;
        if (TTntGButton* b = form_->FocusedBarButton()) focus->lVal = form_->BarButtonId(b);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* selection) override {
        if (!selection) return E_POINTER;
        VariantInit(selection);
        return form_ ? S_FALSE : CO_E_OBJNOTCONNECTED;
    }
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override {
        if (!action) return E_POINTER;
        *action = nullptr;
        if (!form_) return CO_E_OBJNOTCONNECTED;
        const long id = ChildOf(child);
        if (id < 0) return E_INVALIDARG;
        if (id == CHILDID_SELF || id == kPictureChild) return S_FALSE;
        *action = Text(AccessibleText("T_ACC_PRESS", L"Press", 0));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accSelect(long flags, VARIANT child) override {
        if (!form_) return CO_E_OBJNOTCONNECTED;
        const long id = ChildOf(child);
        if (id < 0) return E_INVALIDARG;
        if (flags != SELFLAG_TAKEFOCUS || id == kPictureChild) return DISP_E_MEMBERNOTFOUND;
        if (id == CHILDID_SELF) return standard_ ? standard_->accSelect(flags, child) : E_FAIL;
        PostMessageW(form_->Handle(), Tfrm_DADez::kAccessibleActionMessage, 0, id);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accLocation(long* x, long* y, long* w, long* h,
                                          VARIANT child) override {
        if (!x || !y || !w || !h) return E_POINTER;
        *x = *y = *w = *h = 0;
        if (!form_) return CO_E_OBJNOTCONNECTED;
        const long id = ChildOf(child);
        if (id < 0) return E_INVALIDARG;
        if (id == CHILDID_SELF)
            return standard_ ? standard_->accLocation(x, y, w, h, child) : E_FAIL;
        RECT r = id == kPictureChild ? form_->gcap->BoundsRect() : Button(id)->BoundsRect();
        MapWindowPoints(form_->Handle(), nullptr, reinterpret_cast<POINT*>(&r), 2);
        *x = r.left;
        *y = r.top;
        *w = r.right - r.left;
        *h = r.bottom - r.top;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accNavigate(long direction, VARIANT start, VARIANT* end) override {
        if (!end) return E_POINTER;
        VariantInit(end);
        if (!form_) return CO_E_OBJNOTCONNECTED;
        const long id = ChildOf(start);
        if (id < 0) return E_INVALIDARG;
        long to = 0;
        if (id == CHILDID_SELF) {
            if (direction == NAVDIR_FIRSTCHILD)
                to = 1;
            else if (direction == NAVDIR_LASTCHILD)
                to = kPictureChild;
            else
                return standard_ ? standard_->accNavigate(direction, start, end) : S_FALSE;
        } else if (direction == NAVDIR_NEXT || direction == NAVDIR_RIGHT) {
            to = id + 1;
        } else if (direction == NAVDIR_PREVIOUS || direction == NAVDIR_LEFT) {
            to = id - 1;
        }
        if (to < 1 || to > kPictureChild) return S_FALSE;
        end->vt = VT_I4;
        end->lVal = to;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accHitTest(long x, long y, VARIANT* at) override {
        if (!at) return E_POINTER;
        VariantInit(at);
        if (!form_) return CO_E_OBJNOTCONNECTED;
        POINT p{x, y};
        ScreenToClient(form_->Handle(), &p);
        RECT client{};
        GetClientRect(form_->Handle(), &client);
        if (!PtInRect(&client, p)) return S_FALSE;
        at->vt = VT_I4;
        at->lVal = CHILDID_SELF;
        for (long id = 1; id <= kButtonCount; ++id) {
            TTntGButton* b = Button(id);
            const RECT r = b->BoundsRect();
            if (b->Visible() && PtInRect(&r, p)) at->lVal = id;
        }
        const RECT picture = form_->gcap->BoundsRect();
        if (at->lVal == CHILDID_SELF && PtInRect(&picture, p)) at->lVal = kPictureChild;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override {
        if (!form_) return CO_E_OBJNOTCONNECTED;
        const long id = ChildOf(child);
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
    static long ChildOf(const VARIANT& v) {
        if (v.vt != VT_I4) return -1;
        return v.lVal >= CHILDID_SELF && v.lVal <= kPictureChild ? v.lVal : -1;
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

void Tfrm_DADez::AccessibleAction(WPARAM press, LPARAM id) {
    if (id < 1 || id > kButtonCount) return;
    TTntGButton* b = BarButtonsInOrder()[static_cast<size_t>(id - 1)];
    if (!b->Visible() || !b->Enabled()) return;
    if (press)
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

int Tfrm_DADez::BarButtonId(const TTntGButton* button) const {
    const auto all = BarButtonsInOrder();
    const auto at = std::find(all.begin(), all.end(), button);
    return at == all.end() ? CHILDID_SELF : static_cast<int>(at - all.begin()) + 1;
}

void Tfrm_DADez::AnnounceFocus() {
    if (HandleAllocated())
        NotifyWinEvent(EVENT_OBJECT_FOCUS, Handle(), OBJID_CLIENT, BarButtonId(focusedButton_));
}
