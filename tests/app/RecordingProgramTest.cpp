// Whole program: recordings as a user starts them with the pointer, when the platform has
// no Windows Media writer, with clicks that the program refuses while recording, and at
// the end of the Windows session.
#include "ProcessHelpers.h"
#include "tests/capture/MediaProbe.h"
#include "tests/support/CameraConfig.h"
#include "tests/support/Input.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <string>

using namespace apptest;
using testsupport::TempFolder;

namespace {

constexpr DWORD kStartMs = 20000;
constexpr DWORD kWaitMs = 10000;

bool Recording(HWND w) { return Caption(w).find(L"Recording 00:00:0") != std::wstring::npos; }

class RecordingProgram : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(copy.Ok());
        std::string folder(movies.Path().begin(), movies.Path().end());
        ASSERT_TRUE(WriteFileBytes(copy.Dir() + L"Orvix.ini",
                                   "[Option]\r\nMovieFolder=" + folder + "\r\n"));
        ASSERT_TRUE(p.Start(copy.Exe()));
        w = p.WaitForWindow(kStartMs);
        ASSERT_NE(w, nullptr);
        ASSERT_TRUE(WaitUntil([&] { return LivePicture(w); }, kStartMs)) << "no live picture";
        // The picture shows while the camera is still being opened; the button takes
        // clicks once that has ended.
        ASSERT_TRUE(WaitUntil([&] { return RecordButtonReady(w); }, kStartMs))
            << "the record button stayed disabled";
    }
    TempFolder movies{L"orvix_movies"};
    ProgramCopy copy;
    RunningProgram p;
    HWND w = nullptr;
};

}  // namespace

TEST_F(RecordingProgram, AStartThatFailsIsToldAndTheWindowIsReadyToRecordAgain) {
    {
        testsupport::AsfWriterMissing missing;
        ClickBarButton(w, BarButton::Record);
        ASSERT_TRUE(WaitUntil([&] { return !MessageBoxTexts(p.Pid()).empty(); }, kWaitMs))
            << "nothing told";
        EXPECT_NE(MessageBoxTexts(p.Pid())[0].find(L"recording could not be started"),
                  std::wstring::npos);
        EXPECT_EQ(AnswerMessageBoxes(p.Pid()), 1);
        EXPECT_EQ(Caption(w), L"Orvix");
        EXPECT_TRUE(WaitUntil([&] { return LivePicture(w); }, kWaitMs));
        EXPECT_TRUE(movies.Names().empty()) << "the failed start left a file";
    }
    ClickBarButton(w, BarButton::Record);
    EXPECT_TRUE(WaitUntil([&] { return Recording(w); }, kWaitMs)) << Caption(w).c_str();
}

// Three clicks on a sensor button while recording open one box, modal to the window; the
// end of the session finishes the file, which stays readable when the process is then
// ended at once, as the system does.
TEST_F(RecordingProgram, RefusedClicksOpenOneBoxAndTheSessionEndFinishesTheFile) {
    ClickBarButton(w, BarButton::Record);
    ASSERT_TRUE(WaitUntil([&] { return Recording(w); }, kWaitMs)) << Caption(w).c_str();
    for (int i = 0; i < 3; ++i) ClickBarButton(w, BarButton::Forward);
    ASSERT_TRUE(WaitUntil([&] { return MessageBoxesOf(p.Pid()).size() >= 1; }, kWaitMs));
    testsupport::SendKey(VK_RETURN);
    EXPECT_TRUE(WaitUntil([&] { return MessageBoxesOf(p.Pid()).empty(); }, kWaitMs))
        << MessageBoxesOf(p.Pid()).size() << " boxes left after answering one";
    AnswerMessageBoxes(p.Pid());
    ASSERT_TRUE(WaitUntil(
        [&] { return Caption(w).find(L"Recording 00:00:02") != std::wstring::npos; }, kWaitMs));

    DWORD_PTR answer = 0;
    ASSERT_TRUE(SendMessageTimeoutW(w, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_BLOCK,
                                    kWaitMs, &answer));
    EXPECT_EQ(answer, static_cast<DWORD_PTR>(TRUE));
    ASSERT_TRUE(SendMessageTimeoutW(w, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_BLOCK, kWaitMs,
                                    &answer));
    p.Kill();
    const captest::MediaProbe m = captest::ProbeMedia(movies.Path() + L"video_kv_0.wmv");
    ASSERT_TRUE(m.ran);
    EXPECT_GT(m.VideoInt("nb_read_packets"), 10);
}
