// The camera's private interface for its own property page: the live sensor number and
// the capture pin's current format, read whenever the page shows them.
#pragma once

#include <unknwn.h>

struct VCamStatus {
    LONG sensor;
    LONG width;
    LONG height;
    GUID subtype;
};

MIDL_INTERFACE("5E49F0CF-9102-436B-ACB9-90C4CD87BE72")
IVCamStatus : public IUnknown {
public:
    virtual HRESULT STDMETHODCALLTYPE GetStatus(VCamStatus * status) = 0;
};

__CRT_UUID_DECL(IVCamStatus, 0x5e49f0cf, 0x9102, 0x436b, 0xac, 0xb9, 0x90, 0xc4, 0xcd, 0x87, 0xbe,
                0x72)
