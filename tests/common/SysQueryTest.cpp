// System queries: version table, documents folder, free space, time text, keep-awake,
// caption arithmetic, and the language code that a locale gives.
#include "CommonTestSupport.h"

#include "common/u_GlobalDefine.h"
#include "common/u_PathUtil.h"
#include "common/u_ResourceLib.h"
#include "common/u_SysQuery.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <map>

TEST(SystemQueries, OSNameTable) {
    EXPECT_EQ(OSNameFromVersion(VER_PLATFORM_WIN32s, 3, 11), "WIN32S");
    EXPECT_EQ(OSNameFromVersion(VER_PLATFORM_WIN32s, 0, 0), "WIN32S");
    EXPECT_EQ(OSNameFromVersion(VER_PLATFORM_WIN32_WINDOWS, 4, 0), "WIN95");
    EXPECT_EQ(OSNameFromVersion(VER_PLATFORM_WIN32_WINDOWS, 4, 10), "Windows 98");
    EXPECT_EQ(OSNameFromVersion(VER_PLATFORM_WIN32_WINDOWS, 4, 90), "WINME");
    EXPECT_EQ(OSNameFromVersion(VER_PLATFORM_WIN32_WINDOWS, 4, 1), "WIN9x");
    EXPECT_EQ(OSNameFromVersion(VER_PLATFORM_WIN32_WINDOWS, 5, 10), "WIN9x");
    EXPECT_EQ(OSNameFromVersion(VER_PLATFORM_WIN32_NT, 5, 0), "Windows 2000");
    EXPECT_EQ(OSNameFromVersion(VER_PLATFORM_WIN32_NT, 5, 1), "Windows XP");
    EXPECT_EQ(OSNameFromVersion(VER_PLATFORM_WIN32_NT, 5, 2), "Windows Server2003");
    EXPECT_EQ(OSNameFromVersion(VER_PLATFORM_WIN32_NT, 5, 3), "WINNT");
    EXPECT_EQ(OSNameFromVersion(VER_PLATFORM_WIN32_NT, 6, 0), "Vista");
    EXPECT_EQ(OSNameFromVersion(VER_PLATFORM_WIN32_NT, 6, 1), "Vista");
    EXPECT_EQ(OSNameFromVersion(VER_PLATFORM_WIN32_NT, 6, 3), "Vista");
    EXPECT_EQ(OSNameFromVersion(VER_PLATFORM_WIN32_NT, 10, 0), "WINNT");
    EXPECT_EQ(OSNameFromVersion(VER_PLATFORM_WIN32_NT, 4, 0), "WINNT");
    EXPECT_EQ(OSNameFromVersion(3, 10, 0), "3");
    EXPECT_EQ(OSNameFromVersion(4294967295u, 1, 1), "4294967295");

    // The live answer follows the same table.
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof(info);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    ASSERT_TRUE(GetVersionExA(&info));
#pragma GCC diagnostic pop
    EXPECT_EQ(GetOSName(),
              OSNameFromVersion(info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion));
}

TEST(SystemQueries, TimeText) {
    const std::map<uint32_t, std::string> cases = {
        {0, "00:00:00"},       {59, "00:00:59"},
        {60, "00:01:00"},      {61, "00:01:01"},
        {3599, "00:59:59"},    {3600, "01:00:00"},
        {86399, "23:59:59"},   {86400, "24:00:00"},
        {360000, "100:00:00"}, {4294967295u, "1193046:28:15"}};
    for (const auto& [seconds, text] : cases)
        EXPECT_EQ(SecondsToTimeText(seconds), text) << seconds << " s";
}

TEST(SystemQueries, DocumentsFolder) {
    const bool savedVista = IsVista;
    char shell[MAX_PATH] = {};
    ASSERT_TRUE(
        SUCCEEDED(SHGetFolderPathA(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, shell)));
    const std::string documents = shell;
    const std::string parent = documents.substr(0, documents.find_last_of('\\') + 1);

    IsVista = false;
    std::string folder = "fallback";
    GetDocumentsFolder(folder);
    EXPECT_EQ(folder, IncludeTrailingSeparator(documents));

    IsVista = true;
    folder = "fallback";
    GetDocumentsFolder(folder);
    EXPECT_EQ(folder, parent);
    IsVista = savedVista;

    // The decision itself, with chosen shell answers.
    testsupport::TempFolder scratch{L"orvix_common"};
    const std::string base = scratch.AnsiPath();  // ends with a separator
    CreateDirectoryA((base + "Documents").c_str(), nullptr);
    folder = "kept";
    ResolveDocumentsFolder(base + "Documents", false, folder);
    EXPECT_EQ(folder, base + "Documents\\");
    folder = "kept";
    ResolveDocumentsFolder(base + "Documents", true, folder);
    EXPECT_EQ(folder, base);
    folder = "kept";
    ResolveDocumentsFolder(base + "Documents\\", true, folder);
    EXPECT_EQ(folder, base) << "a trailing separator must not make the folder its own parent";
    folder = "kept";
    ResolveDocumentsFolder(base + "NotThere", false, folder);
    EXPECT_EQ(folder, "kept");
    ResolveDocumentsFolder("", false, folder);
    EXPECT_EQ(folder, "kept");
    ResolveDocumentsFolder("Z:\\no\\such\\place\\Documents", true, folder);
    EXPECT_EQ(folder, "kept");
}

TEST(SystemQueries, DriveFreeBytes) {
    const int64_t upper = GetDriveFreeBytes('C');
    const int64_t lower = GetDriveFreeBytes('c');
    ASSERT_GT(upper, 0);
    ULARGE_INTEGER direct{};
    ASSERT_TRUE(GetDiskFreeSpaceExA("C:\\", &direct, nullptr, nullptr));
    // Other programs write to the same disk meanwhile; allow for that, not for a
    // different drive or unit.
    const int64_t slack = 256ll * 1024 * 1024;
    EXPECT_NEAR(static_cast<double>(upper), static_cast<double>(lower), static_cast<double>(slack));
    EXPECT_NEAR(static_cast<double>(upper), static_cast<double>(direct.QuadPart),
                static_cast<double>(slack));

    EXPECT_EQ(GetDriveFreeBytes('1'), -1);
    EXPECT_EQ(GetDriveFreeBytes(':'), -1);
    EXPECT_EQ(GetDriveFreeBytes('\0'), -1);
    EXPECT_EQ(GetDriveFreeBytes('\xE9'), -1);
    const DWORD drives = GetLogicalDrives();
    for (char letter = 'Z'; letter >= 'D'; --letter) {
        if (!(drives & (1u << (letter - 'A')))) {
            EXPECT_EQ(GetDriveFreeBytes(letter), -1) << letter;
            break;
        }
    }
}

TEST(SystemQueries, KeepAwakeRequestsAndWithdraws) {
    // SetThreadExecutionState answers with the state it replaces, which shows what the
    // two routines asked for.
    SetKeepAwake();
    EXPECT_EQ(
        SetThreadExecutionState(ES_CONTINUOUS | ES_DISPLAY_REQUIRED | ES_SYSTEM_REQUIRED),
        static_cast<EXECUTION_STATE>(ES_CONTINUOUS | ES_DISPLAY_REQUIRED | ES_SYSTEM_REQUIRED));
    ClearKeepAwake();
    EXPECT_EQ(SetThreadExecutionState(ES_CONTINUOUS), static_cast<EXECUTION_STATE>(ES_CONTINUOUS));
}

TEST(CaptionArithmetic, BlankCount) {
    // Narrower than one blank, even negative: exactly one.
    EXPECT_EQ(CaptionBlankCount(-500, 4), 1);
    EXPECT_EQ(CaptionBlankCount(0, 4), 1);
    EXPECT_EQ(CaptionBlankCount(3, 4), 1);
    // From one blank up to below three: none.
    EXPECT_EQ(CaptionBlankCount(4, 4), 0);
    EXPECT_EQ(CaptionBlankCount(11, 4), 0);
    EXPECT_EQ(CaptionBlankCount(12, 4), 1);
    EXPECT_EQ(CaptionBlankCount(400, 4), 98);
    EXPECT_EQ(CaptionBlankCount(403, 4), 98);
    // Blanks narrower than four pixels lose a tenth.
    EXPECT_EQ(CaptionBlankCount(300, 3), 89);
    EXPECT_EQ(CaptionBlankCount(20, 2), 8);
    EXPECT_EQ(CaptionBlankCount(24, 2), 10 - 1);
    EXPECT_EQ(CaptionBlankCount(1000, 1), 998 - 99);
    EXPECT_EQ(CaptionBlankCount(5, 1), 3);
    EXPECT_EQ(CaptionBlankCount(2, 1), 0);
    // A blank that measured nothing does not divide by zero.
    EXPECT_EQ(CaptionBlankCount(100, 0), 1);
}

TEST(CaptionArithmetic, TextAreaFormulas) {
    // W = 500, B = 18, E = 2, the three buttons 90 pixels together.
    EXPECT_EQ(CaptionTextAreaFrom(500, 18, 2, true, false, true, 90), 500 - 90 - 20);
    EXPECT_EQ(CaptionTextAreaFrom(500, 18, 2, true, false, false, 90), 500 - 3 * 16 - 2);
    EXPECT_EQ(CaptionTextAreaFrom(500, 18, 2, false, true, true, 90), 500 - 3 * 14 - 4 - 4);
    EXPECT_EQ(CaptionTextAreaFrom(500, 18, 2, false, true, false, 90), 500 - 3 * 16 - 2);
    EXPECT_EQ(CaptionTextAreaFrom(500, 18, 2, false, false, true, 90), 500 - 3 * 16 - 2 - 4);
    EXPECT_EQ(CaptionTextAreaFrom(500, 18, 2, false, false, false, 90), 500 - 3 * 16 - 2 - 4);
    // Vista wins over XP when both flags are set.
    EXPECT_EQ(CaptionTextAreaFrom(500, 18, 2, true, true, false, 90), 500 - 3 * 16 - 2);
}

TEST(CaptionArithmetic, ComposeCaptionOnARealWindow) {
    const bool savedVista = IsVista, savedXP = IsWindowsXP;
    IsVista = IsWindowsXP = false;
    EXPECT_FALSE(ThemeActive()) << "themes count only on Vista and XP";
    EXPECT_EQ(ComposeCaption(nullptr, L"Orvix", L"image_kv_0.jpg"), L"");

    HWND window = CreateWindowExW(0, L"STATIC", L"", WS_OVERLAPPEDWINDOW, 0, 0, 700, 200, nullptr,
                                  nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(window, nullptr);

    const std::wstring left = L"Orvix", right = L"image_kv_0.jpg";
    const std::wstring wide = ComposeCaption(window, left, right);
    ASSERT_GT(wide.size(), left.size() + right.size());
    EXPECT_EQ(wide.substr(0, left.size()), left);
    EXPECT_EQ(wide.substr(wide.size() - right.size()), right);
    const std::wstring gap = wide.substr(left.size(), wide.size() - left.size() - right.size());
    EXPECT_EQ(gap.find_first_not_of(L' '), std::wstring::npos);
    EXPECT_GT(gap.size(), 10u) << "a 700 pixel window leaves room for many blanks";

    // A left text far wider than the title bar still gets exactly one blank.
    const std::wstring longLeft(400, L'W');
    EXPECT_EQ(ComposeCaption(window, longLeft, right), longLeft + L" " + right);

    // A narrower window gets fewer blanks.
    SetWindowPos(window, nullptr, 0, 0, 400, 200, SWP_NOMOVE | SWP_NOZORDER);
    EXPECT_LT(ComposeCaption(window, left, right).size(), wide.size());

    DestroyWindow(window);
    IsVista = savedVista;
    IsWindowsXP = savedXP;
}

TEST(LanguageCode, FromTheProcessLocale) {
    // Other locales are covered by the common_locale_* tests, each started in its own
    // environment. Here: the abbreviation is what the system reports, the code follows it.
    const std::string abbreviation = GetLocaleString(LOCALE_SABBREVLANGNAME);
    EXPECT_EQ(abbreviation.size(), 3u);
    EXPECT_EQ(GetLanguageCode(), LanguageCodeFromAbbreviation(abbreviation));
    EXPECT_EQ(GetLocaleString(0x7FFFFFFF), "") << "an unknown locale item gives an empty text";
}
