// Still picture files: a video frame seen as a picture, encoded as a Windows bitmap file or
// as JPEG straight from the frame's memory, and saved under a new numbered name.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// One video frame seen as a picture, without a copy: the frame keeps its rows bottom-up,
// Stride bytes apart, and Row(0) is the picture's top row. Pixels as the frame has them:
// 8 bits an index (grey ramp), 16 bits 5-5-5 RGB, 24 bits B,G,R, 32 bits B,G,R,unused.
// The frame must outlive the view.
struct TFrameBitmap {
    int Width = 0;
    int Height = 0;
    int BitCount = 0;
    size_t Stride = 0;
    const uint8_t* Bottom = nullptr;  // the first row in memory: the picture's last

    bool Empty() const { return !Bottom; }
    size_t RowBytes() const { return static_cast<size_t>(Width) * static_cast<size_t>(BitCount / 8); }
    const uint8_t* Row(int Y) const {
        return Bottom + static_cast<size_t>(Height - 1 - Y) * Stride;
    }
};

// The frame (bottom-up rows, as the video grabber delivers them) seen as a picture of
// Width x Height with Size / (Width x Height) bytes a pixel. Rows are taken as packed, or
// padded to four bytes when Size holds the padded rows. Empty for a null source, a Size
// of 0 or below, a zero frame size and any quotient other than 1 to 4.
TFrameBitmap FrameToBitmap(const BYTE* Source, int Width, int Height, int32_t Size);

enum class TPictureFormat { None, Bitmap, Jpeg };

// From the extension of a name or template, compared without regard to case: ".bmp" and
// ".jpg"; anything else is None.
TPictureFormat PictureFormatOf(const std::wstring& FileName);

// JPEG quality on the IJG scale for a frame of this width: 90 up to 640 pixels, 75 above.
int JpegQualityForWidth(int Width);

// The whole .bmp file (rows padded to four bytes; 8-bit pictures with a grey-ramp colour
// table). False for an empty picture or when memory runs out.
bool EncodeBitmapFile(const TFrameBitmap& Picture, std::vector<uint8_t>& File);

// The whole JPEG file (4:2:0, the library's default tables scaled to Quality; 8-bit
// pictures as grey). False for an empty picture or when the library fails. Room is the
// most the file may take: a file that needs more fails as when memory runs out.
bool EncodeJpegFile(const TFrameBitmap& Picture, int Quality, std::vector<uint8_t>& File,
                    size_t Room = SIZE_MAX);

// One frame saved as a still picture: the file's name, or empty with the system's reason.
struct TSavedPicture {
    std::wstring FileName;
    DWORD Error = ERROR_SUCCESS;
    int JpegQuality = 0;  // the quality used, for a JPEG
};

// Encodes the frame in the format that Template's extension names and writes it under
// UniqueFileName(Template). An unusable frame, an unknown extension or a failed write
// leaves no file and gives an empty name (ERROR_INVALID_DATA for the first two).
TSavedPicture SaveFramePicture(const std::wstring& Template, const BYTE* Frame, int Width,
                               int Height, int32_t Size);
