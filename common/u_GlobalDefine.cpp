#include "common/u_GlobalDefine.h"

#include "common/u_PathUtil.h"
#include "common/u_SysQuery.h"

#include <windows.h>

#include <vector>

std::string AppPath;
std::wstring ImagePath;
std::wstring MoviePath;
int32_t VideoDeviceIndex = 0;
int32_t AudioDeviceIndex = 0;
int32_t VideoWidth = 640;
int32_t VideoHeight = 480;
int32_t VideoCompressorIndex = -1;
int32_t AudioCompressorIndex = -1;
uint32_t RecordSeconds = 0;
bool TwoSensorModel = true;
bool KeepWindowPos = false;
bool IsVista = false;
bool IsWindowsXP = false;
int32_t CameraRetryCount = 0;
std::string LanguageFile;

namespace {

constexpr char SettingsSection[] = "Option";
constexpr char ImageKey[] = "ImageFolder";
constexpr char MovieKey[] = "MovieFolder";

// The profile services truncate silently; grow the buffer until the value fits so that
// long folder names come back whole.
std::string ReadProfileString(const std::string& File, const char* Key,
                              const std::string& Default) {
    std::vector<char> buf(MAX_PATH + 1);
    for (;;) {
        const DWORD n = GetPrivateProfileStringA(SettingsSection, Key, Default.c_str(), buf.data(),
                                                 static_cast<DWORD>(buf.size()), File.c_str());
        if (n + 1 < buf.size() || buf.size() >= 65536) return std::string(buf.data(), n);
        buf.resize(buf.size() * 2);
    }
}

std::wstring FolderOrDefault(const std::string& File, const char* Key, const std::string& Default) {
    std::wstring folder = AnsiToWide(ReadProfileString(File, Key, Default));
    if (!DirectoryExists(folder)) folder = AnsiToWide(Default);
    return IncludeTrailingSeparator(folder);
}

// Removes the temporary file unless it has been moved into place.
struct TTempFile {
    std::wstring path;
    bool keep = false;
    ~TTempFile() {
        if (!keep && !path.empty()) {
            const DWORD error = GetLastError();  // the caller reports the failure that led here
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(path.c_str());
            SetLastError(error);
        }
    }
};

}  // namespace

std::string SettingsFilePath() { return AppPath + "Orvix.ini"; }

std::string DefaultSaveFolder() {
    std::string documents;  // empty fallback: the default becomes a relative name
    GetDocumentsFolder(documents);
    return documents + DefaultSaveFolderName;
}

void LoadSettings() {
    const std::string def = DefaultSaveFolder();
    const std::string file = SettingsFilePath();
    ImagePath = FolderOrDefault(file, ImageKey, def);
    MoviePath = FolderOrDefault(file, MovieKey, def);
}

bool SaveSettings() {
    // WritePrivateProfileString writes key by key into the live file; a failure between
    // the two keys, or a full disk, would leave it half-written. Build the new file
    // beside the old one and move it over the old one in a single step instead.
    const std::string target = SettingsFilePath();
    const std::string folder = AppPath.empty() ? std::string(".") : AppPath;
    // The profile services and GetTempFileName take names up to MAX_PATH only.
    if (folder.size() > MAX_PATH - 14) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }

    // A read-only settings file stays as it is. Windows refuses to replace it anyway;
    // Wine would replace it silently.
    const DWORD targetAttributes = GetFileAttributesA(target.c_str());
    if (targetAttributes != INVALID_FILE_ATTRIBUTES &&
        (targetAttributes & FILE_ATTRIBUTE_READONLY)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }

    TTempFile temp;
    {
        char name[MAX_PATH] = {};
        if (!GetTempFileNameA(folder.c_str(), "ini", 0, name)) return false;
        temp.path = AnsiToWide(name);
    }
    const std::string tempA = WideToAnsi(temp.path);

    // Carry over whatever else the user keeps in the file.
    if (targetAttributes != INVALID_FILE_ATTRIBUTES) {
        if (!CopyFileA(target.c_str(), tempA.c_str(), FALSE)) return false;
        SetFileAttributesA(tempA.c_str(), FILE_ATTRIBUTE_NORMAL);
    }

    if (!WritePrivateProfileStringA(SettingsSection, ImageKey, WideToAnsi(ImagePath).c_str(),
                                    tempA.c_str()))
        return false;
    if (!WritePrivateProfileStringA(SettingsSection, MovieKey, WideToAnsi(MoviePath).c_str(),
                                    tempA.c_str()))
        return false;
    // Flush the profile cache so that the file on disk is complete before it is moved.
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, tempA.c_str());

    if (!MoveFileExA(tempA.c_str(), target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return false;
    temp.keep = true;
    return true;
}
