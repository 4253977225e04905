// Language files: encodings, line ends, the end marker, lookup rules, paths and loading.
#include "CommonTestSupport.h"

#include "common/u_GlobalDefine.h"
#include "common/u_PathUtil.h"
#include "common/u_ResourceLib.h"
#include "framework/Bitmap.h"

#include <gtest/gtest.h>

namespace {

using Lines = std::vector<std::wstring>;

Lines Parse(const std::vector<uint8_t>& Bytes, UINT CodePage = 1252) {
    return ParseLanguageText(Bytes.data(), Bytes.size(), CodePage);
}

// Texts representable in code page 1252, so that the ANSI reading can be compared too.
const std::wstring Sample =
    L"APP_TITLE=Orvix\r\nT_OK=Fertig \u00e9t\u00e9 \u00fc\r\nheading line\r\n"
    L"T_CANCEL=Annuler=non\r\n";
const Lines SampleLines = {L"APP_TITLE=Orvix", L"T_OK=Fertig \u00e9t\u00e9 \u00fc", L"heading line",
                           L"T_CANCEL=Annuler=non"};

class LanguageTable : public ::testing::Test {
protected:
    void TearDown() override { FreeLanguageTexts(); }
    std::string Write(const std::string& Name, const std::vector<uint8_t>& Bytes) {
        WriteBytes(AnsiToWide(folder_.AnsiPath() + Name), Bytes);
        return folder_.AnsiPath() + Name;
    }
    testsupport::TempFolder folder_{L"orvix_common"};
};

}  // namespace

TEST(LanguageParser, EveryEncodingGivesTheSameLines) {
    EXPECT_EQ(Parse(Utf16LE(Sample)), SampleLines);
    EXPECT_EQ(Parse(Utf16BE(Sample)), SampleLines);
    EXPECT_EQ(Parse(Utf8(Sample)), SampleLines);
    EXPECT_EQ(Parse(Ansi(Sample, 1252)), SampleLines);

    // Scripts outside any single ANSI code page survive the three marked encodings.
    const std::wstring wide = L"T_OK=\ud55c\uad6d\uc5b4 \u0420\u0443\u0441 \u4e2d\u6587 \U0001F600";
    for (const auto& bytes : {Utf16LE(wide), Utf16BE(wide), Utf8(wide)})
        EXPECT_EQ(Parse(bytes), Lines{wide});

    // Without its marker UTF-8 is read as ANSI: two characters for each accented letter.
    EXPECT_EQ(Parse(Utf8(L"T_OK=\u00e9", false)), Lines{L"T_OK=\u00c3\u00a9"});
    // UTF-16 without a marker is ANSI too, so its zero bytes end the text at once.
    EXPECT_EQ(Parse(Utf16LE(L"T_OK=x", false)), Lines{L"T"});
    // Too short for any marker.
    EXPECT_EQ(Parse({'A'}), Lines{L"A"});
    EXPECT_EQ(Parse({0xFF}), Lines{L"\u00ff"});
    EXPECT_TRUE(Parse({}).empty());
    EXPECT_TRUE(Parse({0xFF, 0xFE}).empty());
    EXPECT_TRUE(Parse({0xEF, 0xBB, 0xBF}).empty());
    // Two bytes of a UTF-8 marker are not a marker.
    EXPECT_EQ(Parse({0xEF, 0xBB, 'A'}), Lines{L"\u00ef\u00bbA"});
}

TEST(LanguageParser, LineEnds) {
    const Lines expected = {L"A=1", L"B=2", L"C=3"};
    for (const wchar_t* text : {L"A=1\r\nB=2\r\nC=3\r\n", L"A=1\nB=2\nC=3", L"A=1\rB=2\rC=3\r",
                                L"A=1\u2028B=2\u2028C=3"}) {
        EXPECT_EQ(Parse(Utf16LE(text)), expected) << "UTF-16";
        EXPECT_EQ(Parse(Utf8(text)), expected) << "UTF-8";
    }
    // One CR, one LF and one U+2028 form a single line end, in that order only.
    EXPECT_EQ(Parse(Utf16LE(L"A=1\r\n\u2028B=2")), (Lines{L"A=1", L"B=2"}));
    EXPECT_EQ(Parse(Utf16LE(L"A=1\n\rB=2")), (Lines{L"A=1", L"", L"B=2"}));
    EXPECT_EQ(Parse(Utf16LE(L"A=1\r\r\nB=2")), (Lines{L"A=1", L"", L"B=2"}));
    EXPECT_EQ(Parse(Utf16LE(L"\r\n\r\nA=1")), (Lines{L"", L"", L"A=1"}));
    // Other separators are ordinary characters.
    EXPECT_EQ(Parse(Utf16LE(L"A=1\u2029B=2")), (Lines{L"A=1\u2029B=2"}));
}

TEST(LanguageParser, NulEndsTheTextAndOddLengthDropsTheLastByte) {
    std::vector<uint8_t> le = Utf16LE(L"A=1\r\nB=2");
    le.push_back(0);
    le.push_back(0);
    const std::vector<uint8_t> rest = Utf16LE(L"\r\nC=3", false);
    le.insert(le.end(), rest.begin(), rest.end());
    EXPECT_EQ(Parse(le), (Lines{L"A=1", L"B=2"}));

    std::string ansi("A=1\nB=2\0\nC=3", 12);
    EXPECT_EQ(Parse(std::vector<uint8_t>(ansi.begin(), ansi.end())), (Lines{L"A=1", L"B=2"}));
    EXPECT_EQ(Parse(Utf8(std::wstring(L"A=1\0C=3", 7))), Lines{L"A=1"});

    // An odd trailing byte of UTF-16 is ignored, in either byte order.
    std::vector<uint8_t> odd = Utf16LE(L"A=xy");
    odd.push_back('z');
    EXPECT_EQ(Parse(odd), Lines{L"A=xy"});
    odd = Utf16BE(L"A=xy");
    odd.push_back('z');
    EXPECT_EQ(Parse(odd), Lines{L"A=xy"});
    EXPECT_TRUE(Parse({0xFE, 0xFF, 'A'}).empty());
}

TEST(LanguageLookup, MatchingRules) {
    const Lines lines = {L"heading without sign", L"T_OK=OK",       L"T_CANCEL =Cancel",
                         L"T_SPACE= leading",     L"APP_TITLE=A=B", L"T_HELP=First",
                         L"T_HELP=Second",        L"T_EMPTY=",      L"=nameless"};
    EXPECT_EQ(FindText(lines, "T_OK"), L"OK");
    EXPECT_EQ(FindText(lines, "t_ok"), L"OK");
    EXPECT_EQ(FindText(lines, "T_CANCEL"), L"");  // the blank belongs to the name
    EXPECT_EQ(FindText(lines, "T_CANCEL "), L"Cancel");
    EXPECT_EQ(FindText(lines, "T_SPACE"), L" leading");  // nothing trimmed
    EXPECT_EQ(FindText(lines, "APP_TITLE"), L"A=B");     // the first sign splits
    EXPECT_EQ(FindText(lines, "T_HELP"), L"First");      // first match wins
    EXPECT_EQ(FindText(lines, "T_EMPTY"), L"");
    EXPECT_EQ(FindText(lines, "T_MISSING"), L"");
    EXPECT_EQ(FindText(lines, "heading without sign"), L"");
    EXPECT_EQ(FindText(lines, "T_O"), L"");  // no prefix matching
    EXPECT_EQ(FindText(lines, "T_OK2"), L"");
    EXPECT_EQ(FindText({}, "T_OK"), L"");
}

TEST_F(LanguageTable, LoadLookUpAndFree) {
    EXPECT_EQ(GetText("APP_TITLE"), L"") << "no table loaded yet";
    const std::string path = Write("Orvix_ENG.txt", Utf16LE(Sample));
    ASSERT_TRUE(LoadLanguageTexts(path));
    EXPECT_EQ(GetText("APP_TITLE"), L"Orvix");
    EXPECT_EQ(GetText("t_cancel"), L"Annuler=non");
    EXPECT_EQ(GetText("heading line"), L"");
    FreeLanguageTexts();
    EXPECT_EQ(GetText("APP_TITLE"), L"");

    // The same texts from every encoding on disk.
    for (const auto& bytes : {Utf16BE(Sample), Utf8(Sample), Ansi(Sample, CP_ACP)}) {
        ASSERT_TRUE(LoadLanguageTexts(Write("other.txt", bytes)));
        EXPECT_EQ(GetText("T_OK"), L"Fertig \u00e9t\u00e9 \u00fc");
    }
}

TEST_F(LanguageTable, MissingOrUnreadableFileLeavesTheTableAlone) {
    ASSERT_TRUE(LoadLanguageTexts(Write("good.txt", Utf8(L"APP_TITLE=Orvix"))));

    EXPECT_FALSE(LoadLanguageTexts(folder_.AnsiPath() + "missing.txt"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(LoadLanguageTexts(folder_.AnsiPath())) << "a folder is not a language file";
    EXPECT_FALSE(LoadLanguageTexts(""));

    // Present but held open by a writer that shares nothing: a clean failure.
    const std::string locked = Write("locked.txt", Utf8(L"APP_TITLE=Locked"));
    HANDLE holder = CreateFileA(locked.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    const bool loaded = LoadLanguageTexts(locked);
    const DWORD error = GetLastError();
    CloseHandle(holder);
    EXPECT_FALSE(loaded);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_SHARING_VIOLATION));

    EXPECT_EQ(GetText("APP_TITLE"), L"Orvix") << "a failed load must not touch the loaded texts";

    // Once the writer is gone the same file loads.
    ASSERT_TRUE(LoadLanguageTexts(locked));
    EXPECT_EQ(GetText("APP_TITLE"), L"Locked");
}

TEST_F(LanguageTable, FileBeyondMaxPathLoads) {
    std::wstring relative;
    while (folder_.Path().size() + relative.size() < MAX_PATH + 20)
        relative += L"language-folder-of-some-length\\";
    relative.pop_back();
    const std::wstring deep = folder_.MakeFolder(relative) + L"\\";
    WriteBytes(deep + L"Orvix_ENG.txt", Utf8(L"T_OK=deep"));
    ASSERT_TRUE(LoadLanguageTexts(WideToAnsi(deep) + "Orvix_ENG.txt"));
    EXPECT_EQ(GetText("T_OK"), L"deep");
}

TEST(LanguagePaths, LanguageAndHelpFiles) {
    EXPECT_EQ(LanguageFilePathFor("C:\\Program Files\\Orvix\\", "ENG"),
              "C:\\Program Files\\Orvix\\language\\Orvix_ENG.txt");
    EXPECT_EQ(HelpFilePathFor("C:\\Orvix\\", "FRA", true), "C:\\Orvix\\help\\Orvix_FRA_d.chm");
    EXPECT_EQ(HelpFilePathFor("C:\\Orvix\\", "FRA", false), "C:\\Orvix\\help\\Orvix_FRA_s.chm");

    const std::string savedApp = AppPath;
    const bool savedModel = TwoSensorModel;
    AppPath = "D:\\Cam\\";
    const std::string code = GetLanguageCode();
    EXPECT_EQ(GetLanguageFilePath(), "D:\\Cam\\language\\Orvix_" + code + ".txt");
    TwoSensorModel = false;
    EXPECT_EQ(GetHelpFilePath(), "D:\\Cam\\help\\Orvix_" + code + "_s.chm");
    TwoSensorModel = true;
    EXPECT_EQ(GetHelpFilePath(), "D:\\Cam\\help\\Orvix_" + code + "_d.chm");
    AppPath = savedApp;
    TwoSensorModel = savedModel;
}

TEST(LanguageCode, AbbreviationTable) {
    const struct {
        const char* abbreviation;
        const char* code;
    } cases[] = {
        {"KOR", "KOR"},
        {"ENU", "ENG"},
        {"ENG", "ENG"},
        {"ENA", "ENG"},
        {"ENL", "ENG"},
        {"ENC", "ENG"},
        {"ENB", "ENG"},
        {"ENI", "ENG"},
        {"ENJ", "ENG"},
        {"ENZ", "ENG"},
        {"ENP", "ENG"},
        {"ENS", "ENG"},
        {"ENT", "ENG"},
        {"ENW", "ENG"},
        {"FRB", "FRA"},
        {"FRC", "FRA"},
        {"FRA", "FRA"},
        {"FRL", "FRA"},
        {"FRM", "FRA"},
        {"FRS", "FRA"},
        {"DEA", "DEU"},
        {"DEU", "DEU"},
        {"DEC", "DEU"},
        {"DEL", "DEU"},
        {"DES", "DEU"},
        {"ITA", "ITA"},
        {"ITS", "ITA"},
        {"CHT", "CHT"},
        {"ZHH", "CHT"},
        {"CHS", "CHS"},
        {"ZHM", "CHS"},
        {"ZHI", "CHS"},
        {"ESS", "ESP"},
        {"ESB", "ESP"},
        {"ESL", "ESP"},
        {"ESO", "ESP"},
        {"ESC", "ESP"},
        {"ESD", "ESP"},
        {"ESF", "ESP"},
        {"ESE", "ESP"},
        {"ESG", "ESP"},
        {"ESH", "ESP"},
        {"ESM", "ESP"},
        {"ESI", "ESP"},
        {"ESA", "ESP"},
        {"ESZ", "ESP"},
        {"ESR", "ESP"},
        {"ESU", "ESP"},
        {"ESN", "ESP"},
        {"ESP", "ESP"},
        {"ESY", "ESP"},
        {"ESV", "ESP"},
        {"UKR", "UKR"},
        {"RUS", "RUS"},
        {"PTB", "PTG"},
        {"PTG", "PTG"},
        // Unknown, empty, and near misses: comparisons are exact and case-sensitive.
        {"JPN", "ENG"},
        {"NLD", "ENG"},
        {"", "ENG"},
        {"kor", "ENG"},
        {"Fra", "ENG"},
        {"ZHT", "ENG"},
        {"ESX", "ENG"},
        {"ENX", "ENG"},
        {"PTX", "ENG"},
        {"RUSS", "ENG"},
        {"KO", "ENG"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LanguageCodeFromAbbreviation(c.abbreviation), c.code)
            << "abbreviation " << c.abbreviation;
}

TEST(GlyphFiles, LoadOnlyWhatIsThereAndReadable) {
    testsupport::TempFolder folder{L"orvix_common"};
    fw::Bitmap source(4, 3);
    source.SetPixel(1, 2, RGB(200, 10, 30));
    const std::string good = folder.AnsiPath() + "gbSnap.bmp";
    ASSERT_TRUE(source.SaveToFile(AnsiToWide(good)));

    fw::Bitmap glyph;
    EXPECT_TRUE(LoadGlyphFile(glyph, good));
    EXPECT_EQ(glyph.Width(), 4);
    EXPECT_EQ(glyph.Height(), 3);
    EXPECT_EQ(glyph.GetPixel(1, 2), RGB(200, 10, 30));

    // A missing file and a damaged one both leave the picture that was there.
    EXPECT_FALSE(LoadGlyphFile(glyph, folder.AnsiPath() + "missing.bmp"));
    WriteText(folder.AnsiPath() + "broken.bmp", "BM this is not a bitmap");
    EXPECT_FALSE(LoadGlyphFile(glyph, folder.AnsiPath() + "broken.bmp"));
    EXPECT_FALSE(LoadGlyphFile(glyph, folder.AnsiPath()));
    EXPECT_EQ(glyph.Width(), 4);
    EXPECT_EQ(glyph.GetPixel(1, 2), RGB(200, 10, 30));
}
