// The log a user can send: its lines, its limit and a folder it cannot write.
#include "CommonTestSupport.h"

#include "common/u_Log.h"

#include <gtest/gtest.h>

#include <regex>
#include <sstream>

namespace {

std::vector<std::string> Lines(const std::wstring& file) {
    std::istringstream in(testsupport::FileBytes(file));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

}  // namespace

TEST(Log, LinesCarryTheTimeTheStepTheCallItsResultAndTheDeviceInUtf8) {
    testsupport::TempFolder t;
    const std::wstring folder = t.Path() + L"Orvix\\";
    OpenLog(folder);
    Log("start", "Orvix 1.0.0");
    LogFailure("camera open", "IMediaControl::Run", HRESULT_FROM_WIN32(ERROR_BUSY),
               L"Kamera \u00c4\u00df");
    Log("text", "two\r\nlines");
    FlushLog();

    const auto lines = Lines(folder + L"Orvix.log");
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_TRUE(std::regex_match(
        lines[0], std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} start: Orvix 1\.0\.0)")))
        << lines[0];
    EXPECT_NE(lines[1].find(" camera open: IMediaControl::Run failed: 0x800700AA ("),
              std::string::npos)
        << lines[1];
    EXPECT_TRUE(lines[1].ends_with("), Kamera \xC3\x84\xC3\x9F")) << lines[1];
    EXPECT_TRUE(lines[2].ends_with(" text: two  lines")) << lines[2];
    // The system's own text follows the code; a code without one is given bare.
    EXPECT_TRUE(DescribeResult(E_ACCESSDENIED).starts_with("0x80070005 ("));
    EXPECT_EQ(DescribeResult(static_cast<HRESULT>(0xA0001234)), "0xA0001234");
}

TEST(Log, AtItsLimitTheFileBecomesTheOlderOneAndNoLineIsLost) {
    testsupport::TempFolder t;
    constexpr uint32_t kLimit = 4096;
    OpenLog(t.Path(), kLimit);
    constexpr int kCount = 300;  // three limits' worth: the older file is replaced once
    for (int i = 0; i < kCount; ++i) Log("line", std::to_string(i));
    FlushLog();

    EXPECT_EQ(t.Names(), (std::vector<std::wstring>{L"Orvix.1.log", L"Orvix.log"}));
    auto lines = Lines(t.Path() + L"Orvix.1.log");
    const auto current = Lines(t.Path() + L"Orvix.log");
    EXPECT_LE(testsupport::FileBytes(t.Path() + L"Orvix.1.log").size(), kLimit);
    EXPECT_LE(testsupport::FileBytes(t.Path() + L"Orvix.log").size(), kLimit);
    lines.insert(lines.end(), current.begin(), current.end());
    ASSERT_GT(lines.size(), 60u);
    ASSERT_LT(lines.size(), static_cast<size_t>(kCount));
    const int first = kCount - static_cast<int>(lines.size());
    for (size_t i = 0; i < lines.size(); ++i)
        ASSERT_TRUE(lines[i].ends_with(" line: " + std::to_string(first + static_cast<int>(i))))
            << lines[i];
}

TEST(Log, AFolderItCannotWriteChangesNothingAndALaterFolderWorks) {
    testsupport::TempFolder t;
    t.Touch(L"taken");
    const std::string before = testsupport::FileBytes(t.Path() + L"taken");
    OpenLog(t.Path() + L"taken\\Orvix\\");
    Log("start", "nowhere to go");
    FlushLog();
    EXPECT_EQ(t.Names(), std::vector<std::wstring>{L"taken"});
    EXPECT_EQ(testsupport::FileBytes(t.Path() + L"taken"), before);

    OpenLog(t.Path() + L"later");
    Log("start", "here");
    FlushLog();
    const auto lines = Lines(t.Path() + L"later\\Orvix.log");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(lines[0].ends_with(" start: here"));
}
