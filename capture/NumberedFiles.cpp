#include "capture/NumberedFiles.h"

#include "common/FolderProbe.h"
#include "common/u_PathUtil.h"

#include <cwctype>
#include <vector>

namespace {

bool IsSeparator(wchar_t C) { return C == L'\\' || C == L'/' || C == L':'; }

// Creates Folder and every missing parent. Failures are left to the file creation that
// follows, which reports them.
void ForceFolder(const std::wstring& Folder) {
    std::wstring path = Folder;
    while (!path.empty() && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
    if (path.empty()) return;
    for (size_t i = 0; i <= path.size(); ++i) {
        if (i < path.size() && path[i] != L'\\' && path[i] != L'/') continue;
        const std::wstring prefix = path.substr(0, i);
        // A drive or server part cannot be made and fails harmlessly.
        if (prefix.empty() || prefix.back() == L'\\' || prefix.back() == L'/') continue;
        ::CreateDirectoryW(ExtendedPath(prefix).c_str(), nullptr);
    }
}

wchar_t Fold(wchar_t C) {
    if (C < 0x80) return (C >= L'a' && C <= L'z') ? static_cast<wchar_t>(C - 32) : C;
    return static_cast<wchar_t>(std::towupper(C));
}

bool SameIgnoringCase(const wchar_t* A, const wchar_t* B, size_t N) {
    for (size_t i = 0; i < N; ++i) {
        if (A[i] != B[i] && Fold(A[i]) != Fold(B[i])) return false;
    }
    return true;
}

// Numbers already used in the folder: Taken[n] for n up to the count of listed names,
// enough to hold the smallest free one (n names cannot take more than n numbers). False,
// with the system's error, when the folder cannot be listed: a failed look is no proof
// that a name is free.
bool TakenNumbers(const TFileNameParts& P, std::vector<bool>& Taken, DWORD& Error) {
    Taken.clear();
    // A drive without its medium answers with a failure, not with the system's box.
    TNoCriticalErrorBoxes quiet;
    const std::wstring pattern = ExtendedPath(P.Folder + P.Base + L"*" + P.Ext);
    WIN32_FIND_DATAW fd;
    fw::FindHandle find = FindFirstEntry(pattern, FindExSearchNameMatch, fd, Error);
    if (!find) {
        if (Error == ERROR_PATH_NOT_FOUND) {
            // The folder is made on first use; listing first saves a look on every other
            // one. Whether it could be made shows when the file is created.
            ForceFolder(P.Folder);
        } else if (Error != ERROR_FILE_NOT_FOUND && Error != ERROR_NO_MORE_FILES) {
            return false;
        }
        Error = ERROR_SUCCESS;
        Taken.assign(1, false);
        return true;
    }
    std::vector<unsigned> numbers;
    const size_t fixed = P.Base.size() + P.Ext.size();
    do {
        const wchar_t* name = fd.cFileName;
        const size_t len = wcsnlen(name, MAX_PATH);
        // The pattern also matches through short names and longer extensions: keep only
        // base + decimal number without leading zeros + extension.
        if (len <= fixed || len - fixed > 9) continue;
        const wchar_t* digits = name + P.Base.size();
        const size_t count = len - fixed;
        if (count > 1 && digits[0] == L'0') continue;
        unsigned value = 0;
        bool ok = true;
        for (size_t i = 0; i < count && ok; ++i) {
            ok = digits[i] >= L'0' && digits[i] <= L'9';
            value = value * 10 + static_cast<unsigned>(digits[i] - L'0');
        }
        if (!ok || !SameIgnoringCase(name, P.Base.c_str(), P.Base.size()) ||
            !SameIgnoringCase(digits + count, P.Ext.c_str(), P.Ext.size()))
            continue;
        numbers.push_back(value);
    } while (::FindNextFileW(find.get(), &fd));
    Taken.assign(numbers.size() + 1, false);
    for (unsigned n : numbers) {
        if (n < Taken.size()) Taken[n] = true;
    }
    return true;
}

size_t NextFree(const std::vector<bool>& Taken, size_t From) {
    size_t n = From;
    while (n < Taken.size() && Taken[n]) ++n;
    return n;
}

std::wstring Numbered(const TFileNameParts& P, size_t N) {
    return P.Folder + P.Base + std::to_wstring(N) + P.Ext;
}

TFileNameParts PrepareFolder(const std::wstring& Template) {
    TFileNameParts p = SplitFileTemplate(Template);
    if (p.Folder.empty()) p.Folder = GetProgramFolderW();
    return p;
}

}  // namespace

TFileNameParts SplitFileTemplate(const std::wstring& Template) {
    TFileNameParts p;
    size_t nameStart = 0;
    for (size_t i = Template.size(); i > 0; --i) {
        if (IsSeparator(Template[i - 1])) {
            nameStart = i;
            break;
        }
    }
    p.Folder = Template.substr(0, nameStart);
    const std::wstring name = Template.substr(nameStart);
    const size_t dot = name.rfind(L'.');
    if (dot == std::wstring::npos) {
        p.Base = name;
    } else {
        p.Base = name.substr(0, dot);
        p.Ext = name.substr(dot);
    }
    return p;
}

std::wstring UniqueFileName(const std::wstring& Template) {
    const TFileNameParts p = PrepareFolder(Template);
    std::vector<bool> taken;
    DWORD error = ERROR_SUCCESS;
    if (!TakenNumbers(p, taken, error)) return {};
    return Numbered(p, NextFree(taken, 0));
}

TNumberedFileSearch::TNumberedFileSearch(const std::wstring& Template, bool Pooled)
    : parts_(PrepareFolder(Template)) {
    if (Pooled) {
        pending_ = true;  // before the queueing: the pooled thread may end at once
        if (::QueueUserWorkItem(&ListOnPool, this, WT_EXECUTEDEFAULT)) return;
        pending_ = false;
    }
    // Without a pooled thread the listing runs here.
    List();
}

TNumberedFileSearch::~TNumberedFileSearch() { Wait(); }

DWORD WINAPI TNumberedFileSearch::ListOnPool(void* Self) {
    auto* search = static_cast<TNumberedFileSearch*>(Self);
    search->List();
    // The last touch of the search: its owner may go as soon as it sees this.
    search->pending_.store(false, std::memory_order_release);
    return 0;
}

void TNumberedFileSearch::List() {
    try {
        listed_ = TakenNumbers(parts_, taken_, error_);
    } catch (...) {  // out of memory for the numbers: a failed look proves nothing
        listed_ = false;
        error_ = ERROR_NOT_ENOUGH_MEMORY;
    }
}

void TNumberedFileSearch::Wait() {
    // The listing mostly ends before the picture is encoded; a slow folder (a network
    // share) is waited for without a kernel object made for every picture.
    // A few milliseconds are given up in slices (a sleep would round up to a whole tick).
    const DWORD start = ::GetTickCount();
    while (pending_.load(std::memory_order_acquire)) {
        if (::GetTickCount() - start < 5)
            ::SwitchToThread();
        else
            ::Sleep(1);
    }
}

fw::Handle TNumberedFileSearch::Create(std::wstring& FileName, DWORD& Error) {
    Wait();
    FileName.clear();
    Error = error_;
    if (!listed_) return {};
    listed_ = false;  // once
    size_t n = NextFree(taken_, 0);
    // Another writer can only take so many names between our tries.
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const std::wstring name = Numbered(parts_, n);
        fw::Handle file(::CreateFileW(ExtendedPath(name).c_str(), GENERIC_WRITE, 0, nullptr,
                                      CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file) {
            FileName = name;
            Error = ERROR_SUCCESS;
            return file;
        }
        Error = ::GetLastError();
        if (Error != ERROR_FILE_EXISTS && Error != ERROR_ALREADY_EXISTS) return {};
        n = NextFree(taken_, n + 1);
    }
    return {};
}

fw::Handle CreateUniqueFile(const std::wstring& Template, std::wstring& FileName, DWORD& Error) {
    TNumberedFileSearch search(Template, false);
    return search.Create(FileName, Error);
}

std::wstring WriteNumberedFile(TNumberedFileSearch& Search, const uint8_t* Data, size_t Size,
                               DWORD& Error) {
    std::wstring name;
    fw::Handle file = Search.Create(name, Error);
    if (!file) return {};
    const uint8_t* p = Data;
    size_t left = Size;
    bool ok = true;
    while (ok && left > 0) {
        const DWORD chunk = static_cast<DWORD>(left < (1u << 30) ? left : (1u << 30));
        DWORD written = 0;
        ok = ::WriteFile(file.get(), p, chunk, &written, nullptr) && written == chunk;
        if (!ok) Error = ::GetLastError();
        p += written;
        left -= written;
    }
    // A full disk may only show when the cached data reaches it at close.
    if (!::CloseHandle(file.release()) && ok) {
        ok = false;
        Error = ::GetLastError();
    }
    if (ok) return name;
    if (Error == ERROR_SUCCESS) Error = ERROR_WRITE_FAULT;
    ::DeleteFileW(ExtendedPath(name).c_str());
    return {};
}
