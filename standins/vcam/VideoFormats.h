// The picture layouts the camera can deliver, with what a media type says about each: the
// subtype, the compression code and the bit depth of its bitmap header.
#pragma once

#include <dshow.h>

#include <vector>

namespace vcam {

enum class Layout { Mjpg, Yuy2, Rgb24, I420, Uyvy };

struct VideoSubtype {
    Layout layout;
    GUID subtype;
    DWORD compression;
    WORD bitCount;
    const wchar_t* name;  // as the Subtype value names it
};

const VideoSubtype& SubtypeOf(Layout layout);
// The layout with this media subtype; null when the camera has none such.
const VideoSubtype* SubtypeWithGuid(const GUID& subtype);
// The layout a Subtype value names (case-insensitive); null for any other text.
const VideoSubtype* SubtypeNamed(const wchar_t* name);

// What a USB camera offers: MJPG first, then YUY2.
std::vector<Layout> DefaultLayouts();

// Bytes of one frame; for MJPG the most a compressed frame may take.
DWORD ImageBytes(Layout layout, LONG width, LONG height);

}  // namespace vcam
