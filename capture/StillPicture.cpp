#include "capture/StillPicture.h"

#include "capture/NumberedFiles.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>
// After jpeglib.h: the error codes.
#include <jerror.h>

TPictureFormat PictureFormatOf(const std::wstring& FileName) {
    const std::wstring ext = SplitFileTemplate(FileName).Ext;
    if (ext.size() != 4 || ext[0] != L'.') return TPictureFormat::None;
    std::wstring lower = ext;
    for (wchar_t& c : lower) {
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c + 32);
    }
    if (lower == L".bmp") return TPictureFormat::Bitmap;
    if (lower == L".jpg") return TPictureFormat::Jpeg;
    return TPictureFormat::None;
}

int JpegQualityForWidth(int Width) { return Width <= 640 ? 90 : 75; }

TFrameBitmap FrameToBitmap(const BYTE* Source, int Width, int Height, int32_t Size) {
    TFrameBitmap picture;
    if (!Source || Size <= 0 || Width <= 0 || Height <= 0) return picture;
    const int64_t pixels = static_cast<int64_t>(Width) * Height;
    const int64_t bytesPerPixel = Size / pixels;
    if (bytesPerPixel < 1 || bytesPerPixel > 4) return picture;
    const size_t rowBytes = static_cast<size_t>(Width) * static_cast<size_t>(bytesPerPixel);
    const size_t padded = (rowBytes + 3) & ~static_cast<size_t>(3);
    // Frames whose rows are padded like bitmap rows carry the padding in their size.
    picture.Stride =
        static_cast<uint64_t>(Size) >= static_cast<uint64_t>(padded) * static_cast<size_t>(Height)
            ? padded
            : rowBytes;
    picture.Width = Width;
    picture.Height = Height;
    picture.BitCount = static_cast<int>(bytesPerPixel) * 8;
    picture.Bottom = Source;
    return picture;
}

bool EncodeBitmapFile(const TFrameBitmap& Picture, std::vector<uint8_t>& File) {
    File.clear();
    if (Picture.Empty()) return false;
    const DWORD colours = Picture.BitCount == 8 ? 256 : 0;
    const size_t header = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER) + colours * 4;
    const size_t rowBytes = Picture.RowBytes();
    const size_t padded = (rowBytes + 3) & ~static_cast<size_t>(3);
    const size_t image = padded * static_cast<size_t>(Picture.Height);
    if (header + image > 0xFFFFFFFFu) return false;
    try {
        File.resize(header + image);
    } catch (const std::bad_alloc&) {
        return false;
    }
    BITMAPFILEHEADER fh{};
    fh.bfType = 0x4D42;  // "BM"
    fh.bfSize = static_cast<DWORD>(header + image);
    fh.bfOffBits = static_cast<DWORD>(header);
    BITMAPINFOHEADER ih{};
    ih.biSize = sizeof(ih);
    ih.biWidth = Picture.Width;
    ih.biHeight = Picture.Height;  // bottom-up like the frame, the form every reader takes
    ih.biPlanes = 1;
    ih.biBitCount = static_cast<WORD>(Picture.BitCount);
    ih.biCompression = BI_RGB;
    ih.biSizeImage = static_cast<DWORD>(image);
    ih.biClrUsed = colours;
    uint8_t* p = File.data();
    std::memcpy(p, &fh, sizeof(fh));
    p += sizeof(fh);
    std::memcpy(p, &ih, sizeof(ih));
    p += sizeof(ih);
    for (DWORD i = 0; i < colours; ++i, p += 4) {
        p[0] = p[1] = p[2] = static_cast<uint8_t>(i);
        p[3] = 0;
    }
    // The padding bytes are zero already.
    for (int y = Picture.Height - 1; y >= 0; --y, p += padded)
        std::memcpy(p, Picture.Row(y), rowBytes);
    return true;
}

namespace {

// The library reports a fatal error through error_exit and must not come back from it.
struct TJpegFailure {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
};

[[noreturn]] void JpegErrorExit(j_common_ptr Cinfo) {
    std::longjmp(reinterpret_cast<TJpegFailure*>(Cinfo->err)->jump, 1);
}

void JpegNoMessage(j_common_ptr, int) {}

// 5-5-5 pixels to B,G,R bytes, each channel spread over the full 0..255 range.
void Expand555(const uint8_t* In, int Width, uint8_t* Out) {
    for (int x = 0; x < Width; ++x, In += 2, Out += 3) {
        const unsigned v = static_cast<unsigned>(In[0]) | (static_cast<unsigned>(In[1]) << 8);
        const unsigned b = v & 31, g = (v >> 5) & 31, r = (v >> 10) & 31;
        Out[0] = static_cast<uint8_t>((b << 3) | (b >> 2));
        Out[1] = static_cast<uint8_t>((g << 3) | (g >> 2));
        Out[2] = static_cast<uint8_t>((r << 3) | (r >> 2));
    }
}

// The encoder's output grows in the caller's vector. The library's own memory destination
// frees the buffer it outgrows while the caller's pointer still names it, so a failure after
// a growth left a freed buffer for the caller to free again.
struct TVectorDestination {
    jpeg_destination_mgr pub;  // first: the library sees only this part
    std::vector<uint8_t>* file;
    size_t room;
};

constexpr size_t kJpegOutputStep = 65536;

[[noreturn]] void JpegOutOfMemory(j_compress_ptr Cinfo) {
    Cinfo->err->msg_code = JERR_OUT_OF_MEMORY;
    Cinfo->err->error_exit(reinterpret_cast<j_common_ptr>(Cinfo));
    std::abort();  // error_exit never returns
}

// Grows the file past its Used bytes by Step or less; false when there is no room or no
// memory.
bool GrowOutput(TVectorDestination& Dest, size_t Used, size_t Step = kJpegOutputStep) {
    if (Used >= Dest.room) return false;
    const size_t step = std::min(Step, Dest.room - Used);
    try {
        Dest.file->resize(Used + step);
    } catch (...) {
        return false;
    }
    Dest.pub.next_output_byte = Dest.file->data() + Used;
    Dest.pub.free_in_buffer = step;
    return true;
}

void InitVectorDestination(j_compress_ptr Cinfo) {
    auto& dest = *reinterpret_cast<TVectorDestination*>(Cinfo->dest);
    dest.file->clear();
    if (!GrowOutput(dest, 0)) JpegOutOfMemory(Cinfo);
}

boolean EmptyVectorDestination(j_compress_ptr Cinfo) {
    auto& dest = *reinterpret_cast<TVectorDestination*>(Cinfo->dest);
    // Called with the whole buffer full: it doubles, so a large picture is not copied
    // over and over.
    const size_t used = dest.file->size();
    if (!GrowOutput(dest, used, std::max(kJpegOutputStep, used))) JpegOutOfMemory(Cinfo);
    return TRUE;
}

void TermVectorDestination(j_compress_ptr Cinfo) {
    auto& dest = *reinterpret_cast<TVectorDestination*>(Cinfo->dest);
    dest.file->resize(dest.file->size() - dest.pub.free_in_buffer);
}

// Everything that must survive a jump out of the library lives in the caller: no object
// with a destructor is created between setjmp and the end of the encode.
bool EncodeJpegRaw(const TFrameBitmap& Picture, int Quality, uint8_t* Scratch,
                   TVectorDestination* Dest) {
    jpeg_compress_struct cinfo;
    TJpegFailure failure;
    cinfo.err = jpeg_std_error(&failure.mgr);
    failure.mgr.error_exit = JpegErrorExit;
    failure.mgr.emit_message = JpegNoMessage;
    if (setjmp(failure.jump)) {
        jpeg_destroy_compress(&cinfo);
        return false;
    }
    jpeg_create_compress(&cinfo);
    Dest->pub.init_destination = InitVectorDestination;
    Dest->pub.empty_output_buffer = EmptyVectorDestination;
    Dest->pub.term_destination = TermVectorDestination;
    cinfo.dest = &Dest->pub;
    cinfo.image_width = static_cast<JDIMENSION>(Picture.Width);
    cinfo.image_height = static_cast<JDIMENSION>(Picture.Height);
    switch (Picture.BitCount) {
        case 8:
            cinfo.in_color_space = JCS_GRAYSCALE;
            cinfo.input_components = 1;
            break;
        case 32:
            cinfo.in_color_space = JCS_EXT_BGRX;
            cinfo.input_components = 4;
            break;
        default:  // 24, and 16 expanded row by row
            cinfo.in_color_space = JCS_EXT_BGR;
            cinfo.input_components = 3;
    }
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, Quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        const int y = static_cast<int>(cinfo.next_scanline);
        JSAMPROW row;
        if (Picture.BitCount == 16) {
            Expand555(Picture.Row(y), Picture.Width, Scratch);
            row = Scratch;
        } else {
            row = const_cast<JSAMPROW>(Picture.Row(y));
        }
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return true;
}

}  // namespace

bool EncodeJpegFile(const TFrameBitmap& Picture, int Quality, std::vector<uint8_t>& File,
                    size_t Room) {
    File.clear();
    if (Picture.Empty() || Picture.Width > JPEG_MAX_DIMENSION ||
        Picture.Height > JPEG_MAX_DIMENSION)
        return false;
    std::unique_ptr<uint8_t[]> scratch;
    if (Picture.BitCount == 16) {
        scratch.reset(new (std::nothrow) uint8_t[static_cast<size_t>(Picture.Width) * 3]);
        if (!scratch) return false;
    }
    TVectorDestination dest{};
    dest.file = &File;
    dest.room = Room;
    if (EncodeJpegRaw(Picture, Quality, scratch.get(), &dest) && !File.empty()) return true;
    File.clear();
    return false;
}

TSavedPicture SaveFramePicture(const std::wstring& Template, const BYTE* Frame, int Width,
                               int Height, int32_t Size) {
    TSavedPicture saved;
    saved.Error = ERROR_INVALID_DATA;
    const TPictureFormat format = PictureFormatOf(Template);
    if (format == TPictureFormat::None) return saved;
    const TFrameBitmap picture = FrameToBitmap(Frame, Width, Height, Size);
    if (picture.Empty()) return saved;
    // The folder is listed while the picture is encoded.
    TNumberedFileSearch search(Template, true);
    std::vector<uint8_t> file;
    if (format == TPictureFormat::Bitmap) {
        if (!EncodeBitmapFile(picture, file)) return saved;
    } else {
        const int quality = JpegQualityForWidth(Width);
        if (!EncodeJpegFile(picture, quality, file)) return saved;
        saved.JpegQuality = quality;
    }
    saved.Error = ERROR_SUCCESS;
    saved.FileName = WriteNumberedFile(search, file.data(), file.size(), saved.Error);
    return saved;
}
