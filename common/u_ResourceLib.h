// Language texts, help file paths, the error box and glyph bitmap loading.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace fw {
class Bitmap;
}

// Value of a locale item of the user's default locale; empty when the query fails.
std::string GetLocaleString(LCTYPE LCType);

// One of "KOR", "ENG", "FRA", "DEU", "ITA", "CHT", "CHS", "ESP", "UKR", "RUS", "PTG",
// from the user's language abbreviation; "ENG" for anything unknown.
std::string GetLanguageCode();
std::string LanguageCodeFromAbbreviation(std::string_view Abbreviation);

// AppPath + "language\Orvix_<code>.txt" and AppPath + "help\Orvix_<code>_d.chm"
// ("_s" when TwoSensorModel is false), in the system code page.
std::string GetLanguageFilePath();
std::string GetHelpFilePath();
std::string LanguageFilePathFor(const std::string& ProgramFolder, const std::string& Code);
std::string HelpFilePathFor(const std::string& ProgramFolder, const std::string& Code,
                            bool TwoSensors);

// Loads the language file into the process-wide text table. False when no file is at
// Path, and also when it exists but cannot be opened or read (locked, no permission,
// unreasonably large); then the table is left as it was and GetLastError tells why
// (ERROR_FILE_NOT_FOUND for a missing file).
bool LoadLanguageTexts(const std::string& Path);
void FreeLanguageTexts();

// Value of the first line "name=value" whose name equals Key, ignoring case in the
// thread locale; empty when there is none or no table is loaded.
std::wstring GetText(std::string_view Key);

// The decoding and line splitting behind LoadLanguageTexts, for a file already in
// memory: byte-order marks FF FE, FE FF and EF BB BF select UTF-16 LE, UTF-16 BE and
// UTF-8, anything else is read in AnsiCodePage; a NUL ends the text; lines end at CR LF,
// CR, LF or U+2028. Reads exactly Size bytes from Data.
std::vector<std::wstring> ParseLanguageText(const uint8_t* Data, size_t Size,
                                            UINT AnsiCodePage = CP_ACP);
// The value for Key in the given lines, by the same rule as GetText.
std::wstring FindText(const std::vector<std::wstring>& Lines, std::string_view Key);

// The text for Key; with a language file older than the key, the system's description of
// Error, so that the user is still told something true in the system's language.
std::wstring GetTextOr(std::string_view Key, DWORD Error);

// Modal, topmost box with one OK button and no icon, owned by the window it is about:
// the thread's active window (the main window or an open dialog), else the application's
// main form, so that no click reaches the window behind it; unowned before the
// application object exists.
void ShowErrorBox(const std::wstring& Text, const std::wstring& Caption);
// The window ShowErrorBox makes a box modal to.
HWND ErrorBoxOwner();

// Loads the .bmp file at Path into Target: the glyph bitmap of a glyph button or the
// picture of an image control, whichever the caller passes. False, with Target
// unchanged, when there is no file at Path or when the file is not a readable bitmap.
bool LoadGlyphFile(fw::Bitmap& Target, const std::string& Path);
