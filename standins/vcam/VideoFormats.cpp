#include "standins/vcam/VideoFormats.h"

#include <iterator>

namespace vcam {

namespace {

// The FOURCC subtype of I420 (mingw-w64's headers name only its twin IYUV).
constexpr GUID kSubtypeI420 = {
    0x30323449, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

const VideoSubtype kSubtypes[] = {
    {Layout::Mjpg, MEDIASUBTYPE_MJPG, MAKEFOURCC('M', 'J', 'P', 'G'), 24, L"MJPG"},
    {Layout::Yuy2, MEDIASUBTYPE_YUY2, MAKEFOURCC('Y', 'U', 'Y', '2'), 16, L"YUY2"},
    {Layout::Rgb24, MEDIASUBTYPE_RGB24, BI_RGB, 24, L"RGB24"},
    {Layout::I420, kSubtypeI420, MAKEFOURCC('I', '4', '2', '0'), 12, L"I420"},
    {Layout::Uyvy, MEDIASUBTYPE_UYVY, MAKEFOURCC('U', 'Y', 'V', 'Y'), 16, L"UYVY"},
};

}  // namespace

const VideoSubtype& SubtypeOf(Layout layout) {
    for (const VideoSubtype& s : kSubtypes) {
        if (s.layout == layout) return s;
    }
    return kSubtypes[0];
}

const VideoSubtype* SubtypeWithGuid(const GUID& subtype) {
    for (const VideoSubtype& s : kSubtypes) {
        if (s.subtype == subtype) return &s;
    }
    return nullptr;
}

const VideoSubtype* SubtypeNamed(const wchar_t* name) {
    for (const VideoSubtype& s : kSubtypes) {
        if (name && lstrcmpiW(name, s.name) == 0) return &s;
    }
    return nullptr;
}

std::vector<Layout> DefaultLayouts() { return {Layout::Mjpg, Layout::Yuy2}; }

DWORD ImageBytes(Layout layout, LONG width, LONG height) {
    const DWORD pixels = static_cast<DWORD>(width) * static_cast<DWORD>(height);
    // A baseline JPEG of these pictures is far below the raw RGB size.
    if (layout == Layout::Mjpg) return pixels * 3;
    return pixels * SubtypeOf(layout).bitCount / 8;
}

}  // namespace vcam
