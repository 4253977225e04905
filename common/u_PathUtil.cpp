#include "common/u_PathUtil.h"

#include "common/FolderProbe.h"

#include <vector>

std::wstring AnsiToWide(std::string_view Text, UINT CodePage) {
    if (Text.empty() || Text.size() > static_cast<size_t>(INT_MAX)) return {};
    const int len = static_cast<int>(Text.size());
    const int n = MultiByteToWideChar(CodePage, 0, Text.data(), len, nullptr, 0);
    if (n <= 0) return {};
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CodePage, 0, Text.data(), len, out.data(), n);
    return out;
}

std::string WideToAnsi(std::wstring_view Text, UINT CodePage) {
    if (Text.empty() || Text.size() > static_cast<size_t>(INT_MAX)) return {};
    const int len = static_cast<int>(Text.size());
    const int n = WideCharToMultiByte(CodePage, 0, Text.data(), len, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CodePage, 0, Text.data(), len, out.data(), n, nullptr, nullptr);
    return out;
}

std::wstring ExtendedPath(std::wstring_view Path) {
    // CreateDirectory refuses names longer than MAX_PATH - 12, so use that as the limit
    // for every kind of call.
    if (Path.size() < MAX_PATH - 12 || Path.starts_with(L"\\\\?\\")) return std::wstring(Path);
    const std::wstring in(Path);
    // GetFullPathNameW has no MAX_PATH limit; it also turns "/" into "\" and resolves
    // "." and "..", which the "\\?\" form would take literally.
    DWORD need = GetFullPathNameW(in.c_str(), 0, nullptr, nullptr);
    if (need == 0) return in;
    std::wstring full(need, L'\0');
    DWORD got = GetFullPathNameW(in.c_str(), need, full.data(), nullptr);
    if (got == 0 || got >= need) return in;
    full.resize(got);
    if (full.starts_with(L"\\\\?\\") || full.starts_with(L"\\\\.\\")) return full;
    if (full.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

static DWORD Attributes(std::wstring_view Path) {
    if (Path.empty()) return INVALID_FILE_ATTRIBUTES;
    // A typed folder may be on a drive without its medium: a failure, not the system's box.
    TNoCriticalErrorBoxes quiet;
    return GetFileAttributesW(ExtendedPath(Path).c_str());
}

bool DirectoryExists(std::wstring_view Path) {
    const DWORD a = Attributes(Path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool DirectoryExists(std::string_view Path) { return DirectoryExists(AnsiToWide(Path)); }

bool FileExists(std::wstring_view Path) {
    const DWORD a = Attributes(Path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool FileExists(std::string_view Path) { return FileExists(AnsiToWide(Path)); }

std::string IncludeTrailingSeparator(std::string Path) {
    if (!Path.empty() && Path.back() != '\\' && Path.back() != '/') Path += '\\';
    return Path;
}

std::wstring IncludeTrailingSeparator(std::wstring Path) {
    if (!Path.empty() && Path.back() != L'\\' && Path.back() != L'/') Path += L'\\';
    return Path;
}

std::wstring GetProgramFolderW() {
    std::vector<wchar_t> buf(MAX_PATH);
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
        if (n == 0) return {};
        if (n < buf.size()) {
            std::wstring path(buf.data(), n);
            const size_t cut = path.find_last_of(L"\\/");
            path.resize(cut == std::wstring::npos ? 0 : cut + 1);
            return path;
        }
        if (buf.size() >= 32768) return {};
        buf.resize(buf.size() * 2);
    }
}

std::string GetProgramFolder() { return WideToAnsi(GetProgramFolderW()); }
