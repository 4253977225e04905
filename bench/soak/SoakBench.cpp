// Soak: the capture control driven as the program drives it, with the stand-in camera and
// microphone.
//  1. Fast cycles: 200 preview switches (off and on again), then 50 recordings back to back
//     (.wmv at 320 x 240, each until its first second is reported, the preview again after
//     each); private bytes and the handles other than registry keys after the first 10 of
//     each kind are compared with those at its end, each taken with the stream stopped
//     (goal: flat, at most 64 KB and no handle more); the same figures of the platform's
//     own preview switched as often, and what 20 builds of it leave behind.
//  1b. The memory Linux sees the Wine process hold (resident anonymous, read through drive
//     Z:), after a warm-up of each kind, over 40 snapshots, 6 recordings and 10 preview
//     switches (goal: at most 256 KB more).
//  2. The soak: the preview (640 x 480, 15 frames a second), a snapshot every 2 s, and every
//     2 minutes a 20-s recording after which the preview starts again. The process's
//     private bytes and handles other than registry keys at the end of each 2-minute cycle
//     are compared with those after the first (goal: private bytes grow at most 1 MB,
//     handles at most 10).
// Each figure line names the handles by type; registry keys are Wine's (see CountHandles).
// Usage: soak_bench.exe (ORVIX_SOAK_MINUTES sets the soak's length, 10 by default; at least
// two cycles are run; 0 runs the fast cycles alone)
#include "bench/support/BenchSupport.h"
#include "bench/support/PlatformPreview.h"
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
    HandleCensus census;
};

Figures Measure() {
    Figures f;
    f.hasBytes = PrivateBytes(f.bytes);
    f.hasHandles = HandleCount(f.handles, f.handleSource);
    f.census = CountHandles();
    return f;
}

// "grew N KB, M handles other than registry keys (by type: ...)" between two figures.
std::string Growth(const Figures& from, const Figures& to) {
    std::string types;
    for (const auto& [name, count] : to.census.ByType) {
        const auto was = from.census.ByType.find(name);
        const long d = static_cast<long>(count) -
                       static_cast<long>(was != from.census.ByType.end() ? was->second : 0);
        if (d != 0) types += Format("%s%s %+ld", types.empty() ? "" : ", ", name.c_str(), d);
    }
    for (const auto& [name, count] : from.census.ByType) {
        if (to.census.ByType.find(name) == to.census.ByType.end())
            types += Format("%s%s %+ld", types.empty() ? "" : ", ", name.c_str(),
                            -static_cast<long>(count));
    }
    return Format("private bytes %.0f KB, then %.0f KB; handles other than registry keys %lu, "
                  "then %lu (changed: %s)",
                  from.bytes / 1024.0, to.bytes / 1024.0,
                  static_cast<unsigned long>(from.census.OtherThanKeys()),
                  static_cast<unsigned long>(to.census.OtherThanKeys()),
                  types.empty() ? "none" : types.c_str());
}

bool Flat(const Figures& from, const Figures& to) {
    return from.hasBytes && to.hasBytes && from.census.Ok && to.census.Ok &&
           static_cast<double>(to.bytes) - static_cast<double>(from.bytes) <= 64 * 1024.0 &&
           to.census.OtherThanKeys() <= from.census.OtherThanKeys();
}

// A recording (.wmv at 320 x 240) until its first second is reported, left stopped and
// its file removed; false when it did not start.
bool RecordOneSecond(fw::Application& app, TGDirectCapPin2& cap) {
    cap.StopPreview();
    cap.SetAudioFormat(44100, 1, 16);
    cap.SetVideoFormat(320, 240, 15.0, 24);
    std::atomic<uint32_t> seconds{0};
    cap.OnCaptureProgress = [&](uint32_t s) { seconds = s; };
    const bool ok =
        cap.StartCapture() && PumpUntil(app, [&] { return seconds.load() >= 1; }, 10000);
    cap.StopCapture();
    cap.OnCaptureProgress = nullptr;
    ::DeleteFileW(cap.CaptureFileName().c_str());
    return ok;
}

// 1. Count switches, after each of which the preview runs; false when one did not start.
// The figures are taken with the stream stopped, when the stream's buffers are let go.
bool FastCycles(fw::Application& app, TGDirectCapPin2& cap, int count, bool record,
                Figures& afterTen, Figures& atEnd) {
    std::atomic<uint32_t> frames{0};
    cap.SetOnVideoPreview([&](uint32_t, BYTE*&, int32_t&) { ++frames; });
    const bool verbose = std::getenv("ORVIX_SOAK_VERBOSE") != nullptr;
    bool ok = true;
    for (int i = 0; i < count && ok; ++i) {
        cap.StopPreview();
        if (record) ok = RecordOneSecond(app, cap);
        if (i == 9 || i == count - 1 || (verbose && (i + 1) % 10 == 0)) {
            const Figures now = Measure();
            if (i == 9) afterTen = now;
            if (i == count - 1) atEnd = now;
            if (verbose)
                std::printf("  %d: %.0f KB private, %s\n", i + 1, now.bytes / 1024.0,
                            now.census.Text().c_str());
        }
        cap.SetVideoFormat(640, 480, 15.0, 24);
        frames = 0;
        ok = ok && cap.StartPreview() && PumpUntil(app, [&] { return frames.load() > 0; }, 10000);
    }
    cap.SetOnVideoPreview(nullptr);
    return ok;
}

// 1b. The memory Linux sees the Wine process hold (resident anonymous), after a warm-up of
// each kind, over 40 snapshots, 6 recordings and 10 preview switches (goal: at most 256 KB
// more).
void OutsideMemory(fw::Application& app, TGDirectCapPin2& cap, std::atomic<int>& pictures) {
    const auto snapshots = [&](int n) {
        for (int i = 0; i < n; ++i) {
            const int before = pictures.load();
            cap.SnapShot();
            if (!PumpUntil(app, [&] { return pictures.load() > before; }, 10000)) return false;
        }
        return true;
    };
    const auto recordings = [&](int n) {
        for (int i = 0; i < n; ++i) {
            const bool recorded = RecordOneSecond(app, cap);
            cap.SetVideoFormat(640, 480, 15.0, 24);
            if (!cap.StartPreview() || !recorded) return false;
        }
        return true;
    };
    const auto switches = [&](int n) {
        for (int i = 0; i < n; ++i) {
            cap.StopPreview();
            if (!cap.StartPreview()) return false;
            PumpFor(app, 200);
        }
        return true;
    };
    size_t kb[4] = {};
    bool ok = snapshots(5) && recordings(2) && switches(3) && ResidentAnonymousKb(kb[0]) &&
              snapshots(40) && ResidentAnonymousKb(kb[1]) && recordings(6) &&
              ResidentAnonymousKb(kb[2]) && switches(10) && ResidentAnonymousKb(kb[3]);
    if (!ok && !ResidentAnonymousKb(kb[0])) {
        std::printf("memory seen from outside: the platform gives no figure\n");
        return;
    }
    const auto d = [&](int a, int b) {
        return static_cast<double>(kb[b]) - static_cast<double>(kb[a]);
    };
    Goal("memory seen from outside (resident anonymous), 40 snapshots, 6 recordings and 10 "
         "preview switches after a warm-up",
         Format("%.0f KB, then %.0f KB, grew %.0f KB (snapshots %+.0f, recordings %+.0f, "
                "switches %+.0f)",
                static_cast<double>(kb[0]), static_cast<double>(kb[3]), d(0, 3), d(0, 1),
                d(1, 2), d(2, 3)),
         "<= 256 KB", ok && d(0, 3) <= 256.0);
}

// The same switches of the platform's own preview of the camera (Wine's filters alone),
// and what builds of it leave behind: what of the figures above is the platform's.
void PlatformCycles(fw::Application& app, IMoniker* camera, HWND owner, int count) {
    Figures afterTen, atEnd;
    {
        PlatformPreview preview;
        if (!preview.Build(camera, 640, 480, owner)) {
            std::printf("the platform's preview: %s failed\n", preview.Failure());
            return;
        }
        for (int i = 0; i < count; ++i) {
            preview.Run();
            PumpFor(app, 150);
            preview.Stop();
            if (i == 9) afterTen = Measure();
        }
        atEnd = Measure();
    }
    std::printf("  the platform's preview, %d switches, after the first 10 and at the end: %s\n",
                count, Growth(afterTen, atEnd).c_str());
    constexpr int kBuilds = 20;
    for (int i = 0; i < kBuilds + 5; ++i) {
        if (i == 5) afterTen = Measure();
        PlatformPreview preview;
        if (preview.Build(camera, 640, 480, owner) && preview.Run()) PumpFor(app, 100);
    }
    atEnd = Measure();
    std::printf("  the platform's preview built and run %d times more (one graph search each): "
                "%s\n",
                kBuilds, Growth(afterTen, atEnd).c_str());
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

    for (const bool record : {false, true}) {
        const int count = record ? 50 : 200;
        Figures afterTen, atEnd;
        const bool ran = FastCycles(app, *cap, count, record, afterTen, atEnd);
        Goal(Format("fast cycles, %d %s, after the first 10 and at the end", count,
                    record ? "recordings back to back" : "preview switches"),
             (ran ? "" : "a start failed; ") + Growth(afterTen, atEnd),
             "bytes <= 64 KB more, no handle more", ran && Flat(afterTen, atEnd));
    }
    OutsideMemory(app, *cap, pictures);
    cap->StopPreview();
    PlatformCycles(app, VideoDeviceList()[static_cast<size_t>(camera)]->Moniker.Get(),
                   form->Handle(), 200);
    if (!startPreview()) {
        std::printf("the preview did not start again\n");
        return 2;
    }
    if (option && std::atof(option) <= 0) {
        cap->StopPreview();
        delete form;
        RemoveFolder(dir);
        ::RegDeleteTreeW(HKEY_CURRENT_USER, vcam::kConfigKey);
        return 0;
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
        std::printf("  cycle %d: %d pictures, %d recordings so far; %.0f KB private, %lu handles "
                    "(%s)\n",
                    cycle + 1, pictures.load(), recordings, now.bytes / 1024.0,
                    static_cast<unsigned long>(now.handles), now.census.Text().c_str());
        std::fflush(stdout);
    }
    cap->StopPreview();
    delete form;
    RemoveFolder(dir);
    ::RegDeleteTreeW(HKEY_CURRENT_USER, vcam::kConfigKey);
    if (!ok) return 2;

    const double grewKb =
        (static_cast<double>(last.bytes) - static_cast<double>(first.bytes)) / 1024.0;
    // Registry keys apart: each graph search leaves Wine's (see the platform's figures).
    const bool counted = first.census.Ok && last.census.Ok;
    const long grewHandles = static_cast<long>(last.census.OtherThanKeys()) -
                             static_cast<long>(first.census.OtherThanKeys());
    const std::string bytesText =
        first.hasBytes && last.hasBytes
            ? Format("private bytes %.0f KB after the first cycle, %.0f KB after the last, grew "
                     "%.0f KB",
                     first.bytes / 1024.0, last.bytes / 1024.0, grewKb)
            : std::string("private bytes: the platform gives no figure");
    const std::string handlesText =
        counted ? Format("handles other than registry keys %lu, then %lu, grew %ld (all handles, "
                         "from the %s: %lu, then %lu)",
                         static_cast<unsigned long>(first.census.OtherThanKeys()),
                         static_cast<unsigned long>(last.census.OtherThanKeys()), grewHandles,
                         last.handleSource, static_cast<unsigned long>(first.handles),
                         static_cast<unsigned long>(last.handles))
                : std::string("handles: the platform gives no list of them");
    std::printf("  from the first cycle to the last: %s\n", Growth(first, last).c_str());
    const bool met = first.hasBytes && last.hasBytes && grewKb <= 1024.0 && counted &&
                     grewHandles <= 10 && failures.load() == 0;
    Goal(Format("soak, %d cycles of %.0f s, %d pictures (%d failed), %d recordings", cycles,
                kCycleMs / 1000, pictures.load(), failures.load(), recordings),
         bytesText + "; " + handlesText, "bytes <= 1024 KB, handles <= 10", met);
    return 0;
}
