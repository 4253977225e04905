// A fresh folder under the system's temporary folder, removed with its contents when the
// holder goes.
#pragma once

#include <string>
#include <vector>

namespace testsupport {

class TempFolder {
public:
    explicit TempFolder(const std::wstring& prefix);
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // With a trailing separator.
    const std::wstring& Path() const { return path_; }
    // Writes a small file of that name into the folder (subfolders must exist).
    void Touch(const std::wstring& name) const;
    bool Has(const std::wstring& name) const;
    // Names of the files and folders in the folder, sorted.
    std::vector<std::wstring> Names() const;

private:
    std::wstring path_;
};

// Removes a folder and everything below it (read-only flags included).
void RemoveTree(const std::wstring& folder);

}  // namespace testsupport
