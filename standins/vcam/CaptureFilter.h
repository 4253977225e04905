// A live capture source in raw COM: the filter (IBaseFilter) with its state, clock and
// graph, and the output pin (IPin, IKsPropertySet, IAMStreamConfig) with connection,
// allocator negotiation and a streaming thread that delivers time-stamped samples in real
// time. The camera and the microphone derive from these and supply formats and content.
//
// Locking: each filter has a data lock (state, clock, graph, pin connections, formats),
// which the streaming threads take briefly and never hold across a call into another
// filter except the event sink's Notify, and a control lock that serialises state
// changes, connections and format changes (recursive, because a format change on a
// connected pin disconnects and connects it again). The streaming threads never take the
// control lock, so a state change may wait for them.
#pragma once

#include <dshow.h>
#include <wrl/client.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "framework/SlimLock.h"
#include "framework/Thread.h"
#include "standins/vcam/CameraSettings.h"
#include "standins/vcam/ComModule.h"
#include "standins/vcam/MediaTypes.h"

namespace vcam {

using Microsoft::WRL::ComPtr;

class CaptureFilter;

class CapturePin : public IPin,
                   public IKsPropertySet,
                   public IAMStreamConfig,
                   public IAMStreamControl {
public:
    CapturePin(CaptureFilter& filter, const wchar_t* name, const GUID& category);
    CapturePin(const CapturePin&) = delete;
    CapturePin& operator=(const CapturePin&) = delete;
    virtual ~CapturePin();

    // IUnknown: the pin lives and dies with its filter.
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IPin
    STDMETHODIMP Connect(IPin* receivePin, const AM_MEDIA_TYPE* mt) override;
    STDMETHODIMP ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt) override;
    STDMETHODIMP Disconnect() override;
    STDMETHODIMP ConnectedTo(IPin** pin) override;
    STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE* mt) override;
    STDMETHODIMP QueryPinInfo(PIN_INFO* info) override;
    STDMETHODIMP QueryDirection(PIN_DIRECTION* dir) override;
    STDMETHODIMP QueryId(LPWSTR* id) override;
    STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* mt) override;
    STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** types) override;
    STDMETHODIMP QueryInternalConnections(IPin** pins, ULONG* count) override;
    STDMETHODIMP EndOfStream() override;
    STDMETHODIMP BeginFlush() override;
    STDMETHODIMP EndFlush() override;
    STDMETHODIMP NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

    // IKsPropertySet: only the pin category, read-only.
    STDMETHODIMP Set(REFGUID set, DWORD id, void* instance, DWORD instanceLength, void* data,
                     DWORD dataLength) override;
    STDMETHODIMP Get(REFGUID set, DWORD id, void* instance, DWORD instanceLength, void* data,
                     DWORD dataLength, DWORD* returned) override;
    STDMETHODIMP QuerySupported(REFGUID set, DWORD id, DWORD* support) override;

    // IAMStreamConfig
    STDMETHODIMP SetFormat(AM_MEDIA_TYPE* mt) override;
    STDMETHODIMP GetFormat(AM_MEDIA_TYPE** mt) override;
    STDMETHODIMP GetNumberOfCapabilities(int* count, int* size) override;
    STDMETHODIMP GetStreamCaps(int index, AM_MEDIA_TYPE** mt, BYTE* caps) override;

    // IAMStreamControl
    STDMETHODIMP StartAt(const REFERENCE_TIME* start, DWORD cookie) override;
    STDMETHODIMP StopAt(const REFERENCE_TIME* stop, BOOL sendExtra, DWORD cookie) override;
    STDMETHODIMP GetInfo(AM_STREAM_INFO* info) override;

    const std::wstring& Name() const { return name_; }

    // What a failed reconnection leaves: the pin and its peer unconnected, the pin set to
    // `mt` (one of its capabilities). Fails unless stopped.
    HRESULT DropConnectionWithFormat(const AM_MEDIA_TYPE& mt);

    // Stopped -> paused: commits the allocator and starts the streaming thread. Called by
    // the filter with its control lock held.
    HRESULT Activate();
    // The next frame is delivered by a pin that streams only on a trigger.
    void Trigger();

    // Any state -> stopped: ends the streaming thread. Decommitting the allocator releases a
    // thread waiting in GetBuffer; a thread blocked in a paused downstream Receive is
    // released by flushing the downstream pin.
    void Deactivate();

protected:
    // Capabilities in IAMStreamConfig order. `caps` may be null.
    virtual int CapabilityCount() const = 0;
    virtual int CapabilitySize() const = 0;
    virtual MediaType Capability(int index, BYTE* caps) const = 0;
    // The pin's own complete form of `mt` when it is one of the capabilities (any detail the
    // capability leaves open filled in), else an empty type.
    virtual MediaType Normalize(const AM_MEDIA_TYPE& mt) const = 0;
    virtual long SampleBytes(const AM_MEDIA_TYPE& mt) const = 0;
    virtual long BufferCount() const = 0;
    // A still pin carries a frame only when triggered (Trigger), each at its moment.
    virtual bool TriggeredOnly() const { return false; }

    // Streaming, on the pin's thread. Unit k (a frame, a buffer of sound) covers stream times
    // [UnitStart(k), UnitStart(k + 1)); UnitAt(t) is the unit that covers t. A unit is
    // delivered at its start (video) or, once it has been recorded, at its end (sound).
    virtual void BeginStream(const AM_MEDIA_TYPE& mt) = 0;
    virtual REFERENCE_TIME UnitStart(uint64_t k) const = 0;
    virtual uint64_t UnitAt(REFERENCE_TIME t) const = 0;
    virtual bool DeliverAtUnitEnd() const = 0;
    // Fills unit k and returns its length in bytes.
    virtual long FillUnit(uint64_t k, BYTE* data, long capacity) = 0;
    // After the thread ended; `delivered` units were handed downstream.
    virtual void EndStream(uint64_t delivered) = 0;

    CaptureFilter& filter_;

private:
    std::vector<MediaType> OfferedTypesLocked() const;
    MediaType AcceptableLocked(const AM_MEDIA_TYPE& mt) const;
    HRESULT TryConnection(IPin* receivePin, const MediaType& mt);
    HRESULT DecideAllocator(IMemInputPin* input, const AM_MEDIA_TYPE& mt,
                            ComPtr<IMemAllocator>& allocator);
    HRESULT SizeAllocator(IMemAllocator* allocator, const ALLOCATOR_PROPERTIES& wanted,
                          const AM_MEDIA_TYPE& mt);
    void StreamLoop(ComPtr<IMemAllocator> allocator, ComPtr<IMemInputPin> input, MediaType mt);
    // Waits until unit k is due; false when the stream is to end.
    bool WaitForUnit(uint64_t& k, bool& discontinuity);
    // Whether unit k goes downstream by the stream control's window; reports the start and
    // the stop. Data lock held.
    bool PassesStreamControlLocked(uint64_t k);

    // StartAt and StopAt, in reference time. MINLONGLONG: at once; a start at MAXLONGLONG
    // never comes, a stop at MAXLONGLONG is none.
    struct StreamControl {
        REFERENCE_TIME start = MINLONGLONG;
        REFERENCE_TIME stop = MAXLONGLONG;
        DWORD startCookie = 0;
        DWORD stopCookie = 0;
        bool sendExtra = false;
        bool startPending = false;  // a timed start not reached yet
        bool stopPending = false;   // a timed stop not reached yet
        bool Flows(REFERENCE_TIME t) const {
            // The later of the two decides: a stop before the start pauses the stream
            // between them.
            return start > stop ? (t < stop || t >= start) : (t >= start && t < stop);
        }
    };

    const std::wstring name_;
    const GUID category_;

    // Guarded by the filter's data lock.
    ComPtr<IPin> connected_;
    ComPtr<IMemInputPin> input_;
    ComPtr<IMemAllocator> allocator_;
    MediaType connectionType_;
    MediaType format_;  // set through SetFormat; empty: every capability is offered
    bool stopping_ = false;
    bool inReceive_ = false;
    unsigned triggers_ = 0;        // frames asked for of a triggered pin, not yet delivered
    StreamControl streamControl_;  // reset with each new connection

    fw::Thread thread_;  // touched only under the control lock
};

class CaptureFilter : public IBaseFilter {
public:
    CaptureFilter(const CaptureFilter&) = delete;
    CaptureFilter& operator=(const CaptureFilter&) = delete;

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    // IPersist
    STDMETHODIMP GetClassID(CLSID* clsid) override;
    // IMediaFilter
    STDMETHODIMP Stop() override;
    STDMETHODIMP Pause() override;
    STDMETHODIMP Run(REFERENCE_TIME start) override;
    STDMETHODIMP GetState(DWORD timeoutMs, FILTER_STATE* state) override;
    STDMETHODIMP SetSyncSource(IReferenceClock* clock) override;
    STDMETHODIMP GetSyncSource(IReferenceClock** clock) override;
    // IBaseFilter
    STDMETHODIMP EnumPins(IEnumPins** pins) override;
    STDMETHODIMP FindPin(LPCWSTR id, IPin** pin) override;
    STDMETHODIMP QueryFilterInfo(FILTER_INFO* info) override;
    STDMETHODIMP JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
    STDMETHODIMP QueryVendorInfo(LPWSTR* info) override;

    // For the pins.
    fw::SlimMutex& DataLock() { return data_; }
    fw::SlimRecursiveMutex& ControlLock() { return control_; }
    fw::SlimCondition& Wake() { return wake_; }
    FILTER_STATE StateLocked() const { return state_; }
    // The current stream time; false unless running.
    bool StreamTimeLocked(REFERENCE_TIME& now) const;
    // True once the device is lost. Reports the loss when stream time `now` has reached it;
    // otherwise lowers `deadline` to the moment it will be due.
    bool CheckLossLocked(REFERENCE_TIME now, REFERENCE_TIME& deadline);
    // The same for a streaming error of the driver: true from its report until a stop.
    bool CheckAbortLocked(REFERENCE_TIME now, REFERENCE_TIME& deadline);
    const DriverFailures& Failures() const { return failures_; }
    // Stream time 0 in reference time (the time given to Run), and the reference time now.
    REFERENCE_TIME RunStartLocked() const { return start_; }
    REFERENCE_TIME ReferenceNowLocked() const;
    // Reports an event to the graph, when in one.
    void NotifyLocked(long code, LONG_PTR param1, LONG_PTR param2);

protected:
    CaptureFilter(const CLSID& clsid, bool failRun, DWORD loseAfterMs);
    virtual ~CaptureFilter();
    virtual HRESULT QueryExtraInterface(REFIID iid, void** out);
    void AddPin(std::unique_ptr<CapturePin> pin);
    void SetRunNoticeWindow(HWND window) { runNoticeWindow_ = window; }
    void SetAbortAfterMs(DWORD ms) { abortAfter_ = static_cast<REFERENCE_TIME>(ms) * 10000; }
    void SetFailures(const DriverFailures& failures) { failures_ = failures; }

private:
    // Starts the pins when stopped; nothing to do in any other state. Control lock held.
    HRESULT PauseFromStopped();
    void StopStreaming();

    ModuleObject module_;
    LONG ref_ = 1;
    const CLSID clsid_;
    const bool failRun_;
    const REFERENCE_TIME loseAfter_;  // stream time of the device loss; 0: never
    REFERENCE_TIME abortAfter_ = 0;   // stream time of the streaming error; 0: never
    HWND runNoticeWindow_ = nullptr;
    DriverFailures failures_;
    fw::Thread notice_;  // completes a start that waits for runNoticeWindow_

    fw::SlimRecursiveMutex control_;
    mutable fw::SlimMutex data_;
    fw::SlimCondition wake_;

    // Guarded by the data lock.
    FILTER_STATE state_ = State_Stopped;
    REFERENCE_TIME start_ = 0;
    ULONGLONG runTick_ = 0;  // for stream time when the graph has no clock
    ComPtr<IReferenceClock> clock_;
    // The graph owns this filter, so these stay weak (no reference held) to avoid a cycle;
    // the graph calls JoinFilterGraph(nullptr) before it goes away.
    IFilterGraph* graph_ = nullptr;
    IMediaEventSink* sink_ = nullptr;
    std::wstring name_;
    bool lost_ = false;
    bool lossSpent_ = false;
    bool aborted_ = false;
    bool abortSpent_ = false;

    std::vector<std::unique_ptr<CapturePin>> pins_;  // fixed after construction
};

}  // namespace vcam
