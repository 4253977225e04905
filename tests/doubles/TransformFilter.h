// A filter with one input and one output pin that turns each input sample into one output
// sample on the thread that delivers it: the common part of the decoder and converter
// doubles. It keeps the rules of the platform's transform filters: the output connects only
// after the input, and only with a type the filter can make from the input's; connections
// change only while stopped; samples are taken only while paused or running.
#pragma once

#include <windows.h>
#include <dshow.h>
#include <wrl/client.h>

#include <mutex>
#include <vector>

#include "framework/SlimLock.h"
#include "standins/vcam/ComModule.h"
#include "standins/vcam/MediaTypes.h"

namespace doubles {

using Microsoft::WRL::ComPtr;
using vcam::MediaType;

class TransformFilter;

// The pins' reference counts are their filter's.
class TransformInputPin final : public IPin, public IMemInputPin {
public:
    explicit TransformInputPin(TransformFilter& filter) : filter_(filter) {}

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    STDMETHODIMP Connect(IPin*, const AM_MEDIA_TYPE*) override { return E_UNEXPECTED; }
    STDMETHODIMP ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt) override;
    STDMETHODIMP Disconnect() override;
    STDMETHODIMP ConnectedTo(IPin** pin) override;
    STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE* mt) override;
    STDMETHODIMP QueryPinInfo(PIN_INFO* info) override;
    STDMETHODIMP QueryDirection(PIN_DIRECTION* dir) override;
    STDMETHODIMP QueryId(LPWSTR* id) override;
    STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* mt) override;
    STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** types) override;
    STDMETHODIMP QueryInternalConnections(IPin**, ULONG*) override { return E_NOTIMPL; }
    STDMETHODIMP EndOfStream() override;
    STDMETHODIMP BeginFlush() override;
    STDMETHODIMP EndFlush() override;
    STDMETHODIMP NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

    STDMETHODIMP GetAllocator(IMemAllocator** allocator) override;
    STDMETHODIMP NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) override;
    STDMETHODIMP GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) override { return E_NOTIMPL; }
    STDMETHODIMP Receive(IMediaSample* sample) override;
    STDMETHODIMP ReceiveMultiple(IMediaSample** samples, long count, long* done) override;
    STDMETHODIMP ReceiveCanBlock() override { return S_OK; }

private:
    friend class TransformFilter;
    friend class TransformOutputPin;
    TransformFilter& filter_;
    // Guarded by the filter's lock.
    ComPtr<IPin> peer_;
    ComPtr<IMemAllocator> allocator_;
    MediaType mt_;
    bool flushing_ = false;
};

class TransformOutputPin final : public IPin {
public:
    explicit TransformOutputPin(TransformFilter& filter) : filter_(filter) {}

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    STDMETHODIMP Connect(IPin* receivePin, const AM_MEDIA_TYPE* mt) override;
    STDMETHODIMP ReceiveConnection(IPin*, const AM_MEDIA_TYPE*) override { return E_UNEXPECTED; }
    STDMETHODIMP Disconnect() override;
    STDMETHODIMP ConnectedTo(IPin** pin) override;
    STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE* mt) override;
    STDMETHODIMP QueryPinInfo(PIN_INFO* info) override;
    STDMETHODIMP QueryDirection(PIN_DIRECTION* dir) override;
    STDMETHODIMP QueryId(LPWSTR* id) override;
    STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* mt) override;
    STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** types) override;
    STDMETHODIMP QueryInternalConnections(IPin**, ULONG*) override { return E_NOTIMPL; }
    STDMETHODIMP EndOfStream() override { return E_UNEXPECTED; }
    STDMETHODIMP BeginFlush() override { return E_UNEXPECTED; }
    STDMETHODIMP EndFlush() override { return E_UNEXPECTED; }
    STDMETHODIMP NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }

private:
    friend class TransformFilter;
    friend class TransformInputPin;
    HRESULT TryConnection(IPin* receivePin, const MediaType& mt);
    TransformFilter& filter_;
    // Guarded by the filter's lock.
    ComPtr<IPin> peer_;
    ComPtr<IMemInputPin> input_;
    ComPtr<IMemAllocator> allocator_;
    MediaType mt_;
};

class TransformFilter : public IBaseFilter {
public:
    TransformFilter(const TransformFilter&) = delete;
    TransformFilter& operator=(const TransformFilter&) = delete;

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    STDMETHODIMP GetClassID(CLSID* clsid) override;
    STDMETHODIMP Stop() override;
    STDMETHODIMP Pause() override;
    STDMETHODIMP Run(REFERENCE_TIME start) override;
    STDMETHODIMP GetState(DWORD, FILTER_STATE* state) override;
    STDMETHODIMP SetSyncSource(IReferenceClock* clock) override;
    STDMETHODIMP GetSyncSource(IReferenceClock** clock) override;
    STDMETHODIMP EnumPins(IEnumPins** pins) override;
    STDMETHODIMP FindPin(LPCWSTR id, IPin** pin) override;
    STDMETHODIMP QueryFilterInfo(FILTER_INFO* info) override;
    STDMETHODIMP JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
    STDMETHODIMP QueryVendorInfo(LPWSTR*) override { return E_NOTIMPL; }

protected:
    explicit TransformFilter(const CLSID& clsid);
    virtual ~TransformFilter();

    // S_OK when the input pin takes this type, else the refusal.
    virtual HRESULT CheckInputType(const AM_MEDIA_TYPE& mt) const = 0;
    // What the output offers for this input, best first.
    virtual std::vector<MediaType> OutputTypes(const AM_MEDIA_TYPE& in) const = 0;
    // S_OK when the filter makes `out` from `in`.
    virtual HRESULT CheckTransform(const AM_MEDIA_TYPE& in, const AM_MEDIA_TYPE& out) const = 0;
    // Fills `dst` from `src`; S_FALSE drops the sample (nothing is delivered).
    virtual HRESULT Transform(const AM_MEDIA_TYPE& in, IMediaSample* src,
                              const AM_MEDIA_TYPE& out, IMediaSample* dst) = 0;

private:
    friend class TransformInputPin;
    friend class TransformOutputPin;
    HRESULT Deliver(IMediaSample* sample);

    vcam::ModuleObject module_;
    LONG ref_ = 1;
    const CLSID clsid_;
    // Connections and state; the receive lock keeps a stop from ending a sample half done.
    fw::SlimRecursiveMutex lock_;
    fw::SlimMutex receive_;
    FILTER_STATE state_ = State_Stopped;
    IFilterGraph* graph_ = nullptr;  // not held: the graph holds us
    std::wstring name_;
    ComPtr<IReferenceClock> clock_;
    TransformInputPin input_;
    TransformOutputPin output_;
};

// A VIDEOINFOHEADER type for uncompressed RGB of this subtype (RGB24, RGB32, RGB555,
// RGB565), width and height (negative: top-down), rows padded to whole DWORDs.
MediaType RgbVideoType(const GUID& subtype, LONG width, LONG height, REFERENCE_TIME interval);
// The VIDEOINFOHEADER of a type, or null when it has none.
const VIDEOINFOHEADER* VideoInfo(const AM_MEDIA_TYPE& mt);
// Bit depth of an RGB subtype this DLL converts; 0 for any other.
int RgbBits(const GUID& subtype);

}  // namespace doubles
