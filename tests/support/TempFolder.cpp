#include "tests/support/TempFolder.h"

#include "common/u_PathUtil.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <iterator>

namespace testsupport {

namespace {

std::atomic<unsigned> counter{0};

}  // namespace

TempFolder::TempFolder(const std::wstring& prefix) {
    wchar_t tmp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, tmp);
    path_ = std::wstring(tmp) + prefix + L"_" + std::to_wstring(::GetCurrentProcessId()) + L"_" +
            std::to_wstring(++counter) + L"\\";
    RemoveTree(path_);
    ::CreateDirectoryW(path_.c_str(), nullptr);
}

TempFolder::~TempFolder() { RemoveTree(path_); }

std::string TempFolder::AnsiPath() const { return WideToAnsi(path_); }

std::wstring TempFolder::MakeFolder(const std::wstring& relative) const {
    const std::wstring full = path_ + relative;
    for (size_t i = path_.size(); i <= full.size(); ++i)
        if (i == full.size() || full[i] == L'\\')
            ::CreateDirectoryW(ExtendedPath(full.substr(0, i)).c_str(), nullptr);
    return full;
}

std::string TempFolder::MakeFolder(const std::string& relative) const {
    return WideToAnsi(MakeFolder(AnsiToWide(relative)));
}

void TempFolder::Touch(const std::wstring& name) const {
    HANDLE h = ::CreateFileW((path_ + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return;
    DWORD n = 0;
    ::WriteFile(h, "x", 1, &n, nullptr);
    ::CloseHandle(h);
}

bool TempFolder::Has(const std::wstring& name) const {
    return ::GetFileAttributesW((path_ + name).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<std::wstring> TempFolder::Names() const { return FolderNames(path_); }

std::vector<std::wstring> FolderNames(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW fd;
    HANDLE h = ::FindFirstFileW((folder + L"*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return names;
    do {
        const std::wstring n = fd.cFileName;
        if (n != L"." && n != L"..") names.push_back(n);
    } while (::FindNextFileW(h, &fd));
    ::FindClose(h);
    std::sort(names.begin(), names.end());
    return names;
}

void RemoveTree(const std::wstring& folder) {
    std::wstring dir = folder;
    if (!dir.empty() && dir.back() != L'\\') dir += L'\\';
    ::SetFileAttributesW(ExtendedPath(dir).c_str(), FILE_ATTRIBUTE_NORMAL);
    WIN32_FIND_DATAW fd;
    HANDLE h = ::FindFirstFileW(ExtendedPath(dir + L"*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring n = fd.cFileName;
            if (n == L"." || n == L"..") continue;
            const std::wstring full = dir + n;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(full);
            } else {
                ::SetFileAttributesW(ExtendedPath(full).c_str(), FILE_ATTRIBUTE_NORMAL);
                ::DeleteFileW(ExtendedPath(full).c_str());
            }
        } while (::FindNextFileW(h, &fd));
        ::FindClose(h);
    }
    ::RemoveDirectoryW(ExtendedPath(dir).c_str());
}

std::string FileBytes(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace testsupport
