// A rendering filter with a fixed set of input pins that take samples through
// IMemInputPin, and a file name through IFileSinkFilter2: the common part of the file
// writer and ASF writer doubles. What the samples become is the derived filter's.
#pragma once

#include <windows.h>
#include <dshow.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "framework/SlimLock.h"
#include "standins/vcam/ComModule.h"

namespace doubles {

class SinkFilter;

// Deep copy of a media type, and its release.
void CopyMediaType(AM_MEDIA_TYPE& to, const AM_MEDIA_TYPE& from);
void ClearMediaType(AM_MEDIA_TYPE& type);

// One input pin; its reference count is its filter's.
class SinkPin final : public IPin, public IMemInputPin {
public:
    SinkPin(SinkFilter& filter, int index, std::wstring name);
    ~SinkPin();
    SinkPin(const SinkPin&) = delete;
    SinkPin& operator=(const SinkPin&) = delete;

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IPin
    STDMETHODIMP Connect(IPin*, const AM_MEDIA_TYPE*) override;
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
    STDMETHODIMP EndOfStream() override { return S_OK; }
    STDMETHODIMP BeginFlush() override { return S_OK; }
    STDMETHODIMP EndFlush() override { return S_OK; }
    STDMETHODIMP NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }

    // IMemInputPin
    STDMETHODIMP GetAllocator(IMemAllocator** allocator) override;
    STDMETHODIMP NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) override;
    STDMETHODIMP GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) override { return E_NOTIMPL; }
    STDMETHODIMP Receive(IMediaSample* sample) override;
    STDMETHODIMP ReceiveMultiple(IMediaSample** samples, long count, long* done) override;
    STDMETHODIMP ReceiveCanBlock() override { return S_FALSE; }

    bool Connected() const { return peer_ != nullptr; }
    // The connection's type; valid while connected.
    const AM_MEDIA_TYPE& MediaType() const { return mt_; }

private:
    SinkFilter& filter_;
    const int index_;
    const std::wstring name_;
    IPin* peer_ = nullptr;
    IMemAllocator* allocator_ = nullptr;
    AM_MEDIA_TYPE mt_{};
};

class SinkFilter : public IBaseFilter, public IFileSinkFilter2 {
public:
    SinkFilter(const CLSID& clsid, const std::vector<std::wstring>& pinNames);
    SinkFilter(const SinkFilter&) = delete;
    SinkFilter& operator=(const SinkFilter&) = delete;

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IBaseFilter
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

    // IFileSinkFilter2
    STDMETHODIMP SetFileName(LPCOLESTR name, const AM_MEDIA_TYPE* mt) override;
    STDMETHODIMP GetCurFile(LPOLESTR* name, AM_MEDIA_TYPE* mt) override;
    STDMETHODIMP SetMode(DWORD flags) override;
    STDMETHODIMP GetMode(DWORD* flags) override;

    // For the pins.
    virtual bool Accepts(int pin, const AM_MEDIA_TYPE& mt) = 0;
    virtual HRESULT Deliver(int pin, IMediaSample* sample) = 0;
    // Extra interfaces a pin answers (the file writer's stream).
    virtual HRESULT PinInterface(int, REFIID, void**) { return E_NOINTERFACE; }
    virtual void PinConnected(int) {}
    bool Stopped() const { return state_ == State_Stopped; }

protected:
    virtual ~SinkFilter();
    // Extra interfaces of the filter.
    virtual HRESULT FilterInterface(REFIID, void**) { return E_NOINTERFACE; }
    // An output pin, listed before the inputs (a multiplexer's).
    virtual IPin* OutputPin() { return nullptr; }
    // State changes out of and into Stopped; the filter lock is held.
    virtual HRESULT Starting() { return S_OK; }
    virtual void Stopping() {}
    virtual void FileNameSet() {}

    SinkPin& Pin(int i) { return *pins_[static_cast<size_t>(i)]; }
    int PinCount() const { return static_cast<int>(pins_.size()); }

    fw::SlimRecursiveMutex lock_;
    std::wstring fileName_;
    DWORD mode_ = 0;

private:
    vcam::ModuleObject module_;
    LONG ref_ = 1;
    CLSID clsid_;
    std::vector<std::unique_ptr<SinkPin>> pins_;
    FILTER_STATE state_ = State_Stopped;
    IFilterGraph* graph_ = nullptr;  // not held: the graph holds us
    std::wstring name_;
    IReferenceClock* clock_ = nullptr;
};

// Values the doubles leave for tests under HKCU\Software\Orvix\TestDoubles\<Double>.
void RecordString(const wchar_t* dbl, const wchar_t* name, const std::wstring& value);
void RecordDword(const wchar_t* dbl, const wchar_t* name, DWORD value);
std::wstring GuidText(const GUID& guid);

}  // namespace doubles
