// Generated sequences: the real main window with the stand-in camera and microphone,
// driven through events drawn from a seed (the bar's buttons, the picture's two dialogs,
// minimising, power and session messages, the camera unplugged and back, a busy camera,
// stream errors, device-change notices, waits), its invariants checked each time it is
// idle after an event. A violation prints the seed, the events so far and the shortest
// failing sequence found by dropping events.
//
// ORVIX_SEQ_EVENTS (events in all), ORVIX_SEQ_SEED (the first sequence's seed; each next
// sequence takes the next number) and ORVIX_SEQ_SHORTEN_S (seconds for shortening a
// failure) choose the run; without them the suite's short budget runs over fixed seeds.
//
// Nothing here may hang: every wait is bounded and its time-out is a violation; boxes and
// dialogs are answered by a thread timer that runs inside their modal loops (and closes
// what stays open); a watchdog thread ends the process with a report when the window
// thread stops servicing its queue.
#include "MainWindowFixture.h"
#include "capture/GDirectCapPin2.h"
#include "common/u_GlobalDefine.h"
#include "common/u_PathUtil.h"
#include "common/u_ResourceLib.h"
#include "framework/Application.h"
#include "framework/WinHandles.h"
#include "bench/support/BenchSupport.h"
#include "standins/vcam/VCamConfig.h"
#include "tests/capture/JpegDecode.h"
#include "tests/capture/MediaProbe.h"
#include "tests/support/MessageBoxes.h"
#include "tests/support/TempFolder.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/TntGButton.h"
#include "ui/u_Option.h"
#include "ui/u_SelectForm.h"

#include <gtest/gtest.h>

#include <dbt.h>
#include <pbt.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cwctype>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

// The two preview glyphs the tests put into the images folder: the button offers to start
// the preview (gbPreviewOn.bmp) or to stop it (gbPreviewOff.bmp).
constexpr COLORREF kStartGlyph = RGB(250, 250, 0);
constexpr COLORREF kStopGlyph = RGB(0, 250, 250);

constexpr size_t kSequenceLength = 100;
// Bounds of the waits: each is a violation when it runs out.
constexpr DWORD kIdleMs = 30000;
constexpr DWORD kFramesMs = 5000;
constexpr DWORD kCameraGoneMs = 5000;
// The return check looks every 2 s.
constexpr DWORD kCameraBackMs = 8000;
// A box or dialog still open this long after it was answered.
constexpr DWORD kStuckModalMs = 10000;
// The window thread not servicing its queue this long ends the process; so does one event
// (with its checks) that takes this long, which no bounded wait of the tester's can (a loop
// of the program's own that keeps servicing the queue).
constexpr DWORD kWatchdogMs = 60000;
constexpr DWORD kEventLimitMs = 240000;
// Growth allowed over one sequence.
constexpr DWORD kHandleGrowth = 100;
constexpr SIZE_T kMemoryGrowth = 256u << 20;

enum class Kind {
    Wait,
    Preview,
    Snapshot,
    Record,
    StopRecording,
    Forward,
    Backward,
    OpenFolder,
    DeviceOk,
    DeviceCancel,
    SaveFolderOk,
    SaveFolderCancel,
    Help,
    Minimise,
    Restore,
    Suspend,
    Resume,
    EndSessionCancelled,
    Unplug,
    PlugIn,
    StreamErrors,
    BusyCamera,
    DeviceChange,
};

struct KindInfo {
    Kind kind;
    const char* name;
    unsigned weight;
};

const KindInfo kKinds[] = {
    {Kind::Wait, "wait", 12},
    {Kind::Preview, "preview", 8},
    {Kind::Snapshot, "snapshot", 8},
    {Kind::Record, "record", 5},
    {Kind::StopRecording, "stop recording", 5},
    {Kind::Forward, "forward", 3},
    {Kind::Backward, "backward", 3},
    {Kind::OpenFolder, "open folder", 1},
    {Kind::DeviceOk, "device dialog OK", 3},
    {Kind::DeviceCancel, "device dialog Cancel", 2},
    {Kind::SaveFolderOk, "save-folder dialog OK", 2},
    {Kind::SaveFolderCancel, "save-folder dialog Cancel", 2},
    {Kind::Help, "help", 2},
    {Kind::Minimise, "minimise", 2},
    {Kind::Restore, "restore", 3},
    {Kind::Suspend, "suspend", 2},
    {Kind::Resume, "resume", 3},
    {Kind::EndSessionCancelled, "cancelled end of session", 2},
    {Kind::Unplug, "unplug the camera", 2},
    {Kind::PlugIn, "plug the camera in", 3},
    {Kind::StreamErrors, "stream errors on/off", 1},
    {Kind::BusyCamera, "camera busy/free", 2},
    {Kind::DeviceChange, "device-change notice", 2},
};

const char* NameOf(Kind k) {
    for (const KindInfo& i : kKinds)
        if (i.kind == k) return i.name;
    return "?";
}

struct Event {
    Kind kind;
    uint32_t arg;
};

std::string Describe(const Event& e) {
    std::string s = NameOf(e.kind);
    switch (e.kind) {
        case Kind::Wait:
            s += " " + std::to_string(e.arg) + " ms";
            break;
        case Kind::DeviceOk:
        case Kind::SaveFolderOk:
            s += " (choice " + std::to_string(e.arg % 16) + ")";
            break;
        case Kind::StreamErrors:
            s += " (" + std::to_string(e.arg) + " ms after each start)";
            break;
        default:
            break;
    }
    return s;
}

std::vector<Event> Generate(uint64_t seed, size_t count) {
    std::mt19937_64 rng(seed);
    unsigned total = 0;
    for (const KindInfo& i : kKinds) total += i.weight;
    std::vector<Event> events;
    for (size_t n = 0; n < count; ++n) {
        unsigned pick = static_cast<unsigned>(rng() % total);
        Kind kind = kKinds[0].kind;
        for (const KindInfo& i : kKinds) {
            if (pick < i.weight) {
                kind = i.kind;
                break;
            }
            pick -= i.weight;
        }
        uint32_t arg = static_cast<uint32_t>(rng());
        if (kind == Kind::Wait)
            arg = rng() % 5 == 0 ? 500 + static_cast<uint32_t>(rng() % 2500)
                                 : static_cast<uint32_t>(rng() % 300);
        if (kind == Kind::StreamErrors) arg = 300 + static_cast<uint32_t>(rng() % 1700);
        events.push_back(Event{kind, arg});
    }
    return events;
}

std::string Narrow(const std::wstring& w) { return WideToAnsi(w); }

std::string ListOf(const std::vector<Event>& events) {
    std::string out;
    for (size_t i = 0; i < events.size(); ++i)
        out += "  " + std::to_string(i + 1) + ". " + Describe(events[i]) + "\n";
    return out.empty() ? "  (none: the start itself)\n" : out;
}

void Print(const std::string& text) {
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
}

struct Problem {
    // What kind of invariant.
    std::string tag;
    std::string what;
};

// What a shorter sequence must fail with to count as the same failure: the kind and the
// text without its particulars (sizes, names, the event), which are in parentheses.
std::string KeyOf(const Problem& p) {
    std::string key = p.tag + ":";
    int depth = 0;
    for (char c : p.what) {
        if (c == '(') ++depth;
        if (depth == 0) key += c;
        if (c == ')' && depth > 0) --depth;
    }
    return key;
}

// --- what the watchdog reports when the window thread stops

std::atomic<DWORD> g_heartbeat{0};
// When the event under way (or the window's start or end) began.
std::atomic<DWORD> g_eventStart{0};

struct Progress {
    std::mutex lock;
    std::string sequence;  // seed line of the sequence under way
    std::vector<std::string> done;
    std::string current;
    size_t eventsRun = 0, violations = 0;
};
Progress g_progress;

void Beat() { g_heartbeat = GetTickCount(); }

class Watchdog {
public:
    Watchdog() : thread_([this] { Run(); }) {}
    ~Watchdog() {
        stop_ = true;
        SetEvent(wake_.get());
        thread_.join();
    }

private:
    void Run() {
        // Looks four times a second; the end wakes it at once.
        while (WaitForSingleObject(wake_.get(), 250) == WAIT_TIMEOUT && !stop_) {
            const DWORD now = GetTickCount();
            std::string why;
            if (now - g_heartbeat.load() >= kWatchdogMs)
                why = "the window thread has not serviced its queue for " +
                      std::to_string(kWatchdogMs / 1000) + " s";
            else if (now - g_eventStart.load() >= kEventLimitMs)
                why =
                    "one event has not finished in " + std::to_string(kEventLimitMs / 1000) + " s";
            else
                continue;
            std::lock_guard<std::mutex> g(g_progress.lock);
            std::string report = "VIOLATION (watchdog): " + why +
                                 ", during: " + g_progress.current + "\n" + g_progress.sequence +
                                 "\nevents so far:\n";
            for (size_t i = 0; i < g_progress.done.size(); ++i)
                report += "  " + std::to_string(i + 1) + ". " + g_progress.done[i] + "\n";
            report += std::to_string(g_progress.eventsRun) + " events, " +
                      std::to_string(g_progress.violations + 1) + " violations\n";
            Print(report);
            TerminateProcess(GetCurrentProcess(), 3);
        }
    }
    std::atomic<bool> stop_{false};
    fw::Handle wake_{CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    std::thread thread_;
};

// Set when the window thread's queue delivered WM_QUIT: the program was told to end.
bool g_quit = false;

// Services the window thread's queue until Pred holds or the time runs out, looking at both
// after every message: a queue that never runs empty (a timer due again before its handler
// is done) still lets the time run out.
bool Pump(const std::function<bool()>& pred, DWORD ms) {
    const DWORD start = GetTickCount();
    for (;;) {
        Beat();
        MSG msg;
        const bool got = PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE);
        if (got && msg.message == WM_QUIT) g_quit = true;
        if (got && msg.message != WM_QUIT) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (pred()) return true;
        if (GetTickCount() - start >= ms) return false;
        if (!got) MsgWaitForMultipleObjectsEx(0, nullptr, 5, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
}

// --- the answers to boxes and dialogs, given from a thread timer that runs inside their
// modal loops

struct Answers {
    // The dialog the current event asks for, and how it is answered: a choice (>= 0) for
    // OK, -1 for Cancel.
    bool deviceWanted = false, saveWanted = false;
    int device = -1, save = -1;
    std::wstring pictures[2], movies[2];
    std::vector<std::wstring> texts;
    std::optional<Problem> trouble;
    // Windows answered, with the time of the answer.
    std::map<HWND, DWORD> answered;
    std::wstring confirmCaption;
};
Answers g_answers;
UINT_PTR g_answerTimer = 0;

void Trouble(const std::string& tag, const std::string& what) {
    if (!g_answers.trouble) g_answers.trouble = Problem{tag, what};
}

// Once per window; a window still open long after its answer is closed, and is a
// violation.
void Answer(HWND h, const std::function<void()>& answer, const std::function<void()>& close,
            const std::string& what) {
    const DWORD now = GetTickCount();
    const auto it = g_answers.answered.find(h);
    if (it == g_answers.answered.end()) {
        g_answers.answered[h] = now;
        answer();
    } else if (now - it->second > kStuckModalMs) {
        Trouble("modal", what + " stayed open after its answer");
        it->second = now;
        close();
    }
}

void AnswerSelectForm(HWND h, Tfrm_SelectForm* f) {
    Answer(
        h,
        [f] {
            if (!g_answers.deviceWanted) {
                Trouble("modal", "a device dialog that no event asked for");
                f->btnCancelClick();
                return;
            }
            g_answers.deviceWanted = false;
            const int count = f->cbResolution->ItemCount();
            if (g_answers.device < 0 || count <= 0) {
                f->btnCancelClick();
                return;
            }
            f->cbResolution->SetItemIndex(g_answers.device % count);
            f->btnOkClick();
        },
        [f] { f->ModalResult = fw::mrCancel; }, "the device dialog");
}

void AnswerOptionForm(HWND h, Tfrm_Option* f) {
    Answer(
        h,
        [f] {
            if (!g_answers.saveWanted) {
                Trouble("modal", "a save-folder dialog that no event asked for");
                f->btnCancelClick();
                return;
            }
            g_answers.saveWanted = false;
            if (g_answers.save < 0) {
                f->btnCancelClick();
                return;
            }
            f->edImagePath->SetText(g_answers.pictures[g_answers.save & 1]);
            f->edMoviePath->SetText(g_answers.movies[(g_answers.save >> 1) & 1]);
            f->btnOkClick();
        },
        [f] { f->ModalResult = fw::mrCancel; }, "the save-folder dialog");
}

void CALLBACK AnswerTick(HWND, UINT, UINT_PTR, DWORD) {
    Beat();
    for (auto it = g_answers.answered.begin(); it != g_answers.answered.end();)
        it = IsWindow(it->first) && IsWindowVisible(it->first) ? std::next(it)
                                                               : g_answers.answered.erase(it);
    const std::vector<HWND> boxes = testsupport::MessageBoxesOf(GetCurrentProcessId());
    std::vector<std::wstring> errorBoxes;
    for (HWND b : boxes)
        if (apptest::Caption(b) == g_answers.confirmCaption)
            errorBoxes.push_back(testsupport::MessageBoxText(b));
    if (errorBoxes.size() > 1) {
        std::string list;
        for (const std::wstring& t : errorBoxes) list += " \"" + Narrow(t) + "\"";
        Trouble("boxes", "error boxes open at once:" + list);
    }
    for (HWND b : boxes)
        Answer(
            b,
            [b] {
                const std::wstring caption = apptest::Caption(b);
                g_answers.texts.push_back(
                    (caption == g_answers.confirmCaption ? L"" : caption + L": ") +
                    testsupport::MessageBoxText(b));
                PostMessageW(b, WM_COMMAND, IDOK, 0);
            },
            [b] { PostMessageW(b, WM_CLOSE, 0, 0); },
            "the box \"" + Narrow(testsupport::MessageBoxText(b)) + "\"");
    struct Found {
        std::vector<HWND> windows;
    } found;
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND h, LPARAM l) CALLBACK -> BOOL {
            if (IsWindowVisible(h)) reinterpret_cast<Found*>(l)->windows.push_back(h);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    HWND main = frm_DADez ? frm_DADez->Handle() : nullptr;
    for (HWND h : found.windows) {
        fw::WinControl* c = fw::WinControl::FromHandle(h);
        if (auto* select = dynamic_cast<Tfrm_SelectForm*>(c)) {
            AnswerSelectForm(h, select);
        } else if (auto* option = dynamic_cast<Tfrm_Option*>(c)) {
            AnswerOptionForm(h, option);
        } else if (main && h != main && !IsWindowEnabled(main) && IsWindowEnabled(h) &&
                   std::find(boxes.begin(), boxes.end(), h) == boxes.end() &&
                   !dynamic_cast<fw::Form*>(c)) {
            // A modal window of some other kind over the disabled main window: nothing
            // here knows how to answer it.
            wchar_t cls[64]{};
            GetClassNameW(h, cls, 64);
            Answer(
                h, [] {}, [h] { PostMessageW(h, WM_CLOSE, 0, 0); },
                "an unknown window [" + Narrow(cls) + " \"" + Narrow(apptest::Caption(h)) + "\"]");
        }
    }
}

std::vector<uint8_t> ReadAll(const std::wstring& path) {
    const std::string bytes = testsupport::FileBytes(std::filesystem::path(path));
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

// What a finished file was like when first seen.
struct FileMark {
    uint64_t size = 0;
    uint64_t hash = 0;
};

FileMark MarkOf(const std::vector<uint8_t>& bytes) {
    uint64_t h = 1469598103934665603ull;  // FNV-1a
    for (uint8_t b : bytes) h = (h ^ b) * 1099511628211ull;
    return FileMark{bytes.size(), h};
}

std::optional<uint64_t> FileSize(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
    return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// Picture names on their way from the streaming thread.
struct PictureNames {
    std::mutex lock;
    std::vector<std::wstring> names;
    std::vector<std::wstring> Take() {
        std::lock_guard<std::mutex> g(lock);
        return std::exchange(names, {});
    }
};

struct Usage {
    DWORD handles = 0;
    SIZE_T memory = 0;
};

Usage CurrentUsage() {
    Usage u;
    // Registry keys left out: Wine's device enumerator leaks them (see CountHandles), which
    // would drown what the window itself holds.
    const bench::HandleCensus census = bench::CountHandles();
    u.handles = census.Ok ? census.OtherThanKeys() : 0;
    size_t bytes = 0;
    if (bench::PrivateBytes(bytes)) u.memory = bytes;
    return u;
}

std::wstring Trimmed(const std::wstring& s) {
    const size_t a = s.find_first_not_of(L' ');
    if (a == std::wstring::npos) return L"";
    return s.substr(a, s.find_last_not_of(L' ') - a + 1);
}

bool IsPictureName(const std::wstring& s) {
    const std::wstring head = L"image_kv_", tail = L".jpg";
    if (s.size() <= head.size() + tail.size() || s.compare(0, head.size(), head) != 0 ||
        s.compare(s.size() - tail.size(), tail.size(), tail) != 0)
        return false;
    for (size_t i = head.size(); i < s.size() - tail.size(); ++i)
        if (!std::iswdigit(s[i])) return false;
    return true;
}

// "Recording 00:01:05" at the caption's end.
bool EndsWithRecordingTime(const std::wstring& caption, const std::wstring& label) {
    const std::wstring head = label + L" ";
    const size_t n = head.size() + 8;
    if (caption.size() < n) return false;
    const std::wstring end = caption.substr(caption.size() - n);
    if (end.compare(0, head.size(), head) != 0) return false;
    const std::wstring t = end.substr(head.size());
    for (size_t i = 0; i < 8; ++i)
        if (i == 2 || i == 5 ? t[i] != L':' : !std::iswdigit(t[i])) return false;
    return true;
}

class Sequences : public apptest::MainWindowTest {
protected:
    void SetUp() override {
        const std::wstring images = folder.MakeFolder(L"images") + L"\\";
        apptest::WriteSolidBmp(images + L"gbPreviewOn.bmp", 116, 32, kStartGlyph);
        apptest::WriteSolidBmp(images + L"gbPreviewOff.bmp", 116, 32, kStopGlyph);
        g_answerTimer = SetTimer(nullptr, 0, 25, &AnswerTick);
        Beat();
        g_eventStart = GetTickCount();
    }
    void TearDown() override {
        KillTimer(nullptr, g_answerTimer);
        g_answerTimer = 0;
        apptest::MainWindowTest::TearDown();
    }

    struct Outcome {
        size_t ran = 0;
        // The event after which it was found (0: the start), and what.
        size_t at = 0;
        std::optional<Problem> problem;
        // Handles and memory after the start and at the end.
        Usage first, last;
    };
    Outcome Run(const std::vector<Event>& events, bool report);
    // The shortest sequence found, within the time given, that still fails the same way
    // (the same key).
    std::vector<Event> Shorten(std::vector<Event> failing, const std::string& key, DWORD budgetMs,
                               size_t& replays);

private:
    void StartRun();
    void EndRun();
    std::optional<Problem> Do(const Event& e);
    bool Idle() const;
    std::string WhyNotIdle() const;
    std::optional<Problem> Check(bool last);
    std::optional<Problem> CheckWindow();
    std::optional<Problem> CheckCamera();
    std::optional<Problem> CheckFiles(bool full);
    std::optional<Problem> Finish(const std::wstring& recording);
    bool Usable(TTntGButton* b) const { return !IsIconic(wnd) && b->Visible() && b->Enabled(); }
    // The picture is there to be right-clicked.
    bool MenuReachable() const { return !IsIconic(wnd) && form->gcap->Height() > 0; }

    // Everything one sequence's run changes, reset whole at its start.
    struct RunState {
        bool plugged = true, busy = false, streamErrors = false;
        std::wstring pictures[2], movies[2];
        std::map<std::wstring, FileMark> files;
        std::wstring recording;
        size_t checks = 0;
        Usage start;
        std::shared_ptr<PictureNames> names = std::make_shared<PictureNames>();
        std::shared_ptr<std::atomic<uint32_t>> frames = std::make_shared<std::atomic<uint32_t>>(0);
    };
    RunState state_;
    int runs_ = 0;

protected:
    // Each event as it is done (ORVIX_SEQ_VERBOSE=1).
    bool verbose_ = false;
};

void Sequences::StartRun() {
    state_ = RunState{};
    g_quit = false;
    ++runs_;
    config.PlugIn();
    config.Remove(vcam::kValueFailRun);
    config.Remove(vcam::kValueAbortAfterMs);
    const std::wstring run = L"run" + std::to_wstring(runs_) + L"\\";
    for (int i = 0; i < 2; ++i) {
        const std::wstring tag(1, static_cast<wchar_t>(L'a' + i));
        state_.pictures[i] = folder.MakeFolder(run + L"pictures_" + tag) + L"\\";
        state_.movies[i] = folder.MakeFolder(run + L"movies_" + tag) + L"\\";
        g_answers.pictures[i] = state_.pictures[i];
        g_answers.movies[i] = state_.movies[i];
    }
    DeleteFileW((folder.Path() + L"Orvix.ini").c_str());
    CreateMainWindow(Texts::English);
    g_answers.confirmCaption = GetText("T_CONFIRM");
    ImagePath = state_.pictures[0];
    MoviePath = state_.movies[0];
    form->gcap->ImageFileName = ImagePath + L"image_kv_.jpg";
    form->gcap->VideoFileName = MoviePath + L"video_kv_.wmv";
    form->gcap->SetOnVideoPreview(
        [frames = state_.frames](uint32_t, BYTE*&, int32_t&) { frames->fetch_add(1); });
    TSnapShotEvent window = form->gcap->OnSnapShot;
    form->gcap->OnSnapShot = [window, names = state_.names](const std::wstring& name) {
        {
            std::lock_guard<std::mutex> g(names->lock);
            names->names.push_back(name);
        }
        if (window) window(name);
    };
    form->Show();
}

void Sequences::EndRun() {
    if (!form) return;
    if (IsIconic(wnd)) ShowWindow(wnd, SW_RESTORE);
    if (form->IsRecording()) form->gbRecordOffClick();
    CloseMainWindow();
    app.SetMainForm(nullptr);
    Pump([] { return false; }, 50);
    FreeLanguageTexts();
    config.PlugIn();
}

bool Sequences::Idle() const {
    if (!form || form->tmrStart->Enabled() || !form->StepsIdle()) return false;
    if (!testsupport::MessageBoxesOf(GetCurrentProcessId()).empty()) return false;
    return IsWindowEnabled(wnd) != FALSE;
}

std::string Sequences::WhyNotIdle() const {
    std::string why;
    if (!form) return "no window";
    if (form->tmrStart->Enabled()) why += " the start has not run;";
    if (!form->StepsIdle())
        why += form->gcap->Busy() ? " the capture control is busy;"
                                  : " camera steps or boxes are under way;";
    for (const std::wstring& t : testsupport::MessageBoxTexts(GetCurrentProcessId()))
        why += " a box is open (\"" + Narrow(t) + "\");";
    if (!IsWindowEnabled(wnd)) why += " the window is disabled (a dialog is open);";
    why += std::string(" (window: ") + (form->IsPreviewing() ? "previewing" : "not previewing") +
           (form->IsRecording() ? ", recording" : "") +
           (form->CameraGone() ? ", camera gone" : "") +
           (form->tmrCamReturn->Enabled() ? ", return check on" : "") +
           (form->tmrCamUse->Enabled() ? ", retry on" : "") + "; camera " +
           (state_.plugged ? "plugged in" : "unplugged") + (state_.busy ? ", busy" : "") +
           (state_.streamErrors ? ", stream errors" : "") + ")";
    return why;
}

Sequences::Outcome Sequences::Run(const std::vector<Event>& events, bool report) {
    Outcome out;
    auto note = [&](const std::string& text, bool finished) {
        if (!report) return;
        std::lock_guard<std::mutex> g(g_progress.lock);
        if (finished) {
            g_progress.done.push_back(text);
            ++g_progress.eventsRun;
        }
        g_progress.current = text;
    };
    g_eventStart = GetTickCount();
    StartRun();
    note("the start", false);
    for (size_t i = 0; i <= events.size(); ++i) {
        std::optional<Problem> p;
        std::string label = "the start";
        if (i > 0) {
            const Event& e = events[i - 1];
            label = "event " + std::to_string(i) + " (" + Describe(e) + ")";
            note(Describe(e), false);
            g_eventStart = GetTickCount();
            g_answers.texts.clear();
            p = Do(e);
            out.ran = i;
        }
        if (!p && !Pump([&] { return g_answers.trouble || Idle(); }, kIdleMs))
            p = Problem{"idle", "not idle after " + label + ":" + WhyNotIdle()};
        // Idle: a dialog the event asked for has been shown by now, or never will be.
        g_answers.deviceWanted = g_answers.saveWanted = false;
        if (!p) p = Check(i == events.size());
        if (!p && g_answers.trouble) p = g_answers.trouble;
        g_answers.trouble.reset();
        if (i > 0) {
            std::string done = Describe(events[i - 1]);
            for (const std::wstring& t : g_answers.texts) done += " [box: " + Narrow(t) + "]";
            note(done, true);
            if (report && verbose_)
                Print("  " + std::to_string(i) + ". " + done + " {" +
                      std::to_string(CurrentUsage().handles) + " handles}\n");
        }
        if (p) {
            out.at = i;
            out.problem = Problem{p->tag, p->what + " (after " + label + ")"};
            break;
        }
    }
    out.first = state_.start;
    out.last = CurrentUsage();
    g_eventStart = GetTickCount();
    EndRun();
    g_answers.trouble.reset();
    return out;
}

std::optional<Problem> Sequences::Do(const Event& e) {
    const DWORD pbtQuerySuspend = PBT_APMQUERYSUSPEND;
    switch (e.kind) {
        case Kind::Wait:
            Pump([] { return false; }, e.arg);
            break;
        case Kind::Preview:
            if (Usable(form->gbPreview)) form->gbPreviewClick();
            break;
        case Kind::Snapshot:
            if (Usable(form->gbSnap)) form->gbSnapClick();
            break;
        case Kind::Record:
            if (Usable(form->gbRecord)) form->gbRecordClick();
            break;
        case Kind::StopRecording:
            if (Usable(form->gbRecordOff)) form->gbRecordOffClick();
            break;
        case Kind::Forward:
            if (Usable(form->gbForward)) form->gbForwardClick();
            break;
        case Kind::Backward:
            if (Usable(form->gbBackward)) form->gbBackwardClick();
            break;
        case Kind::OpenFolder: {
            if (!Usable(form->gbOpenFolder)) break;
            std::vector<std::wstring> shown{ImagePath};
            if (MoviePath != ImagePath) shown.push_back(MoviePath);
            form->gbOpenFolderClick();
            // The file managers the shell starts are closed again (what they show is the
            // shell's); one that does not come is no fault of the window's.
            for (std::wstring f : shown) {
                if (!f.empty() && f.back() == L'\\') f.pop_back();
                const std::wstring name = f.substr(f.find_last_of(L'\\') + 1);
                Pump([&] { return !uitest::OtherWindowsTitled(name).empty(); }, 20000);
                const std::vector<DWORD> pids = uitest::CloseOtherWindowsTitled(name);
                Pump([&] { return uitest::OtherWindowsTitled(name).empty(); }, 15000);
                uitest::ProcessesEnded(pids);
                Beat();
            }
            break;
        }
        case Kind::DeviceOk:
        case Kind::DeviceCancel:
            if (!MenuReachable()) break;
            form->pmCamPopup();
            if (!form->miVideoFormat->Enabled) break;
            g_answers.deviceWanted = true;
            g_answers.device = e.kind == Kind::DeviceOk ? static_cast<int>(e.arg % 16) : -1;
            form->miVideoFormatClick();
            break;
        case Kind::SaveFolderOk:
        case Kind::SaveFolderCancel:
            if (!MenuReachable()) break;
            form->pmCamPopup();
            if (!form->miSaveFolder->Enabled) break;
            g_answers.saveWanted = true;
            g_answers.save = e.kind == Kind::SaveFolderOk ? static_cast<int>(e.arg % 4) : -1;
            form->miSaveFolderClick();
            break;
        case Kind::Help:
            if (Usable(form->gbHelp)) form->gbHelpClick();
            break;
        case Kind::Minimise:
            if (IsIconic(wnd)) break;
            ShowWindow(wnd, SW_MINIMIZE);
            if (!Pump([&] { return IsIconic(wnd) != FALSE; }, 5000))
                return Problem{"window", "the window did not minimise"};
            break;
        case Kind::Restore:
            if (!IsIconic(wnd)) break;
            ShowWindow(wnd, SW_RESTORE);
            if (!Pump([&] { return !IsIconic(wnd); }, 5000))
                return Problem{"window", "the window was not restored"};
            break;
        case Kind::Suspend:
            // As Windows asks first; the refusal is the program's, the sleep comes anyway.
            if (static_cast<UINT>(SendMessageW(wnd, WM_POWERBROADCAST, pbtQuerySuspend, 0)) !=
                0x424D5144)
                return Problem{"power", "the suspend request was not refused"};
            SendMessageW(wnd, WM_POWERBROADCAST, PBT_APMSUSPEND, 0);
            break;
        case Kind::Resume:
            SendMessageW(wnd, WM_POWERBROADCAST, PBT_APMRESUMESUSPEND, 0);
            break;
        case Kind::EndSessionCancelled: {
            const bool previewing = form->IsPreviewing(), recording = form->IsRecording();
            if (!SendMessageW(wnd, WM_QUERYENDSESSION, 0, 0))
                return Problem{"session", "the end of the session was refused"};
            SendMessageW(wnd, WM_ENDSESSION, FALSE, 0);
            if (form->IsPreviewing() != previewing || form->IsRecording() != recording)
                return Problem{"session", "a cancelled end of the session changed the camera"};
            break;
        }
        case Kind::Unplug:
            if (!state_.plugged) break;
            config.Unplug();
            state_.plugged = false;
            break;
        case Kind::PlugIn:
            if (state_.plugged) break;
            config.PlugIn();
            state_.plugged = true;
            break;
        case Kind::StreamErrors:
            state_.streamErrors = !state_.streamErrors;
            if (state_.streamErrors)
                config.SetDword(vcam::kValueAbortAfterMs, e.arg);
            else
                config.Remove(vcam::kValueAbortAfterMs);
            break;
        case Kind::BusyCamera:
            state_.busy = !state_.busy;
            if (state_.busy)
                config.SetDword(vcam::kValueFailRun, 1);
            else
                config.Remove(vcam::kValueFailRun);
            break;
        case Kind::DeviceChange:
            SendMessageW(wnd, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
            break;
    }
    return std::nullopt;
}

std::optional<Problem> Sequences::Check(bool last) {
    if (g_quit) return Problem{"alive", "the program was told to end"};
    if (!form || !IsWindow(wnd)) return Problem{"alive", "the window is gone"};
    if (auto p = CheckCamera()) return p;
    if (auto p = CheckWindow()) return p;
    ++state_.checks;
    if (auto p = CheckFiles(last || state_.checks % 10 == 0)) return p;
    const Usage now = CurrentUsage();
    if (state_.checks == 1) state_.start = now;
    if (state_.start.handles && now.handles > state_.start.handles + kHandleGrowth)
        return Problem{"handles", "handles grew from " + std::to_string(state_.start.handles) +
                                      " to " + std::to_string(now.handles)};
    if (state_.start.memory && now.memory > state_.start.memory + kMemoryGrowth)
        return Problem{"memory", "private memory grew from " +
                                     std::to_string(state_.start.memory >> 20) + " MB to " +
                                     std::to_string(now.memory >> 20) + " MB"};
    return std::nullopt;
}

// The camera as the window shows it against the camera as it is.
std::optional<Problem> Sequences::CheckCamera() {
    auto live = [&] { return form->IsCameraActive() && !form->CameraGone(); };
    if (!state_.plugged && live() && !Pump([&] { return !live(); }, kCameraGoneMs))
        return Problem{"camera", "the camera is unplugged, yet the window shows it live"};
    if (state_.plugged && !state_.busy && form->CameraGone() &&
        !Pump([&] { return !form->CameraGone(); }, kCameraBackMs))
        return Problem{"camera", "the camera is back, yet the window still shows it gone"};
    if (state_.plugged && live()) {
        const uint32_t before = state_.frames->load();
        if (!Pump([&] { return state_.frames->load() != before || !live(); }, kFramesMs))
            return Problem{"frames", std::string("no frame for ") +
                                         std::to_string(kFramesMs / 1000) + " s while " +
                                         (form->IsRecording() ? "recording" : "previewing")};
    }
    // The waits may have let a step start (the return check, a retry): the window is
    // checked once it is idle again.
    if (!Pump([&] { return Idle(); }, kIdleMs))
        return Problem{"idle", "not idle during the checks:" + WhyNotIdle()};
    return std::nullopt;
}

// Buttons, glyph, caption and picture area against the capture control's state.
std::optional<Problem> Sequences::CheckWindow() {
    const bool previewing = form->IsPreviewing(), recording = form->IsRecording();
    const bool active = previewing || recording;
    const bool live = active && !form->CameraGone();
    std::string bad;
    auto expect = [&](bool ok, const char* what) {
        if (!ok) bad += std::string(" ") + what + ";";
    };
    const std::wstring stopHint = GetText("T_PREVIEWSTOP");
    const bool wanted = form->gbPreview->Hint == stopHint;
    expect(wanted || form->gbPreview->Hint == GetText("T_PREVIEW"), "the preview hint is neither");
    const COLORREF glyph = form->gbPreview->Glyphs().Glyph().GetPixel(0, 0);
    expect(glyph == (wanted ? kStopGlyph : kStartGlyph),
           "the preview glyph does not match its hint");
    expect(!previewing || wanted, "previewing, yet the preview button offers to start it");
    expect(form->gbRecordOff->Visible() == recording, "the stop button's visibility");
    expect(form->gbRecordOff->Enabled() == recording, "the stop button's enabled state");
    expect(form->gbRecord->Visible() == !recording, "the record button's visibility");
    expect(form->gbRecord->Enabled() == (live && !recording), "the record button's enabled state");
    expect(form->gbSnap->Enabled() == (live && !recording), "the snapshot button's enabled state");
    expect(form->gbForward->Enabled() == live, "the forward button's enabled state");
    expect(form->gbBackward->Enabled() == live, "the backward button's enabled state");
    expect(form->gbOpenFolder->Enabled() == !recording, "the open-folder button's enabled state");

    // A picture's name and its removal replace the running time until the recording's next
    // report, a tenth of a second later.
    const std::wstring title = GetText("APP_TITLE");
    std::wstring caption;
    const char* captionBad = nullptr;
    auto captionOk = [&] {
        caption = apptest::Caption(wnd);
        if (caption.compare(0, title.size(), title) != 0)
            captionBad = "the caption does not begin with the title";
        else if (recording && !EndsWithRecordingTime(caption, GetText("T_RECORDING")))
            captionBad = "recording, yet the caption shows no running time";
        else if (!recording && !Trimmed(caption.substr(title.size())).empty() &&
                 !IsPictureName(Trimmed(caption.substr(title.size()))))
            captionBad = "not recording, yet the caption shows more than a picture's name";
        else
            captionBad = nullptr;
        return captionBad == nullptr;
    };
    if (!captionOk() && !Pump(captionOk, 500)) expect(false, captionBad);

    if (!IsIconic(wnd)) {
        const int bar = form->Image_Back->Height();
        const SIZE client = ClientSize();
        const RECT cap = form->gcap->BoundsRect();
        const int capW = cap.right - cap.left, capH = cap.bottom - cap.top;
        if (active || wanted) {
            const SIZE area = PictureAreaSize(VideoWidth, VideoHeight);
            expect(capW == area.cx && capH == area.cy,
                   "the picture area is not the frame size's area");
            expect(client.cx == area.cx && client.cy == area.cy + bar,
                   "the window is not the picture area and the bar");
            if (previewing) {
                const SIZE frame = PictureAreaSize(form->gcap->Requested().FrameWidth,
                                                   form->gcap->Requested().FrameHeight);
                expect(frame.cx == capW && frame.cy == capH,
                       "the preview's frames do not fit the picture area");
            }
        } else {
            expect(capH == 0 && client.cy == bar,
                   "the preview is off, yet the window is not collapsed to the bar");
        }
        expect(form->Image_Back->Top() == cap.bottom + 1, "the bar is not under the picture");
        if (!bad.empty()) {
            bad += " (picture " + std::to_string(capW) + " x " + std::to_string(capH) +
                   ", client " + std::to_string(client.cx) + " x " + std::to_string(client.cy) +
                   ", frames " + std::to_string(VideoWidth) + " x " + std::to_string(VideoHeight) +
                   ")";
        }
    }
    if (bad.empty()) return std::nullopt;
    bad += " (caption \"" + Narrow(caption) + "\")";
    return Problem{"window", std::string("the window does not show the camera's state (") +
                                 (recording    ? "recording"
                                  : previewing ? "previewing"
                                               : "stopped") +
                                 (form->CameraGone() ? ", camera gone" : "") +
                                 (wanted ? ", picture wanted" : "") + "):" + bad};
}

std::optional<Problem> Sequences::Finish(const std::wstring& recording) {
    if (state_.files.count(recording))
        return Problem{"files", "the recording name " + Narrow(recording) + " was used twice"};
    const captest::MediaProbe p = captest::ProbeMedia(recording);
    Beat();
    if (!p.ran || p.format.empty())
        return Problem{"files", "the recording " + Narrow(recording) + " cannot be read"};
    state_.files[recording] = MarkOf(ReadAll(recording));
    return std::nullopt;
}

std::optional<Problem> Sequences::CheckFiles(bool full) {
    for (const std::wstring& name : state_.names->Take()) {
        if (state_.files.count(name))
            return Problem{"files", "the picture name " + Narrow(name) + " was used twice"};
        const std::vector<uint8_t> bytes = ReadAll(name);
        const captest::Decoded d = captest::Decode(bytes);
        if (!d.ok || d.width <= 0 || d.height <= 0)
            return Problem{"files", "the picture " + Narrow(name) + " is no JPEG that decodes"};
        state_.files[name] = MarkOf(bytes);
    }
    const bool recording = form->IsRecording();
    const std::wstring current = form->gcap->CaptureFileName();
    if (!state_.recording.empty() && (!recording || current != state_.recording)) {
        if (auto p = Finish(state_.recording)) return p;
        state_.recording.clear();
    }
    if (recording && state_.recording.empty() && !current.empty()) {
        if (state_.files.count(current))
            return Problem{"files", "the recording name " + Narrow(current) + " was used twice"};
        state_.recording = current;
    }
    // Started and ended between two checks.
    if (!recording && !current.empty() && !state_.files.count(current) && FileSize(current))
        if (auto p = Finish(current)) return p;
    for (const auto& [name, mark] : state_.files) {
        const std::optional<uint64_t> size = FileSize(name);
        if (!size) return Problem{"files", Narrow(name) + " has gone"};
        if (*size != mark.size || (full && MarkOf(ReadAll(name)).hash != mark.hash))
            return Problem{"files", Narrow(name) + " changed after it was finished"};
    }
    return std::nullopt;
}

std::vector<Event> Sequences::Shorten(std::vector<Event> failing, const std::string& key,
                                      DWORD budgetMs, size_t& replays) {
    const DWORD start = GetTickCount();
    auto timeLeft = [&] { return GetTickCount() - start < budgetMs; };
    size_t parts = 2;
    while (failing.size() >= 1 && timeLeft()) {
        parts = std::min(parts, failing.size());
        const size_t chunk = (failing.size() + parts - 1) / parts;
        bool shorter = false;
        for (size_t from = 0; from < failing.size() && timeLeft(); from += chunk) {
            std::vector<Event> candidate(failing.begin(), failing.begin() + from);
            candidate.insert(candidate.end(),
                             failing.begin() + std::min(failing.size(), from + chunk),
                             failing.end());
            ++replays;
            const Outcome o = Run(candidate, false);
            if (o.problem && KeyOf(*o.problem) == key) {
                candidate.resize(o.at);
                failing = candidate;
                parts = std::max<size_t>(parts - 1, 2);
                shorter = true;
                break;
            }
        }
        if (!shorter) {
            if (parts >= failing.size()) break;
            parts = std::min(parts * 2, failing.size());
        }
    }
    return failing;
}

uint64_t EnvNumber(const wchar_t* name, uint64_t fallback) {
    wchar_t text[64]{};
    const DWORD n = GetEnvironmentVariableW(name, text, 64);
    if (n == 0 || n >= 64) return fallback;
    return std::wcstoull(text, nullptr, 10);
}

}  // namespace

TEST_F(Sequences, GeneratedEventsKeepTheWindowsInvariants) {
    // The suite's budget: fixed seeds, a few hundred events.
    const uint64_t events = EnvNumber(L"ORVIX_SEQ_EVENTS", 200);
    const uint64_t firstSeed = EnvNumber(L"ORVIX_SEQ_SEED", 1);
    const DWORD shortenMs = static_cast<DWORD>(EnvNumber(L"ORVIX_SEQ_SHORTEN_S", 60) * 1000);
    verbose_ = EnvNumber(L"ORVIX_SEQ_VERBOSE", 0) != 0;
    Watchdog watchdog;
    size_t ran = 0, violations = 0;
    for (uint64_t seed = firstSeed; ran < events; ++seed) {
        const size_t length =
            static_cast<size_t>(std::min<uint64_t>(kSequenceLength, events - ran));
        const std::vector<Event> sequence = Generate(seed, length);
        const std::string seedLine = "sequence seed " + std::to_string(seed) + ", " +
                                     std::to_string(length) + " events (scripts/sequences --seed " +
                                     std::to_string(seed) + " --events " + std::to_string(length) +
                                     ")";
        {
            std::lock_guard<std::mutex> g(g_progress.lock);
            g_progress.sequence = seedLine;
            g_progress.done.clear();
        }
        const DWORD started = GetTickCount();
        const Outcome o = Run(sequence, true);
        // A violation at the start counts as one event, so that the run moves on.
        ran += std::max<size_t>(o.ran, 1);
        if (!o.problem) {
            Print(seedLine + ": ok in " + std::to_string((GetTickCount() - started) / 1000) +
                  " s; handles (without registry keys) " + std::to_string(o.first.handles) +
                  " to " + std::to_string(o.last.handles) + ", private memory " +
                  std::to_string(o.first.memory >> 20) + " to " +
                  std::to_string(o.last.memory >> 20) + " MB\n");
            continue;
        }
        ++violations;
        {
            std::lock_guard<std::mutex> g(g_progress.lock);
            g_progress.violations = violations;
            g_progress.current = "shortening the failing sequence";
        }
        const std::vector<Event> failing(sequence.begin(), sequence.begin() + o.at);
        Print("VIOLATION: " + o.problem->what + "\n" + seedLine + "\nevents so far:\n" +
              ListOf(failing));
        size_t replays = 0;
        const DWORD shortenStart = GetTickCount();
        const std::vector<Event> shortest = Shorten(failing, KeyOf(*o.problem), shortenMs, replays);
        Print("shortest failing sequence found (" + std::to_string(shortest.size()) + " of " +
              std::to_string(failing.size()) + " events, " + std::to_string(replays) +
              " replays in " + std::to_string((GetTickCount() - shortenStart) / 1000) + " s):\n" +
              ListOf(shortest));
        ADD_FAILURE() << o.problem->what << "\n" << seedLine;
    }
    Print(std::to_string(ran) + " events, " + std::to_string(violations) + " violations\n");
    EXPECT_EQ(violations, 0u);
}
