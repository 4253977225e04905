// Helpers of the capture control: pin lookup on a filter's pin enumerator, media types
// returned by the platform, the class ids the SDK headers lack, and the naming of saved
// pictures and recordings.
#pragma once

#include "framework/WinHandles.h"

#include <windows.h>
#include <dshow.h>
#include <qedit.h>
#include <wrl/client.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// qedit.h declares the grabber's interfaces but not these class ids; strmiids has them.
extern "C" const CLSID CLSID_SampleGrabber;
extern "C" const CLSID CLSID_NullRenderer;

// Pin routines over one filter's IEnumPins.
// The first pin (from the start) whose direction is Direction, or none.
Microsoft::WRL::ComPtr<IPin> FindPinByDirection(IEnumPins* Pins, PIN_DIRECTION Direction);
// The next pin with Pin's direction after the pin named like Pin, or none.
Microsoft::WRL::ComPtr<IPin> NextPinAfter(IEnumPins* Pins, IPin* Pin);
// The pin's name (at most 128 characters), empty when it cannot be read.
std::wstring PinName(IPin* Pin);

// A pin's PIN_INFO, holding the filter reference that QueryPinInfo hands out.
struct PinInfoHolder {
    PIN_INFO info{};
    PinInfoHolder() = default;
    ~PinInfoHolder() {
        if (info.pFilter) info.pFilter->Release();
    }
    PinInfoHolder(const PinInfoHolder&) = delete;
    PinInfoHolder& operator=(const PinInfoHolder&) = delete;
};

// Shorthands on a filter: its pin enumerator, its first pin of a direction.
Microsoft::WRL::ComPtr<IEnumPins> PinsOf(IBaseFilter* Filter);
Microsoft::WRL::ComPtr<IPin> FirstPin(IBaseFilter* Filter, PIN_DIRECTION Direction);

// Frees a media type's format block and its interface reference (the type itself stays).
void FreeMediaType(AM_MEDIA_TYPE& Type);

// Owns an AM_MEDIA_TYPE allocated by the platform (GetFormat, GetStreamCaps).
class MediaTypePtr {
public:
    MediaTypePtr() = default;
    ~MediaTypePtr() { reset(); }
    MediaTypePtr(const MediaTypePtr&) = delete;
    MediaTypePtr& operator=(const MediaTypePtr&) = delete;

    AM_MEDIA_TYPE* get() const { return mt_; }
    AM_MEDIA_TYPE* operator->() const { return mt_; }
    explicit operator bool() const { return mt_ != nullptr; }
    AM_MEDIA_TYPE** put() {
        reset();
        return &mt_;
    }
    void reset();

    // The format block as a VIDEOINFOHEADER when the type carries one, else null.
    const VIDEOINFOHEADER* VideoInfo() const;
    // The format block as a WAVEFORMATEX when the type carries one, else null.
    const WAVEFORMATEX* WaveFormat() const;

private:
    AM_MEDIA_TYPE* mt_ = nullptr;
};

// The x87 floating-point control word of the calling thread.
inline uint16_t ReadFpuControlWord() {
    uint16_t cw = 0;
    __asm__ __volatile__("fnstcw %0" : "=m"(cw));
    return cw;
}

inline void WriteFpuControlWord(uint16_t cw) { __asm__ __volatile__("fldcw %0" : : "m"(cw)); }

// --- numbered file names

// Template split into folder (with its trailing separator, or empty), base name and
// extension (with its dot, or empty).
struct TFileNameParts {
    std::wstring Folder, Base, Ext;
};
TFileNameParts SplitFileTemplate(const std::wstring& Template);

// Folder + base name + the smallest decimal number from 0 that no file (nor folder) of
// the folder has + extension. The template's folder is created with its missing parents;
// a template without a folder names a file in the program's folder. The folder is listed
// once, whatever the number of pictures in it. Empty when the folder cannot be listed.
std::wstring UniqueFileName(const std::wstring& Template);

// Creates the file that UniqueFileName names, exclusively: when that name appears in the
// meantime (another program writing into the folder), the next free number is taken.
// Returns the open file (write access) and its name in FileName; on failure (the folder
// cannot be listed or the file not made) an empty holder, FileName empty and the system's
// error code in Error.
fw::Handle CreateUniqueFile(const std::wstring& Template, std::wstring& FileName, DWORD& Error);

// --- still pictures

// One video frame as a picture: rows top-down, Stride bytes apart (a multiple of four, as
// in a bitmap file), pixels as the frame had them: 8 bits an index (grey ramp), 16 bits
// 5-5-5 RGB, 24 bits B,G,R, 32 bits B,G,R,unused.
struct TFrameBitmap {
    int Width = 0;
    int Height = 0;
    int BitCount = 0;
    size_t Stride = 0;
    std::unique_ptr<uint8_t[]> Bits;

    bool Empty() const { return !Bits; }
    const uint8_t* Row(int Y) const { return Bits.get() + static_cast<size_t>(Y) * Stride; }
};

// The frame (bottom-up rows, as the video grabber delivers them) turned into a picture of
// Width x Height with Size / (Width x Height) bytes a pixel. Rows are taken as packed, or
// padded to four bytes when Size holds the padded rows. Empty for a null source, a Size
// of 0 or below, a zero frame size and any quotient other than 1 to 4.
TFrameBitmap FrameToBitmap(const BYTE* Source, int Width, int Height, int32_t Size);
