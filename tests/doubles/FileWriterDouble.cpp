// A file writer whose input pin also answers IStream, as the platform's writer does on
// Windows: some AVI multiplexers write their file only through that stream (seeking back
// to fill in their headers), and Wine's file writer lacks it. Samples that arrive through
// IMemInputPin are written at the byte position their start time gives.
#include <wrl/client.h>

#include "tests/doubles/FileStream.h"
#include "tests/doubles/Doubles.h"
#include "tests/doubles/SinkFilter.h"

using Microsoft::WRL::ComPtr;

namespace doubles {

namespace {

class FileWriterDouble final : public SinkFilter {
public:
    FileWriterDouble() : SinkFilter(CLSID_FileWriter, {L"in"}) {}

    bool Accepts(int, const AM_MEDIA_TYPE& mt) override { return mt.majortype == MEDIATYPE_Stream; }
    HRESULT PinInterface(int, REFIID iid, void** out) override {
        if (iid != IID_IStream) return E_NOINTERFACE;
        std::lock_guard<fw::SlimRecursiveMutex> hold(lock_);
        const HRESULT hr = OpenStream();
        if (FAILED(hr)) return hr;
        return stream_.CopyTo(reinterpret_cast<IStream**>(out));
    }
    HRESULT Deliver(int, IMediaSample* sample) override {
        BYTE* data = nullptr;
        REFERENCE_TIME start = 0, stop = 0;
        // A sample's start time is its byte offset in the file: an untimed one has no place.
        if (FAILED(sample->GetPointer(&data))) return E_FAIL;
        if (FAILED(sample->GetTime(&start, &stop))) return VFW_E_SAMPLE_TIME_NOT_SET;
        std::lock_guard<fw::SlimRecursiveMutex> hold(lock_);
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
        // The writer has nowhere to write before it is given a file name: it will neither
        // pause nor run, nor hand out its stream.
        if (fileName_.empty()) return E_FAIL;
        return CreateFileStream(fileName_, stream_);
    }

    ComPtr<IStream> stream_;
};

}  // namespace

HRESULT CreateFileWriter(REFIID iid, void** out) {
    return CreateAndQuery<FileWriterDouble>(iid, out);
}

}  // namespace doubles
