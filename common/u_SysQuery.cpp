#include "common/u_SysQuery.h"

#include "common/FolderProbe.h"
#include "common/u_GlobalDefine.h"
#include "common/u_PathUtil.h"
#include "framework/WinHandles.h"

#include <shlobj.h>

#include <cctype>
#include <cstddef>
#include <cstdio>

namespace {

// Address of SetThreadExecutionState once found, null where the system lacks it.
using SetThreadExecutionStateFn = EXECUTION_STATE(WINAPI*)(EXECUTION_STATE);
SetThreadExecutionStateFn ExecutionStateRoutine = nullptr;

// GetProcAddress hands back a generic function type; going through void(*)() keeps the
// compiler's function-cast check quiet for the real signature.
template <typename Fn>
Fn ProcAs(FARPROC Proc) {
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(Proc));
}

// Looked up at run time so that the program still starts on systems without it.
void CallExecutionState(EXECUTION_STATE Flags) {
    fw::ModuleHandle kernel(LoadLibraryA("KERNEL32.DLL"));
    if (!kernel) return;
    ExecutionStateRoutine =
        ProcAs<SetThreadExecutionStateFn>(GetProcAddress(kernel.get(), "SetThreadExecutionState"));
    if (ExecutionStateRoutine) ExecutionStateRoutine(Flags);
}

int32_t TextWidth(HDC Dc, const std::wstring& Text) {
    SIZE size{};
    if (Text.empty() || Text.size() > static_cast<size_t>(INT_MAX) ||
        !GetTextExtentPoint32W(Dc, Text.data(), static_cast<int>(Text.size()), &size))
        return 0;
    return size.cx;
}

}  // namespace

std::string OSNameFromVersion(uint32_t PlatformId, uint32_t Major, uint32_t Minor) {
    switch (PlatformId) {
        case VER_PLATFORM_WIN32s:
            return "WIN32S";
        case VER_PLATFORM_WIN32_WINDOWS:
            if (Major == 4 && Minor == 0) return "WIN95";
            if (Major == 4 && Minor == 10) return "Windows 98";
            if (Major == 4 && Minor == 90) return "WINME";
            return "WIN9x";
        case VER_PLATFORM_WIN32_NT:
            if (Major == 5 && Minor == 0) return "Windows 2000";
            if (Major == 5 && Minor == 1) return "Windows XP";
            if (Major == 5 && Minor == 2) return "Windows Server2003";
            if (Major == 6) return "Vista";
            return "WINNT";
        default:
            return std::to_string(PlatformId);
    }
}

std::string GetOSName() {
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof(info);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!GetVersionExA(&info)) return OSNameFromVersion(0xFFFFFFFFu, 0, 0);
#pragma GCC diagnostic pop
    return OSNameFromVersion(info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion);
}

void ResolveDocumentsFolder(const std::string& ShellPath, bool Vista, std::string& Folder) {
    if (ShellPath.empty()) return;
    std::string path = ShellPath;
    if (Vista) {
        // Users' profile folder on those systems: cut before the last separator.
        std::string trimmed = path;
        while (trimmed.size() > 3 && trimmed.back() == '\\') trimmed.pop_back();
        const size_t cut = trimmed.find_last_of('\\');
        if (cut != std::string::npos) path = trimmed.substr(0, cut);
    }
    if (path.empty() || path.back() != '\\') path += '\\';
    if (DirectoryExists(std::string_view(path))) Folder = path;
}

void GetDocumentsFolder(std::string& Folder) {
    LPITEMIDLIST item = nullptr;
    if (FAILED(SHGetSpecialFolderLocation(nullptr, CSIDL_PERSONAL, &item)) || !item) return;
    char buffer[MAX_PATH] = {};
    const BOOL ok = SHGetPathFromIDListA(item, buffer);
    CoTaskMemFree(item);
    if (ok) ResolveDocumentsFolder(buffer, IsVista, Folder);
}

namespace {

// Free bytes for the calling user of the volume that holds Root, -1 on any failure, with
// no "insert a disk" box for an empty removable drive.
int64_t FreeBytesWithoutErrorBox(const wchar_t* Root) {
    TNoCriticalErrorBoxes quiet;
    ULARGE_INTEGER available{};
    if (!GetDiskFreeSpaceExW(Root, &available, nullptr, nullptr) ||
        available.QuadPart > static_cast<ULONGLONG>(INT64_MAX))
        return -1;
    return static_cast<int64_t>(available.QuadPart);
}

}  // namespace

int64_t GetDriveFreeBytes(char Letter) {
    const int upper = std::toupper(static_cast<unsigned char>(Letter));
    if (upper < 'A' || upper > 'Z') return -1;
    const wchar_t root[] = {static_cast<wchar_t>(upper), L':', L'\\', L'\0'};
    return FreeBytesWithoutErrorBox(root);
}

int64_t GetFolderFreeBytes(const std::wstring& Folder) {
    if (Folder.empty()) return -1;
    return FreeBytesWithoutErrorBox(Folder.c_str());
}

std::string SecondsToTimeText(uint32_t Seconds) {
    char text[32];
    std::snprintf(text, sizeof(text), "%.2u:%.2u:%.2u", Seconds / 3600, (Seconds / 60) % 60,
                  Seconds % 60);
    return text;
}

void SetKeepAwake() {
    CallExecutionState(ES_CONTINUOUS | ES_DISPLAY_REQUIRED | ES_SYSTEM_REQUIRED);
}

void ClearKeepAwake() { CallExecutionState(ES_CONTINUOUS); }

bool ThemeActive() {
    if (!IsVista && !IsWindowsXP) return false;
    fw::ModuleHandle theme(LoadLibraryA("uxtheme.dll"));
    if (!theme) return false;
    using IsThemeActiveFn = BOOL(WINAPI*)();
    auto isThemeActive = ProcAs<IsThemeActiveFn>(GetProcAddress(theme.get(), "IsThemeActive"));
    return isThemeActive && isThemeActive() != FALSE;
}

TMonitorAreas SystemMonitorAreas(const RECT& Bounds) {
    TMonitorAreas areas;
    MONITORINFO info{};
    info.cbSize = sizeof(info);
    if (GetMonitorInfoW(MonitorFromRect(&Bounds, MONITOR_DEFAULTTONEAREST), &info)) {
        areas.Monitor = info.rcMonitor;
        areas.Work = info.rcWork;
    } else {
        // Without an answer: the primary monitor, as systems with one monitor have it.
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &areas.Work, 0);
        areas.Monitor = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    }
    return areas;
}

TMonitorAreas (*MonitorAreasAt)(const RECT& Bounds) = &SystemMonitorAreas;

int32_t CaptionTextAreaFrom(int32_t ClientWidth, int32_t ButtonWidth, int32_t EdgeWidth, bool Vista,
                            bool WindowsXP, bool Themed, int32_t ButtonsWidth) {
    const int32_t W = ClientWidth, B = ButtonWidth, E = EdgeWidth;
    if (Vista && Themed) return W - ButtonsWidth - 20;
    if (Vista) return W - 3 * (B - 2) - 2;
    if (WindowsXP && Themed) return W - 3 * (B - 4) - 4 - 2 * E;
    if (WindowsXP) return W - 3 * (B - 2) - 2;
    return W - 3 * (B - 2) - 2 - 2 * E;
}

int32_t GetCaptionTextArea(HWND Window) {
    RECT client{};
    GetClientRect(Window, &client);
    const bool themed = ThemeActive();
    int32_t buttons = 0;
    if (IsVista && themed) {
        TITLEBARINFOEX info{};
        info.cbSize = sizeof(info);
        SendMessageW(Window, WM_GETTITLEBARINFOEX, 0, reinterpret_cast<LPARAM>(&info));
        for (int i : {2, 3, 5}) buttons += info.rgrect[i].right - info.rgrect[i].left;
    }
    return CaptionTextAreaFrom(client.right - client.left, GetSystemMetrics(SM_CXSIZE),
                               GetSystemMetrics(SM_CXEDGE), IsVista, IsWindowsXP, themed, buttons);
}

int32_t CaptionBlankCount(int32_t Gap, int32_t BlankWidth) {
    // A blank that measured nothing would divide by zero; treat it as a narrow gap.
    if (Gap < BlankWidth || BlankWidth <= 0) return 1;
    int32_t n = Gap / BlankWidth - 2;
    if (BlankWidth < 4) n -= n / 10;
    return n > 0 ? n : 0;
}

std::wstring ComposeCaption(HWND Window, const std::wstring& Left, const std::wstring& Right) {
    if (!Window) return {};
    fw::ScopedGetDC dc(Window, fw::ScopedGetDC::Area::WholeWindow);
    // The size before iPaddedBorderWidth is the one every system accepts.
    NONCLIENTMETRICSA metrics{};
    metrics.cbSize = offsetof(NONCLIENTMETRICSA, iPaddedBorderWidth);
    fw::FontHandle font;
    if (SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, metrics.cbSize, &metrics, 0))
        font.reset(CreateFontIndirectA(&metrics.lfCaptionFont));
    fw::ScopedSelectObject selection(dc, font.get());

    const int32_t L = TextWidth(dc, Left);
    const int32_t R = TextWidth(dc, Right);
    const int32_t S = TextWidth(dc, L" ");
    const int32_t D = GetCaptionTextArea(Window) - L - R - GetSystemMetrics(SM_CXSMICON);
    return Left + std::wstring(static_cast<size_t>(CaptionBlankCount(D, S)), L' ') + Right;
}
