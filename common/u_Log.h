// The log a user can send when something went wrong: Orvix.log in the user's local
// application data folder, one UTF-8 line per event with a local time stamp. Lines are
// queued and written by the log's own thread, so no caller (the window, a streaming
// thread) ever waits on the disk; a log that cannot be written changes nothing else.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

// Lines go to Folder\Orvix.log from now on (the folder is made when needed). When the file
// would grow past LimitBytes it becomes Orvix.1.log, replacing an older one, and a new one
// is begun. Before this is called, lines are dropped.
void OpenLog(const std::wstring& Folder, uint32_t LimitBytes = 1024 * 1024);

// %LOCALAPPDATA%\Orvix\ as the system names it; empty when it names none.
std::wstring DefaultLogFolder();

// One event of a step ("camera open", "recording"): Text is UTF-8.
void Log(std::string_view Step, std::string_view Text);

// A platform call that failed: the step, the call, its HRESULT with the system's text for
// it, and the device or file concerned (may be empty).
void LogFailure(std::string_view Step, std::string_view Call, HRESULT Result,
                std::wstring_view Subject = {});

// A text in UTF-8, as the log's lines are; the second from the system code page.
std::string ToUtf8(std::wstring_view Text);
std::string AnsiToUtf8(std::string_view Text);

// The HRESULT as the log writes it: "0x80070005 (Access is denied.)".
std::string DescribeResult(HRESULT Result);

// Waits until every line queued so far is written or TimeoutMs has passed: at the end of
// the program, whose process may end as soon as it returns.
void FlushLog(DWORD TimeoutMs = 2000);
