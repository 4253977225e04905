// Names for accessibility tools where the platform finds none: the framework's labels are
// windowless, so the label-before-the-control rule of the system's accessible objects
// finds no label window, and a control is given its label's text instead.
#pragma once

#include <windows.h>
#include <oleacc.h>

#include <string>

namespace fw {

// The counted IUnknown part of an accessible object made here (IUnknown, IDispatch and
// IAccessible all name the one object).
class CountedAccessible : public IAccessible {
public:
    CountedAccessible() = default;
    virtual ~CountedAccessible() = default;
    CountedAccessible(const CountedAccessible&) = delete;
    CountedAccessible& operator=(const CountedAccessible&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

private:
    LONG refs_ = 1;
};

// The answer to WM_GETOBJECT for a window's client area: the system's own accessible
// object for it, with Name as its name. 0 for every other object id.
LRESULT NamedClientObject(HWND Window, WPARAM wParam, LPARAM lParam, const std::wstring& Name);

// A label's caption as a name: its accelerator marks ("&") gone, "&&" kept as "&".
std::wstring NameFromCaption(const std::wstring& Caption);

}  // namespace fw
