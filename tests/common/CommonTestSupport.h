// Shared helpers of the common-module tests: raw files and encoded texts.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/TempFolder.h"
#include "tests/support/TestPaths.h"

std::vector<uint8_t> ReadBytes(const std::wstring& Path);
void WriteBytes(const std::wstring& Path, const std::vector<uint8_t>& Bytes);
void WriteText(const std::string& Path, const std::string& Bytes);
bool PathExists(const std::wstring& Path);

// Bytes of a text in the given encodings, with the marker where the encoding has one.
std::vector<uint8_t> Utf16LE(const std::wstring& Text, bool Marker = true);
std::vector<uint8_t> Utf16BE(const std::wstring& Text, bool Marker = true);
std::vector<uint8_t> Utf8(const std::wstring& Text, bool Marker = true);
std::vector<uint8_t> Ansi(const std::wstring& Text, UINT CodePage);

// Folder of the running test executable, trailing separator included.
inline std::wstring TestBinFolder() { return testsupport::TestBinDir(); }
