// A desktop-wide hook set on a thread of its own that does nothing but pump messages.
// The system calls some hooks on the thread that installed them (every low-level hook;
// a global hook for the programs that cannot load its library, such as 64-bit programs
// for a 32-bit library), and whatever raised the event waits for that thread's answer:
// a busy window thread would hold up the keyboard or the windows of other programs.
#pragma once

#include <windows.h>

namespace hookthread {

using HookSetter = HHOOK(WINAPI*)(int, HOOKPROC, HINSTANCE, DWORD);

// Plain values, so that a library holding one runs no code of its own when it is loaded
// or unloaded.
struct THookThread {
    HANDLE thread;
    DWORD threadId;
};

// Work that the hook procedure leaves for after its answer: called on the hook's thread
// whenever it has handled what was waiting for it, and once more before the thread ends.
using AfterMessages = void (*)();

// Sets the hook (Setter(Id, Proc, Module, 0)) on a new thread of Hook and returns its
// handle once it is in place; null when it could not be set, and then no thread is left.
// Hook must not run already.
HHOOK Start(THookThread& Hook, HookSetter Setter, int Id, HOOKPROC Proc, HINSTANCE Module,
            AfterMessages After = nullptr);

// Removes the hook, ends its thread and says whether the removal succeeded; false when
// Hook does not run.
bool Stop(THookThread& Hook);

}  // namespace hookthread
