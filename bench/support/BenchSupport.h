// What the capture-side benchmarks share: a millisecond clock, medians and percentiles,
// one line per goal ending in MET or MISSED, the message pump, the stand-in camera's
// figures and the process's own use of CPU, memory and handles.
#pragma once

#include "framework/Application.h"

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

class TGDirectCapPin2;
namespace fw {
class Form;
}

namespace bench {

// A shown form with one capture control of Width x Height on it, as the program hosts it;
// deleting the form deletes the control.
struct ControlOnForm {
    fw::Form* Form;
    TGDirectCapPin2* Cap;
};
ControlOnForm NewControlOnForm(fw::Application& App, int Width, int Height);

// Milliseconds on the performance counter.
double Now();
// The value at fraction P (0 to 1) of the sorted values; -1 when there are none.
double Percentile(std::vector<double> Values, double P);
inline double Median(std::vector<double> Values) { return Percentile(std::move(Values), 0.5); }

// One goal's line: "<what>: <figures> (goal <goal>) MET" or "MISSED".
void Goal(const std::string& What, const std::string& Figures, const std::string& GoalText,
          bool Met);
// A ratio against a baseline: "<what>: <ms> ms, <baseline> <ms> ms, ratio R (goal <= G)".
// False when missed.
bool RatioGoal(const char* What, double Ms, const char* Baseline, double BaseMs, double Most);
// printf into a std::string.
std::string Format(const char* Fmt, ...) __attribute__((format(printf, 1, 2)));

// Services the window queue until Pred holds or TimeoutMs pass (Pred is looked at every
// millisecond or so: it may depend on streaming threads, which post nothing).
bool PumpUntil(fw::Application& App, const std::function<bool()>& Pred, double TimeoutMs);
inline void PumpFor(fw::Application& App, double Ms) {
    PumpUntil(App, [] { return false; }, Ms);
}

// Frames the stand-in camera produced in its last run.
DWORD FramesProduced();
// Index of the stand-in camera or microphone in the control's lists, or -1.
int CameraIndex(TGDirectCapPin2& Cap);
int MicrophoneIndex(TGDirectCapPin2& Cap);

// CPU time (kernel and user) of the process so far, in ms.
double ProcessCpuMs();
// The process's private bytes (its commit charge) and handle count; false for a figure the
// platform does not answer. Wine answers no handle count: the process's entries in the
// system's handle list are counted then, and Source says which was used.
bool PrivateBytes(size_t& Bytes);
bool HandleCount(DWORD& Count, const char*& Source);

// The process's entries in the system's handle list (information class 16), by object
// type: the types of a registry key, an event, a semaphore, a mutex, a thread and a file
// are named (told by handles of each made for the count), the others go by their number.
// Wine 8's device enumerator leaks about three registry key handles per enumeration and
// per device it binds (measured with its bare COM calls): Keys apart, what remains is
// the program's own. Ok is false when the list cannot be had.
struct HandleCensus {
    bool Ok = false;
    DWORD Total = 0;
    DWORD Keys = 0;
    std::map<std::string, DWORD> ByType;
    DWORD OtherThanKeys() const { return Total - Keys; }
    // "event 12, semaphore 3, ..." in the order of the names.
    std::string Text() const;
};
HandleCensus CountHandles();

// The resident anonymous memory that Linux reports for the process running this program
// (RssAnon of /proc/self/status, which Wine shows through drive Z:), in KB; false where
// there is no such file (Windows itself).
bool ResidentAnonymousKb(size_t& Kb);

// A fresh folder under the temporary folder (with a trailing separator), and its removal.
std::wstring NewTempFolder(const wchar_t* Name);
void RemoveFolder(const std::wstring& Folder);

}  // namespace bench
