// The WM ASF Writer's configuration interface and the system profile recordings use;
// the SDK headers here declare neither.
#pragma once

#include <windows.h>
#include <unknwn.h>

// The WM ASF Writer's configuration interface; the SDK headers do not declare it.
MIDL_INTERFACE("45086030-F7E4-486a-B504-826BB5792A3B")
IConfigAsfWriter : public IUnknown {
public:
    virtual HRESULT STDMETHODCALLTYPE ConfigureFilterUsingProfileId(DWORD ProfileId) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCurrentProfileId(DWORD * ProfileId) = 0;
    virtual HRESULT STDMETHODCALLTYPE ConfigureFilterUsingProfileGuid(REFGUID Profile) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCurrentProfileGuid(GUID * Profile) = 0;
    // The profile is an IWMProfile, which the headers here lack as well.
    virtual HRESULT STDMETHODCALLTYPE ConfigureFilterUsingProfile(IUnknown * Profile) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCurrentProfile(IUnknown * *Profile) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetIndexMode(BOOL IndexFile) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetIndexMode(BOOL * IndexFile) = 0;
};
#ifdef __CRT_UUID_DECL
__CRT_UUID_DECL(IConfigAsfWriter, 0x45086030, 0xf7e4, 0x486a, 0xb5, 0x04, 0x82, 0x6b, 0xb5, 0x79,
                0x2a, 0x3b)
#endif

// The Windows Media system profile recordings use (WMProfile_V80_HIGHVBRVideo).
inline constexpr GUID WMProfile_V80_HIGHVBRVideo = {
    0x0f10d9d3, 0x3b04, 0x4fb0, {0xa3, 0xd3, 0x88, 0xd4, 0xac, 0x85, 0x4a, 0xcc}};
