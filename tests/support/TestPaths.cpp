#include "tests/support/TestPaths.h"

#include <windows.h>

#include <vector>

namespace testsupport {

std::wstring TestBinDir() {
    std::vector<wchar_t> buf(32768);
    const DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    std::wstring path(buf.data(), n);
    return path.substr(0, path.find_last_of(L"\\/") + 1);
}

}  // namespace testsupport
