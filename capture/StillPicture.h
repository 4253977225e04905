// Still picture files: a frame picture encoded as a Windows bitmap file or as JPEG, and
// written under a new numbered name without ever overwriting or leaving a partial file.
#pragma once

#include "capture/gDirectCapDefine2.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum class TPictureFormat { None, Bitmap, Jpeg };

// From the extension of a name or template, compared without regard to case: ".bmp" and
// ".jpg"; anything else is None.
TPictureFormat PictureFormatOf(const std::wstring& FileName);

// JPEG quality on the IJG scale for a frame of this width: 90 up to 640 pixels, 75 above.
int JpegQualityForWidth(int Width);

// The whole .bmp file (8-bit pictures with a grey-ramp colour table). False for an empty
// picture or when memory runs out.
bool EncodeBitmapFile(const TFrameBitmap& Picture, std::vector<uint8_t>& File);

// The whole JPEG file (4:2:0, the library's default tables scaled to Quality; 8-bit
// pictures as grey). False for an empty picture or when the library fails. Room is the
// most the file may take: a file that needs more fails as when memory runs out.
bool EncodeJpegFile(const TFrameBitmap& Picture, int Quality, std::vector<uint8_t>& File,
                    size_t Room = SIZE_MAX);

// Writes Data into a new file named by UniqueFileName(Template), created exclusively.
// Returns the file's name, or empty when it could not be written whole; then nothing is
// left behind and Error holds the system's reason.
std::wstring WriteNewNumberedFile(const std::wstring& Template, const std::vector<uint8_t>& Data,
                                  DWORD& Error);
