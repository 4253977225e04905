// Program entry: single-instance guard, language texts, the main window and the
// ordered end.
#include "app/u_CamForm.h"
#include "common/u_GlobalDefine.h"
#include "common/u_PathUtil.h"
#include "common/u_ResourceLib.h"
#include "framework/Application.h"
#include "framework/WinHandles.h"

#include <objbase.h>

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

    LanguageFile = GetLanguageFilePath();
    // Without texts nothing can be shown.
    if (!LoadLanguageTexts(LanguageFile)) return 0;

    {
        fw::ComInit com(COINIT_APARTMENTTHREADED);
        fw::Application app;
        frm_DADez = app.CreateForm<Tfrm_DADez>();
        app.Run();
    }

    FreeLanguageTexts();
    return 0;
}
