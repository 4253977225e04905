#include "tests/capture/CaptureTestSupport.h"

#include "framework/WinHandles.h"
#include "tests/capture/ControlProbe.h"

namespace captest {

std::wstring FakeDevices::InstanceRoot() const {
    wchar_t guid[64];
    ::StringFromGUID2(category_, guid, 64);
    return std::wstring(L"CLSID\\") + guid + L"\\Instance";
}

void FakeDevices::Add(const std::wstring& instanceKey, const std::wstring& friendlyName) {
    const std::wstring key = InstanceRoot() + L"\\" + instanceKey;
    ::RegSetKeyValueW(HKEY_CLASSES_ROOT, key.c_str(), L"FriendlyName", REG_SZ, friendlyName.c_str(),
                      static_cast<DWORD>((friendlyName.size() + 1) * sizeof(wchar_t)));
    ::RegSetKeyValueW(HKEY_CLASSES_ROOT, key.c_str(), L"CLSID", REG_SZ, instanceKey.c_str(),
                      static_cast<DWORD>((instanceKey.size() + 1) * sizeof(wchar_t)));
    keys_.push_back(key);
}

FakeDevices::~FakeDevices() {
    for (const std::wstring& k : keys_) ::RegDeleteTreeW(HKEY_CLASSES_ROOT, k.c_str());
}

std::string Narrow(const wchar_t* s) {
    std::string out;
    for (; *s; ++s) out.push_back(static_cast<char>(*s));
    return out;
}

int IndexOf(const std::vector<std::string>& names, const wchar_t* name) {
    const std::string n = Narrow(name);
    for (size_t i = 0; i < names.size(); ++i) {
        if (names[i] == n) return static_cast<int>(i);
    }
    return -1;
}

void CaptureFixture::UseFormat(const CameraFormat& format) {
    if (format.subtype)
        config.SetString(vcam::kValueSubtype, format.subtype);
    else
        config.Remove(vcam::kValueSubtype);
}

void CaptureFixture::ForEachFormatAndSize(
    const std::function<void(const CameraFormat&, SIZE)>& Body) {
    for (const CameraFormat& format : kCameraFormats) {
        for (const SIZE size : {SIZE{640, 480}, SIZE{1280, 720}}) {
            SCOPED_TRACE(std::string(format.name) + " " + std::to_string(size.cx));
            UseFormat(format);
            if (!SelectCamera()) {
                ADD_FAILURE() << "the camera is not listed";
                continue;
            }
            cap->SensorFilter()->SelectSensor(1);  // the forward sensor
            cap->SetVideoFormat(size.cx, size.cy, 15, format.bits);
            ClearEvents();
            Body(format, size);
        }
    }
}

std::vector<CLSID> CaptureFixture::PreviewChain() {
    std::vector<CLSID> chain;
    Microsoft::WRL::ComPtr<IBaseFilter> tee = GraphFilter(CLSID_SmartTee);
    if (!tee) return chain;
    Microsoft::WRL::ComPtr<IEnumPins> pins;
    if (FAILED(tee->EnumPins(&pins))) return chain;
    Microsoft::WRL::ComPtr<IPin> capture = FindPinByDirection(pins.Get(), PINDIR_OUTPUT);
    Microsoft::WRL::ComPtr<IPin> out = NextPinAfter(pins.Get(), capture.Get());
    for (int guard = 0; out && guard < 16; ++guard) {
        Microsoft::WRL::ComPtr<IPin> peer;
        PIN_INFO info{};
        if (FAILED(out->ConnectedTo(&peer)) || FAILED(peer->QueryPinInfo(&info))) break;
        Microsoft::WRL::ComPtr<IBaseFilter> next;
        next.Attach(info.pFilter);
        CLSID clsid{};
        next->GetClassID(&clsid);
        chain.push_back(clsid);
        out = FirstPin(next.Get(), PINDIR_OUTPUT);
    }
    return chain;
}

void CaptureFixture::SetUp() {
    form = fw::NewForm<fw::Form>(&app);
    form->SetClientSize(400, 320);
    fpuBeforeControl = ReadFpuControlWord();
    cap = new TGDirectCapPin2(form);
    cap->SetParent(form);
    cap->SetBounds(0, 0, 320, 240);
    cap->OnError = [this](int code) { Log("Error" + std::to_string(code)); };
    cap->OnChangeDevice = [this] { Log("ChangeDevice"); };
    cap->OnStartPreview = [this] { Log("StartPreview"); };
    cap->OnStopPreview = [this] { Log("StopPreview"); };
    cap->OnStartCapture = [this] { Log("StartCapture"); };
    cap->OnStopCapture = [this] { Log("StopCapture"); };
    cap->OnVideoFormatChange = [this] { Log("VideoFormatChange"); };
    cap->OnAudioFormatChange = [this] { Log("AudioFormatChange"); };
    cap->SetOnVideoPreview([this](uint32_t, BYTE*&, int32_t& size) {
        lastSize = size;
        ++frames;
    });
    form->Show();
    app.ProcessMessages();
}

void CaptureFixture::TearDown() {
    delete form;
    form = nullptr;
    cap = nullptr;
    app.ProcessMessages();
}

bool CaptureFixture::SelectCamera(bool withMicrophone) {
    const int video = IndexOf(cap->VideoDeviceNames(false), vcam::kCameraName);
    const int audio =
        withMicrophone ? IndexOf(cap->AudioDeviceNames(false), vcam::kMicrophoneName) : -1;
    if (video < 0 || (withMicrophone && audio < 0)) return false;
    cap->SelectDevices(video, audio);
    return ControlProbe::VideoCaptureFilter(*cap) != nullptr;
}

void CaptureFixture::Log(const std::string& e) {
    std::lock_guard<std::mutex> g(lock_);
    events_.push_back(e);
}

std::vector<std::string> CaptureFixture::Events() {
    std::lock_guard<std::mutex> g(lock_);
    return events_;
}

void CaptureFixture::ClearEvents() {
    std::lock_guard<std::mutex> g(lock_);
    events_.clear();
}

std::vector<int> CaptureFixture::Errors() {
    std::vector<int> codes;
    for (const std::string& e : Events()) {
        if (e.rfind("Error", 0) == 0) codes.push_back(std::stoi(e.substr(5)));
    }
    return codes;
}

bool CaptureFixture::WaitFrames(uint32_t count, DWORD timeoutMs) {
    return PumpUntil([&] { return frames.load() >= count; }, timeoutMs);
}

namespace {

bool OfClass(IBaseFilter* f, const CLSID& clsid) {
    CLSID c;
    return SUCCEEDED(f->GetClassID(&c)) && c == clsid;
}

}  // namespace

int CaptureFixture::CountFilters(const CLSID& clsid) {
    int n = 0;
    for (const auto& f : ControlProbe::GraphFilters(*cap)) n += OfClass(f.Get(), clsid) ? 1 : 0;
    return n;
}

Microsoft::WRL::ComPtr<IBaseFilter> CaptureFixture::GraphFilter(const CLSID& clsid) {
    for (const auto& f : ControlProbe::GraphFilters(*cap)) {
        if (OfClass(f.Get(), clsid)) return f;
    }
    return nullptr;
}

std::vector<std::wstring> CaptureFixture::FilterNames() {
    std::vector<std::wstring> names;
    for (const auto& f : ControlProbe::GraphFilters(*cap)) {
        FILTER_INFO info{};
        if (SUCCEEDED(f->QueryFilterInfo(&info))) {
            names.emplace_back(info.achName);
            if (info.pGraph) info.pGraph->Release();
        }
    }
    return names;
}

}  // namespace captest
