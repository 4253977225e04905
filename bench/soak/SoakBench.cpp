// Soak: the capture control driven as the program drives it, with the stand-in camera and
// microphone: the preview (640 x 480, 15 frames a second), a snapshot every 2 s, and every
// 2 minutes a 20-s recording (.wmv at 320 x 240) after which the preview starts again. The
// process's private bytes and handle count at the end of each 2-minute cycle are compared
// with those after the first (goal: private bytes grow at most 1 MB, handles at most 10).
// Usage: soak_bench.exe (ORVIX_SOAK_MINUTES sets the length, 10 by default; at least two
// cycles are run)
#include "bench/support/BenchSupport.h"
#include "capture/GDirectCapPin2.h"
#include "framework/Form.h"
#include "standins/vcam/VCamConfig.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

using namespace bench;

namespace {

constexpr double kCycleMs = 120000;
constexpr double kRecordingMs = 20000;
constexpr double kSnapshotEveryMs = 2000;

struct Figures {
    bool hasBytes = false, hasHandles = false;
    size_t bytes = 0;
    DWORD handles = 0;
    const char* handleSource = "";
};

Figures Measure() {
    Figures f;
    f.hasBytes = PrivateBytes(f.bytes);
    f.hasHandles = HandleCount(f.handles, f.handleSource);
    return f;
}

}  // namespace

int main() {
    const char* option = std::getenv("ORVIX_SOAK_MINUTES");
    const double minutes = option ? std::atof(option) : 10.0;
    const int cycles = std::max(2, static_cast<int>(minutes * 60000 / kCycleMs + 0.5));
    fw::ComInit com(COINIT_APARTMENTTHREADED);
    fw::Application app;
    ::RegDeleteTreeW(HKEY_CURRENT_USER, vcam::kConfigKey);
    const auto [form, cap] = NewControlOnForm(app, 640, 480);
    const int camera = CameraIndex(*cap), microphone = MicrophoneIndex(*cap);
    if (camera < 0 || microphone < 0) {
        std::printf("the stand-in camera or microphone is not registered\n");
        return 2;
    }
    const std::wstring dir = NewTempFolder(L"soak_bench");
    cap->ImageFileName = dir + L"image_kv_.jpg";
    cap->VideoFileName = dir + L"video_kv_.wmv";
    std::atomic<int> pictures{0}, failures{0};
    // Files are removed as they come, so that the folder's listing stays the same size.
    cap->OnSnapShot = [&](const std::wstring& name) {
        ++pictures;
        ::DeleteFileW(name.c_str());
    };
    cap->OnSnapShotFailed = [&](DWORD) { ++failures; };
    cap->SelectDevices(camera, microphone);
    const auto startPreview = [&] {
        cap->SetVideoFormat(640, 480, 15.0, 24);
        return cap->StartPreview();
    };
    if (!startPreview()) {
        std::printf("the preview did not start\n");
        return 2;
    }
    Figures first, last;
    int recordings = 0;
    bool ok = true;
    for (int cycle = 0; cycle < cycles && ok; ++cycle) {
        // The recording, as the window starts it: the preview stops, the recording format.
        cap->StopPreview();
        cap->SetAudioFormat(44100, 1, 16);
        cap->SetVideoFormat(320, 240, 15.0, 24);
        if (!cap->StartCapture()) {
            std::printf("cycle %d: the recording did not start\n", cycle + 1);
            ok = false;
            break;
        }
        const double cycleStart = Now();
        double nextSnap = cycleStart + kSnapshotEveryMs;
        bool previewing = false;
        while (ok && Now() - cycleStart < kCycleMs) {
            if (!previewing && Now() - cycleStart >= kRecordingMs) {
                cap->StopCapture();
                ++recordings;
                ::DeleteFileW(cap->CaptureFileName().c_str());
                previewing = ok = startPreview();
            }
            if (Now() >= nextSnap) {
                cap->SnapShot();
                nextSnap += kSnapshotEveryMs;
            }
            PumpFor(app, std::min(100.0, std::max(1.0, nextSnap - Now())));
        }
        const Figures now = Measure();
        (cycle == 0 ? first : last) = now;
        std::printf("  cycle %d: %d pictures, %d recordings so far; %.0f KB private, %lu handles\n",
                    cycle + 1, pictures.load(), recordings, now.bytes / 1024.0,
                    static_cast<unsigned long>(now.handles));
        std::fflush(stdout);
    }
    cap->StopPreview();
    delete form;
    RemoveFolder(dir);
    ::RegDeleteTreeW(HKEY_CURRENT_USER, vcam::kConfigKey);
    if (!ok) return 2;

    const double grewKb =
        (static_cast<double>(last.bytes) - static_cast<double>(first.bytes)) / 1024.0;
    const long grewHandles = static_cast<long>(last.handles) - static_cast<long>(first.handles);
    const std::string bytesText =
        first.hasBytes && last.hasBytes
            ? Format("private bytes %.0f KB after the first cycle, %.0f KB after the last, grew "
                     "%.0f KB",
                     first.bytes / 1024.0, last.bytes / 1024.0, grewKb)
            : std::string("private bytes: the platform gives no figure");
    const std::string handlesText =
        first.hasHandles && last.hasHandles
            ? Format("handles (%s) %lu, then %lu, grew %ld", last.handleSource,
                     static_cast<unsigned long>(first.handles),
                     static_cast<unsigned long>(last.handles), grewHandles)
            : std::string("handles: the platform gives no figure");
    const bool met = first.hasBytes && last.hasBytes && grewKb <= 1024.0 && first.hasHandles &&
                     last.hasHandles && grewHandles <= 10 && failures.load() == 0;
    Goal(Format("soak, %d cycles of %.0f s, %d pictures (%d failed), %d recordings", cycles,
                kCycleMs / 1000, pictures.load(), failures.load(), recordings),
         bytesText + "; " + handlesText, "bytes <= 1024 KB, handles <= 10", met);
    return 0;
}
