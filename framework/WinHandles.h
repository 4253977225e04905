// Small RAII holders for Win32 handle kinds. Each holder owns at most one handle,
// is movable but not copyable, and frees its handle when it goes out of scope, so
// cleanup never depends on reaching the end of a function.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <utility>

namespace fw {

// Generic owner of one handle. Traits provides:
//   static T invalid() noexcept;        the value held when empty
//   static bool valid(T) noexcept;      whether a value needs freeing
//   static void close(T) noexcept;      frees a valid value
template <typename T, typename Traits>
class UniqueHandle {
public:
    using value_type = T;

    UniqueHandle() noexcept = default;
    explicit UniqueHandle(T h) noexcept : h_(h) {}
    ~UniqueHandle() { reset(); }

    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    UniqueHandle(UniqueHandle&& other) noexcept : h_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }

    T get() const noexcept { return h_; }
    bool valid() const noexcept { return Traits::valid(h_); }
    explicit operator bool() const noexcept { return valid(); }

    // Gives up ownership without freeing.
    [[nodiscard]] T release() noexcept {
        T h = h_;
        h_ = Traits::invalid();
        return h;
    }

    // Frees the held handle (if any) and takes h.
    void reset(T h = Traits::invalid()) noexcept {
        T old = h_;
        h_ = h;
        if (Traits::valid(old) && old != h) Traits::close(old);
    }

    // For APIs that return a handle through an out parameter: frees the held
    // handle first, then hands out the slot.
    T* put() noexcept {
        reset();
        return &h_;
    }

    void swap(UniqueHandle& other) noexcept { std::swap(h_, other.h_); }

private:
    T h_ = Traits::invalid();
};

namespace handle_traits {

// Kernel handles use two "no handle" values depending on the API: CreateFile
// returns INVALID_HANDLE_VALUE, CreateEvent/OpenProcess return null.
struct Kernel {
    static HANDLE invalid() noexcept { return nullptr; }
    static bool valid(HANDLE h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void close(HANDLE h) noexcept { ::CloseHandle(h); }
};

// A mutex this thread created as its owner: given up before its handle is closed, so that
// its name is free again at once.
struct OwnedMutex {
    static HANDLE invalid() noexcept { return nullptr; }
    static bool valid(HANDLE h) noexcept { return h != nullptr; }
    static void close(HANDLE h) noexcept {
        ::ReleaseMutex(h);
        ::CloseHandle(h);
    }
};

struct Find {
    static HANDLE invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static bool valid(HANDLE h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void close(HANDLE h) noexcept { ::FindClose(h); }
};

struct RegKey {
    static HKEY invalid() noexcept { return nullptr; }
    static bool valid(HKEY h) noexcept { return h != nullptr; }
    static void close(HKEY h) noexcept { ::RegCloseKey(h); }
};

struct Window {
    static HWND invalid() noexcept { return nullptr; }
    static bool valid(HWND h) noexcept { return h != nullptr; }
    static void close(HWND h) noexcept {
        if (::IsWindow(h)) ::DestroyWindow(h);
    }
};

struct Module {
    static HMODULE invalid() noexcept { return nullptr; }
    static bool valid(HMODULE h) noexcept { return h != nullptr; }
    static void close(HMODULE h) noexcept { ::FreeLibrary(h); }
};

template <typename T>
struct Gdi {
    static T invalid() noexcept { return nullptr; }
    static bool valid(T h) noexcept { return h != nullptr; }
    static void close(T h) noexcept { ::DeleteObject(reinterpret_cast<HGDIOBJ>(h)); }
};

struct Dc {
    static HDC invalid() noexcept { return nullptr; }
    static bool valid(HDC h) noexcept { return h != nullptr; }
    static void close(HDC h) noexcept { ::DeleteDC(h); }
};

struct Menu {
    static HMENU invalid() noexcept { return nullptr; }
    static bool valid(HMENU h) noexcept { return h != nullptr; }
    static void close(HMENU h) noexcept {
        if (::IsMenu(h)) ::DestroyMenu(h);
    }
};

struct Icon {
    static HICON invalid() noexcept { return nullptr; }
    static bool valid(HICON h) noexcept { return h != nullptr; }
    static void close(HICON h) noexcept { ::DestroyIcon(h); }
};

struct View {
    static void* invalid() noexcept { return nullptr; }
    static bool valid(void* p) noexcept { return p != nullptr; }
    static void close(void* p) noexcept { ::UnmapViewOfFile(p); }
};

}  // namespace handle_traits

using Handle = UniqueHandle<HANDLE, handle_traits::Kernel>;         // CloseHandle
using OwnedMutex = UniqueHandle<HANDLE, handle_traits::OwnedMutex>;  // ReleaseMutex, CloseHandle
using FindHandle = UniqueHandle<HANDLE, handle_traits::Find>;       // FindClose
using RegKey = UniqueHandle<HKEY, handle_traits::RegKey>;           // RegCloseKey
using WindowHandle = UniqueHandle<HWND, handle_traits::Window>;     // DestroyWindow
using ModuleHandle = UniqueHandle<HMODULE, handle_traits::Module>;  // FreeLibrary
using MenuHandle = UniqueHandle<HMENU, handle_traits::Menu>;        // DestroyMenu
using IconHandle = UniqueHandle<HICON, handle_traits::Icon>;        // DestroyIcon
using DcHandle = UniqueHandle<HDC, handle_traits::Dc>;              // DeleteDC (CreateCompatibleDC)
using MappedView = UniqueHandle<void*, handle_traits::View>;        // UnmapViewOfFile

template <typename T>
using GdiObject = UniqueHandle<T, handle_traits::Gdi<T>>;  // DeleteObject
using BitmapHandle = GdiObject<HBITMAP>;
using FontHandle = GdiObject<HFONT>;
using BrushHandle = GdiObject<HBRUSH>;
using PenHandle = GdiObject<HPEN>;
using RegionHandle = GdiObject<HRGN>;

// GetDC for a window's client area (or the screen when hwnd is null), or GetWindowDC for
// the whole window with its frame and caption; released on scope exit.
class ScopedGetDC {
public:
    enum class Area { Client, WholeWindow };
    explicit ScopedGetDC(HWND hwnd, Area area = Area::Client) noexcept
        : hwnd_(hwnd), dc_(area == Area::Client ? ::GetDC(hwnd) : ::GetWindowDC(hwnd)) {}
    ~ScopedGetDC() {
        if (dc_) ::ReleaseDC(hwnd_, dc_);
    }
    ScopedGetDC(const ScopedGetDC&) = delete;
    ScopedGetDC& operator=(const ScopedGetDC&) = delete;

    HDC get() const noexcept { return dc_; }
    operator HDC() const noexcept { return dc_; }
    explicit operator bool() const noexcept { return dc_ != nullptr; }

private:
    HWND hwnd_;
    HDC dc_;
};

// SelectObject into a DC, putting the previous object back on scope exit (so the
// selected object can be deleted afterwards).
class ScopedSelectObject {
public:
    ScopedSelectObject(HDC dc, HGDIOBJ obj) noexcept
        : dc_(dc), old_(obj ? ::SelectObject(dc, obj) : nullptr) {}
    ~ScopedSelectObject() {
        if (old_ && old_ != HGDI_ERROR) ::SelectObject(dc_, old_);
    }
    ScopedSelectObject(const ScopedSelectObject&) = delete;
    ScopedSelectObject& operator=(const ScopedSelectObject&) = delete;

private:
    HDC dc_;
    HGDIOBJ old_;
};

// CoInitializeEx for the current thread; CoUninitialize only when the call
// succeeded (S_FALSE counts: it still needs balancing). RPC_E_CHANGED_MODE means
// COM is already up in another model, which is usable but must not be balanced.
class ComInit {
public:
    explicit ComInit(DWORD model = COINIT_APARTMENTTHREADED) noexcept
        : hr_(::CoInitializeEx(nullptr, model)) {}
    ~ComInit() {
        if (SUCCEEDED(hr_)) ::CoUninitialize();
    }
    ComInit(const ComInit&) = delete;
    ComInit& operator=(const ComInit&) = delete;

    HRESULT result() const noexcept { return hr_; }
    bool ok() const noexcept { return SUCCEEDED(hr_) || hr_ == RPC_E_CHANGED_MODE; }

private:
    HRESULT hr_;
};

}  // namespace fw
