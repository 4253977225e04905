// Recording benchmark with the stand-in camera and microphone (44100 Hz mono 16-bit): at
// the main window's recording format (320 x 240, 15 frames a second) for each file kind
// (.wmv through the ASF writer, .avi through the AVI multiplexer), and .avi at 640 x 480 and
// 30 frames a second:
//  1. frames in the file (ffprobe) against frames the camera produced (goal >= 99.5 %);
//  2. sound duration against video duration in the file (goal: within 100 ms).
// Usage: recording_bench.exe [seconds per recording, default 60]
#include "bench/support/BenchSupport.h"
#include "capture/GDirectCapPin2.h"
#include "framework/Application.h"
#include "framework/Form.h"
#include "standins/vcam/VCamConfig.h"
#include "tests/capture/MediaProbe.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

using namespace bench;

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
    fw::Application app;
    const auto [form, cap] = NewControlOnForm(app, 320, 240);
    const int video = CameraIndex(*cap);
    const int audio = MicrophoneIndex(*cap);
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
    struct Run {
        const wchar_t* name;
        int width, height;
        double rate;
    };
    for (const Run run : {Run{L"bench_.wmv", 320, 240, 15.0}, Run{L"bench_.avi", 320, 240, 15.0},
                          Run{L"bench_.avi", 640, 480, 30.0}}) {
        cap->SetAudioFormat(44100, 1, 16);
        cap->SetVideoFormat(run.width, run.height, run.rate, 24);
        cap->VideoFileName = (folder / run.name).wstring();
        const std::string what =
            Format("recording %ls %d x %d at %.0f fps, %d s", run.name + 6, run.width,
                   run.height, run.rate, seconds);
        if (!cap->StartCapture()) {
            std::printf("%s: the recording did not start\n", what.c_str());
            return 1;
        }
        PumpFor(app, seconds * 1000.0);
        cap->StopCapture();
        const DWORD produced = FramesProduced();
        const captest::MediaProbe p = captest::ProbeMedia(cap->CaptureFileName());
        if (!p.ran) {
            std::printf("%s: ffprobe could not read the file\n", what.c_str());
            return 1;
        }
        const int inFile = p.VideoInt("nb_read_packets");
        const double share = produced ? 100.0 * inFile / produced : 0;
        const double videoSec = p.VideoDouble("duration");
        const double audioSec = p.AudioSeconds();
        const double gapMs = std::fabs(audioSec - videoSec) * 1000.0;
        Goal(what + ", frames in the file",
             Format("%d of %lu produced (%.2f %%)", inFile, static_cast<unsigned long>(produced),
                    share),
             ">= 99.5 %", share >= 99.5);
        Goal(what + ", sound against video",
             Format("video %.3f s, sound %.3f s, difference %.0f ms", videoSec, audioSec, gapMs),
             "<= 100 ms", gapMs <= 100.0);
    }
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    delete form;
    return 0;
}
