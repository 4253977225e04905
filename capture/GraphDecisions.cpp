#include "capture/GraphDecisions.h"

#include <uuids.h>

TDecoderKind DecoderForFourCC(DWORD Code) {
    switch (Code) {
        case MAKEFOURCC('I', '4', '2', '0'):
        case MAKEFOURCC('Y', 'U', 'Y', '2'):
        case MAKEFOURCC('U', 'Y', 'V', 'Y'):
            return TDecoderKind::Avi;
        case MAKEFOURCC('M', 'J', 'P', 'G'):
            return TDecoderKind::Mjpeg;
        default:
            return TDecoderKind::None;
    }
}

const GUID& RgbSubtypeForBitCount(int BitCount) {
    switch (BitCount) {
        case 1:
            return MEDIASUBTYPE_RGB1;
        case 4:
            return MEDIASUBTYPE_RGB4;
        case 8:
            return MEDIASUBTYPE_RGB8;
        case 16:
            return MEDIASUBTYPE_RGB555;
        case 32:
            return MEDIASUBTYPE_RGB32;
        default:
            return MEDIASUBTYPE_RGB24;
    }
}

AM_MEDIA_TYPE VideoGrabberType(VIDEOINFOHEADER& Format) {
    AM_MEDIA_TYPE mt{};
    mt.majortype = MEDIATYPE_Video;
    mt.subtype = RgbSubtypeForBitCount(Format.bmiHeader.biBitCount);
    mt.bFixedSizeSamples = TRUE;
    mt.formattype = FORMAT_VideoInfo;
    mt.cbFormat = sizeof(Format);
    mt.pbFormat = reinterpret_cast<BYTE*>(&Format);
    return mt;
}

AM_MEDIA_TYPE AudioGrabberType(WAVEFORMATEX& Format) {
    AM_MEDIA_TYPE mt{};
    mt.majortype = MEDIATYPE_Audio;
    mt.subtype = MEDIASUBTYPE_PCM;
    mt.bFixedSizeSamples = TRUE;
    mt.formattype = FORMAT_WaveFormatEx;
    mt.cbFormat = sizeof(Format);
    mt.pbFormat = reinterpret_cast<BYTE*>(&Format);
    return mt;
}

HRESULT MakeCaptureGraphBuilder(IGraphBuilder* Graph,
                                Microsoft::WRL::ComPtr<ICaptureGraphBuilder2>& Builder) {
    Microsoft::WRL::ComPtr<ICaptureGraphBuilder2> made;
    const HRESULT hr = ::CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER,
                                          IID_PPV_ARGS(&made));
    if (FAILED(hr)) return hr;
    if (Graph) made->SetFiltergraph(Graph);
    Builder = made;
    return S_OK;
}
