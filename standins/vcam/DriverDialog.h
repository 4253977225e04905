// The stand-in driver's own dialogs, as an old capture driver shows them: modal, owned by
// the caller's window, with OK and Cancel.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace vcam {

// Shows a modal dialog titled Title. With Choices, a list of them (control
// kDriverDialogListId) with item Chosen selected; on OK, Chosen becomes the item selected
// then. Returns IDOK, IDCANCEL, or -1 when the dialog could not be made.
INT_PTR ShowDriverDialog(HWND Owner, const wchar_t* Title, const std::vector<std::wstring>& Choices,
                         int& Chosen);

}  // namespace vcam
