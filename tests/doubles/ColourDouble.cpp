// The Color Space Converter: uncompressed RGB in, RGB of the depth downstream asks for
// out (24 or 32 bits, 5-5-5 or 5-6-5), at the same size; equal types pass through.
#include <cstring>

#include "tests/doubles/Doubles.h"
#include "tests/doubles/TransformFilter.h"

namespace doubles {

namespace {

struct Pixel {
    BYTE b, g, r;
};

Pixel Read(const BYTE* p, const GUID& subtype) {
    if (subtype == MEDIASUBTYPE_RGB24 || subtype == MEDIASUBTYPE_RGB32) return {p[0], p[1], p[2]};
    const WORD v = static_cast<WORD>(p[0] | (p[1] << 8));
    if (subtype == MEDIASUBTYPE_RGB565)
        return {static_cast<BYTE>((v & 0x1F) << 3), static_cast<BYTE>(((v >> 5) & 0x3F) << 2),
                static_cast<BYTE>(((v >> 11) & 0x1F) << 3)};
    return {static_cast<BYTE>((v & 0x1F) << 3), static_cast<BYTE>(((v >> 5) & 0x1F) << 3),
            static_cast<BYTE>(((v >> 10) & 0x1F) << 3)};
}

void Write(BYTE* p, const GUID& subtype, const Pixel& px) {
    if (subtype == MEDIASUBTYPE_RGB24 || subtype == MEDIASUBTYPE_RGB32) {
        p[0] = px.b;
        p[1] = px.g;
        p[2] = px.r;
        if (subtype == MEDIASUBTYPE_RGB32) p[3] = 0;
        return;
    }
    const WORD v = subtype == MEDIASUBTYPE_RGB565
                       ? static_cast<WORD>(((px.r >> 3) << 11) | ((px.g >> 2) << 5) | (px.b >> 3))
                       : static_cast<WORD>(((px.r >> 3) << 10) | ((px.g >> 3) << 5) | (px.b >> 3));
    p[0] = static_cast<BYTE>(v);
    p[1] = static_cast<BYTE>(v >> 8);
}

LONG Rows(const BITMAPINFOHEADER& bmi) { return bmi.biHeight < 0 ? -bmi.biHeight : bmi.biHeight; }

DWORD Stride(const BITMAPINFOHEADER& bmi) {
    return ((static_cast<DWORD>(bmi.biWidth) * bmi.biBitCount + 31) / 32) * 4;
}

// An RGB type this filter reads or writes: its subtype, depth and compression agree.
bool RgbType(const AM_MEDIA_TYPE& mt) {
    const VIDEOINFOHEADER* vih = VideoInfo(mt);
    const int bits = RgbBits(mt.subtype);
    if (mt.majortype != MEDIATYPE_Video || !vih || bits == 0 || vih->bmiHeader.biBitCount != bits)
        return false;
    const DWORD compression = mt.subtype == MEDIASUBTYPE_RGB565 ? BI_BITFIELDS : BI_RGB;
    return vih->bmiHeader.biCompression == compression && vih->bmiHeader.biWidth > 0 &&
           vih->bmiHeader.biHeight != 0;
}

class ColourDouble final : public TransformFilter {
public:
    ColourDouble() : TransformFilter(CLSID_Colour) {}

protected:
    HRESULT CheckInputType(const AM_MEDIA_TYPE& mt) const override {
        // It converts one RGB type into another; YUV and compressed video it does not take.
        return RgbType(mt) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }

    std::vector<MediaType> OutputTypes(const AM_MEDIA_TYPE& in) const override {
        const VIDEOINFOHEADER* vih = VideoInfo(in);
        std::vector<MediaType> types;
        types.emplace_back(in);  // the input's own type first: passed through
        for (const GUID* subtype : {&MEDIASUBTYPE_RGB32, &MEDIASUBTYPE_RGB24, &MEDIASUBTYPE_RGB565,
                                    &MEDIASUBTYPE_RGB555}) {
            if (*subtype != in.subtype)
                types.push_back(RgbVideoType(*subtype, vih->bmiHeader.biWidth,
                                             vih->bmiHeader.biHeight, vih->AvgTimePerFrame));
        }
        return types;
    }

    HRESULT CheckTransform(const AM_MEDIA_TYPE& in, const AM_MEDIA_TYPE& out) const override {
        // The same picture size: it converts colours, it does not scale.
        if (!RgbType(in) || !RgbType(out)) return VFW_E_TYPE_NOT_ACCEPTED;
        const BITMAPINFOHEADER& a = VideoInfo(in)->bmiHeader;
        const BITMAPINFOHEADER& b = VideoInfo(out)->bmiHeader;
        return a.biWidth == b.biWidth && Rows(a) == Rows(b) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }

    HRESULT Transform(const AM_MEDIA_TYPE& in, IMediaSample* src, const AM_MEDIA_TYPE& out,
                      IMediaSample* dst) override {
        BYTE* from = nullptr;
        BYTE* to = nullptr;
        if (FAILED(src->GetPointer(&from)) || FAILED(dst->GetPointer(&to))) return E_FAIL;
        const BITMAPINFOHEADER& a = VideoInfo(in)->bmiHeader;
        const BITMAPINFOHEADER& b = VideoInfo(out)->bmiHeader;
        const LONG rows = Rows(a);
        const DWORD inStride = Stride(a), outStride = Stride(b);
        if (static_cast<DWORD>(src->GetActualDataLength()) < inStride * rows ||
            static_cast<DWORD>(dst->GetSize()) < outStride * rows)
            return S_FALSE;
        const bool flip = (a.biHeight < 0) != (b.biHeight < 0);
        const int inBytes = a.biBitCount / 8, outBytes = b.biBitCount / 8;
        for (LONG y = 0; y < rows; ++y) {
            const BYTE* s = from + static_cast<size_t>(y) * inStride;
            BYTE* d = to + static_cast<size_t>(flip ? rows - 1 - y : y) * outStride;
            if (in.subtype == out.subtype) {
                std::memcpy(d, s, outStride);
                continue;
            }
            for (LONG x = 0; x < a.biWidth; ++x)
                Write(d + x * outBytes, out.subtype, Read(s + x * inBytes, in.subtype));
        }
        dst->SetActualDataLength(static_cast<long>(outStride * rows));
        return S_OK;
    }

private:
    ~ColourDouble() override = default;
};

}  // namespace

HRESULT CreateColour(REFIID iid, void** out) { return CreateAndQuery<ColourDouble>(iid, out); }

}  // namespace doubles
