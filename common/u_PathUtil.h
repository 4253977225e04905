// Path and text-conversion helpers shared by the settings, language and query modules.
// Paths the program builds are in the system code page; the helpers here take care of
// converting them and of reaching paths longer than MAX_PATH.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

// Code-page conversions; an empty input gives an empty output. Characters that the
// code page cannot represent become the code page's default character.
std::wstring AnsiToWide(std::string_view Text, UINT CodePage = CP_ACP);
std::string WideToAnsi(std::wstring_view Text, UINT CodePage = CP_ACP);

// The path made absolute and given the "\\?\" prefix when it is too long for the plain
// Win32 calls; shorter paths come back unchanged, so relative names keep working.
std::wstring ExtendedPath(std::wstring_view Path);

// Existence tests that also work for paths longer than MAX_PATH.
bool DirectoryExists(std::wstring_view Path);
bool DirectoryExists(std::string_view Path);
bool FileExists(std::wstring_view Path);  // a file, not a folder
bool FileExists(std::string_view Path);

// An empty path stays empty.
std::string IncludeTrailingSeparator(std::string Path);
std::wstring IncludeTrailingSeparator(std::wstring Path);

// Folder of the running executable with its trailing separator, however long the path
// is; empty when it cannot be asked for. The second one is in the system code page.
std::wstring GetProgramFolderW();
std::string GetProgramFolder();
