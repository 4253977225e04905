// Names for accessibility tools where the platform finds none: the framework's labels are
// windowless, so the label-before-the-control rule of the system's accessible objects
// finds no label window, and a control is given its label's text instead.
#pragma once

#include <windows.h>

#include <string>

namespace fw {

// The answer to WM_GETOBJECT for a window's client area: the system's own accessible
// object for it, with Name as its name. 0 for every other object id.
LRESULT NamedClientObject(HWND Window, WPARAM wParam, LPARAM lParam, const std::wstring& Name);

// A label's caption as a name: its accelerator marks ("&") gone, "&&" kept as "&".
std::wstring NameFromCaption(const std::wstring& Caption);

}  // namespace fw
