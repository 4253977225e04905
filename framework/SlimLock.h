// Locks and a condition that hold no kernel object. The runtime's std::mutex makes an
// event the first time a thread has to wait for it and keeps it while the mutex lives,
// so a long-lived object's lock adds a handle at some random moment of the run. Slim
// reader/writer locks and condition variables (Windows Vista) never hold one.
// They work with std::lock_guard and std::unique_lock.
#pragma once

#include <windows.h>

#include <atomic>
#include <chrono>
#include <mutex>

namespace fw {

class SlimCondition;

class SlimMutex {
public:
    SlimMutex() = default;
    SlimMutex(const SlimMutex&) = delete;
    SlimMutex& operator=(const SlimMutex&) = delete;

    void lock() noexcept { AcquireSRWLockExclusive(&lock_); }
    void unlock() noexcept { ReleaseSRWLockExclusive(&lock_); }

private:
    friend class SlimCondition;
    friend class SlimRecursiveMutex;
    // Releases the lock while waiting on Cv; false when Ms passed first.
    bool SleepOn(CONDITION_VARIABLE& cv, DWORD ms) noexcept {
        return SleepConditionVariableSRW(&cv, &lock_, ms, 0) != FALSE;
    }

    SRWLOCK lock_ = SRWLOCK_INIT;
};

// A thread that holds it may take it again; each lock() needs its unlock().
class SlimRecursiveMutex {
public:
    SlimRecursiveMutex() = default;
    SlimRecursiveMutex(const SlimRecursiveMutex&) = delete;
    SlimRecursiveMutex& operator=(const SlimRecursiveMutex&) = delete;

    void lock() noexcept {
        const DWORD me = GetCurrentThreadId();
        // Only this thread can have stored its own id, so a relaxed read is enough.
        if (owner_.load(std::memory_order_relaxed) == me) {
            ++depth_;
            return;
        }
        lock_.lock();
        owner_.store(me, std::memory_order_relaxed);
        depth_ = 1;
    }

    void unlock() noexcept {
        if (--depth_ == 0) {
            owner_.store(0, std::memory_order_relaxed);
            lock_.unlock();
        }
    }

private:
    friend class SlimCondition;
    // Releases every level the thread holds while waiting, and takes them back after.
    bool SleepOn(CONDITION_VARIABLE& cv, DWORD ms) noexcept {
        const unsigned depth = depth_;
        depth_ = 0;
        owner_.store(0, std::memory_order_relaxed);
        const bool woken = lock_.SleepOn(cv, ms);
        owner_.store(GetCurrentThreadId(), std::memory_order_relaxed);
        depth_ = depth;
        return woken;
    }

    SlimMutex lock_;
    std::atomic<DWORD> owner_{0};  // no thread has the id 0
    unsigned depth_ = 0;
};

class SlimCondition {
public:
    SlimCondition() = default;
    SlimCondition(const SlimCondition&) = delete;
    SlimCondition& operator=(const SlimCondition&) = delete;

    void notify_one() noexcept { WakeConditionVariable(&cv_); }
    void notify_all() noexcept { WakeAllConditionVariable(&cv_); }

    template <typename Mutex>
    void wait(std::unique_lock<Mutex>& held) noexcept {
        held.mutex()->SleepOn(cv_, INFINITE);
    }

    // Waits for a wake or for Wait (rounded up to whole milliseconds); false when the time
    // ran out. Wakes may be spurious: callers look at what they wait for after any wake.
    template <typename Mutex, typename Rep, typename Period>
    bool wait_for(std::unique_lock<Mutex>& held, std::chrono::duration<Rep, Period> wait) noexcept {
        const auto ms = std::chrono::ceil<std::chrono::milliseconds>(wait).count();
        const DWORD timeout = ms <= 0 ? 0 : ms >= INFINITE ? INFINITE - 1 : static_cast<DWORD>(ms);
        return held.mutex()->SleepOn(cv_, timeout);
    }

private:
    CONDITION_VARIABLE cv_ = CONDITION_VARIABLE_INIT;
};

}  // namespace fw
