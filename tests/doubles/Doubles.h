// The filter doubles this DLL serves.
#pragma once

#include <windows.h>

#include <new>

namespace doubles {

HRESULT CreateAsfWriter(REFIID iid, void** out);
HRESULT CreateFileWriter(REFIID iid, void** out);
HRESULT CreateAviMux(REFIID iid, void** out);
HRESULT CreateMjpegDec(REFIID iid, void** out);
HRESULT CreateColour(REFIID iid, void** out);
HRESULT CreateCaptureGraphBuilder(REFIID iid, void** out);
HRESULT CreateFilterGraph(REFIID iid, void** out);
HRESULT CreateSampleGrabber(REFIID iid, void** out);

// The class object of the platform's own class (Wine's), from its DLL: the class's
// registration is ours in a test prefix.
HRESULT PlatformClassObject(const wchar_t* dll, REFCLSID clsid, IClassFactory** factory);

// Makes a T (starting with one reference) and hands out the asked-for interface.
template <typename T>
HRESULT CreateAndQuery(REFIID iid, void** out) {
    auto* object = new (std::nothrow) T();
    if (!object) return E_OUTOFMEMORY;
    const HRESULT hr = object->QueryInterface(iid, out);
    object->Release();
    return hr;
}

}  // namespace doubles
