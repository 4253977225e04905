// Numbered file names for pictures and recordings: the smallest free number in a folder,
// and a file created under it without ever overwriting another or leaving a partial one.
#pragma once

#include "framework/WinHandles.h"

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Template split into folder (with its trailing separator, or empty), base name and
// extension (with its dot, or empty).
struct TFileNameParts {
    std::wstring Folder, Base, Ext;
};
TFileNameParts SplitFileTemplate(const std::wstring& Template);

// Folder + base name + the smallest decimal number from 0 that no file (nor folder) of
// the folder has + extension. The template's folder is created with its missing parents;
// a template without a folder names a file in the program's folder. The folder is listed
// once, whatever the number of pictures in it. Empty when the folder cannot be listed.
std::wstring UniqueFileName(const std::wstring& Template);

// Creates the file that UniqueFileName names, exclusively: when that name appears in the
// meantime (another program writing into the folder), the next free number is taken.
// Returns the open file (write access) and its name in FileName; on failure (the folder
// cannot be listed or the file not made) an empty holder, FileName empty and the system's
// error code in Error.
fw::Handle CreateUniqueFile(const std::wstring& Template, std::wstring& FileName, DWORD& Error);

// The listing behind CreateUniqueFile, made at once or (Pooled) started on a pooled thread
// so that it runs while the caller does other work (a picture's encoding); Create waits for
// it. The numbers are those of the moment of the listing, as with CreateUniqueFile: a name
// taken since is passed over at the creation.
class TNumberedFileSearch {
public:
    TNumberedFileSearch(const std::wstring& Template, bool Pooled);
    ~TNumberedFileSearch();  // waits for the listing
    TNumberedFileSearch(const TNumberedFileSearch&) = delete;
    TNumberedFileSearch& operator=(const TNumberedFileSearch&) = delete;

    // As CreateUniqueFile. Once only.
    fw::Handle Create(std::wstring& FileName, DWORD& Error);

private:
    static DWORD WINAPI ListOnPool(void* Self);
    void List();
    void Wait();

    TFileNameParts parts_;
    std::vector<bool> taken_;
    DWORD error_ = ERROR_SUCCESS;
    bool listed_ = false;
    std::atomic<bool> pending_{false};  // a pooled listing has not ended yet
};

// Writes Data into a new file that Search creates. Returns the file's name, or empty when
// it could not be written whole; then nothing is left behind and Error holds the system's
// reason.
std::wstring WriteNumberedFile(TNumberedFileSearch& Search, const uint8_t* Data, size_t Size,
                               DWORD& Error);
