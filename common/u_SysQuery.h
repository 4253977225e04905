// Small questions to the operating system: version, documents folder, free space,
// themes and title-bar metrics, the keep-awake request, and two text helpers.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

// "WIN32S", "WIN95", "Windows 98", "WINME", "WIN9x", "Windows 2000", "Windows XP",
// "Windows Server2003", "Vista" (every NT 6.x), "WINNT", or the platform id in decimal.
std::string GetOSName();
std::string OSNameFromVersion(uint32_t PlatformId, uint32_t Major, uint32_t Minor);

// Replaces Folder with the user's documents folder (its parent when IsVista), with a
// trailing separator, only when the shell knows it and the directory exists.
void GetDocumentsFolder(std::string& Folder);
// The same decision for a given shell answer.
void ResolveDocumentsFolder(const std::string& ShellPath, bool Vista, std::string& Folder);

// Bytes free for the calling user on the drive with this letter; -1 on any failure.
int64_t GetDriveFreeBytes(char Letter);
// Free bytes of the volume that holds Folder (any path, shares too); -1 on any failure.
int64_t GetFolderFreeBytes(const std::wstring& Folder);

// "HH:MM:SS", each part at least two digits; hours are not wrapped at 24.
std::string SecondsToTimeText(uint32_t Seconds);

// Keeps the system and the display awake for the calling thread, and withdraws that.
// Both do nothing where the system has no SetThreadExecutionState.
void SetKeepAwake();
void ClearKeepAwake();

bool ThemeActive();

// The monitor a window with these bounds is on (the one it overlaps most, else the
// nearest): its whole area and its work area (without the taskbar and docked bars).
struct TMonitorAreas {
    RECT Monitor{};
    RECT Work{};
};
TMonitorAreas SystemMonitorAreas(const RECT& Bounds);
// How the program asks (SystemMonitorAreas); tests put one here that answers for
// monitors the test display lacks.
extern TMonitorAreas (*MonitorAreasAt)(const RECT& Bounds);

// Width in pixels of the part of Window's title bar where the caption can stand.
int32_t GetCaptionTextArea(HWND Window);
// The formula behind it. ButtonsWidth is the summed width of the minimize, maximize
// and close buttons, used only for a themed Vista.
int32_t CaptionTextAreaFrom(int32_t ClientWidth, int32_t ButtonWidth, int32_t EdgeWidth, bool Vista,
                            bool WindowsXP, bool Themed, int32_t ButtonsWidth);

// Left + blanks + Right, the blanks pushing Right to the right end of the title bar.
// Empty for a null window.
std::wstring ComposeCaption(HWND Window, const std::wstring& Left, const std::wstring& Right);
// How many blanks of width BlankWidth fill a gap of Gap pixels: one when the gap is
// narrower than a blank, otherwise Gap / BlankWidth - 2 (less a tenth for very narrow
// blanks), never negative.
int32_t CaptionBlankCount(int32_t Gap, int32_t BlankWidth);
