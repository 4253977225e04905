#include "capture/gDirectCapDefine2.h"

#include <cstring>

using Microsoft::WRL::ComPtr;

namespace {

constexpr size_t kPinNameLimit = 128;

}  // namespace

ComPtr<IPin> FindPinByDirection(IEnumPins* Pins, PIN_DIRECTION Direction) {
    if (!Pins) return nullptr;
    Pins->Reset();
    ComPtr<IPin> pin;
    while (Pins->Next(1, pin.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
        PIN_DIRECTION dir;
        if (pin && SUCCEEDED(pin->QueryDirection(&dir)) && dir == Direction) return pin;
    }
    return nullptr;
}

std::wstring PinName(IPin* Pin) {
    if (!Pin) return {};
    TPinInfoHolder h;
    if (FAILED(Pin->QueryPinInfo(&h.info))) return {};
    return std::wstring(h.info.achName, wcsnlen(h.info.achName, kPinNameLimit));
}

ComPtr<IPin> NextPinAfter(IEnumPins* Pins, IPin* Pin) {
    if (!Pins || !Pin) return nullptr;
    TPinInfoHolder h;
    if (FAILED(Pin->QueryPinInfo(&h.info))) return nullptr;
    const std::wstring name(h.info.achName, wcsnlen(h.info.achName, kPinNameLimit));
    Pins->Reset();
    ComPtr<IPin> pin;
    bool passed = false;
    while (Pins->Next(1, pin.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
        if (!pin) continue;
        if (!passed) {
            passed = PinName(pin.Get()) == name;
            continue;
        }
        PIN_DIRECTION dir;
        if (SUCCEEDED(pin->QueryDirection(&dir)) && dir == h.info.dir) return pin;
    }
    return nullptr;
}

ComPtr<IEnumPins> PinsOf(IBaseFilter* Filter) {
    ComPtr<IEnumPins> pins;
    if (Filter) Filter->EnumPins(&pins);
    return pins;
}

ComPtr<IPin> FirstPin(IBaseFilter* Filter, PIN_DIRECTION Direction) {
    ComPtr<IEnumPins> pins = PinsOf(Filter);
    return FindPinByDirection(pins.Get(), Direction);
}

void FreeMediaType(AM_MEDIA_TYPE& Type) {
    if (Type.cbFormat && Type.pbFormat) ::CoTaskMemFree(Type.pbFormat);
    Type.cbFormat = 0;
    Type.pbFormat = nullptr;
    if (Type.pUnk) {
        Type.pUnk->Release();
        Type.pUnk = nullptr;
    }
}

void TMediaTypePtr::reset() {
    if (!mt_) return;
    FreeMediaType(*mt_);
    ::CoTaskMemFree(mt_);
    mt_ = nullptr;
}

const VIDEOINFOHEADER* TMediaTypePtr::VideoInfo() const {
    if (!mt_ || mt_->formattype != FORMAT_VideoInfo || !mt_->pbFormat ||
        mt_->cbFormat < sizeof(VIDEOINFOHEADER))
        return nullptr;
    return reinterpret_cast<const VIDEOINFOHEADER*>(mt_->pbFormat);
}
