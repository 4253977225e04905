#include "CommonTestSupport.h"

#include "common/u_PathUtil.h"

#include <gtest/gtest.h>

std::vector<uint8_t> ReadBytes(const std::wstring& Path) {
    std::vector<uint8_t> bytes;
    HANDLE file =
        CreateFileW(ExtendedPath(Path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return bytes;
    LARGE_INTEGER size{};
    GetFileSizeEx(file, &size);
    bytes.resize(static_cast<size_t>(size.QuadPart));
    DWORD got = 0;
    if (!bytes.empty())
        ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
    bytes.resize(got);
    CloseHandle(file);
    return bytes;
}

void WriteBytes(const std::wstring& Path, const std::vector<uint8_t>& Bytes) {
    HANDLE file = CreateFileW(ExtendedPath(Path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << "cannot create the test file";
    DWORD written = 0;
    if (!Bytes.empty())
        WriteFile(file, Bytes.data(), static_cast<DWORD>(Bytes.size()), &written, nullptr);
    CloseHandle(file);
    ASSERT_EQ(written, Bytes.size());
}

void WriteText(const std::string& Path, const std::string& Bytes) {
    WriteBytes(AnsiToWide(Path), std::vector<uint8_t>(Bytes.begin(), Bytes.end()));
}

bool PathExists(const std::wstring& Path) {
    return GetFileAttributesW(ExtendedPath(Path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<uint8_t> Utf16LE(const std::wstring& Text, bool Marker) {
    std::vector<uint8_t> out;
    if (Marker) out = {0xFF, 0xFE};
    for (wchar_t c : Text) {
        out.push_back(static_cast<uint8_t>(c & 0xFF));
        out.push_back(static_cast<uint8_t>(c >> 8));
    }
    return out;
}

std::vector<uint8_t> Utf16BE(const std::wstring& Text, bool Marker) {
    std::vector<uint8_t> out;
    if (Marker) out = {0xFE, 0xFF};
    for (wchar_t c : Text) {
        out.push_back(static_cast<uint8_t>(c >> 8));
        out.push_back(static_cast<uint8_t>(c & 0xFF));
    }
    return out;
}

std::vector<uint8_t> Utf8(const std::wstring& Text, bool Marker) {
    std::vector<uint8_t> out;
    if (Marker) out = {0xEF, 0xBB, 0xBF};
    const std::string bytes = WideToAnsi(Text, CP_UTF8);
    out.insert(out.end(), bytes.begin(), bytes.end());
    return out;
}

std::vector<uint8_t> Ansi(const std::wstring& Text, UINT CodePage) {
    const std::string bytes = WideToAnsi(Text, CodePage);
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}
