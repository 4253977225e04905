// The shipped language and help files, as staged in the program folder.
#include "CommonTestSupport.h"

#include "common/u_PathUtil.h"
#include "common/u_ResourceLib.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

namespace {

const char* const Codes[] = {"KOR", "ENG", "FRA", "DEU", "ITA", "CHT",
                             "CHS", "ESP", "UKR", "RUS", "PTG"};

const char* const Keys[] = {
    "APP_TITLE",      "T_CONFIRM",     "T_EXITREC_ERR",  "T_NOVIDEO_DRV",  "T_PREVIEW_ERR",
    "T_PREVIEW_ERR2", "T_OPENFOLDER",  "T_PREVIEW",      "T_PREVIEWSTOP",  "T_FORWARDCAM",
    "T_BACKWARDCAM",  "T_SNAPSHOT",    "T_RECORD",       "T_RECORDSTOP",   "T_HELP",
    "T_VIDEOSOURCE",  "T_VIDEOFORMAT", "T_SAVEFOLDER",   "T_PREVENT_SAVE", "T_RECORDING",
    "T_NO_FREESPACE", "T_STOPREC_ERR", "T_SWITCH_ERR",   "T_NO_HELPFILE",  "T_FOLDER_SETTING",
    "T_IMAGE_PATH",   "T_MOVIE_PATH",  "T_SEARCH_PATH",  "T_OK",           "T_CANCEL",
    "T_RESOLUTION",   "T_VIDEODEVICE", "T_AUDIODEVICE",  "T_NO_DEVICE",    "T_SAVESETTING_ERR",
    "T_RECORD_ERR",   "T_RECORD_LOST", "T_RECORD_ABORT", "T_CAMERA_LOST",  "T_SNAPSHOT_ERR",
    "T_FOLDER_ERR",   "T_ACC_PRESS",   "T_ACC_PICTURE"};

std::wstring StagedFolder() { return TestBinFolder() + L"..\\Orvix\\"; }

std::vector<std::wstring> ParseFile(const std::wstring& Path) {
    const std::vector<uint8_t> bytes = ReadBytes(Path);
    return ParseLanguageText(bytes.data(), bytes.size());
}

}  // namespace

TEST(ShippedFiles, EveryLanguageFileIsCompleteAndTranslated) {
    static_assert(std::size(Keys) == 43);
    const std::vector<std::wstring> english =
        ParseFile(StagedFolder() + L"language\\Orvix_ENG.txt");
    ASSERT_FALSE(english.empty()) << "Orvix_ENG.txt is not staged";

    for (const char* code : Codes) {
        SCOPED_TRACE(code);
        const std::wstring path = StagedFolder() + L"language\\Orvix_" + AnsiToWide(code) + L".txt";
        const std::vector<uint8_t> bytes = ReadBytes(path);
        ASSERT_GT(bytes.size(), 3u);
        const bool utf16 = bytes[0] == 0xFF && bytes[1] == 0xFE;
        const bool utf8 = bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF;
        EXPECT_TRUE(utf16 || utf8) << "stored without a marker, so other scripts would not survive";

        const std::vector<std::wstring> lines = ParseLanguageText(bytes.data(), bytes.size());
        EXPECT_EQ(FindText(lines, "APP_TITLE"), L"Orvix");
        std::set<std::string> seen;
        size_t translated = 0;
        for (const char* key : Keys) {
            const std::wstring text = FindText(lines, key);
            EXPECT_FALSE(text.empty()) << key;
            EXPECT_EQ(text.find(L'\xFFFD'), std::wstring::npos)
                << key << " holds a broken character";
            if (text != FindText(english, key)) ++translated;
        }
        // Every key once, and nothing the program would never look up.
        for (const std::wstring& line : lines) {
            const size_t eq = line.find(L'=');
            if (eq == std::wstring::npos) continue;
            const std::string name = WideToAnsi(line.substr(0, eq));
            EXPECT_TRUE(seen.insert(name).second) << "duplicate " << name;
            EXPECT_TRUE(std::find(std::begin(Keys), std::end(Keys), name) != std::end(Keys))
                << "unknown " << name;
        }
        if (std::string(code) != "ENG") {
            EXPECT_GE(translated, 25u) << "most texts are still the English ones";
        }

        // The loader reaches the same texts from the file itself.
        ASSERT_TRUE(LoadLanguageTexts(WideToAnsi(path)));
        EXPECT_EQ(GetText("T_OK"), FindText(lines, "T_OK"));
        FreeLanguageTexts();
    }
}

TEST(ShippedFiles, HelpFilesForEveryLanguageAndModel) {
    for (const char* code : Codes) {
        for (const char* variant : {"_d", "_s"}) {
            const std::wstring path =
                StagedFolder() + L"help\\Orvix_" + AnsiToWide(code) + AnsiToWide(variant) + L".chm";
            const std::vector<uint8_t> bytes = ReadBytes(path);
            ASSERT_GT(bytes.size(), 1000u) << WideToAnsi(path);
            EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "ITSF") << WideToAnsi(path);
        }
    }
}
