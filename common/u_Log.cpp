#include "common/u_Log.h"

#include "common/u_PathUtil.h"

#include <shlobj.h>

#include <cstdio>
#include <deque>

namespace {

// Lines waiting for the writer beyond this are dropped (and counted) rather than let the
// memory grow while the disk does not answer.
constexpr size_t kMaxQueuedBytes = 512 * 1024;

struct TLogState {
    CRITICAL_SECTION lock;
    HANDLE wake = nullptr;     // set when lines are queued
    HANDLE written = nullptr;  // set after each batch
    std::deque<std::string> lines;
    size_t queuedBytes = 0;
    uint64_t queued = 0;   // lines queued so far
    uint64_t done = 0;     // lines written (or given up) so far
    uint64_t dropped = 0;  // lines dropped since the last one written
    std::wstring folder;
    uint32_t limit = 0;
    bool threadStarted = false;

    TLogState() {
        InitializeCriticalSection(&lock);
        wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        written = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
};

// Never destroyed: the writer may still run while the process ends.
TLogState& State() {
    static TLogState* state = new TLogState;
    return *state;
}

class TLocked {
public:
    explicit TLocked(TLogState& S) : s_(S) { EnterCriticalSection(&s_.lock); }
    ~TLocked() { LeaveCriticalSection(&s_.lock); }
    TLocked(const TLocked&) = delete;
    TLocked& operator=(const TLocked&) = delete;

private:
    TLogState& s_;
};

std::string Utf8Of(std::wstring_view Text) {
    if (Text.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()),
                                      nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()), out.data(), n,
                            nullptr, nullptr);
    return out;
}

HANDLE OpenForAppend(const std::wstring& File) {
    return CreateFileW(ExtendedPath(File).c_str(), FILE_APPEND_DATA,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Writes one batch; the file is closed again after it, so that the user can copy, open or
// delete it at any time.
void WriteBatch(const std::wstring& Folder, uint32_t Limit, std::deque<std::string>& Batch) {
    if (Folder.empty()) return;
    CreateDirectoryW(ExtendedPath(Folder).c_str(), nullptr);
    const std::wstring file = Folder + L"Orvix.log";
    HANDLE h = OpenForAppend(file);
    if (h == INVALID_HANDLE_VALUE) return;
    LARGE_INTEGER size{};
    GetFileSizeEx(h, &size);
    uint64_t bytes = static_cast<uint64_t>(size.QuadPart);
    for (const std::string& line : Batch) {
        if (bytes > 0 && bytes + line.size() > Limit) {
            CloseHandle(h);
            MoveFileExW(ExtendedPath(file).c_str(), ExtendedPath(Folder + L"Orvix.1.log").c_str(),
                        MOVEFILE_REPLACE_EXISTING);
            h = OpenForAppend(file);
            if (h == INVALID_HANDLE_VALUE) return;
            GetFileSizeEx(h, &size);
            bytes = static_cast<uint64_t>(size.QuadPart);
        }
        DWORD put = 0;
        if (!WriteFile(h, line.data(), static_cast<DWORD>(line.size()), &put, nullptr)) break;
        bytes += put;
    }
    CloseHandle(h);
}

DWORD WINAPI Writer(void*) {
    TLogState& s = State();
    for (;;) {
        WaitForSingleObject(s.wake, INFINITE);
        std::deque<std::string> batch;
        std::wstring folder;
        uint32_t limit = 0;
        {
            TLocked l(s);
            batch.swap(s.lines);
            s.queuedBytes = 0;
            folder = s.folder;
            limit = s.limit;
        }
        WriteBatch(folder, limit, batch);
        {
            TLocked l(s);
            s.done += batch.size();
        }
        SetEvent(s.written);
    }
}

std::string TimeStamp() {
    SYSTEMTIME t{};
    GetLocalTime(&t);
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u.%03u", t.wYear, t.wMonth,
                  t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
    return text;
}

// One line, whatever the text holds.
std::string OneLine(std::string_view Text) {
    std::string out(Text);
    for (char& c : out)
        if (c == '\r' || c == '\n') c = ' ';
    return out;
}

std::wstring SystemText(HRESULT Result) {
    wchar_t* text = nullptr;
    const DWORD flags =
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM;
    DWORD n = FormatMessageW(flags, nullptr, static_cast<DWORD>(Result), 0,
                             reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    // DirectShow's own codes have their texts in its library's message table.
    if (n == 0) {
        if (HMODULE quartz = GetModuleHandleW(L"quartz.dll"))
            n = FormatMessageW((flags & ~FORMAT_MESSAGE_FROM_SYSTEM) | FORMAT_MESSAGE_FROM_HMODULE,
                               quartz, static_cast<DWORD>(Result), 0,
                               reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    }
    std::wstring out = n ? std::wstring(text, n) : std::wstring();
    if (text) LocalFree(text);
    while (!out.empty() && (out.back() == L'\n' || out.back() == L'\r' || out.back() == L' '))
        out.pop_back();
    return out;
}

}  // namespace

void OpenLog(const std::wstring& Folder, uint32_t LimitBytes) {
    TLogState& s = State();
    TLocked l(s);
    s.folder = IncludeTrailingSeparator(Folder);
    s.limit = LimitBytes;
    if (!s.threadStarted && !s.folder.empty()) {
        if (HANDLE thread = CreateThread(nullptr, 0, Writer, nullptr, 0, nullptr)) {
            CloseHandle(thread);
            s.threadStarted = true;
        }
    }
}

std::wstring DefaultLogFolder() {
    wchar_t path[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path)) ||
        !path[0])
        return {};
    return IncludeTrailingSeparator(std::wstring(path)) + L"Orvix\\";
}

void Log(std::string_view Step, std::string_view Text) {
    TLogState& s = State();
    std::string line = TimeStamp() + " " + OneLine(Step) + ": " + OneLine(Text) + "\r\n";
    {
        TLocked l(s);
        if (!s.threadStarted) return;
        if (s.queuedBytes + line.size() > kMaxQueuedBytes) {
            ++s.dropped;
            return;
        }
        if (s.dropped) {
            std::string note = TimeStamp() + " log: " + std::to_string(s.dropped) +
                               " lines dropped while the disk did not answer\r\n";
            s.dropped = 0;
            s.queuedBytes += note.size();
            s.lines.push_back(std::move(note));
            ++s.queued;
        }
        s.queuedBytes += line.size();
        s.lines.push_back(std::move(line));
        ++s.queued;
        ResetEvent(s.written);
    }
    SetEvent(s.wake);
}

std::string ToUtf8(std::wstring_view Text) { return Utf8Of(Text); }

std::string AnsiToUtf8(std::string_view Text) { return Utf8Of(AnsiToWide(Text)); }

std::string DescribeResult(HRESULT Result) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08lX", static_cast<unsigned long>(Result));
    const std::wstring text = SystemText(Result);
    return text.empty() ? std::string(hex) : std::string(hex) + " (" + Utf8Of(text) + ")";
}

void LogFailure(std::string_view Step, std::string_view Call, HRESULT Result,
                std::wstring_view Subject) {
    std::string text = std::string(Call) + " failed: " + DescribeResult(Result);
    if (!Subject.empty()) text += ", " + Utf8Of(Subject);
    Log(Step, text);
}

void FlushLog(DWORD TimeoutMs) {
    TLogState& s = State();
    const DWORD start = GetTickCount();
    for (;;) {
        {
            TLocked l(s);
            if (!s.threadStarted || s.done >= s.queued) return;
        }
        const DWORD spent = GetTickCount() - start;
        if (spent >= TimeoutMs) return;
        WaitForSingleObject(s.written, TimeoutMs - spent);
        // The event may be an earlier batch's: the counts decide.
        Sleep(1);
    }
}
