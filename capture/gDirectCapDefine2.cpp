#include "capture/gDirectCapDefine2.h"

#include "common/FolderProbe.h"
#include "common/u_PathUtil.h"

#include <cstring>
#include <cwctype>
#include <new>

using Microsoft::WRL::ComPtr;

namespace {

constexpr size_t kPinNameLimit = 128;

}  // namespace

ComPtr<IPin> FindPinByDirection(IEnumPins* Pins, PIN_DIRECTION Direction) {
    if (!Pins) return nullptr;
    Pins->Reset();
    ComPtr<IPin> pin;
    while (Pins->Next(1, pin.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
        PIN_DIRECTION dir;
        if (pin && SUCCEEDED(pin->QueryDirection(&dir)) && dir == Direction) return pin;
    }
    return nullptr;
}

std::wstring PinName(IPin* Pin) {
    if (!Pin) return {};
    PinInfoHolder h;
    if (FAILED(Pin->QueryPinInfo(&h.info))) return {};
    return std::wstring(h.info.achName, wcsnlen(h.info.achName, kPinNameLimit));
}

ComPtr<IPin> NextPinAfter(IEnumPins* Pins, IPin* Pin) {
    if (!Pins || !Pin) return nullptr;
    PinInfoHolder h;
    if (FAILED(Pin->QueryPinInfo(&h.info))) return nullptr;
    const std::wstring name(h.info.achName, wcsnlen(h.info.achName, kPinNameLimit));
    Pins->Reset();
    ComPtr<IPin> pin;
    bool passed = false;
    while (Pins->Next(1, pin.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
        if (!pin) continue;
        if (!passed) {
            passed = PinName(pin.Get()) == name;
            continue;
        }
        PIN_DIRECTION dir;
        if (SUCCEEDED(pin->QueryDirection(&dir)) && dir == h.info.dir) return pin;
    }
    return nullptr;
}

ComPtr<IEnumPins> PinsOf(IBaseFilter* Filter) {
    ComPtr<IEnumPins> pins;
    if (Filter) Filter->EnumPins(&pins);
    return pins;
}

ComPtr<IPin> FirstPin(IBaseFilter* Filter, PIN_DIRECTION Direction) {
    ComPtr<IEnumPins> pins = PinsOf(Filter);
    return FindPinByDirection(pins.Get(), Direction);
}

void FreeMediaType(AM_MEDIA_TYPE& Type) {
    if (Type.cbFormat && Type.pbFormat) ::CoTaskMemFree(Type.pbFormat);
    Type.cbFormat = 0;
    Type.pbFormat = nullptr;
    if (Type.pUnk) {
        Type.pUnk->Release();
        Type.pUnk = nullptr;
    }
}

void MediaTypePtr::reset() {
    if (!mt_) return;
    FreeMediaType(*mt_);
    ::CoTaskMemFree(mt_);
    mt_ = nullptr;
}

const VIDEOINFOHEADER* MediaTypePtr::VideoInfo() const {
    if (!mt_ || mt_->formattype != FORMAT_VideoInfo || !mt_->pbFormat ||
        mt_->cbFormat < sizeof(VIDEOINFOHEADER))
        return nullptr;
    return reinterpret_cast<const VIDEOINFOHEADER*>(mt_->pbFormat);
}

const WAVEFORMATEX* MediaTypePtr::WaveFormat() const {
    if (!mt_ || mt_->formattype != FORMAT_WaveFormatEx || !mt_->pbFormat ||
        mt_->cbFormat < sizeof(WAVEFORMATEX) - sizeof(WORD))
        return nullptr;
    return reinterpret_cast<const WAVEFORMATEX*>(mt_->pbFormat);
}

// ---------------------------------------------------------------------------
// Numbered file names

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/' || c == L':'; }

// Creates Folder and every missing parent. Failures are left to the file creation that
// follows, which reports them.
void ForceFolder(const std::wstring& Folder) {
    std::wstring path = Folder;
    while (!path.empty() && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
    if (path.empty()) return;
    for (size_t i = 0; i <= path.size(); ++i) {
        if (i < path.size() && path[i] != L'\\' && path[i] != L'/') continue;
        const std::wstring prefix = path.substr(0, i);
        // A drive or server part cannot be made and fails harmlessly.
        if (prefix.empty() || prefix.back() == L'\\' || prefix.back() == L'/') continue;
        ::CreateDirectoryW(ExtendedPath(prefix).c_str(), nullptr);
    }
}

wchar_t Fold(wchar_t c) {
    if (c < 0x80) return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - 32) : c;
    return static_cast<wchar_t>(std::towupper(c));
}

bool SameIgnoringCase(const wchar_t* a, const wchar_t* b, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        if (a[i] != b[i] && Fold(a[i]) != Fold(b[i])) return false;
    }
    return true;
}

// Numbers already used in the folder: Taken[n] for n up to the count of listed names,
// enough to hold the smallest free one (n names cannot take more than n numbers). False,
// with the system's error, when the folder cannot be listed: a failed look is no proof
// that a name is free.
bool TakenNumbers(const TFileNameParts& P, std::vector<bool>& Taken, DWORD& Error) {
    Taken.clear();
    // A drive without its medium answers with a failure, not with the system's box.
    NoCriticalErrorBoxes quiet;
    const std::wstring pattern = ExtendedPath(P.Folder + P.Base + L"*" + P.Ext);
    WIN32_FIND_DATAW fd;
    fw::FindHandle find = FindFirstEntry(pattern, FindExSearchNameMatch, fd, Error);
    if (!find) {
        if (Error == ERROR_PATH_NOT_FOUND) {
            // The folder is made on first use; listing first saves a look on every other
            // one. Whether it could be made shows when the file is created.
            ForceFolder(P.Folder);
        } else if (Error != ERROR_FILE_NOT_FOUND && Error != ERROR_NO_MORE_FILES) {
            return false;
        }
        Error = ERROR_SUCCESS;
        Taken.assign(1, false);
        return true;
    }
    std::vector<unsigned> numbers;
    const size_t fixed = P.Base.size() + P.Ext.size();
    do {
        const wchar_t* name = fd.cFileName;
        const size_t len = wcsnlen(name, MAX_PATH);
        // The pattern also matches through short names and longer extensions: keep only
        // base + decimal number without leading zeros + extension.
        if (len <= fixed || len - fixed > 9) continue;
        const wchar_t* digits = name + P.Base.size();
        const size_t count = len - fixed;
        if (count > 1 && digits[0] == L'0') continue;
        unsigned value = 0;
        bool ok = true;
        for (size_t i = 0; i < count && ok; ++i) {
            ok = digits[i] >= L'0' && digits[i] <= L'9';
            value = value * 10 + static_cast<unsigned>(digits[i] - L'0');
        }
        if (!ok || !SameIgnoringCase(name, P.Base.c_str(), P.Base.size()) ||
            !SameIgnoringCase(digits + count, P.Ext.c_str(), P.Ext.size()))
            continue;
        numbers.push_back(value);
    } while (::FindNextFileW(find.get(), &fd));
    Taken.assign(numbers.size() + 1, false);
    for (unsigned n : numbers) {
        if (n < Taken.size()) Taken[n] = true;
    }
    return true;
}

size_t NextFree(const std::vector<bool>& Taken, size_t From) {
    size_t n = From;
    while (n < Taken.size() && Taken[n]) ++n;
    return n;
}

std::wstring Numbered(const TFileNameParts& P, size_t N) {
    return P.Folder + P.Base + std::to_wstring(N) + P.Ext;
}

TFileNameParts PrepareFolder(const std::wstring& Template) {
    TFileNameParts p = SplitFileTemplate(Template);
    if (p.Folder.empty()) p.Folder = GetProgramFolderW();
    return p;
}

}  // namespace

TFileNameParts SplitFileTemplate(const std::wstring& Template) {
    TFileNameParts p;
    size_t nameStart = 0;
    for (size_t i = Template.size(); i > 0; --i) {
        if (IsSeparator(Template[i - 1])) {
            nameStart = i;
            break;
        }
    }
    p.Folder = Template.substr(0, nameStart);
    const std::wstring name = Template.substr(nameStart);
    const size_t dot = name.rfind(L'.');
    if (dot == std::wstring::npos) {
        p.Base = name;
    } else {
        p.Base = name.substr(0, dot);
        p.Ext = name.substr(dot);
    }
    return p;
}

std::wstring UniqueFileName(const std::wstring& Template) {
    const TFileNameParts p = PrepareFolder(Template);
    std::vector<bool> taken;
    DWORD error = ERROR_SUCCESS;
    if (!TakenNumbers(p, taken, error)) return {};
    return Numbered(p, NextFree(taken, 0));
}

fw::Handle CreateUniqueFile(const std::wstring& Template, std::wstring& FileName, DWORD& Error) {
    FileName.clear();
    Error = ERROR_SUCCESS;
    const TFileNameParts p = PrepareFolder(Template);
    std::vector<bool> taken;
    if (!TakenNumbers(p, taken, Error)) return {};
    size_t n = NextFree(taken, 0);
    // Another writer can only take so many names between our tries.
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const std::wstring name = Numbered(p, n);
        fw::Handle file(::CreateFileW(ExtendedPath(name).c_str(), GENERIC_WRITE, 0, nullptr,
                                      CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file) {
            FileName = name;
            return file;
        }
        Error = ::GetLastError();
        if (Error != ERROR_FILE_EXISTS && Error != ERROR_ALREADY_EXISTS) return {};
        n = NextFree(taken, n + 1);
    }
    return {};
}

// ---------------------------------------------------------------------------
// Still pictures

namespace {

// Rows are short (a few KB): fixed-size blocks the compiler copies inline cost less than a
// library call per row.
inline void CopyRow(uint8_t* Out, const uint8_t* In, size_t Bytes) {
    size_t i = 0;
    for (; i + 64 <= Bytes; i += 64) __builtin_memcpy(Out + i, In + i, 64);
    if (i < Bytes) std::memcpy(Out + i, In + i, Bytes - i);
}

}  // namespace

TFrameBitmap FrameToBitmap(const BYTE* Source, int Width, int Height, int32_t Size) {
    TFrameBitmap picture;
    if (!Source || Size <= 0 || Width <= 0 || Height <= 0) return picture;
    const int64_t pixels = static_cast<int64_t>(Width) * Height;
    const int64_t bytesPerPixel = Size / pixels;
    if (bytesPerPixel < 1 || bytesPerPixel > 4) return picture;
    const size_t rowBytes = static_cast<size_t>(Width) * static_cast<size_t>(bytesPerPixel);
    const size_t padded = (rowBytes + 3) & ~static_cast<size_t>(3);
    // Frames whose rows are padded like bitmap rows carry the padding in their size.
    const size_t sourceStride =
        static_cast<uint64_t>(Size) >= static_cast<uint64_t>(padded) * static_cast<size_t>(Height)
            ? padded
            : rowBytes;
    // Not value-initialised: every row is written below.
    picture.Bits.reset(new (std::nothrow) uint8_t[padded * static_cast<size_t>(Height)]);
    if (!picture.Bits) return picture;
    picture.Width = Width;
    picture.Height = Height;
    picture.BitCount = static_cast<int>(bytesPerPixel) * 8;
    picture.Stride = padded;
    // Written from the top in address order (fresh pages fault in their natural order);
    // the frame is bottom-up, so its rows are read from the last.
    uint8_t* out = picture.Bits.get();
    const uint8_t* in = Source + static_cast<size_t>(Height - 1) * sourceStride;
    for (int y = 0; y < Height; ++y, out += padded, in -= sourceStride) {
        CopyRow(out, in, rowBytes);
        if (padded != rowBytes) std::memset(out + rowBytes, 0, padded - rowBytes);
    }
    return picture;
}
