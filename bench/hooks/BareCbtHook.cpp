// A desktop-wide CBT hook that only passes every event on, set on a thread of its own as
// Quillhook's is: what any such hook costs the programs it is called in.
#include "quillhook/HookThread.h"

#include <windows.h>

namespace {

HINSTANCE Instance = nullptr;
hookthread::THookThread Thread = {};

LRESULT CALLBACK BareCBTProc(int code, WPARAM wParam, LPARAM lParam) {
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) Instance = instance;
    return TRUE;
}

extern "C" __declspec(dllexport) BOOL BareCbtHookInstall() {
    return hookthread::Start(Thread, SetWindowsHookExW, WH_CBT, BareCBTProc, Instance) != nullptr;
}

extern "C" __declspec(dllexport) void BareCbtHookRemove() { hookthread::Stop(Thread); }
