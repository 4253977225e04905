// The other program of the CBT hook benchmark: creates and destroys Count hidden top-level
// windows (default 400) and exits with the tenths of a microsecond that one took on
// average, timed inside this process so that its own start does not count.
#include <windows.h>

#include <cstdlib>

int main(int argc, char** argv) {
    const int count = argc > 1 && std::atoi(argv[1]) > 0 ? std::atoi(argv[1]) : 400;
    HINSTANCE instance = GetModuleHandleW(nullptr);
    // One first, outside the time: the class and the desktop are set up for this process.
    DestroyWindow(CreateWindowExW(0, L"STATIC", L"", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                                  nullptr, nullptr, instance, nullptr));
    LARGE_INTEGER frequency, start, stop;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    for (int i = 0; i < count; ++i) {
        HWND w = CreateWindowExW(0, L"STATIC", L"", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr,
                                 nullptr, instance, nullptr);
        if (!w) return 0;
        DestroyWindow(w);
    }
    QueryPerformanceCounter(&stop);
    const double us = double(stop.QuadPart - start.QuadPart) * 1e6 / double(frequency.QuadPart) /
                      count;
    return static_cast<int>(us * 10 + 0.5);
}
