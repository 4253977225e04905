// Program entry: single-instance guard, language texts, the main window and the
// ordered end.
#include "app/u_CamForm.h"
#include "common/u_GlobalDefine.h"
#include "common/u_Log.h"
#include "common/u_PathUtil.h"
#include "common/u_ResourceLib.h"
#include "framework/Application.h"
#include "framework/WinHandles.h"

#include "OrvixVersion.h"

#include <objbase.h>

namespace {

// The version the system really is (the compatibility layer may tell the program another).
std::string SystemVersionText() {
    using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof(info);
    const auto get = reinterpret_cast<RtlGetVersionFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
    BOOL wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64);
    const std::string bits = sizeof(void*) == 8 ? ", 64-bit"
                             : wow64            ? ", 64-bit (a 32-bit program)"
                                                : ", 32-bit";
    if (!get || get(&info) != 0) return "Windows (version unknown)" + bits;
    return "Windows " + std::to_string(info.dwMajorVersion) + "." +
           std::to_string(info.dwMinorVersion) + "." + std::to_string(info.dwBuildNumber) + bits;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    AppPath = GetProgramFolder();

    // Created as its owner: held, and given up, by this thread only.
    fw::OwnedMutex mutex(CreateMutexA(nullptr, TRUE, "Orvix"));
    const DWORD mutexError = GetLastError();
    // Access denied means the name exists but belongs to a copy started with other
    // rights: that is another running copy too. The mutex it opened is not ours to give up.
    if (mutexError == ERROR_ALREADY_EXISTS || (!mutex && mutexError == ERROR_ACCESS_DENIED)) {
        // Another copy runs: end silently and leave it untouched.
        fw::Handle opened(mutex.release());
        return 0;
    }

    OpenLog(DefaultLogFolder());
    LanguageFile = GetLanguageFilePath();
    Log("start", std::string("Orvix " ORVIX_VERSION_TEXT ", ") + SystemVersionText() +
                     ", language file " + AnsiToUtf8(LanguageFile));
    // Without texts nothing can be shown.
    if (!LoadLanguageTexts(LanguageFile)) {
        Log("start", "the language file could not be read: the program ends");
        FlushLog();
        return 0;
    }

    {
        fw::ComInit com(COINIT_APARTMENTTHREADED);
        fw::Application app;
        frm_DADez = app.CreateForm<Tfrm_DADez>();
        app.Run();
    }

    FreeLanguageTexts();
    Log("end", "the program ends");
    FlushLog();
    return 0;
}
