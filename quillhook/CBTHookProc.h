// The CBT hook procedure of Quillhook. It is kept apart from the exports so that the
// benchmark can call exactly this code directly.
#pragma once

#include <windows.h>

namespace quillhook {

// The hook handle, set only in the installing process; elsewhere it stays null, which
// CallNextHookEx accepts.
extern HHOOK CBTHookHandle;

LRESULT CALLBACK CBTHookProc(int Code, WPARAM wParam, LPARAM lParam);

struct TSaverRecord;
// Reads the shared record by name; false when there is none.
bool ReadSaverRecord(TSaverRecord& Record);

}  // namespace quillhook
