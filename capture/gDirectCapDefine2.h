// Helpers of the capture control: pin lookup on a filter's pin enumerator, media types
// returned by the platform, the class ids the SDK headers lack.
#pragma once

#include "framework/WinHandles.h"

#include <windows.h>
#include <dshow.h>
#include <qedit.h>
#include <wrl/client.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// qedit.h declares the grabber's interfaces but not these class ids; strmiids has them.
extern "C" const CLSID CLSID_SampleGrabber;
extern "C" const CLSID CLSID_NullRenderer;

// Pin routines over one filter's IEnumPins.
// The first pin (from the start) whose direction is Direction, or none.
Microsoft::WRL::ComPtr<IPin> FindPinByDirection(IEnumPins* Pins, PIN_DIRECTION Direction);
// The next pin with Pin's direction after the pin named like Pin, or none.
Microsoft::WRL::ComPtr<IPin> NextPinAfter(IEnumPins* Pins, IPin* Pin);
// The pin's name (at most 128 characters), empty when it cannot be read.
std::wstring PinName(IPin* Pin);

// A pin's PIN_INFO, holding the filter reference that QueryPinInfo hands out.
struct TPinInfoHolder {
    PIN_INFO info{};
    TPinInfoHolder() = default;
    ~TPinInfoHolder() {
        if (info.pFilter) info.pFilter->Release();
    }
    TPinInfoHolder(const TPinInfoHolder&) = delete;
    TPinInfoHolder& operator=(const TPinInfoHolder&) = delete;
};

// Shorthands on a filter: its pin enumerator, its first pin of a direction.
Microsoft::WRL::ComPtr<IEnumPins> PinsOf(IBaseFilter* Filter);
Microsoft::WRL::ComPtr<IPin> FirstPin(IBaseFilter* Filter, PIN_DIRECTION Direction);

// Frees a media type's format block and its interface reference (the type itself stays).
void FreeMediaType(AM_MEDIA_TYPE& Type);

// Owns an AM_MEDIA_TYPE allocated by the platform (GetFormat, GetStreamCaps).
class TMediaTypePtr {
public:
    TMediaTypePtr() = default;
    ~TMediaTypePtr() { reset(); }
    TMediaTypePtr(const TMediaTypePtr&) = delete;
    TMediaTypePtr& operator=(const TMediaTypePtr&) = delete;

    AM_MEDIA_TYPE* get() const { return mt_; }
    AM_MEDIA_TYPE* operator->() const { return mt_; }
    explicit operator bool() const { return mt_ != nullptr; }
    AM_MEDIA_TYPE** put() {
        reset();
        return &mt_;
    }
    void reset();

    // The format block as a VIDEOINFOHEADER when the type carries one, else null.
    const VIDEOINFOHEADER* VideoInfo() const;

private:
    AM_MEDIA_TYPE* mt_ = nullptr;
};

// The x87 floating-point control word of the calling thread.
inline uint16_t ReadFpuControlWord() {
    uint16_t cw = 0;
    __asm__ __volatile__("fnstcw %0" : "=m"(cw));
    return cw;
}

inline void WriteFpuControlWord(uint16_t Cw) { __asm__ __volatile__("fldcw %0" : : "m"(Cw)); }
