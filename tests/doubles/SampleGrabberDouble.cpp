// The Sample Grabber: Wine's own (qedit.dll, through its class object), handed out as it is
// unless a test's switch, REG_DWORD 1 "RefuseMediaType" under
// HKCU\Software\Orvix\TestDoubles\SampleGrabber (read when a grabber is made), asks for one
// whose SetMediaType fails with E_OUTOFMEMORY and keeps no type, so that it takes any
// connection. Windows documents only S_OK for that call; the switch stands for the copy of
// the type that could not be made, which the program must still report. Such a grabber
// is Wine's, aggregated: every interface but ISampleGrabber is Wine's own.
#include <dshow.h>
#include <qedit.h>
#include <wrl/client.h>

#include <atomic>
#include <new>

#include "tests/doubles/Doubles.h"

using Microsoft::WRL::ComPtr;

// qedit.h declares the grabber's interfaces but not its class id; strmiids has it.
extern "C" const CLSID CLSID_SampleGrabber;

namespace doubles {

namespace {

bool RefusesMediaType() {
    DWORD value = 0, size = sizeof(value);
    return ::RegGetValueW(HKEY_CURRENT_USER, L"Software\\Orvix\\TestDoubles\\SampleGrabber",
                          L"RefuseMediaType", RRF_RT_REG_DWORD, nullptr, &value,
                          &size) == ERROR_SUCCESS &&
           value == 1;
}

class RefusingGrabber final : public ISampleGrabber {
public:
    HRESULT Join(IClassFactory* wine) {
        HRESULT hr = wine->CreateInstance(static_cast<ISampleGrabber*>(this), IID_IUnknown,
                                          reinterpret_cast<void**>(inner_.GetAddressOf()));
        if (FAILED(hr)) return hr;
        hr = inner_->QueryInterface(IID_ISampleGrabber, reinterpret_cast<void**>(&grabber_));
        // The inner object's interface holds this object: that reference is not kept, or
        // the two would never go.
        if (SUCCEEDED(hr)) Release();
        return hr;
    }

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid == IID_IUnknown || iid == IID_ISampleGrabber) {
            *out = static_cast<ISampleGrabber*>(this);
            AddRef();
            return S_OK;
        }
        return inner_ ? inner_->QueryInterface(iid, out) : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override {
        const ULONG left = --refs_;
        if (left == 0) {
            refs_ = 1;  // the inner object's last calls may come back here
            inner_.Reset();
            delete this;
        }
        return left;
    }

    STDMETHODIMP SetOneShot(BOOL oneShot) override { return grabber_->SetOneShot(oneShot); }
    STDMETHODIMP SetMediaType(const AM_MEDIA_TYPE*) override { return E_OUTOFMEMORY; }
    STDMETHODIMP GetConnectedMediaType(AM_MEDIA_TYPE* type) override {
        return grabber_->GetConnectedMediaType(type);
    }
    STDMETHODIMP SetBufferSamples(BOOL buffer) override {
        return grabber_->SetBufferSamples(buffer);
    }
    STDMETHODIMP GetCurrentBuffer(LONG* size, LONG* buffer) override {
        return grabber_->GetCurrentBuffer(size, buffer);
    }
    STDMETHODIMP GetCurrentSample(IMediaSample** sample) override {
        return grabber_->GetCurrentSample(sample);
    }
    STDMETHODIMP SetCallback(ISampleGrabberCB* callback, LONG kind) override {
        return grabber_->SetCallback(callback, kind);
    }

private:
    ~RefusingGrabber() = default;
    std::atomic<ULONG> refs_{1};
    ComPtr<IUnknown> inner_;
    ISampleGrabber* grabber_ = nullptr;  // inner_'s, without a reference of its own
};

}  // namespace

HRESULT CreateSampleGrabber(REFIID iid, void** out) {
    ComPtr<IClassFactory> factory;
    const HRESULT hr = PlatformClassObject(L"qedit.dll", CLSID_SampleGrabber, &factory);
    if (FAILED(hr)) return hr;
    if (!RefusesMediaType()) return factory->CreateInstance(nullptr, iid, out);
    auto* grabber = new (std::nothrow) RefusingGrabber();
    if (!grabber) return E_OUTOFMEMORY;
    HRESULT joined = grabber->Join(factory.Get());
    if (SUCCEEDED(joined)) joined = grabber->QueryInterface(iid, out);
    grabber->Release();
    return joined;
}

}  // namespace doubles
