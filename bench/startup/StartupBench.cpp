// Start-up of the whole program: from starting Orvix.exe (a copy of the staged program
// folder) to the first frame of the camera in its window, against starting
// platform_preview.exe, which opens the same camera with the platform's own preview in a
// window of the same client size. Both are started the same way (ShellExecuteEx, as a
// user's double click) and seen the same way: the live picture of the stand-in camera in
// the client area, as the whole-program tests see it. The two alternate, one start of each
// first as a warm-up, then five of each; the medians are compared (goal: at most 1.3).
// Usage: startup_bench.exe (arguments are ignored; ORVIX_STARTUP_COUNT=N starts each N
// times instead of 5)
#include "bench/support/BenchSupport.h"
#include "devices/VMFilter.h"
#include "standins/vcam/VCamConfig.h"
#include "tests/app/ProcessHelpers.h"
#include "tests/support/MessageBoxes.h"
#include "tests/support/ScreenPixels.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace bench;

namespace {

// The forward sensor's blue picture in the top left quarter of the picture area.
bool LivePicture(HWND w) {
    const testsupport::Rgb m = testsupport::ScreenMean(w, RECT{0, 0, 320, 240});
    return m.b > m.r + 80;
}

// Ms from the start of the program to its live picture, or -1; the program is closed
// again either way.
double StartToPicture(const std::wstring& exe) {
    apptest::RunningProgram program;
    const double start = Now();
    if (!program.Start(exe)) return -1;
    double seen = -1;
    for (;;) {
        const std::vector<HWND> windows = testsupport::VisibleWindowsOf(program.Pid());
        if (!windows.empty() && LivePicture(windows.front())) {
            seen = Now() - start;
            break;
        }
        if (Now() - start > 30000 || ::WaitForSingleObject(program.Process(), 5) == WAIT_OBJECT_0)
            break;
    }
    for (HWND w : testsupport::VisibleWindowsOf(program.Pid())) ::PostMessageW(w, WM_CLOSE, 0, 0);
    if (!program.WaitExit(15000)) program.Kill();
    return seen;
}

}  // namespace

int main() {
    const char* option = std::getenv("ORVIX_STARTUP_COUNT");
    const int starts = option && std::atoi(option) > 0 ? std::atoi(option) : 5;
    ::RegDeleteTreeW(HKEY_CURRENT_USER, vcam::kConfigKey);
    // The forward sensor, whose picture is looked for: the program applies the one it
    // remembered last, which a test run may have left on the backward one.
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, SensorKeyPath);
    const apptest::ProgramCopy copy;
    if (!copy.Ok()) {
        std::printf("the staged program folder could not be copied\n");
        return 2;
    }
    const std::wstring baseline = apptest::TestBinDir() + L"platform_preview.exe";
    std::vector<double> orvix, platform;
    bool failed = false;
    for (int i = 0; i <= starts; ++i) {
        const double ours = StartToPicture(copy.Exe());
        const double theirs = StartToPicture(baseline);
        failed = failed || ours < 0 || theirs < 0;
        if (i == 0) continue;  // the warm-up: the first start reads every file from disk
        orvix.push_back(ours);
        platform.push_back(theirs);
    }
    if (failed) std::printf("a start showed no live picture within 30 s\n");
    const double ratio = failed ? 0 : Median(orvix) / Median(platform);
    Goal(Format("start-up, whole process, to the first frame in the window (%d starts each)",
                starts),
         Format("Orvix median %.0f ms (%.0f to %.0f), the platform's preview median %.0f ms "
                "(%.0f to %.0f), ratio %.3f",
                Median(orvix), Percentile(orvix, 0), Percentile(orvix, 1), Median(platform),
                Percentile(platform, 0), Percentile(platform, 1), ratio),
         "<= 1.30", !failed && ratio > 0 && ratio <= 1.3);
    ::RegDeleteTreeW(HKEY_CURRENT_USER, vcam::kConfigKey);
    return 0;
}
