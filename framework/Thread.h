// A thread of the system's own that runs one call and is joined, used where std::thread
// would be. The runtime's threads enter a process-wide thread list whose lock makes an
// event the first time two threads meet at it and keeps it for the rest of the process,
// so a thread that starts or ends at the wrong moment adds a handle for good.
#pragma once

#include <windows.h>

#include <memory>
#include <system_error>
#include <tuple>
#include <utility>

#include "framework/WinHandles.h"

namespace fw {

class Thread {
public:
    Thread() noexcept = default;

    // Runs Fn(Args...) on a new thread; throws std::system_error when none can be made.
    template <typename Fn, typename... Args>
    explicit Thread(Fn&& fn, Args&&... args) {
        auto call = [fn = std::forward<Fn>(fn),
                     args = std::make_tuple(std::forward<Args>(args)...)]() mutable {
            std::apply(std::move(fn), std::move(args));
        };
        using Work = decltype(call);
        auto work = std::make_unique<Work>(std::move(call));
        HANDLE h = ::CreateThread(nullptr, 0, &Run<Work>, work.get(), 0, nullptr);
        if (!h) throw std::system_error(static_cast<int>(::GetLastError()), std::system_category());
        static_cast<void>(work.release());  // the thread owns it now
        handle_.reset(h);
    }

    Thread(Thread&&) noexcept = default;
    // A thread still running is waited for before another takes its place.
    Thread& operator=(Thread&& other) noexcept {
        if (this != &other) {
            join();
            handle_ = std::move(other.handle_);
        }
        return *this;
    }
    ~Thread() { join(); }

    bool joinable() const noexcept { return handle_.valid(); }
    void join() noexcept {
        if (!handle_) return;
        ::WaitForSingleObject(handle_.get(), INFINITE);
        handle_.reset();
    }

private:
    template <typename Work>
    static DWORD WINAPI Run(void* work) {
        std::unique_ptr<Work> mine(static_cast<Work*>(work));
        (*mine)();
        return 0;
    }

    Handle handle_;
};

}  // namespace fw
