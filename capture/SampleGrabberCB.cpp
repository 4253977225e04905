#include "capture/SampleGrabberCB.h"

STDMETHODIMP TSampleGrabberCB::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_ISampleGrabberCB || riid == IID_IUnknown) {
        *ppv = static_cast<ISampleGrabberCB*>(this);
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

void TSampleGrabberCB::Replace(std::shared_ptr<const TFProcessBuffer>& Slot,
                               TFProcessBuffer Handler) {
    std::shared_ptr<const TFProcessBuffer> next;
    if (Handler) next = std::make_shared<const TFProcessBuffer>(std::move(Handler));
    {
        std::lock_guard<fw::SlimMutex> guard(lock_);
        Slot.swap(next);
    }
    // The old handler goes here, outside the lock (a streaming thread may still hold its
    // own copy).
}

void TSampleGrabberCB::SetOnBuffer(TFProcessBuffer Handler) {
    Replace(onBuffer_, std::move(Handler));
}

bool TSampleGrabberCB::HasOnBuffer() const {
    std::lock_guard<fw::SlimMutex> guard(lock_);
    return onBuffer_ != nullptr;
}

void TSampleGrabberCB::SetOnNextBuffer(TFProcessBuffer Handler) {
    Replace(onNextBuffer_, std::move(Handler));
}

bool TSampleGrabberCB::HasOnNextBuffer() const {
    std::lock_guard<fw::SlimMutex> guard(lock_);
    return onNextBuffer_ != nullptr;
}

void TSampleGrabberCB::Deliver(BYTE* Buffer, int32_t Size) {
    uint32_t count = frameCount_.load(std::memory_order_relaxed) + 1;
    if (count > FrameCountLimit) count = 0;
    frameCount_.store(count, std::memory_order_release);
    std::shared_ptr<const TFProcessBuffer> handler;
    {
        std::lock_guard<fw::SlimMutex> guard(lock_);
        if (onNextBuffer_)
            handler.swap(onNextBuffer_);
        else
            handler = onBuffer_;
    }
    if (handler) (*handler)(count, Buffer, Size);
}

STDMETHODIMP TSampleGrabberCB::SampleCB(double, IMediaSample* Sample) {
    if (!Enabled() || !Sample) return S_OK;
    BYTE* data = nullptr;
    if (FAILED(Sample->GetPointer(&data)) || !data) return S_OK;
    // The allocated size, not the actual data length, is what the handlers expect.
    Deliver(data, static_cast<int32_t>(Sample->GetSize()));
    return S_OK;
}

STDMETHODIMP TSampleGrabberCB::BufferCB(double, BYTE* Buffer, long BufferLen) {
    if (!Enabled() || !Buffer) return S_OK;
    Deliver(Buffer, static_cast<int32_t>(BufferLen));
    return S_OK;
}
