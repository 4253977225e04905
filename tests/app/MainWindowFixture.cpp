#include "MainWindowFixture.h"

#include "common/u_Log.h"

#include "capture/GDirectCapPin2.h"
#include "common/u_GlobalDefine.h"
#include "common/u_PathUtil.h"
#include "common/u_ResourceLib.h"
#include "framework/Bitmap.h"
#include "tests/support/Input.h"
#include "tests/support/ScreenPixels.h"
#include "tests/support/TestPaths.h"

#include <fstream>

namespace apptest {

namespace {

const char kTestTexts[] =
    "\xEF\xBB\xBF"
    "APP_TITLE=Orvix under test\r\n"
    "T_CONFIRM=Confirm\r\n"
    "T_PREVIEW=Start the picture\r\n"
    "T_PREVIEWSTOP=Stop the picture\r\n"
    "T_PREVIEW_ERR=The camera is in use\r\n"
    "T_PREVIEW_ERR2=Close the other program\r\n"
    "T_NOVIDEO_DRV=No camera\r\n"
    "T_STOPREC_ERR=Stop the recording first\r\n"
    "T_OPENFOLDER=Open the folder\r\n"
    "T_FORWARDCAM=Forward\r\n"
    "T_BACKWARDCAM=Backward\r\n"
    "T_SNAPSHOT=Picture\r\n"
    "T_RECORD=Record\r\n"
    "T_RECORDSTOP=Stop recording\r\n"
    "T_HELP=Help\r\n"
    "T_VIDEOSOURCE=Source\r\n"
    "T_VIDEOFORMAT=Format\r\n"
    "T_SAVEFOLDER=Folder\r\n"
    "T_RECORDING=Recording\r\n"
    "T_EXITREC_ERR=Stop the recording before closing\r\n"
    "T_SWITCH_ERR=No camera switch while recording\r\n"
    "T_NO_FREESPACE=The disk is full\r\n"
    "T_RECORD_ERR=The recording could not start\r\n"
    "T_RECORD_LOST=The recording lost its camera\r\n"
    "T_RECORD_ABORT=The recording hit a stream error\r\n"
    "T_SNAPSHOT_ERR=The picture could not be saved\r\n"
    "T_CAMERA_LOST=The camera is gone\r\n";

}  // namespace

void WriteSolidBmp(const std::wstring& path, int w, int h, COLORREF c) {
    fw::Bitmap b(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) b.SetPixel(x, y, c);
    ASSERT_TRUE(b.SaveToFile(path));
}

void MainWindowTest::TearDown() {
    InsideNextModal(nullptr);
    CloseMainWindow();
    app.ProcessMessages();
    FreeLanguageTexts();
    // Nothing more into the scratch folder, which goes with the test.
    FlushLog();
    OpenLog(L"");
}

std::string MainWindowTest::LogText() {
    FlushLog();
    return testsupport::FileBytes(folder.Path() + L"log\\Orvix.log");
}

void MainWindowTest::CreateMainWindow(Texts texts) {
    // A pointer left over the window's place would hover a button and show its hint over
    // the picture.
    ASSERT_TRUE(testsupport::ParkPointer());
    AppPath = folder.AnsiPath();
    std::string file = AppPath + "texts.txt";
    if (texts == Texts::Test)
        std::ofstream(file, std::ios::binary) << kTestTexts;
    else
        file = WideToAnsi(testsupport::TestBinDir() + L"..\\Orvix\\language\\Orvix_ENG.txt");
    ASSERT_TRUE(LoadLanguageTexts(file)) << file;
    OpenLog(folder.Path() + L"log\\");
    form = app.CreateForm<Tfrm_DADez>();
    frm_DADez = form;
    wnd = form->Handle();
}

void MainWindowTest::ShowAndStart() {
    form->Show();
    ASSERT_TRUE(PumpUntil([&] { return form->IsPreviewing(); }, 15000))
        << "the preview did not start";
    ASSERT_FALSE(form->tmrStart->Enabled());
}

void MainWindowTest::CloseMainWindow() {
    if (!form) return;
    fw::CloseAction action = fw::CloseAction::Hide;
    form->FormClose(action);
    delete form;
    form = nullptr;
}

SIZE MainWindowTest::ClientSize() const {
    RECT rc{};
    GetClientRect(wnd, &rc);
    return SIZE{rc.right, rc.bottom};
}

RECT MainWindowTest::WindowRect() const {
    RECT wr{};
    GetWindowRect(wnd, &wr);
    return wr;
}

namespace {

std::function<void(HWND)> g_inside;
UINT_PTR g_insideTimer = 0;

// The modal window of this thread over the disabled main window, if one is open.
struct ModalSearch {
    HWND main = nullptr, found = nullptr;
};

BOOL CALLBACK FindModal(HWND h, LPARAM p) {
    auto* s = reinterpret_cast<ModalSearch*>(p);
    if (h == s->main || !IsWindowVisible(h) || !IsWindowEnabled(h)) return TRUE;
    s->found = h;
    return FALSE;
}

HWND OpenModalWindow() {
    ModalSearch search;
    search.main = frm_DADez ? frm_DADez->Handle() : nullptr;
    if (!search.main || IsWindowEnabled(search.main)) return nullptr;
    EnumThreadWindows(GetCurrentThreadId(), &FindModal, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

void CALLBACK InsideTimer(HWND, UINT, UINT_PTR id, DWORD) {
    HWND modal = OpenModalWindow();
    if (!modal || !g_inside) return;
    KillTimer(nullptr, id);
    g_insideTimer = 0;
    auto run = std::move(g_inside);
    g_inside = nullptr;
    run(modal);
}

}  // namespace

void MainWindowTest::InsideNextModal(std::function<void(HWND)> inside) {
    if (g_insideTimer) KillTimer(nullptr, g_insideTimer);
    g_insideTimer = 0;
    g_inside = std::move(inside);
    if (g_inside) g_insideTimer = SetTimer(nullptr, 0, 20, &InsideTimer);
}

bool MainWindowTest::PictureShowsCamera() {
    return PumpUntil([&] {
        const testsupport::Rgb m = testsupport::ScreenMean(wnd, form->gcap->BoundsRect());
        return m.b > m.r + 80 && m.b > 120;
    });
}

}  // namespace apptest
