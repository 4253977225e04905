// The installer package of the build's bitness in the test prefix: what it installs and where, the
// installed program, an upgrade to a higher version, and removal that keeps the user's
// files. InstallerTest.sh makes the two packages and names them in the environment.
#include "tests/app/ProcessHelpers.h"

#include "common/u_GlobalDefine.h"
#include "common/u_SysQuery.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <msi.h>
#include <msiquery.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <tlhelp32.h>
#include <wrl/client.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

using namespace apptest;
using Microsoft::WRL::ComPtr;
namespace fs = std::filesystem;

namespace {

constexpr wchar_t kUninstallKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
// The list of installed programs shows both registry views; a 32-bit package's entry is
// in the 32-bit one.
constexpr REGSAM kRegistryViews[] = {KEY_WOW64_64KEY, KEY_WOW64_32KEY};

std::wstring Env(const wchar_t* name) {
    wchar_t buf[4096]{};
    const DWORD n = GetEnvironmentVariableW(name, buf, 4096);
    return n > 0 && n < 4096 ? std::wstring(buf, n) : std::wstring();
}

std::wstring Widen(const std::string& s) { return std::wstring(s.begin(), s.end()); }

std::wstring ShellFolder(int csidl) {
    wchar_t buf[MAX_PATH]{};
    SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buf);
    return buf;
}

std::wstring InstallDir() { return ShellFolder(CSIDL_PROGRAM_FILES) + L"\\Orvix\\"; }

std::wstring WithSeparator(std::wstring path) {
    if (!path.empty() && path.back() != L'\\') path += L'\\';
    return path;
}

bool Exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The Start-menu shortcuts named Orvix. Windows puts a per-machine package's shortcut
// into the all-users Programs folder; Wine's installer puts it into the user's.
std::vector<std::wstring> Shortcuts() {
    std::vector<std::wstring> found;
    for (int csidl : {CSIDL_COMMON_PROGRAMS, CSIDL_PROGRAMS}) {
        const std::wstring path = ShellFolder(csidl) + L"\\Orvix.lnk";
        if (Exists(path)) found.push_back(path);
    }
    return found;
}

// Runs msiexec with args and returns its exit code (~0u when it did not end in time).
DWORD Msiexec(const std::wstring& args) {
    std::wstring cmd = L"msiexec.exe " + args;
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi))
        return ~0u;
    DWORD code = ~0u;
    if (WaitForSingleObject(pi.hProcess, 180000) == WAIT_OBJECT_0)
        GetExitCodeProcess(pi.hProcess, &code);
    else
        TerminateProcess(pi.hProcess, 1);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return code;
}

DWORD Install(const std::wstring& msi) { return Msiexec(L"/i \"" + msi + L"\" /qn"); }

bool LoadedInProcess(DWORD pid, const std::wstring& path) {
    const HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, pid);
    if (snap == INVALID_HANDLE_VALUE) return false;
    MODULEENTRY32W module{};
    module.dwSize = sizeof(module);
    bool found = false;
    for (BOOL more = Module32FirstW(snap, &module); more && !found;
         more = Module32NextW(snap, &module))
        found = _wcsicmp(module.szExePath, path.c_str()) == 0;
    CloseHandle(snap);
    return found;
}

bool LoadedAnywhere(const std::wstring& path) {
    const HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap == INVALID_HANDLE_VALUE) return false;
    PROCESSENTRY32W process{};
    process.dwSize = sizeof(process);
    bool found = false;
    for (BOOL more = Process32FirstW(snap, &process); more && !found;
         more = Process32NextW(snap, &process))
        found = LoadedInProcess(process.th32ProcessID, path);
    CloseHandle(snap);
    return found;
}

class MsiHandle {
public:
    MsiHandle() = default;
    ~MsiHandle() {
        if (h_) MsiCloseHandle(h_);
    }
    MsiHandle(const MsiHandle&) = delete;
    MsiHandle& operator=(const MsiHandle&) = delete;
    MSIHANDLE* Out() { return &h_; }
    MSIHANDLE Get() const { return h_; }

private:
    MSIHANDLE h_ = 0;
};

std::wstring RecordString(MSIHANDLE record, unsigned field) {
    DWORD len = 0;
    wchar_t empty[1]{};
    MsiRecordGetStringW(record, field, empty, &len);
    std::wstring s(len + 1, L'\0');
    ++len;
    MsiRecordGetStringW(record, field, s.data(), &len);
    s.resize(len);
    return s;
}

// Rows of an SQL query on the package's database, each as its fields' texts.
std::vector<std::vector<std::wstring>> Query(const std::wstring& msi, const std::wstring& sql) {
    std::vector<std::vector<std::wstring>> rows;
    MsiHandle db, view;
    if (MsiOpenDatabaseW(msi.c_str(), MSIDBOPEN_READONLY, db.Out()) != ERROR_SUCCESS ||
        MsiDatabaseOpenViewW(db.Get(), sql.c_str(), view.Out()) != ERROR_SUCCESS ||
        MsiViewExecute(view.Get(), 0) != ERROR_SUCCESS)
        return rows;
    for (;;) {
        MsiHandle record;
        if (MsiViewFetch(view.Get(), record.Out()) != ERROR_SUCCESS) break;
        const unsigned fields = MsiRecordGetFieldCount(record.Get());
        std::vector<std::wstring> row;
        for (unsigned i = 1; i <= fields; ++i) row.push_back(RecordString(record.Get(), i));
        rows.push_back(row);
    }
    return rows;
}

std::wstring Property(const std::wstring& msi, const std::wstring& name) {
    const auto rows =
        Query(msi, L"SELECT `Value` FROM `Property` WHERE `Property` = '" + name + L"'");
    return rows.empty() ? std::wstring() : rows[0][0];
}

// The long name of a Directory or File table name ("short|long", "target:source").
std::wstring LongName(std::wstring name) {
    name = name.substr(0, name.find(L':'));
    const size_t bar = name.find(L'|');
    return bar == std::wstring::npos ? name : name.substr(bar + 1);
}

struct PackageFile {
    std::wstring relPath;      // below the program folder
    std::wstring componentId;  // the component's GUID
    ULONGLONG size = 0;
};

// Every file of the package with the place below INSTALLDIR where its Directory rows put it.
std::vector<PackageFile> PackageFiles(const std::wstring& msi) {
    std::map<std::wstring, std::pair<std::wstring, std::wstring>> dirs;  // id -> parent, name
    for (const auto& row :
         Query(msi, L"SELECT `Directory`, `Directory_Parent`, `DefaultDir` FROM `Directory`"))
        dirs[row[0]] = {row[1], LongName(row[2])};
    auto relDir = [&](std::wstring id) {
        std::wstring rel;
        for (int depth = 0; id != L"INSTALLDIR"; ++depth) {
            const auto it = dirs.find(id);
            if (it == dirs.end() || depth > 32) return std::wstring(L"<not below INSTALLDIR>\\");
            if (it->second.second != L".") rel = it->second.second + L"\\" + rel;
            id = it->second.first;
        }
        return rel;
    };
    std::vector<PackageFile> files;
    for (const auto& row :
         Query(msi,
               L"SELECT `File`.`FileName`, `File`.`FileSize`, `Component`.`ComponentId`, "
               L"`Component`.`Directory_` FROM `File`, `Component` "
               L"WHERE `File`.`Component_` = `Component`.`Component`"))
        files.push_back({relDir(row[3]) + LongName(row[0]), row[2], std::stoull(row[1])});
    return files;
}

// Files below dir (trailing separator), as paths relative to it.
std::set<std::wstring> FilesBelow(const std::wstring& dir) {
    std::set<std::wstring> out;
    std::error_code ec;
    for (const auto& e : fs::recursive_directory_iterator(dir, ec))
        if (e.is_regular_file()) out.insert(fs::relative(e.path(), dir).wstring());
    return out;
}

// DisplayVersion of each entry in the list of installed programs that is named Orvix.
std::vector<std::wstring> ProgramListEntries() {
    std::vector<std::wstring> versions;
    for (REGSAM view : kRegistryViews) {
        HKEY root = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_READ | view, &root) !=
            ERROR_SUCCESS)
            continue;
        wchar_t name[256];
        for (DWORD i = 0;; ++i) {
            DWORD len = 256;
            if (RegEnumKeyExW(root, i, name, &len, nullptr, nullptr, nullptr, nullptr) !=
                ERROR_SUCCESS)
                break;
            wchar_t display[256]{}, version[64]{};
            DWORD size = sizeof(display);
            RegGetValueW(root, name, L"DisplayName", RRF_RT_REG_SZ, nullptr, display, &size);
            size = sizeof(version);
            RegGetValueW(root, name, L"DisplayVersion", RRF_RT_REG_SZ, nullptr, version, &size);
            if (std::wstring(display) == L"Orvix") versions.push_back(version);
        }
        RegCloseKey(root);
    }
    return versions;
}

std::wstring UninstallValue(const std::wstring& productCode, const wchar_t* value) {
    const std::wstring key = std::wstring(kUninstallKey) + L"\\" + productCode;
    for (REGSAM view : kRegistryViews) {
        HKEY entry = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ | view, &entry) !=
            ERROR_SUCCESS)
            continue;
        wchar_t buf[1024]{};
        DWORD size = sizeof(buf);
        const LSTATUS rc = RegGetValueW(entry, nullptr, value, RRF_RT_REG_SZ, nullptr, buf, &size);
        RegCloseKey(entry);
        if (rc == ERROR_SUCCESS) return buf;
    }
    return L"<missing>";
}

std::vector<std::wstring> InstalledProductsOf(const std::wstring& upgradeCode) {
    std::vector<std::wstring> products;
    wchar_t code[39];
    for (DWORD i = 0; MsiEnumRelatedProductsW(upgradeCode.c_str(), 0, i, code) == ERROR_SUCCESS;
         ++i)
        products.push_back(code);
    return products;
}

// Stands in for a user's picture: its bytes are what must survive.
const std::string kPicture = "\xFF\xD8\xFF\xE0 a picture the user took \xFF\xD9";
const std::string kSettings = "[Path]\r\nImage=C:\\users\\Public\\Pictures\\\r\n";

class Installer : public testing::Test {
protected:
    void SetUp() override {
        msi = Env(L"ORVIX_TEST_MSI");
        nextMsi = Env(L"ORVIX_TEST_MSI_NEXT");
        ASSERT_FALSE(msi.empty()) << "run through InstallerTest.sh: ORVIX_TEST_MSI is not set";
        ASSERT_TRUE(Exists(msi)) << "no package " << testing::PrintToString(msi);
        upgradeCode = Property(msi, L"UpgradeCode");
        productCode = Property(msi, L"ProductCode");
        ASSERT_FALSE(upgradeCode.empty());
        ASSERT_FALSE(productCode.empty());
        RemoveEveryOrvix();
        ASSERT_TRUE(InstalledProductsOf(upgradeCode).empty())
            << "an earlier Orvix could not be removed";
        std::error_code ec;
        fs::remove_all(InstallDir(), ec);
        CoInitialize(nullptr);
    }

    void TearDown() override {
        RemoveEveryOrvix();
        std::error_code ec;
        fs::remove_all(InstallDir(), ec);
        for (const auto& f : userFiles) fs::remove(f, ec);
        CoUninitialize();
    }

    void RemoveEveryOrvix() {
        for (const auto& code : InstalledProductsOf(upgradeCode)) Msiexec(L"/x " + code + L" /qn");
    }

    // A user's file outside the package; removed again after the test.
    void WriteUserFile(const std::wstring& path, const std::string& bytes) {
        std::error_code ec;
        fs::create_directories(fs::path(path).parent_path(), ec);
        ASSERT_TRUE(WriteFileBytes(path, bytes)) << testing::PrintToString(path);
        userFiles.push_back(path);
    }

    std::wstring msi, nextMsi, upgradeCode, productCode;
    std::vector<std::wstring> userFiles;
};

}  // namespace

TEST_F(Installer, AHigherVersionReplacesTheInstalledOneAndRemovalKeepsTheUsersFiles) {
    ASSERT_FALSE(nextMsi.empty());
    ASSERT_EQ(Property(nextMsi, L"UpgradeCode"), upgradeCode);
    const std::wstring nextCode = Property(nextMsi, L"ProductCode");
    ASSERT_NE(nextCode, productCode);
    const std::vector<PackageFile> files = PackageFiles(nextMsi);
    ASSERT_FALSE(files.empty());

    ASSERT_EQ(Install(msi), 0u);
    // The settings file the program writes beside itself, and pictures: one in the
    // default picture folder, one in a folder the user made inside the program folder.
    const std::wstring ini = InstallDir() + L"Orvix.ini";
    IsVista = GetOSName() == "Vista";
    const std::wstring pictures = Widen(DefaultSaveFolder()) + L"\\";
    const std::wstring picture = pictures + L"Orvix0001.jpg";
    const std::wstring insidePicture =
        InstallDir() + Widen(DefaultSaveFolderName) + L"\\Orvix0002.jpg";
    WriteUserFile(ini, kSettings);
    WriteUserFile(picture, kPicture);
    WriteUserFile(insidePicture, kPicture);

    ASSERT_EQ(Install(nextMsi), 0u);
    EXPECT_EQ(InstalledProductsOf(upgradeCode), std::vector<std::wstring>{nextCode});
    EXPECT_EQ(MsiQueryProductStateW(productCode.c_str()), INSTALLSTATE_UNKNOWN);
    EXPECT_EQ(ProgramListEntries(), std::vector<std::wstring>{Env(L"ORVIX_TEST_NEXT_VERSION")});
    for (const auto& f : files)
        EXPECT_TRUE(Exists(InstallDir() + f.relPath)) << testing::PrintToString(f.relPath);
    EXPECT_EQ(Shortcuts().size(), 1u);
    EXPECT_EQ(testsupport::FileBytes(ini), kSettings) << "the upgrade lost the user's settings";

    // The older package does not replace the newer one.
    EXPECT_NE(Install(msi), 0u);
    EXPECT_EQ(InstalledProductsOf(upgradeCode), std::vector<std::wstring>{nextCode});

    ASSERT_EQ(Msiexec(L"/x " + nextCode + L" /qn"), 0u);
    EXPECT_TRUE(InstalledProductsOf(upgradeCode).empty());
    EXPECT_TRUE(ProgramListEntries().empty());
    for (const auto& f : files) {
        // A file that a running process has loaded cannot be removed by any uninstaller.
        // Wine never unloads a hook library from the processes it was loaded into, so
        // Quillhook.dll stays in use once the installed program has run in this session
        // (which is why this test comes first).
        const std::wstring path = InstallDir() + f.relPath;
        if (Exists(path) && LoadedAnywhere(path)) continue;
        EXPECT_FALSE(Exists(path)) << "left behind: " << testing::PrintToString(f.relPath);
    }
    EXPECT_TRUE(Shortcuts().empty());
    EXPECT_EQ(testsupport::FileBytes(ini), kSettings);
    EXPECT_EQ(testsupport::FileBytes(picture), kPicture);
    EXPECT_EQ(testsupport::FileBytes(insidePicture), kPicture);
}

TEST_F(Installer, PutsEveryFileWhereItsTableSaysAndTheInstalledProgramStarts) {
    const std::vector<PackageFile> files = PackageFiles(msi);
    ASSERT_FALSE(files.empty());
    std::set<std::wstring> packaged;
    for (const auto& f : files) packaged.insert(f.relPath);
    std::set<std::wstring> staged = FilesBelow(StagedDir());
    staged.erase(L"Orvix.ini");  // written by earlier runs of the staged program, never shipped
    EXPECT_EQ(packaged, staged) << "the package must hold exactly the staged program folder";

    ASSERT_EQ(Install(msi), 0u);
    EXPECT_EQ(MsiQueryProductStateW(productCode.c_str()), INSTALLSTATE_DEFAULT);

    for (const auto& f : files) {
        SCOPED_TRACE(testing::PrintToString(f.relPath));
        const std::wstring path = InstallDir() + f.relPath;
        EXPECT_EQ(testsupport::FileBytes(path), testsupport::FileBytes(StagedDir() + f.relPath));
        EXPECT_EQ(fs::file_size(path), f.size);
        wchar_t where[MAX_PATH]{};
        DWORD len = MAX_PATH;
        EXPECT_EQ(MsiGetComponentPathW(productCode.c_str(), f.componentId.c_str(), where, &len),
                  INSTALLSTATE_LOCAL);
        EXPECT_EQ(_wcsicmp(where, path.c_str()), 0) << testing::PrintToString(std::wstring(where));
    }

    // The Start-menu shortcut starts the installed program, in its folder, with its icon.
    const std::vector<std::wstring> shortcuts = Shortcuts();
    ASSERT_EQ(shortcuts.size(), 1u);
    ComPtr<IShellLinkW> link;
    ASSERT_EQ(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&link)),
              S_OK);
    ComPtr<IPersistFile> file;
    ASSERT_EQ(link.As(&file), S_OK);
    ASSERT_EQ(file->Load(shortcuts[0].c_str(), STGM_READ), S_OK);
    wchar_t target[MAX_PATH]{}, workDir[MAX_PATH]{}, icon[MAX_PATH]{};
    int iconIndex = -1;
    link->GetPath(target, MAX_PATH, nullptr, 0);
    link->GetWorkingDirectory(workDir, MAX_PATH);
    link->GetIconLocation(icon, MAX_PATH, &iconIndex);
    EXPECT_EQ(_wcsicmp(target, (InstallDir() + L"Orvix.exe").c_str()), 0)
        << testing::PrintToString(std::wstring(target));
    EXPECT_EQ(_wcsicmp(WithSeparator(workDir).c_str(), InstallDir().c_str()), 0)
        << testing::PrintToString(std::wstring(workDir));
    EXPECT_TRUE(Exists(icon)) << "shortcut icon " << testing::PrintToString(std::wstring(icon));

    // The entry in the list of installed programs.
    EXPECT_EQ(ProgramListEntries(), std::vector<std::wstring>{Env(L"ORVIX_TEST_VERSION")});
    EXPECT_EQ(UninstallValue(productCode, L"DisplayName"), L"Orvix");
    EXPECT_EQ(UninstallValue(productCode, L"Publisher"), L"Orvix");
    EXPECT_EQ(_wcsicmp(WithSeparator(UninstallValue(productCode, L"InstallLocation")).c_str(),
                       InstallDir().c_str()),
              0);
    wchar_t productIcon[MAX_PATH]{};
    DWORD iconLen = MAX_PATH;
    EXPECT_EQ(
        MsiGetProductInfoW(productCode.c_str(), INSTALLPROPERTY_PRODUCTICON, productIcon, &iconLen),
        0u);
    EXPECT_TRUE(Exists(productIcon))
        << "list icon " << testing::PrintToString(std::wstring(productIcon));

    // The installed program, with the stand-in camera registered in the prefix.
    RunningProgram p;
    ASSERT_TRUE(p.Start(InstallDir() + L"Orvix.exe"));
    const HWND w = p.WaitForWindow(20000);
    ASSERT_NE(w, nullptr) << "the installed program showed no window";
    wchar_t caption[64]{};
    GetWindowTextW(w, caption, 64);
    EXPECT_STREQ(caption, L"Orvix");
    PostMessageW(w, WM_CLOSE, 0, 0);
    DWORD code = 12345;
    ASSERT_TRUE(p.WaitExit(15000, &code));
    EXPECT_EQ(code, 0u);
}
