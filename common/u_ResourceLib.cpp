#include "common/u_ResourceLib.h"

#include "common/u_GlobalDefine.h"
#include "common/u_PathUtil.h"
#include "framework/Application.h"
#include "framework/Bitmap.h"
#include "framework/Form.h"
#include "framework/WinHandles.h"

#include <algorithm>
#include <array>
#include <climits>
#include <memory>

namespace {

// Absent until LoadLanguageTexts succeeds.
std::unique_ptr<std::vector<std::wstring>> LanguageTexts;

// A language file of this size is certainly not one; refuse it rather than try to
// hold it (and its UTF-16 copy) in memory.
constexpr uint64_t MaxLanguageFileSize = 64ull * 1024 * 1024;

constexpr std::array<std::string_view, 13> EnglishAbbreviations = {
    "ENA", "ENL", "ENC", "ENB", "ENI", "ENJ", "ENZ", "ENP", "ENS", "ENT", "ENG", "ENU", "ENW"};
constexpr std::array<std::string_view, 6> FrenchAbbreviations = {"FRB", "FRC", "FRA",
                                                                 "FRL", "FRM", "FRS"};
constexpr std::array<std::string_view, 5> GermanAbbreviations = {"DEA", "DEU", "DEC", "DEL", "DES"};
constexpr std::array<std::string_view, 20> SpanishAbbreviations = {
    "ESS", "ESB", "ESL", "ESO", "ESC", "ESD", "ESF", "ESE", "ESG", "ESH",
    "ESM", "ESI", "ESA", "ESZ", "ESR", "ESU", "ESN", "ESP", "ESY", "ESV"};

template <size_t N>
bool InList(const std::array<std::string_view, N>& List, std::string_view A) {
    return std::find(List.begin(), List.end(), A) != List.end();
}

std::wstring DecodeUtf16(const uint8_t* Data, size_t Size, bool BigEndian) {
    const size_t units = Size / 2;  // an odd last byte is ignored
    std::wstring text(units, L'\0');
    for (size_t i = 0; i < units; ++i) {
        const uint8_t a = Data[2 * i], b = Data[2 * i + 1];
        text[i] = static_cast<wchar_t>(BigEndian ? (a << 8) | b : (b << 8) | a);
    }
    return text;
}

std::wstring DecodeMultiByte(const uint8_t* Data, size_t Size, UINT CodePage) {
    Size = std::min(Size, static_cast<size_t>(INT_MAX));
    return AnsiToWide(std::string_view(reinterpret_cast<const char*>(Data), Size), CodePage);
}

bool NameMatches(std::wstring_view Name, const std::wstring& Key) {
    if (Name.size() > static_cast<size_t>(INT_MAX)) return false;
    return CompareStringW(GetThreadLocale(), NORM_IGNORECASE, Name.data(),
                          static_cast<int>(Name.size()), Key.data(),
                          static_cast<int>(Key.size())) == CSTR_EQUAL;
}

// Reads the whole file; false with the system error set when that is not possible.
bool ReadWholeFile(const std::string& Path, std::vector<uint8_t>& Bytes) {
    // Others may read the file while it is open, but not change it under the reader.
    fw::Handle file(CreateFileW(ExtendedPath(AnsiToWide(Path)).c_str(), GENERIC_READ,
                                FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                nullptr));
    if (!file) return false;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size)) return false;
    if (static_cast<uint64_t>(size.QuadPart) > MaxLanguageFileSize) {
        SetLastError(ERROR_FILE_TOO_LARGE);
        return false;
    }
    Bytes.resize(static_cast<size_t>(size.QuadPart));
    size_t done = 0;
    while (done < Bytes.size()) {
        DWORD got = 0;
        if (!ReadFile(file.get(), Bytes.data() + done, static_cast<DWORD>(Bytes.size() - done),
                      &got, nullptr))
            return false;
        if (got == 0) break;  // the file shrank while being read: take what is there
        done += got;
    }
    Bytes.resize(done);
    return true;
}

}  // namespace

std::string GetLocaleString(LCTYPE LCType) {
    const int need = GetLocaleInfoA(LOCALE_USER_DEFAULT, LCType, nullptr, 0);
    if (need <= 0) return {};
    std::string value(static_cast<size_t>(need), '\0');
    const int got = GetLocaleInfoA(LOCALE_USER_DEFAULT, LCType, value.data(), need);
    if (got <= 0) return {};
    value.resize(static_cast<size_t>(got));
    while (!value.empty() && value.back() == '\0') value.pop_back();
    return value;
}

std::string LanguageCodeFromAbbreviation(std::string_view A) {
    if (A == "KOR") return "KOR";
    if (InList(EnglishAbbreviations, A)) return "ENG";
    if (InList(FrenchAbbreviations, A)) return "FRA";
    if (InList(GermanAbbreviations, A)) return "DEU";
    if (A == "ITA" || A == "ITS") return "ITA";
    if (A == "CHT" || A == "ZHH") return "CHT";
    if (A == "CHS" || A == "ZHM" || A == "ZHI") return "CHS";
    if (InList(SpanishAbbreviations, A)) return "ESP";
    if (A == "UKR") return "UKR";
    if (A == "RUS") return "RUS";
    if (A == "PTB" || A == "PTG") return "PTG";
    return "ENG";
}

std::string GetLanguageCode() {
    return LanguageCodeFromAbbreviation(GetLocaleString(LOCALE_SABBREVLANGNAME));
}

std::string LanguageFilePathFor(const std::string& ProgramFolder, const std::string& Code) {
    return IncludeTrailingSeparator(ProgramFolder + "language") + "Orvix_" + Code + ".txt";
}

std::string HelpFilePathFor(const std::string& ProgramFolder, const std::string& Code,
                            bool TwoSensors) {
    return IncludeTrailingSeparator(ProgramFolder + "help") + "Orvix_" + Code +
           (TwoSensors ? "_d" : "_s") + ".chm";
}

std::string GetLanguageFilePath() { return LanguageFilePathFor(AppPath, GetLanguageCode()); }

std::string GetHelpFilePath() {
    return HelpFilePathFor(AppPath, GetLanguageCode(), TwoSensorModel);
}

std::vector<std::wstring> ParseLanguageText(const uint8_t* Data, size_t Size, UINT AnsiCodePage) {
    std::wstring text;
    if (Size >= 2 && Data[0] == 0xFF && Data[1] == 0xFE)
        text = DecodeUtf16(Data + 2, Size - 2, false);
    else if (Size >= 2 && Data[0] == 0xFE && Data[1] == 0xFF)
        text = DecodeUtf16(Data + 2, Size - 2, true);
    else if (Size >= 3 && Data[0] == 0xEF && Data[1] == 0xBB && Data[2] == 0xBF)
        text = DecodeMultiByte(Data + 3, Size - 3, CP_UTF8);
    else
        text = DecodeMultiByte(Data, Size, AnsiCodePage);

    const size_t nul = text.find(L'\0');
    if (nul != std::wstring::npos) text.resize(nul);

    std::vector<std::wstring> lines;
    const size_t n = text.size();
    size_t p = 0;
    while (p < n) {
        const size_t start = p;
        while (p < n && text[p] != L'\r' && text[p] != L'\n' && text[p] != L'\x2028') ++p;
        lines.emplace_back(text, start, p - start);
        if (p < n && text[p] == L'\r') ++p;
        if (p < n && text[p] == L'\n') ++p;
        if (p < n && text[p] == L'\x2028') ++p;
    }
    return lines;
}

std::wstring FindText(const std::vector<std::wstring>& Lines, std::string_view Key) {
    // Keys are ASCII; widen them byte for byte.
    const std::wstring key(Key.begin(), Key.end());
    for (const std::wstring& line : Lines) {
        const size_t eq = line.find(L'=');
        if (eq == std::wstring::npos) continue;
        if (NameMatches(std::wstring_view(line).substr(0, eq), key)) return line.substr(eq + 1);
    }
    return {};
}

bool LoadLanguageTexts(const std::string& Path) {
    if (!FileExists(std::string_view(Path))) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return false;
    }
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(Path, bytes)) return false;
    LanguageTexts =
        std::make_unique<std::vector<std::wstring>>(ParseLanguageText(bytes.data(), bytes.size()));
    return true;
}

void FreeLanguageTexts() { LanguageTexts.reset(); }

std::wstring GetText(std::string_view Key) {
    if (!LanguageTexts) return {};
    return FindText(*LanguageTexts, Key);
}

std::wstring GetTextOr(std::string_view Key, DWORD Error) {
    std::wstring text = GetText(Key);
    if (!text.empty()) return text;
    wchar_t* message = nullptr;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, Error, 0, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
    if (n > 0 && message) text.assign(message, n);
    if (message) LocalFree(message);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' '))
        text.pop_back();
    return text;
}

HWND ErrorBoxOwner() {
    // A box owned by a hidden window leaves the visible ones usable: clicks behind it would
    // open more boxes or act while the user has not answered.
    const HWND active = GetActiveWindow();
    if (active && IsWindowVisible(active) && IsWindowEnabled(active)) return active;
    if (!fw::Application::Exists()) return nullptr;
    fw::Application& app = fw::Application::Instance();
    if (fw::Form* main = app.MainForm(); main && main->HandleAllocated()) return main->Handle();
    return app.Handle();
}

void ShowErrorBox(const std::wstring& Text, const std::wstring& Caption) {
    MessageBoxW(ErrorBoxOwner(), Text.c_str(), Caption.c_str(), MB_TOPMOST);
}

bool LoadGlyphFile(fw::Bitmap& Target, const std::string& Path) {
    const std::wstring path = AnsiToWide(Path);
    if (!FileExists(std::wstring_view(path))) return false;
    // A damaged file leaves the control with the picture it had rather than ending the
    // program.
    return Target.LoadFromFile(ExtendedPath(path));
}
