#include "quillhook/CBTHookProc.h"

#include "framework/WinHandles.h"
#include "quillhook/SaverRecord.h"

#include <cstring>

namespace quillhook {

HHOOK CBTHookHandle = nullptr;

bool ReadSaverRecord(TSaverRecord& Record) {
    fw::Handle mapping(OpenFileMappingA(FILE_MAP_READ, FALSE, SaverRecordName));
    if (!mapping) return false;
    // A mapping smaller than the record (someone else's object of that name) is still
    // mapped at page granularity, so reading 8 bytes stays inside the view.
    fw::MappedView view(MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0));
    if (!view) return false;
    std::memcpy(&Record, view.get(), sizeof(Record));
    return true;
}

LRESULT CALLBACK CBTHookProc(int Code, WPARAM wParam, LPARAM lParam) {
    // Runs for every CBT event of every hooked thread: compare and pass on, nothing else.
    if (Code != HCBT_SYSCOMMAND || (wParam != SC_SCREENSAVE && wParam != SC_MONITORPOWER))
        return CallNextHookEx(CBTHookHandle, Code, wParam, lParam);

    TSaverRecord record;
    if (!ReadSaverRecord(record)) return 0;

    // The record may outlive its window (the installer died while a hooked process held
    // the mapping open) or belong to some other program. Holding the command back with
    // nobody told would leave the screen saver off for good, so let it run.
    HWND window = UnpackWindow(record.window);
    if (!IsWindow(window)) return 0;

    PostMessageA(window, record.message, wParam, 0);
    return 1;
}

}  // namespace quillhook
