// Process-wide values of the program and the settings file "Orvix.ini".
// All of them belong to the user-interface thread; there is no locking.
#pragma once

#include <cstdint>
#include <string>

extern std::string AppPath;       // program folder, system code page, trailing separator
extern std::wstring ImagePath;    // still-picture folder, trailing separator
extern std::wstring MoviePath;    // recording folder, trailing separator
extern int32_t VideoDeviceIndex;  // -1: no video device
extern int32_t AudioDeviceIndex;  // -1: no audio device
extern int32_t VideoWidth;
extern int32_t VideoHeight;
extern int32_t VideoCompressorIndex;  // -1: no compressor
extern int32_t AudioCompressorIndex;  // -1: no compressor
extern uint32_t RecordSeconds;
extern bool TwoSensorModel;
extern bool KeepWindowPos;
extern bool IsVista;
extern bool IsWindowsXP;
extern int32_t CameraRetryCount;
extern std::string LanguageFile;
// KeyHookMessage and SaverHookMessage live with the hook clients (devices/u_KBDHook.h,
// devices/u_Quillhook.h).

// Name of the folder that holds pictures and clips when no other folder is set.
inline constexpr char DefaultSaveFolderName[] = "VirOze Ruzav";

// Full path of the settings file: AppPath + "Orvix.ini".
std::string SettingsFilePath();

// The default save folder, without a trailing separator: "VirOze Ruzav" inside the
// documents folder, or beside it when IsVista; the bare name when the documents folder
// cannot be found.
std::string DefaultSaveFolder();

// Fills ImagePath and MoviePath from the settings file; a missing file, key or folder
// gives the default save folder. Never writes anything.
void LoadSettings();

// Writes ImagePath and MoviePath to the settings file. The file is replaced as a whole:
// on failure (folder or file not writable) the old file stays exactly as it was and the
// result is false, with the system error code available from GetLastError.
bool SaveSettings();
