// Quillhook.dll: holds back the screen saver and the monitor power-off on the whole
// desktop while its installer runs, and tells the installer's window each time.

#include "quillhook/Quillhook.h"

#include "quillhook/CBTHookProc.h"
#include "quillhook/HookThread.h"
#include "quillhook/SaverRecord.h"

#include <sddl.h>

namespace {

// Per-process state, set only in the installing process. Plain values on purpose: the
// library runs no code of its own when it is unloaded from the hooked processes.
HINSTANCE LibraryInstance = nullptr;
HANDLE RecordMapping = nullptr;
void* RecordView = nullptr;
// The hook lives on a thread of its own that only pumps messages: the system runs it there
// for the programs of the other bitness, which then wait for that thread.
hookthread::THookThread HookThread = {};

// The installer runs elevated; the record's default security would then shut out the
// ordinary processes in which the hook procedure mostly runs. Everyone may read it.
HANDLE CreateRecordMapping() {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), nullptr, FALSE};
    if (ConvertStringSecurityDescriptorToSecurityDescriptorA(
            "D:(A;;GA;;;SY)(A;;GA;;;BA)(A;;GA;;;OW)(A;;GR;;;WD)", SDDL_REVISION_1, &descriptor,
            nullptr))
        attributes.lpSecurityDescriptor = descriptor;
    HANDLE mapping =
        CreateFileMappingA(INVALID_HANDLE_VALUE, &attributes, PAGE_READWRITE, 0,
                           sizeof(quillhook::TSaverRecord), quillhook::SaverRecordName);
    DWORD error = GetLastError();
    if (descriptor) LocalFree(descriptor);
    SetLastError(error);
    return mapping;
}

bool SetHook() {
    quillhook::CBTHookHandle = hookthread::Start(HookThread, SetWindowsHookExA, WH_CBT,
                                                 quillhook::CBTHookProc, LibraryInstance);
    return quillhook::CBTHookHandle != nullptr;
}

void ReleaseRecord() {
    if (RecordView) UnmapViewOfFile(RecordView);
    RecordView = nullptr;
    if (RecordMapping) CloseHandle(RecordMapping);
    RecordMapping = nullptr;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE Instance, DWORD Reason, LPVOID) {
    if (Reason == DLL_PROCESS_ATTACH) LibraryInstance = Instance;
    return TRUE;
}

extern "C" BOOL WINAPI HookCBTHook(HWND Window, UINT Message) {
    // A second hook from the same process would leave the first one unremovable.
    if (!Window || quillhook::CBTHookHandle) return FALSE;

    HANDLE mapping = CreateRecordMapping();
    DWORD error = GetLastError();
    if (mapping && error == ERROR_ALREADY_EXISTS) {
        // Another installer owns the record. Keeping this handle would keep the name
        // alive after that installer's uninstall and lock every later install out.
        CloseHandle(mapping);
        return FALSE;
    }
    if (!mapping && error == ERROR_ACCESS_DENIED) return FALSE;  // owned, and not ours to open

    if (mapping) {
        RecordMapping = mapping;
        RecordView = MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0);
        if (RecordView) {
            // Written before the hook exists, so every hook call sees the whole record.
            auto* record = static_cast<quillhook::TSaverRecord*>(RecordView);
            record->window = quillhook::PackWindow(Window);
            record->message = Message;
        }
    }

    return SetHook() ? TRUE : FALSE;
}

extern "C" BOOL WINAPI JoinCBTHook(HWND Window, UINT Message) {
    if (!Window || quillhook::CBTHookHandle) return FALSE;
    // Only beside the installer that holds the record for this very window and message.
    quillhook::TSaverRecord record;
    if (!quillhook::ReadSaverRecord(record) || record.window != quillhook::PackWindow(Window) ||
        record.message != Message)
        return FALSE;
    return SetHook() ? TRUE : FALSE;
}

extern "C" BOOL WINAPI UnhookCBTHook() {
    ReleaseRecord();
    if (!quillhook::CBTHookHandle) return FALSE;
    const bool removed = hookthread::Stop(HookThread);
    quillhook::CBTHookHandle = nullptr;
    return removed ? TRUE : FALSE;
}
