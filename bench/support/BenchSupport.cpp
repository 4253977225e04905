#include "bench/support/BenchSupport.h"

#include "capture/GDirectCapPin2.h"
#include "framework/Form.h"
#include "framework/WinHandles.h"
#include "standins/vcam/VCamConfig.h"

#include <psapi.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace bench {

double Now() {
    static const double freq = [] {
        LARGE_INTEGER f;
        ::QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart);
    }();
    LARGE_INTEGER c;
    ::QueryPerformanceCounter(&c);
    return static_cast<double>(c.QuadPart) * 1000.0 / freq;
}

double Percentile(std::vector<double> Values, double P) {
    if (Values.empty()) return -1;
    std::sort(Values.begin(), Values.end());
    const size_t i = static_cast<size_t>(P * static_cast<double>(Values.size() - 1) + 0.5);
    return Values[std::min(i, Values.size() - 1)];
}

std::string Format(const char* Fmt, ...) {
    char buffer[512];
    va_list args;
    va_start(args, Fmt);
    std::vsnprintf(buffer, sizeof(buffer), Fmt, args);
    va_end(args);
    return buffer;
}

void Goal(const std::string& What, const std::string& Figures, const std::string& GoalText,
          bool Met) {
    std::printf("%s: %s (goal %s) %s\n", What.c_str(), Figures.c_str(), GoalText.c_str(),
                Met ? "MET" : "MISSED");
    std::fflush(stdout);
}

bool RatioGoal(const char* What, double Ms, const char* Baseline, double BaseMs, double Most) {
    const double ratio = BaseMs > 0 ? Ms / BaseMs : 0;
    const bool met = ratio > 0 && ratio <= Most;
    Goal(What, Format("%.3f ms, %s %.3f ms, ratio %.3f", Ms, Baseline, BaseMs, ratio),
         Format("<= %.2f", Most), met);
    return met;
}

ControlOnForm NewControlOnForm(fw::Application& App, int Width, int Height) {
    fw::Form* form = fw::NewForm<fw::Form>(&App);
    form->SetClientSize(Width + 20, Height + 20);
    auto* cap = new TGDirectCapPin2(form);
    cap->SetParent(form);
    cap->SetBounds(0, 0, Width, Height);
    form->Show();
    App.ProcessMessages();
    return {form, cap};
}

bool PumpUntil(fw::Application& App, const std::function<bool()>& Pred, double TimeoutMs) {
    const double start = Now();
    for (;;) {
        App.ProcessMessages();
        if (Pred()) return true;
        if (Now() - start >= TimeoutMs) return false;
        ::MsgWaitForMultipleObjectsEx(0, nullptr, 1, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
}

DWORD FramesProduced() {
    DWORD v = 0, size = sizeof(v);
    if (::RegGetValueW(HKEY_CURRENT_USER, vcam::kConfigKey, vcam::kValueFramesProduced,
                       RRF_RT_REG_DWORD, nullptr, &v, &size) != ERROR_SUCCESS)
        return 0;
    return v;
}

namespace {

int IndexOf(const std::vector<std::string>& Names, const wchar_t* Name) {
    std::string want;
    for (const wchar_t* p = Name; *p; ++p) want.push_back(static_cast<char>(*p));
    for (size_t i = 0; i < Names.size(); ++i) {
        if (Names[i] == want) return static_cast<int>(i);
    }
    return -1;
}

}  // namespace

int CameraIndex(TGDirectCapPin2& Cap) {
    return IndexOf(Cap.VideoDeviceNames(false), vcam::kCameraName);
}

int MicrophoneIndex(TGDirectCapPin2& Cap) {
    return IndexOf(Cap.AudioDeviceNames(false), vcam::kMicrophoneName);
}

double ProcessCpuMs() {
    FILETIME c, e, k, u;
    ::GetProcessTimes(::GetCurrentProcess(), &c, &e, &k, &u);
    const auto v = [](FILETIME f) {
        return static_cast<double>((static_cast<ULONGLONG>(f.dwHighDateTime) << 32) |
                                   f.dwLowDateTime);
    };
    return (v(k) + v(u)) / 10000.0;
}

bool PrivateBytes(size_t& Bytes) {
    PROCESS_MEMORY_COUNTERS_EX pmc{};
    pmc.cb = sizeof(pmc);
    if (!::GetProcessMemoryInfo(::GetCurrentProcess(),
                                reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&pmc), sizeof(pmc)))
        return false;
    // The commit charge is the process's private memory: Windows gives it twice, Wine only
    // as the page-file use.
    Bytes = pmc.PrivateUsage ? pmc.PrivateUsage : pmc.PagefileUsage;
    return Bytes != 0;
}

namespace {

// One entry of the system's handle list (information class 16).
struct HandleEntry {
    ULONG ProcessId;
    BYTE ObjectType;
    BYTE Flags;
    USHORT Value;
    PVOID Object;
    ACCESS_MASK Access;
};

struct HandleList {
    ULONG Count;
    HandleEntry Handles[1];
};

using NtQuerySystemInformationFn = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);

// The system's handle list, or an empty buffer when it cannot be had.
std::vector<uint8_t> SystemHandleList() {
    const auto query = reinterpret_cast<NtQuerySystemInformationFn>(reinterpret_cast<void (*)()>(
        ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    if (!query) return {};
    constexpr LONG kLengthMismatch = static_cast<LONG>(0xC0000004);
    std::vector<uint8_t> buffer(1 << 16);
    for (int i = 0; i < 12; ++i) {
        ULONG needed = 0;
        const LONG status =
            query(16, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
        if (status == kLengthMismatch) {
            buffer.resize(std::max<size_t>(buffer.size() * 2, needed + 4096));
            continue;
        }
        if (status < 0) return {};
        return buffer;
    }
    return {};
}

// The process's entries in the system's handle list, or -1 when it cannot be had.
long HandlesInSystemList() {
    const std::vector<uint8_t> buffer = SystemHandleList();
    if (buffer.empty()) return -1;
    const auto* list = reinterpret_cast<const HandleList*>(buffer.data());
    const DWORD self = ::GetCurrentProcessId();
    long count = 0;
    for (ULONG h = 0; h < list->Count; ++h) count += list->Handles[h].ProcessId == self;
    return count;
}

}  // namespace

bool HandleCount(DWORD& Count, const char*& Source) {
    Count = 0;
    // A process always holds some handles: zero is a platform that does not count them.
    Source = "handle count";
    if (::GetProcessHandleCount(::GetCurrentProcess(), &Count) && Count > 0) return true;
    Source = "system handle list";
    const long listed = HandlesInSystemList();
    if (listed <= 0) return false;
    Count = static_cast<DWORD>(listed);
    return true;
}

HandleCensus CountHandles() {
    HandleCensus census;
    // One handle of each kind to be named, held while the list is taken.
    HKEY key = nullptr;
    ::RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_READ, &key);
    const fw::RegKey keyHolder(key);
    const fw::Handle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    const fw::Handle semaphore(::CreateSemaphoreW(nullptr, 0, 1, nullptr));
    const fw::Handle mutex(::CreateMutexW(nullptr, FALSE, nullptr));
    HANDLE thread = nullptr;
    ::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(), ::GetCurrentProcess(), &thread,
                      0, FALSE, DUPLICATE_SAME_ACCESS);
    const fw::Handle threadHolder(thread);
    wchar_t self[MAX_PATH];
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    const fw::Handle file(::CreateFileW(self, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, 0, nullptr));
    const std::pair<HANDLE, const char*> probes[] = {
        {reinterpret_cast<HANDLE>(key), "registry key"}, {event.get(), "event"},
        {semaphore.get(), "semaphore"}, {mutex.get(), "mutex"},
        {threadHolder.get(), "thread"}, {file.get(), "file"}};

    const std::vector<uint8_t> buffer = SystemHandleList();
    if (buffer.empty() || !key) return census;
    const auto* list = reinterpret_cast<const HandleList*>(buffer.data());
    const DWORD pid = ::GetCurrentProcessId();
    std::map<int, std::string> names;
    std::vector<std::string> probesSeen;
    for (ULONG h = 0; h < list->Count; ++h) {
        const HandleEntry& e = list->Handles[h];
        if (e.ProcessId != pid) continue;
        for (const auto& [handle, name] : probes) {
            if (handle && e.Value == static_cast<USHORT>(reinterpret_cast<uintptr_t>(handle))) {
                names[e.ObjectType] = name;
                probesSeen.push_back(name);
            }
        }
    }
    const int keyType = [&] {
        for (const auto& [type, name] : names) {
            if (name == "registry key") return type;
        }
        return -1;
    }();
    for (ULONG h = 0; h < list->Count; ++h) {
        const HandleEntry& e = list->Handles[h];
        if (e.ProcessId != pid) continue;
        ++census.Total;
        if (e.ObjectType == keyType) ++census.Keys;
        const auto named = names.find(e.ObjectType);
        ++census.ByType[named != names.end() ? named->second
                                             : Format("type %d", e.ObjectType)];
    }
    // The probes themselves are not the process's.
    for (const std::string& name : probesSeen) {
        --census.Total;
        --census.ByType[name];
        if (name == "registry key") --census.Keys;
    }
    census.Ok = keyType >= 0;
    return census;
}

std::string HandleCensus::Text() const {
    std::string text;
    for (const auto& [name, count] : ByType) {
        if (!text.empty()) text += ", ";
        text += Format("%s %lu", name.c_str(), static_cast<unsigned long>(count));
    }
    return text;
}

bool ResidentAnonymousKb(size_t& Kb) {
    const fw::Handle file(::CreateFileW(L"Z:\\proc\\self\\status", GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                        0, nullptr));
    if (!file) return false;
    // The file has no size to ask for: read until its end.
    std::string text;
    char chunk[4096];
    DWORD got = 0;
    while (::ReadFile(file.get(), chunk, sizeof(chunk), &got, nullptr) && got > 0)
        text.append(chunk, got);
    const size_t at = text.find("RssAnon:");
    if (at == std::string::npos) return false;
    Kb = std::strtoull(text.c_str() + at + 8, nullptr, 10);
    return true;
}

std::wstring NewTempFolder(const wchar_t* Name) {
    wchar_t tmp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, tmp);
    const std::wstring dir =
        std::wstring(tmp) + Name + L"_" + std::to_wstring(::GetCurrentProcessId()) + L"\\";
    RemoveFolder(dir);
    ::CreateDirectoryW(dir.c_str(), nullptr);
    return dir;
}

void RemoveFolder(const std::wstring& Folder) {
    WIN32_FIND_DATAW fd;
    HANDLE h = ::FindFirstFileW((Folder + L"*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                ::DeleteFileW((Folder + fd.cFileName).c_str());
        } while (::FindNextFileW(h, &fd));
        ::FindClose(h);
    }
    ::RemoveDirectoryW(Folder.c_str());
}

}  // namespace bench
