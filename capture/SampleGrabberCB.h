// The sample grabbers' callback object: counts the frames (or audio buffers) that pass a
// grabber while enabled and hands each to the current per-frame handler.
#pragma once

#include <windows.h>
#include <dshow.h>
#include <qedit.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "framework/SlimLock.h"

// Per-frame handler: frame number, the frame's bytes and their count, on the grabber's
// streaming thread.
using TFProcessBuffer = std::function<void(uint32_t Frame, BYTE*& Buffer, int32_t& Size)>;

// Owned by the capture control, which outlives every graph that calls it: the reference
// count is not kept.
class TSampleGrabberCB final : public ISampleGrabberCB {
public:
    // Frame numbers wrap to 0 after this value.
    static constexpr uint32_t FrameCountLimit = 4294967195u;

    TSampleGrabberCB() = default;
    TSampleGrabberCB(const TSampleGrabberCB&) = delete;
    TSampleGrabberCB& operator=(const TSampleGrabberCB&) = delete;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    // Audio grabber (sample mode).
    STDMETHODIMP SampleCB(double SampleTime, IMediaSample* Sample) override;
    // Video grabber (buffer mode).
    STDMETHODIMP BufferCB(double SampleTime, BYTE* Buffer, long BufferLen) override;

    // The control's window; nothing reads it.
    HWND Handle = nullptr;

    bool Enabled() const { return enabled_.load(std::memory_order_acquire); }
    void SetEnabled(bool On) { enabled_.store(On, std::memory_order_release); }

    uint32_t FrameCount() const { return frameCount_.load(std::memory_order_acquire); }
    void SetFrameCount(uint32_t Count) { frameCount_.store(Count, std::memory_order_release); }

    // The handler is swapped whole under a short lock: a streaming thread sees the old or
    // the new one, never a half-written one, and the handler it took stays valid while it
    // runs even when the window thread replaces it meanwhile.
    void SetOnBuffer(TFProcessBuffer Handler);
    bool HasOnBuffer() const;
    // The next frame goes to Handler instead of the per-frame handler, once; the frame
    // after it goes to the per-frame handler again, whichever one is current by then. A
    // second call before that frame replaces the first; none clears it.
    void SetOnNextBuffer(TFProcessBuffer Handler);
    bool HasOnNextBuffer() const;

private:
    // Puts Handler in Slot under the lock.
    void Replace(std::shared_ptr<const TFProcessBuffer>& Slot, TFProcessBuffer Handler);
    void Deliver(BYTE* Buffer, int32_t Size);

    std::atomic<bool> enabled_{false};
    std::atomic<uint32_t> frameCount_{0};
    mutable fw::SlimMutex lock_;
    std::shared_ptr<const TFProcessBuffer> onBuffer_;
    std::shared_ptr<const TFProcessBuffer> onNextBuffer_;
};
