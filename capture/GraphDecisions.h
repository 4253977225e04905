// Small decisions of the capture graph's wiring, kept apart from the graph so that each
// has one place: the decoder for a camera's compression code, the grabbers' media types
// and the making of a capture graph builder.
#pragma once

#include <windows.h>
#include <dshow.h>
#include <wrl/client.h>

// The decoder the preview chain puts after the camera for its compression code.
enum class TDecoderKind { None, Avi, Mjpeg };
TDecoderKind DecoderForFourCC(DWORD Code);

// The RGB subtype the preview grabber asks for at this bit count (24-bit RGB for any
// count without one of its own).
const GUID& RgbSubtypeForBitCount(int BitCount);

// The grabbers' media types, pointing at the stored format record (which must outlive
// the type).
AM_MEDIA_TYPE VideoGrabberType(VIDEOINFOHEADER& Format);
AM_MEDIA_TYPE AudioGrabberType(WAVEFORMATEX& Format);

// A capture graph builder working on Graph (when there is one).
HRESULT MakeCaptureGraphBuilder(IGraphBuilder* Graph,
                                Microsoft::WRL::ComPtr<ICaptureGraphBuilder2>& Builder);
