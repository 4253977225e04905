// The settings file "Orvix.ini": defaults, stored folders, and safe replacement on save.
#include "CommonTestSupport.h"

#include "common/u_GlobalDefine.h"
#include "common/u_PathUtil.h"

#include <gtest/gtest.h>
#include <shlobj.h>

namespace {

std::string ShellDocumentsFolder() {
    char path[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathA(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, path)))
        return {};
    return path;
}

class SettingsFile : public ::testing::Test {
protected:
    void SetUp() override {
        savedApp_ = AppPath;
        savedImage_ = ImagePath;
        savedMovie_ = MoviePath;
        savedVista_ = IsVista;
        AppPath = folder_.AnsiPath();
        IsVista = false;
    }
    void TearDown() override {
        AppPath = savedApp_;
        ImagePath = savedImage_;
        MoviePath = savedMovie_;
        IsVista = savedVista_;
    }

    std::wstring IniPath() const { return folder_.Path() + L"Orvix.ini"; }
    std::wstring DefaultWithSeparator() const { return AnsiToWide(DefaultSaveFolder()) + L"\\"; }
    // A real folder inside the scratch folder, without a trailing separator.
    std::string MakeSubfolder(const std::string& Name) const {
        const std::string path = folder_.AnsiPath() + Name;
        CreateDirectoryA(path.c_str(), nullptr);
        return path;
    }
    void WriteIni(const std::string& Content) const {
        WriteText(folder_.AnsiPath() + "Orvix.ini", Content);
    }
    testsupport::TempFolder folder_{L"orvix_common"};

private:
    std::string savedApp_;
    std::wstring savedImage_, savedMovie_;
    bool savedVista_ = false;
};

}  // namespace

TEST_F(SettingsFile, DefaultFolderSitsInDocumentsOrBesideThemOnVista) {
    const std::string documents = ShellDocumentsFolder();
    ASSERT_FALSE(documents.empty());
    ASSERT_TRUE(DirectoryExists(std::string_view(documents)));

    IsVista = false;
    EXPECT_EQ(DefaultSaveFolder(), IncludeTrailingSeparator(documents) + "VirOze Ruzav");

    IsVista = true;
    const std::string parent = documents.substr(0, documents.find_last_of('\\'));
    EXPECT_EQ(DefaultSaveFolder(), IncludeTrailingSeparator(parent) + "VirOze Ruzav");
    LoadSettings();
    EXPECT_EQ(ImagePath, AnsiToWide(IncludeTrailingSeparator(parent) + "VirOze Ruzav\\"));
}

TEST_F(SettingsFile, NoFileGivesDefaultsAndCreatesNothing) {
    LoadSettings();
    EXPECT_EQ(ImagePath, DefaultWithSeparator());
    EXPECT_EQ(MoviePath, DefaultWithSeparator());
    EXPECT_EQ(ImagePath.back(), L'\\');
    EXPECT_FALSE(PathExists(IniPath()));
    EXPECT_TRUE(folder_.Names().empty());
}

TEST_F(SettingsFile, StoredFoldersWithAndWithoutSeparator) {
    const std::string pictures = MakeSubfolder("pictures");
    const std::string clips = MakeSubfolder("clips");
    WriteIni("[Option]\r\nImageFolder=" + pictures + "\r\nMovieFolder=" + clips + "\\\r\n");
    LoadSettings();
    EXPECT_EQ(ImagePath, AnsiToWide(pictures + "\\"));
    EXPECT_EQ(MoviePath, AnsiToWide(clips + "\\"));
}

TEST_F(SettingsFile, EachMissingFolderFallsBackOnItsOwn) {
    const std::string pictures = MakeSubfolder("pictures");
    WriteIni("[Option]\r\nImageFolder=" + pictures + "\\\r\nMovieFolder=" + folder_.AnsiPath() +
             "gone\\\r\n");
    LoadSettings();
    EXPECT_EQ(ImagePath, AnsiToWide(pictures + "\\"));
    EXPECT_EQ(MoviePath, DefaultWithSeparator());

    // A missing key, a key in another section and a file naming a file, not a folder.
    WriteText(folder_.AnsiPath() + "plain.txt", "x");
    WriteIni("[Other]\r\nMovieFolder=" + pictures +
             "\r\n[Option]\r\nImageFolder=" + folder_.AnsiPath() + "plain.txt\r\n");
    AppPath = folder_.AnsiPath();
    LoadSettings();
    EXPECT_EQ(ImagePath, DefaultWithSeparator());
    EXPECT_EQ(MoviePath, DefaultWithSeparator());
}

TEST_F(SettingsFile, LoadingLeavesTheFileByteForByte) {
    const std::string pictures = MakeSubfolder("pictures");
    const std::string content = "; mine\r\n[Option]\r\nImageFolder=" + pictures +
                                "\r\nMovieFolder=" + folder_.AnsiPath() +
                                "gone\r\n[Extra]\r\nkey=value\r\n";
    WriteIni(content);
    const std::vector<uint8_t> before = ReadBytes(IniPath());
    LoadSettings();
    LoadSettings();
    EXPECT_EQ(ReadBytes(IniPath()), before);
    EXPECT_EQ(folder_.Names(), (std::vector<std::wstring>{L"Orvix.ini", L"pictures"}));
}

TEST_F(SettingsFile, SaveWritesBothKeysAndKeepsOtherContent) {
    const std::string pictures = MakeSubfolder("pictures");
    const std::string clips = MakeSubfolder("clips");
    WriteIni("[Extra]\r\nkey=value\r\n[Option]\r\nImageFolder=" + pictures + "\\\r\n");
    LoadSettings();
    MoviePath = AnsiToWide(clips + "\\");  // only one folder changed in the dialog
    ASSERT_TRUE(SaveSettings());

    char value[MAX_PATH] = {};
    const std::string ini = folder_.AnsiPath() + "Orvix.ini";
    GetPrivateProfileStringA("Option", "ImageFolder", "", value, MAX_PATH, ini.c_str());
    EXPECT_EQ(std::string(value), pictures + "\\");
    GetPrivateProfileStringA("Option", "MovieFolder", "", value, MAX_PATH, ini.c_str());
    EXPECT_EQ(std::string(value), clips + "\\");
    GetPrivateProfileStringA("Extra", "key", "", value, MAX_PATH, ini.c_str());
    EXPECT_EQ(std::string(value), "value");
    EXPECT_EQ(folder_.Names(), (std::vector<std::wstring>{L"Orvix.ini", L"clips", L"pictures"}))
        << "a temporary file was left behind";

    ImagePath.clear();
    MoviePath.clear();
    LoadSettings();
    EXPECT_EQ(ImagePath, AnsiToWide(pictures + "\\"));
    EXPECT_EQ(MoviePath, AnsiToWide(clips + "\\"));

    // Saving again over the file it wrote itself.
    ImagePath = MoviePath;
    ASSERT_TRUE(SaveSettings());
    LoadSettings();
    EXPECT_EQ(ImagePath, AnsiToWide(clips + "\\"));
}

TEST_F(SettingsFile, FailedSaveReportsAndLeavesTheOldFile) {
    const std::string pictures = MakeSubfolder("pictures");
    WriteIni("[Option]\r\nImageFolder=" + pictures + "\\\r\nMovieFolder=" + pictures + "\\\r\n");
    const std::vector<uint8_t> before = ReadBytes(IniPath());
    SetFileAttributesW(IniPath().c_str(), FILE_ATTRIBUTE_READONLY);

    ImagePath = L"C:\\elsewhere\\";
    MoviePath = L"C:\\elsewhere\\";
    const bool saved = SaveSettings();
    const DWORD error = GetLastError();
    EXPECT_FALSE(saved);
    EXPECT_NE(error, static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(ReadBytes(IniPath()), before);
    EXPECT_EQ(folder_.Names(), (std::vector<std::wstring>{L"Orvix.ini", L"pictures"}))
        << "a temporary file was left behind";
    SetFileAttributesW(IniPath().c_str(), FILE_ATTRIBUTE_NORMAL);

    // Held open by another program that shares nothing.
    HANDLE holder =
        CreateFileW(IniPath().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    const bool savedLocked = SaveSettings();
    CloseHandle(holder);
    EXPECT_FALSE(savedLocked);
    EXPECT_EQ(ReadBytes(IniPath()), before);
    EXPECT_EQ(folder_.Names(), (std::vector<std::wstring>{L"Orvix.ini", L"pictures"}))
        << "a temporary file was left behind";

    // A program folder that is not there at all.
    AppPath = folder_.AnsiPath() + "missing\\";
    EXPECT_FALSE(SaveSettings());
    EXPECT_FALSE(PathExists(folder_.Path() + L"missing"));
}

TEST_F(SettingsFile, FoldersLongerThanMaxPath) {
    // A stored folder deeper than MAX_PATH is read whole and recognised as existing.
    std::wstring relative;
    while (folder_.Path().size() + relative.size() < MAX_PATH + 40)
        relative += L"a-rather-long-folder-name-for-depth\\";
    relative.pop_back();
    const std::wstring deep = folder_.MakeFolder(relative);
    ASSERT_TRUE(PathExists(deep));
    WriteIni("[Option]\r\nImageFolder=" + WideToAnsi(deep) + "\r\n");
    LoadSettings();
    EXPECT_EQ(ImagePath, deep + L"\\");
    EXPECT_EQ(MoviePath, DefaultWithSeparator());

    // A program folder so deep that the settings file name no longer fits: defaults on
    // load, a reported failure on save, and nothing created.
    AppPath = WideToAnsi(deep) + "\\";
    LoadSettings();
    EXPECT_EQ(ImagePath, DefaultWithSeparator());
    const bool saved = SaveSettings();
    const DWORD error = GetLastError();
    EXPECT_FALSE(saved);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
    EXPECT_FALSE(PathExists(deep + L"\\Orvix.ini"));
}
