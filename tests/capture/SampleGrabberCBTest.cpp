// The grabbers' callback object: its interface, the enabled switch, frame numbering with
// its wrap, the sample-mode size, and handler swaps while frames are being delivered; the
// locks such objects use.
#include <gtest/gtest.h>

#include "bench/support/BenchSupport.h"
#include "capture/SampleGrabberCB.h"
#include "framework/SlimLock.h"
#include "framework/Thread.h"
#include "tests/support/Wait.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <type_traits>
#include <vector>

namespace {

// Just enough of a media sample for the sample-mode callback.
class FakeSample final : public IMediaSample {
public:
    FakeSample(BYTE* data, long size, long actual) : data_(data), size_(size), actual_(actual) {}
    STDMETHODIMP QueryInterface(REFIID, void** ppv) override {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 1; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetPointer(BYTE** p) override {
        *p = data_;
        return S_OK;
    }
    STDMETHODIMP_(long) GetSize() override { return size_; }
    STDMETHODIMP GetTime(REFERENCE_TIME*, REFERENCE_TIME*) override {
        return VFW_E_SAMPLE_TIME_NOT_SET;
    }
    STDMETHODIMP SetTime(REFERENCE_TIME*, REFERENCE_TIME*) override { return S_OK; }
    STDMETHODIMP IsSyncPoint() override { return S_OK; }
    STDMETHODIMP SetSyncPoint(BOOL) override { return S_OK; }
    STDMETHODIMP IsPreroll() override { return S_FALSE; }
    STDMETHODIMP SetPreroll(BOOL) override { return S_OK; }
    STDMETHODIMP_(long) GetActualDataLength() override { return actual_; }
    STDMETHODIMP SetActualDataLength(long) override { return S_OK; }
    STDMETHODIMP GetMediaType(AM_MEDIA_TYPE** mt) override {
        *mt = nullptr;
        return S_FALSE;
    }
    STDMETHODIMP SetMediaType(AM_MEDIA_TYPE*) override { return S_OK; }
    STDMETHODIMP IsDiscontinuity() override { return S_FALSE; }
    STDMETHODIMP SetDiscontinuity(BOOL) override { return S_OK; }
    STDMETHODIMP GetMediaTime(LONGLONG*, LONGLONG*) override { return VFW_E_MEDIA_TIME_NOT_SET; }
    STDMETHODIMP SetMediaTime(LONGLONG*, LONGLONG*) override { return S_OK; }

private:
    BYTE* data_;
    long size_;
    long actual_;
};

struct Call {
    uint32_t frame;
    BYTE* buffer;
    int32_t size;
};

}  // namespace

TEST(SampleGrabberCB, AnswersOnlyItsOwnInterfacesAndKeepsNoCount) {
    TSampleGrabberCB cb;
    void* p = nullptr;
    EXPECT_EQ(cb.QueryInterface(IID_ISampleGrabberCB, &p), S_OK);
    EXPECT_EQ(p, static_cast<ISampleGrabberCB*>(&cb));
    EXPECT_EQ(cb.QueryInterface(IID_IUnknown, &p), S_OK);
    EXPECT_EQ(cb.QueryInterface(IID_IBaseFilter, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(cb.AddRef(), 2u);
    EXPECT_EQ(cb.Release(), 1u);
    EXPECT_EQ(cb.Release(), 1u);
}

TEST(SampleGrabberCB, CountsAndDeliversOnlyWhileEnabled) {
    TSampleGrabberCB cb;
    std::vector<Call> calls;
    cb.SetOnBuffer([&](uint32_t f, BYTE*& b, int32_t& s) { calls.push_back({f, b, s}); });
    BYTE frame[16] = {};
    EXPECT_EQ(cb.BufferCB(0, frame, 16), S_OK);
    EXPECT_EQ(cb.FrameCount(), 0u);
    cb.SetEnabled(true);
    EXPECT_EQ(cb.BufferCB(0, nullptr, 16), S_OK);
    EXPECT_EQ(cb.FrameCount(), 0u);
    cb.BufferCB(0, frame, 16);
    cb.BufferCB(0, frame, 12);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].frame, 1u);
    EXPECT_EQ(calls[1].frame, 2u);
    EXPECT_EQ(calls[1].buffer, frame);
    EXPECT_EQ(calls[1].size, 12);
    // Without a handler frames are only counted.
    cb.SetOnBuffer(nullptr);
    cb.BufferCB(0, frame, 16);
    EXPECT_EQ(cb.FrameCount(), 3u);
    EXPECT_EQ(calls.size(), 2u);
}

TEST(SampleGrabberCB, FrameNumberWrapsToZeroAboveTheLimit) {
    TSampleGrabberCB cb;
    std::vector<uint32_t> numbers;
    cb.SetOnBuffer([&](uint32_t f, BYTE*&, int32_t&) { numbers.push_back(f); });
    cb.SetEnabled(true);
    cb.SetFrameCount(TSampleGrabberCB::FrameCountLimit - 1);
    BYTE frame[4] = {};
    for (int i = 0; i < 3; ++i) cb.BufferCB(0, frame, 4);
    EXPECT_EQ(numbers, (std::vector<uint32_t>{4294967195u, 0u, 1u}));
}

TEST(SampleGrabberCB, SampleModeHandsOverTheAllocatedSize) {
    TSampleGrabberCB cb;
    std::vector<Call> calls;
    cb.SetOnBuffer([&](uint32_t f, BYTE*& b, int32_t& s) { calls.push_back({f, b, s}); });
    BYTE data[1000] = {};
    FakeSample sample(data, 1000, 10);
    FakeSample empty(nullptr, 1000, 10);
    EXPECT_EQ(cb.SampleCB(0, &sample), S_OK);  // disabled
    cb.SetEnabled(true);
    EXPECT_EQ(cb.SampleCB(0, &empty), S_OK);
    EXPECT_EQ(cb.SampleCB(0, &sample), S_OK);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].frame, 1u);
    EXPECT_EQ(calls[0].buffer, data);
    EXPECT_EQ(calls[0].size, 1000);
}

TEST(SampleGrabberCB, HandlerSwapsDuringDeliveryReachOneHandlerOrTheOther) {
    TSampleGrabberCB cb;
    cb.SetEnabled(true);
    std::atomic<int> first{0}, second{0};
    std::atomic<bool> stop{false};
    std::thread stream([&] {
        BYTE frame[64] = {};
        while (!stop.load()) cb.BufferCB(0, frame, 64);
    });
    for (int i = 0; i < 2000; ++i) {
        // Each handler owns state that dies with it: a torn or freed handler would crash.
        auto counter = std::make_shared<int>(0);
        if (i % 2)
            cb.SetOnBuffer([&first, counter](uint32_t, BYTE*&, int32_t&) { ++*counter, ++first; });
        else
            cb.SetOnBuffer(
                [&second, counter](uint32_t, BYTE*&, int32_t&) { ++*counter, ++second; });
    }
    cb.SetOnBuffer(nullptr);
    stop = true;
    stream.join();
    const uint32_t delivered = static_cast<uint32_t>(first.load() + second.load());
    EXPECT_LE(delivered, cb.FrameCount());
    EXPECT_FALSE(cb.HasOnBuffer());
}

TEST(SampleGrabberCB, OneFrameTargetTakesExactlyTheNextFrameThenTheCurrentHandlerIsBack) {
    TSampleGrabberCB cb;
    cb.SetEnabled(true);
    std::vector<uint32_t> perFrame, once;
    cb.SetOnBuffer([&](uint32_t f, BYTE*&, int32_t&) { perFrame.push_back(f); });
    BYTE frame[4] = {};
    cb.BufferCB(0, frame, 4);
    cb.SetOnNextBuffer([&](uint32_t f, BYTE*&, int32_t&) { once.push_back(f); });
    // A per-frame handler set while armed does not undo the request, and takes over after.
    std::vector<uint32_t> replaced;
    cb.SetOnBuffer([&](uint32_t f, BYTE*&, int32_t&) { replaced.push_back(f); });
    EXPECT_TRUE(cb.HasOnNextBuffer());
    for (int i = 0; i < 3; ++i) cb.BufferCB(0, frame, 4);
    EXPECT_EQ(perFrame, (std::vector<uint32_t>{1}));
    EXPECT_EQ(once, (std::vector<uint32_t>{2}));
    EXPECT_EQ(replaced, (std::vector<uint32_t>{3, 4}));
    EXPECT_FALSE(cb.HasOnNextBuffer());
    // Disabled, the request waits for the first enabled frame.
    cb.SetEnabled(false);
    cb.SetOnNextBuffer([&](uint32_t f, BYTE*&, int32_t&) { once.push_back(f); });
    cb.BufferCB(0, frame, 4);
    cb.SetEnabled(true);
    cb.BufferCB(0, frame, 4);
    EXPECT_EQ(once, (std::vector<uint32_t>{2, 5}));
    // Cleared, nothing is armed.
    cb.SetOnNextBuffer([&](uint32_t f, BYTE*&, int32_t&) { once.push_back(f); });
    cb.SetOnNextBuffer(nullptr);
    cb.BufferCB(0, frame, 4);
    EXPECT_EQ(once.size(), 2u);
    EXPECT_EQ(replaced.back(), 6u);
}

namespace {

DWORD Events() {
    const bench::HandleCensus census = bench::CountHandles();
    const auto it = census.ByType.find("event");
    return census.Ok && it != census.ByType.end() ? it->second : 0;
}

// One thread waits for Lock while this one holds it, then Lock goes: the wait makes the
// runtime's event, which must go with the lock.
template <typename Lock>
bool ContendAndDestroy() {
    const DWORD before = Events();
    auto lock = std::make_unique<Lock>();
    lock->lock();
    fw::Thread waiter([&] {
        lock->lock();
        lock->unlock();
    });
    // The event shows once the other thread waits.
    const bool waited = testsupport::WaitUntil([&] { return Events() > before; });
    lock->unlock();
    waiter.join();
    lock.reset();
    return waited;
}

// A thread waits on Wake under Lock (twice taken, when it may be) until this one wakes it:
// the wait must give up every level, and take them all back.
template <typename Lock>
void WaitOnCondition(Lock& lock, fw::SlimCondition& wake) {
    bool waiting = false;
    bool go = false;
    fw::Thread waiter([&] {
        std::unique_lock outer(lock);
        std::unique_lock<Lock> inner;
        if constexpr (std::is_same_v<Lock, fw::SlimRecursiveMutex>) inner = std::unique_lock(lock);
        waiting = true;
        while (!go) wake.wait(outer);
    });
    // Taking the lock here proves that the waiting thread gave it up.
    EXPECT_TRUE(testsupport::WaitUntil([&] {
        std::lock_guard held(lock);
        return waiting;
    }));
    {
        std::lock_guard held(lock);
        go = true;
        wake.notify_all();
    }
    waiter.join();
    std::lock_guard after(lock);  // both levels were given back
}

}  // namespace

// The locks of objects that live through a run are waited for at any moment of it: while
// they live, they and their condition must keep no kernel object for it.
TEST(Locks, ASlimLockWaitedOnKeepsNoHandle) {
    const bench::HandleCensus before = bench::CountHandles();
    fw::SlimMutex plain;
    fw::SlimRecursiveMutex recursive;
    fw::SlimCondition wake;
    for (int i = 0; i < 3; ++i) {
        WaitOnCondition(plain, wake);
        WaitOnCondition(recursive, wake);
    }
    const bench::HandleCensus after = bench::CountHandles();
    ASSERT_TRUE(before.Ok && after.Ok);
    EXPECT_EQ(after.OtherThanKeys(), before.OtherThanKeys()) << before.Text() << " -> " << after.Text();
}

// The runtime's own mutexes, where they are still used: each one that goes must take what
// a wait for it made with it.
TEST(Locks, AWaitedForLockLeavesNoHandleBehind) {
    ContendAndDestroy<std::mutex>();  // what the first wait of a thread makes
    const DWORD before = Events();
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(ContendAndDestroy<std::mutex>()) << "the other thread never waited";
        ASSERT_TRUE(ContendAndDestroy<std::recursive_mutex>());
    }
    EXPECT_EQ(Events(), before);
}
