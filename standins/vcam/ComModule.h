// Module-wide object count for DllCanUnloadNow, and the DLL's own handle for registration.
#pragma once

#include <windows.h>

namespace vcam {

void ModuleAddRef();
void ModuleRelease();
bool ModuleInUse();
HMODULE ModuleHandle();

// Counts one live object of the module for as long as it exists.
class ModuleObject {
public:
    ModuleObject() { ModuleAddRef(); }
    ModuleObject(const ModuleObject&) = delete;
    ModuleObject& operator=(const ModuleObject&) = delete;
    ~ModuleObject() { ModuleRelease(); }
};

}  // namespace vcam
