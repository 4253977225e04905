// The capture graph builder as Windows has it. Wine's builder (qcap.dll, served here
// through its own class object) does all the work but the AVI capture-file facilities,
// which it leaves out with E_NOTIMPL: SetOutputFileName, AllocCapFile and CopyCaptureFile
// are done here as Windows documents them, and so is ControlStream for all the capture
// filters of a graph, so that the path the program takes on Windows runs in the tests. A
// test's switch: a REG_DWORD under HKCU\Software\Orvix\TestDoubles\Builder named as one of
// the four makes it return that HRESULT instead (E_NOTIMPL: as under Wine).
#include <dshow.h>
#include <wrl/client.h>

#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>

#include "framework/WinHandles.h"
#include "standins/vcam/ComObject.h"
#include "tests/doubles/Doubles.h"

using Microsoft::WRL::ComPtr;

namespace doubles {

namespace {

// S_OK when the test has not told the method to fail.
HRESULT Forced(const wchar_t* method) {
    DWORD value = 0, size = sizeof(value);
    if (::RegGetValueW(HKEY_CURRENT_USER, L"Software\\Orvix\\TestDoubles\\Builder", method,
                       RRF_RT_REG_DWORD, nullptr, &value, &size) != ERROR_SUCCESS)
        return S_OK;
    return static_cast<HRESULT>(value);
}

// Windows opens a plain name only up to MAX_PATH characters; longer ones need "\\?\".
bool OpenableName(const wchar_t* name) {
    return std::wcslen(name) < MAX_PATH || std::wcsncmp(name, L"\\\\?\\", 4) == 0;
}

ComPtr<IPin> FirstPin(IBaseFilter* filter, PIN_DIRECTION wanted) {
    ComPtr<IEnumPins> pins;
    if (!filter || FAILED(filter->EnumPins(&pins))) return nullptr;
    ComPtr<IPin> pin;
    while (pins->Next(1, pin.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
        PIN_DIRECTION direction;
        if (SUCCEEDED(pin->QueryDirection(&direction)) && direction == wanted) return pin;
    }
    return nullptr;
}

bool ReadExactly(HANDLE file, void* data, DWORD size) {
    DWORD got = 0;
    return ::ReadFile(file, data, size, &got, nullptr) && got == size;
}

// The bytes of a capture file that hold its AVI data: the 'RIFF' 'AVI ' chunk and the
// 'RIFF' 'AVIX' chunks that follow it; what lies after them is unused preallocated space.
// 0 when the file does not begin as an AVI file or a chunk runs past its end.
ULONGLONG AviDataLength(HANDLE file) {
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file, &size)) return 0;
    const ULONGLONG total = static_cast<ULONGLONG>(size.QuadPart);
    ULONGLONG at = 0;
    for (bool first = true;; first = false) {
        LARGE_INTEGER to{};
        to.QuadPart = static_cast<LONGLONG>(at);
        DWORD header[3] = {};
        if (at + sizeof(header) > total || !::SetFilePointerEx(file, to, nullptr, FILE_BEGIN) ||
            !ReadExactly(file, header, sizeof(header)) ||
            header[0] != mmioFOURCC('R', 'I', 'F', 'F') ||
            header[2] != (first ? mmioFOURCC('A', 'V', 'I', ' ') : mmioFOURCC('A', 'V', 'I', 'X')))
            return first ? 0 : at;
        const ULONGLONG next = at + 8 + header[1] + (header[1] & 1);
        if (next > total) return 0;
        at = next;
    }
}

class BuilderDouble final : public vcam::ComObject<ICaptureGraphBuilder2> {
public:
    explicit BuilderDouble(ComPtr<ICaptureGraphBuilder2> wine) : wine_(std::move(wine)) {}

    STDMETHODIMP SetFiltergraph(IGraphBuilder* graph) override {
        return wine_->SetFiltergraph(graph);
    }
    STDMETHODIMP GetFiltergraph(IGraphBuilder** graph) override {
        return wine_->GetFiltergraph(graph);
    }
    STDMETHODIMP FindInterface(const GUID* category, const GUID* type, IBaseFilter* filter,
                               REFIID iid, void** out) override {
        return wine_->FindInterface(category, type, filter, iid, out);
    }
    STDMETHODIMP RenderStream(const GUID* category, const GUID* type, IUnknown* source,
                              IBaseFilter* via, IBaseFilter* sink) override {
        return wine_->RenderStream(category, type, source, via, sink);
    }
    // Sets the stream control of the output pins of that category (and major type) on the
    // named filter, or on every filter of the graph when none is named; E_FAIL when no such
    // pin has stream control. Wine leaves this out.
    STDMETHODIMP ControlStream(const GUID* category, const GUID* type, IBaseFilter* filter,
                               REFERENCE_TIME* start, REFERENCE_TIME* stop, WORD startCookie,
                               WORD stopCookie) override {
        if (!category) return E_POINTER;
        if (const HRESULT forced = Forced(L"ControlStream"); forced != S_OK) return forced;
        std::vector<ComPtr<IBaseFilter>> filters;
        if (filter) {
            filters.emplace_back(filter);
        } else {
            ComPtr<IGraphBuilder> graph;
            ComPtr<IEnumFilters> all;
            if (FAILED(wine_->GetFiltergraph(&graph)) || !graph || FAILED(graph->EnumFilters(&all)))
                return E_FAIL;
            ComPtr<IBaseFilter> f;
            while (all->Next(1, f.ReleaseAndGetAddressOf(), nullptr) == S_OK) filters.push_back(f);
        }
        bool controlled = false;
        for (const ComPtr<IBaseFilter>& f : filters) {
            ComPtr<IPin> pin;
            for (int i = 0; wine_->FindPin(f.Get(), PINDIR_OUTPUT, category, type, FALSE, i,
                                           pin.ReleaseAndGetAddressOf()) == S_OK;
                 ++i) {
                ComPtr<IAMStreamControl> control;
                if (FAILED(pin.As(&control))) continue;
                control->StopAt(stop, FALSE, stopCookie);
                control->StartAt(start, startCookie);
                controlled = true;
            }
        }
        return controlled ? S_OK : E_FAIL;
    }
    STDMETHODIMP FindPin(IUnknown* source, PIN_DIRECTION direction, const GUID* category,
                         const GUID* type, BOOL unconnected, int index, IPin** pin) override {
        return wine_->FindPin(source, direction, category, type, unconnected, index, pin);
    }

    // The multiplexer (the writer itself for Windows Media) and, for AVI, a file writer
    // joined to it, both added to the graph (made here when the builder has none yet).
    STDMETHODIMP SetOutputFileName(const GUID* type, LPCOLESTR file, IBaseFilter** mux,
                                   IFileSinkFilter** sink) override {
        if (!type || !file || !mux) return E_POINTER;
        *mux = nullptr;
        if (sink) *sink = nullptr;
        if (const HRESULT forced = Forced(L"SetOutputFileName"); forced != S_OK) return forced;
        ComPtr<IGraphBuilder> graph;
        if (FAILED(wine_->GetFiltergraph(&graph)) || !graph) {
            HRESULT hr = ::CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER,
                                            IID_PPV_ARGS(&graph));
            if (SUCCEEDED(hr)) hr = wine_->SetFiltergraph(graph.Get());
            if (FAILED(hr)) return hr;
        }
        const bool asf = *type == MEDIASUBTYPE_Asf;
        const CLSID muxClass = *type == MEDIASUBTYPE_Avi ? CLSID_AviDest
                               : asf                     ? CLSID_WMAsfWriter
                                                         : *type;
        ComPtr<IBaseFilter> made, writer;
        ComPtr<IFileSinkFilter> fileSink;
        HRESULT hr =
            ::CoCreateInstance(muxClass, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&made));
        if (FAILED(hr)) return hr == REGDB_E_CLASSNOTREG ? E_INVALIDARG : hr;
        hr = graph->AddFilter(made.Get(), L"Mux");
        if (SUCCEEDED(hr)) {
            if (asf) {
                writer = made;
            } else {
                hr = ::CoCreateInstance(CLSID_FileWriter, nullptr, CLSCTX_INPROC_SERVER,
                                        IID_PPV_ARGS(&writer));
                if (SUCCEEDED(hr)) hr = graph->AddFilter(writer.Get(), L"File Writer");
            }
        }
        if (SUCCEEDED(hr)) hr = writer.As(&fileSink);
        if (SUCCEEDED(hr)) hr = fileSink->SetFileName(file, nullptr);
        if (SUCCEEDED(hr) && !asf) {
            const ComPtr<IPin> out = FirstPin(made.Get(), PINDIR_OUTPUT);
            const ComPtr<IPin> in = FirstPin(writer.Get(), PINDIR_INPUT);
            hr = out && in ? graph->Connect(out.Get(), in.Get()) : E_FAIL;
        }
        if (FAILED(hr)) {
            graph->RemoveFilter(made.Get());
            if (writer && writer != made) graph->RemoveFilter(writer.Get());
            return hr;
        }
        *mux = made.Detach();
        if (sink) *sink = fileSink.Detach();
        return S_OK;
    }

    // Creates the file or changes its size; a read-only file refuses.
    STDMETHODIMP AllocCapFile(LPCOLESTR name, DWORDLONG size) override {
        if (!name) return E_POINTER;
        if (const HRESULT forced = Forced(L"AllocCapFile"); forced != S_OK) return forced;
        if (!OpenableName(name)) return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
        fw::Handle file(::CreateFileW(name, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return HRESULT_FROM_WIN32(::GetLastError());
        LARGE_INTEGER end{};
        end.QuadPart = static_cast<LONGLONG>(size);
        if (!::SetFilePointerEx(file.get(), end, nullptr, FILE_BEGIN) ||
            !::SetEndOfFile(file.get()))
            return HRESULT_FROM_WIN32(::GetLastError());
        return S_OK;
    }

    // Copies the AVI data of a capture file, without the unused space after it. Esc (when
    // allowed) stops the copy with S_FALSE and leaves no destination behind. The source is
    // open for reading only, so a destination that is the source cannot be opened.
    STDMETHODIMP CopyCaptureFile(LPOLESTR from, LPOLESTR to, int allowEscape,
                                 IAMCopyCaptureFileProgress* progress) override {
        if (!from || !to) return E_POINTER;
        if (const HRESULT forced = Forced(L"CopyCaptureFile"); forced != S_OK) return forced;
        if (!OpenableName(from) || !OpenableName(to)) return E_INVALIDARG;
        fw::Handle source(::CreateFileW(from, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!source) return E_INVALIDARG;
        const ULONGLONG length = AviDataLength(source.get());
        if (length == 0) return E_FAIL;  // only AVI files are copied
        fw::Handle target(::CreateFileW(to, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!target) return E_INVALIDARG;
        const auto giveUp = [&](HRESULT hr) {
            target.reset();
            ::DeleteFileW(to);
            return hr;
        };
        LARGE_INTEGER start{};
        if (!::SetFilePointerEx(source.get(), start, nullptr, FILE_BEGIN)) return giveUp(E_FAIL);
        std::vector<BYTE> block(1 << 20);
        for (ULONGLONG done = 0; done < length;) {
            if (allowEscape && (::GetAsyncKeyState(VK_ESCAPE) & 0x8000)) return giveUp(S_FALSE);
            const DWORD part = static_cast<DWORD>(std::min<ULONGLONG>(block.size(), length - done));
            DWORD put = 0;
            if (!ReadExactly(source.get(), block.data(), part) ||
                !::WriteFile(target.get(), block.data(), part, &put, nullptr) || put != part)
                return giveUp(E_FAIL);
            done += part;
            if (progress) progress->Progress(static_cast<int>(done * 100 / length));
        }
        return S_OK;
    }

private:
    ~BuilderDouble() override = default;
    ComPtr<ICaptureGraphBuilder2> wine_;
};

}  // namespace

HRESULT CreateCaptureGraphBuilder(REFIID iid, void** out) {
    ComPtr<IClassFactory> factory;
    ComPtr<ICaptureGraphBuilder2> wine;
    HRESULT hr = PlatformClassObject(L"qcap.dll", CLSID_CaptureGraphBuilder2, &factory);
    if (SUCCEEDED(hr)) hr = factory->CreateInstance(nullptr, IID_PPV_ARGS(&wine));
    if (FAILED(hr)) return hr;
    return vcam::CreateObject<BuilderDouble>(iid, out, std::move(wine));
}

}  // namespace doubles
