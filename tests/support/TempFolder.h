// A fresh folder under the system's temporary folder, removed with its contents when the
// holder goes.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace testsupport {

class TempFolder {
public:
    explicit TempFolder(const std::wstring& prefix = L"orvix");
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // With a trailing separator.
    const std::wstring& Path() const { return path_; }
    // The same in the system code page, as the program keeps its own paths.
    std::string AnsiPath() const;
    // Creates a subfolder with its missing parents (any length) and returns its path,
    // without a trailing separator.
    std::wstring MakeFolder(const std::wstring& relative) const;
    std::string MakeFolder(const std::string& relative) const;
    // Writes a small file of that name into the folder (subfolders must exist).
    void Touch(const std::wstring& name) const;
    bool Has(const std::wstring& name) const;
    // Names of the files and folders in the folder, sorted.
    std::vector<std::wstring> Names() const;

private:
    std::wstring path_;
};

// Removes a folder and everything below it (read-only flags included), however long the
// paths in it are.
void RemoveTree(const std::wstring& folder);

// Names of the files and folders in a folder (given with a trailing separator), sorted;
// none when it cannot be listed.
std::vector<std::wstring> FolderNames(const std::wstring& folder);

// The whole of a file, or nothing when it cannot be read.
std::string FileBytes(const std::filesystem::path& file);

}  // namespace testsupport
