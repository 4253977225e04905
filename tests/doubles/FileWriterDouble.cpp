// A file writer whose input pin also answers IStream, as the platform's writer does on
// Windows: some AVI multiplexers write their file only through that stream (seeking back
// to fill in their headers), and Wine's file writer lacks it. Samples that arrive through
// IMemInputPin are written at the byte position their start time gives.
#include <wrl/client.h>

#include "framework/WinHandles.h"
#include "standins/vcam/ComObject.h"
#include "tests/doubles/Doubles.h"
#include "tests/doubles/SinkFilter.h"

using Microsoft::WRL::ComPtr;

namespace doubles {

namespace {

// The open file; the multiplexer may hold it past the writer's own stop, so it closes
// with its last reference.
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
        const BOOL ok = ::SetFilePointerEx(file_.get(), to, nullptr, FILE_BEGIN) &&
                        ::SetEndOfFile(file_.get());
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

class FileWriterDouble final : public SinkFilter {
public:
    FileWriterDouble() : SinkFilter(CLSID_FileWriter, {L"in"}) {}

    bool Accepts(int, const AM_MEDIA_TYPE& mt) override {
        return mt.majortype == MEDIATYPE_Stream;
    }
    HRESULT PinInterface(int, REFIID iid, void** out) override {
        if (iid != IID_IStream) return E_NOINTERFACE;
        std::lock_guard<std::recursive_mutex> hold(lock_);
        const HRESULT hr = OpenStream();
        if (FAILED(hr)) return hr;
        return stream_.CopyTo(reinterpret_cast<IStream**>(out));
    }
    HRESULT Deliver(int, IMediaSample* sample) override {
        BYTE* data = nullptr;
        REFERENCE_TIME start = 0, stop = 0;
        if (FAILED(sample->GetPointer(&data)) || FAILED(sample->GetTime(&start, &stop)))
            return E_FAIL;
        std::lock_guard<std::recursive_mutex> hold(lock_);
        if (!stream_) return VFW_E_WRONG_STATE;
        LARGE_INTEGER at{};
        at.QuadPart = start;
        stream_->Seek(at, STREAM_SEEK_SET, nullptr);
        return stream_->Write(data, static_cast<ULONG>(sample->GetActualDataLength()), nullptr);
    }

protected:
    HRESULT Starting() override { return OpenStream(); }
    void Stopping() override { stream_.Reset(); }

private:
    ~FileWriterDouble() override = default;

    HRESULT OpenStream() {
        if (stream_) return S_OK;
        if (fileName_.empty()) return E_FAIL;
        HANDLE file = ::CreateFileW(fileName_.c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) return HRESULT_FROM_WIN32(::GetLastError());
        auto* stream = new (std::nothrow) FileStream(file);
        if (!stream) {
            ::CloseHandle(file);
            return E_OUTOFMEMORY;
        }
        stream_ = stream;  // the stream starts with the one reference handed over here
        stream->Release();
        return S_OK;
    }

    ComPtr<IStream> stream_;
};

}  // namespace

HRESULT CreateFileWriter(REFIID iid, void** out) {
    auto* filter = new (std::nothrow) FileWriterDouble();
    if (!filter) return E_OUTOFMEMORY;
    const HRESULT hr = filter->QueryInterface(iid, out);
    filter->Release();
    return hr;
}

}  // namespace doubles
