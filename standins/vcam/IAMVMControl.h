// The private driver interface of the two-sensor camera. Only the position of the sensor
// switch matters to callers: it is the nineteenth method after IUnknown's three and takes
// the sensor number. The eighteen before it are picture controls this camera does not
// implement (they return E_NOTIMPL).
#pragma once

#include <unknwn.h>

MIDL_INTERFACE("69B8323A-5AC2-11D8-ADAF-00065B37CF9A")
IAMVMControl : public IUnknown {
public:
    virtual HRESULT STDMETHODCALLTYPE SetBrightness(LONG value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetBrightness(LONG * value) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetContrast(LONG value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetContrast(LONG * value) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetSaturation(LONG value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSaturation(LONG * value) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetSharpness(LONG value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSharpness(LONG * value) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetGamma(LONG value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetGamma(LONG * value) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetMirror(LONG horizontal, LONG vertical) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMirror(LONG * horizontal, LONG * vertical) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetPowerLineFrequency(LONG hertz) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetPowerLineFrequency(LONG * hertz) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetLed(LONG on) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetLed(LONG * on) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetRegister(LONG address, LONG value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetRegister(LONG address, LONG * value) = 0;
    virtual HRESULT STDMETHODCALLTYPE SelectSensor(LONG sensor) = 0;
};

__CRT_UUID_DECL(IAMVMControl, 0x69b8323a, 0x5ac2, 0x11d8, 0xad, 0xaf, 0x00, 0x06, 0x5b, 0x37, 0xcf,
                0x9a)
