// The IUnknown part shared by the DLL's small COM objects.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <cstring>
#include <cwchar>
#include <new>
#include <utility>

#include "standins/vcam/ComModule.h"

namespace vcam {

// A copy of `text` that the caller frees with CoTaskMemFree, as COM hands strings out.
inline HRESULT GiveCoTaskString(const wchar_t* text, LPWSTR* out) {
    if (!out) {
        return E_POINTER;
    }
    const size_t bytes = (std::wcslen(text) + 1) * sizeof(wchar_t);
    *out = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    if (!*out) {
        return E_OUTOFMEMORY;
    }
    std::memcpy(*out, text, bytes);
    return S_OK;
}

// Answers QueryInterface with `object` when `iid` is IUnknown or one of `ids`.
template <class Interface, class... Ids>
HRESULT QueryInterfaceFor(Interface* object, REFIID iid, void** out, const Ids&... ids) {
    if (!out) {
        return E_POINTER;
    }
    if (iid == IID_IUnknown || ((iid == ids) || ...)) {
        *out = object;
        object->AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

// A heap object that implements one interface: it starts with one reference, deletes
// itself on the last Release, and keeps the module loaded while it lives.
template <class Interface>
class ComObject : public Interface {
public:
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        return QueryInterfaceFor(static_cast<Interface*>(this), iid, out, __uuidof(Interface));
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&ref_); }
    STDMETHODIMP_(ULONG) Release() override {
        const LONG ref = InterlockedDecrement(&ref_);
        if (ref == 0) {
            delete this;
        }
        return ref;
    }

protected:
    ComObject() = default;
    virtual ~ComObject() = default;

private:
    // A base member: released after every member of the derived object is gone.
    ModuleObject module_;
    LONG ref_ = 1;
};

// Makes an Object (which starts with one reference) and hands it out as `iid`; the object
// goes again when it does not answer `iid`.
template <class Object, class... Args>
HRESULT CreateObject(REFIID iid, void** out, Args&&... args) {
    Object* object = nullptr;
    try {
        object = new Object(std::forward<Args>(args)...);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    const HRESULT hr = object->QueryInterface(iid, out);
    object->Release();
    return hr;
}

}  // namespace vcam
