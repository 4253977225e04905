// Recording benchmark with the stand-in camera and microphone at the main window's
// recording format (320 x 240, 15 frames a second, 44100 Hz mono 16-bit), for each file
// kind (.wmv through the ASF writer, .avi through the AVI multiplexer):
//  1. frames in the file (ffprobe) against frames the camera produced (goal >= 99.5 %);
//  2. sound duration against video duration in the file (goal: within 100 ms).
// Usage: recording_bench.exe [seconds per recording, default 60]
#include "capture/GDirectCapPin2.h"
#include "framework/Application.h"
#include "framework/Form.h"
#include "standins/vcam/VCamConfig.h"
#include "tests/capture/MediaProbe.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace {

template <typename Pred>
bool Pump(fw::Application& app, Pred pred, DWORD timeoutMs) {
    const DWORD start = ::GetTickCount();
    for (;;) {
        app.ProcessMessages();
        if (pred()) return true;
        if (::GetTickCount() - start >= timeoutMs) return false;
        ::MsgWaitForMultipleObjectsEx(0, nullptr, 5, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
}

DWORD FramesProduced() {
    DWORD v = 0, size = sizeof(v);
    if (::RegGetValueW(HKEY_CURRENT_USER, vcam::kConfigKey, vcam::kValueFramesProduced,
                       RRF_RT_REG_DWORD, nullptr, &v, &size) != ERROR_SUCCESS)
        return 0;
    return v;
}

int IndexOf(const std::vector<std::string>& names, const wchar_t* name) {
    std::string want;
    for (const wchar_t* p = name; *p; ++p) want.push_back(static_cast<char>(*p));
    for (size_t i = 0; i < names.size(); ++i) {
        if (names[i] == want) return static_cast<int>(i);
    }
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
    fw::Application app;
    fw::Form* form = fw::NewForm<fw::Form>(&app);
    form->SetClientSize(320, 240);
    auto* cap = new TGDirectCapPin2(form);
    cap->SetParent(form);
    cap->SetBounds(0, 0, 320, 240);
    form->Show();
    const int video = IndexOf(cap->VideoDeviceNames(false), vcam::kCameraName);
    const int audio = IndexOf(cap->AudioDeviceNames(false), vcam::kMicrophoneName);
    if (video < 0 || audio < 0) {
        std::printf("stand-in camera or microphone not registered\n");
        return 1;
    }
    cap->SelectDevices(video, audio);
    wchar_t tmp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, tmp);
    const std::filesystem::path folder =
        std::filesystem::path(tmp) /
        (L"orvix-recbench-" + std::to_wstring(::GetCurrentProcessId()));
    bool met = true;
    for (const wchar_t* name : {L"bench_.wmv", L"bench_.avi"}) {
        cap->SetAudioFormat(44100, 1, 16);
        cap->SetVideoFormat(320, 240, 15.0, 24);
        cap->VideoFileName = (folder / name).wstring();
        if (!cap->StartCapture()) {
            std::printf("%ls: the recording did not start\n", name);
            return 1;
        }
        Pump(
            app, [] { return false; }, static_cast<DWORD>(seconds) * 1000);
        cap->StopCapture();
        const DWORD produced = FramesProduced();
        const captest::MediaProbe p = captest::ProbeMedia(cap->CaptureFileName());
        if (!p.ran) {
            std::printf("%ls: ffprobe could not read the file\n", name);
            return 1;
        }
        const int inFile = p.VideoInt("nb_read_packets");
        const double share = produced ? 100.0 * inFile / produced : 0;
        const double videoSec = p.VideoDouble("duration");
        const double audioSec = p.AudioSeconds();
        const double gapMs = std::fabs(audioSec - videoSec) * 1000.0;
        std::printf("%ls, %d s: frames in file %d of %lu produced (%.2f %%, goal >= 99.5 %%)\n",
                    name, seconds, inFile, static_cast<unsigned long>(produced), share);
        std::printf("%ls, %d s: video %.3f s, sound %.3f s, difference %.0f ms (goal <= 100 ms)\n",
                    name, seconds, videoSec, audioSec, gapMs);
        met = met && share >= 99.5 && gapMs <= 100.0;
    }
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    delete form;
    std::printf("goals %s\n", met ? "met" : "not met");
    return 0;
}
