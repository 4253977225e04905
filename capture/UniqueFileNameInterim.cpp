// Interim until the snapshot module's UniqueFileName arrives: folder + base + the smallest
// free number from 0 + extension, folders created.
#include <windows.h>
#include <shlobj.h>

#include <string>

std::wstring UniqueFileName(const std::wstring& Template) {
    const size_t slash = Template.find_last_of(L"\\/");
    std::wstring folder = slash == std::wstring::npos ? L"" : Template.substr(0, slash + 1);
    const std::wstring name = slash == std::wstring::npos ? Template : Template.substr(slash + 1);
    const size_t dot = name.find_last_of(L'.');
    const std::wstring base = dot == std::wstring::npos ? name : name.substr(0, dot);
    const std::wstring ext = dot == std::wstring::npos ? L"" : name.substr(dot);
    if (!folder.empty()) {
        ::SHCreateDirectoryExW(nullptr, folder.substr(0, folder.size() - 1).c_str(), nullptr);
    } else {
        wchar_t exe[MAX_PATH];
        const DWORD n = ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
        folder.assign(exe, n);
        folder.erase(folder.find_last_of(L"\\/") + 1);
    }
    for (unsigned n = 0;; ++n) {
        std::wstring candidate = folder + base + std::to_wstring(n) + ext;
        if (::GetFileAttributesW(candidate.c_str()) == INVALID_FILE_ATTRIBUTES) return candidate;
    }
}
