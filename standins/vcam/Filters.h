// Factories of the two filters, used by the class factory.
#pragma once

#include <windows.h>

namespace vcam {

HRESULT CreateCamera(REFIID iid, void** out);
HRESULT CreateMicrophone(REFIID iid, void** out);

}  // namespace vcam
