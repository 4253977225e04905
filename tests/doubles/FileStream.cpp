#include "tests/doubles/FileStream.h"

#include "framework/WinHandles.h"
#include "standins/vcam/ComObject.h"

namespace doubles {

namespace {

class FileStream final : public vcam::ComObject<IStream> {
public:
    explicit FileStream(HANDLE file) : file_(file) {}

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        return vcam::QueryInterfaceFor(static_cast<IStream*>(this), iid, out, IID_IStream,
                                       IID_ISequentialStream);
    }
    STDMETHODIMP Read(void* data, ULONG size, ULONG* done) override {
        DWORD got = 0;
        const BOOL ok = ::ReadFile(file_.get(), data, size, &got, nullptr);
        if (done) *done = got;
        return ok ? (got == size ? S_OK : S_FALSE) : HRESULT_FROM_WIN32(::GetLastError());
    }
    STDMETHODIMP Write(const void* data, ULONG size, ULONG* done) override {
        DWORD put = 0;
        const BOOL ok = ::WriteFile(file_.get(), data, size, &put, nullptr);
        if (done) *done = put;
        return ok ? S_OK : STG_E_MEDIUMFULL;
    }
    STDMETHODIMP Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) override {
        LARGE_INTEGER now{};
        if (!::SetFilePointerEx(file_.get(), move, &now, origin)) return STG_E_INVALIDFUNCTION;
        if (position) position->QuadPart = static_cast<ULONGLONG>(now.QuadPart);
        return S_OK;
    }
    STDMETHODIMP SetSize(ULARGE_INTEGER size) override {
        LARGE_INTEGER here{}, zero{}, to{};
        ::SetFilePointerEx(file_.get(), zero, &here, FILE_CURRENT);
        to.QuadPart = static_cast<LONGLONG>(size.QuadPart);
        const BOOL ok =
            ::SetFilePointerEx(file_.get(), to, nullptr, FILE_BEGIN) && ::SetEndOfFile(file_.get());
        ::SetFilePointerEx(file_.get(), here, nullptr, FILE_BEGIN);
        return ok ? S_OK : STG_E_MEDIUMFULL;
    }
    STDMETHODIMP CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override {
        return E_NOTIMPL;
    }
    STDMETHODIMP Commit(DWORD) override { return ::FlushFileBuffers(file_.get()) ? S_OK : E_FAIL; }
    STDMETHODIMP Revert() override { return E_NOTIMPL; }
    STDMETHODIMP LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP Stat(STATSTG* stat, DWORD) override {
        if (!stat) return E_POINTER;
        *stat = STATSTG{};
        LARGE_INTEGER size{};
        ::GetFileSizeEx(file_.get(), &size);
        stat->type = STGTY_STREAM;
        stat->cbSize.QuadPart = static_cast<ULONGLONG>(size.QuadPart);
        return S_OK;
    }
    STDMETHODIMP Clone(IStream**) override { return E_NOTIMPL; }

private:
    ~FileStream() override = default;
    fw::Handle file_;
};

}  // namespace

HRESULT CreateFileStream(const std::wstring& path, Microsoft::WRL::ComPtr<IStream>& stream) {
    // Windows opens a plain name only up to MAX_PATH characters (with the terminator);
    // longer ones need the "\\?\" form. Wine opens them either way.
    if (path.size() >= MAX_PATH && path.compare(0, 4, L"\\\\?\\") != 0)
        return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return HRESULT_FROM_WIN32(::GetLastError());
    auto* made = new (std::nothrow) FileStream(file);
    if (!made) {
        ::CloseHandle(file);
        return E_OUTOFMEMORY;
    }
    stream = made;  // the object starts with the one reference handed over here
    made->Release();
    return S_OK;
}

}  // namespace doubles
