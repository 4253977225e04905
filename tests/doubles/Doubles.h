// The filter doubles this DLL serves.
#pragma once

#include <windows.h>

namespace doubles {

HRESULT CreateAsfWriter(REFIID iid, void** out);
HRESULT CreateFileWriter(REFIID iid, void** out);
HRESULT CreateAviMux(REFIID iid, void** out);

}  // namespace doubles
