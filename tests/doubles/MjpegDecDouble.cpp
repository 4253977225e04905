// The MJPEG Decompressor: Motion JPEG video in, uncompressed RGB out, each frame a JPEG
// picture decoded with libjpeg-turbo.
#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

#include "tests/doubles/Doubles.h"
#include "tests/doubles/TransformFilter.h"

namespace doubles {

namespace {

struct JpegError {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
};

void JpegErrorExit(j_common_ptr info) {
    std::longjmp(reinterpret_cast<JpegError*>(info->err)->jump, 1);
}
// Warnings (a damaged picture decoded as far as it goes) are not errors.
void JpegQuiet(j_common_ptr, int) {}

class MjpegDecDouble final : public TransformFilter {
public:
    MjpegDecDouble() : TransformFilter(CLSID_MjpegDec) {
        info_.err = jpeg_std_error(&error_.mgr);
        error_.mgr.error_exit = JpegErrorExit;
        error_.mgr.emit_message = JpegQuiet;
        jpeg_create_decompress(&info_);
    }

protected:
    HRESULT CheckInputType(const AM_MEDIA_TYPE& mt) const override {
        // It takes Motion JPEG video described by a VIDEOINFOHEADER and nothing else.
        const VIDEOINFOHEADER* vih = VideoInfo(mt);
        if (mt.majortype != MEDIATYPE_Video || mt.subtype != MEDIASUBTYPE_MJPG || !vih)
            return VFW_E_TYPE_NOT_ACCEPTED;
        if (vih->bmiHeader.biCompression != MAKEFOURCC('M', 'J', 'P', 'G') ||
            vih->bmiHeader.biWidth <= 0 || vih->bmiHeader.biHeight == 0)
            return VFW_E_TYPE_NOT_ACCEPTED;
        return S_OK;
    }

    std::vector<MediaType> OutputTypes(const AM_MEDIA_TYPE& in) const override {
        const VIDEOINFOHEADER* vih = VideoInfo(in);
        const LONG height =
            vih->bmiHeader.biHeight < 0 ? -vih->bmiHeader.biHeight : vih->bmiHeader.biHeight;
        std::vector<MediaType> types;
        for (const GUID* subtype : {&MEDIASUBTYPE_RGB24, &MEDIASUBTYPE_RGB32})
            types.push_back(
                RgbVideoType(*subtype, vih->bmiHeader.biWidth, height, vih->AvgTimePerFrame));
        return types;
    }

    HRESULT CheckTransform(const AM_MEDIA_TYPE& in, const AM_MEDIA_TYPE& out) const override {
        // RGB of 24 or 32 bits at the picture's own size: it neither scales nor dithers.
        const VIDEOINFOHEADER* a = VideoInfo(in);
        const VIDEOINFOHEADER* b = VideoInfo(out);
        if (!a || !b || out.majortype != MEDIATYPE_Video) return VFW_E_TYPE_NOT_ACCEPTED;
        const int bits = RgbBits(out.subtype);
        if ((bits != 24 && bits != 32) || b->bmiHeader.biBitCount != bits ||
            b->bmiHeader.biCompression != BI_RGB)
            return VFW_E_TYPE_NOT_ACCEPTED;
        const LONG ha = a->bmiHeader.biHeight < 0 ? -a->bmiHeader.biHeight : a->bmiHeader.biHeight;
        const LONG hb = b->bmiHeader.biHeight < 0 ? -b->bmiHeader.biHeight : b->bmiHeader.biHeight;
        if (b->bmiHeader.biWidth != a->bmiHeader.biWidth || hb != ha)
            return VFW_E_TYPE_NOT_ACCEPTED;
        return S_OK;
    }

    HRESULT Transform(const AM_MEDIA_TYPE&, IMediaSample* src, const AM_MEDIA_TYPE& out,
                      IMediaSample* dst) override {
        BYTE* data = nullptr;
        BYTE* target = nullptr;
        if (FAILED(src->GetPointer(&data)) || FAILED(dst->GetPointer(&target))) return E_FAIL;
        const long length = src->GetActualDataLength();
        const BITMAPINFOHEADER& bmi = VideoInfo(out)->bmiHeader;
        const bool bottomUp = bmi.biHeight > 0;
        const LONG height = bottomUp ? bmi.biHeight : -bmi.biHeight;
        const DWORD stride = ((static_cast<DWORD>(bmi.biWidth) * bmi.biBitCount + 31) / 32) * 4;
        if (length <= 0 || static_cast<DWORD>(dst->GetSize()) < stride * height) return S_FALSE;
        if (setjmp(error_.jump)) {
            // A picture that does not decode is dropped, as a decoder drops a broken frame.
            jpeg_abort_decompress(&info_);
            return S_FALSE;
        }
        jpeg_mem_src(&info_, data, static_cast<unsigned long>(length));
        jpeg_read_header(&info_, TRUE);
        if (info_.image_width != static_cast<JDIMENSION>(bmi.biWidth) ||
            info_.image_height != static_cast<JDIMENSION>(height)) {
            jpeg_abort_decompress(&info_);
            return S_FALSE;
        }
        info_.out_color_space = bmi.biBitCount == 32 ? JCS_EXT_BGRX : JCS_EXT_BGR;
        info_.dct_method = JDCT_IFAST;
        jpeg_start_decompress(&info_);
        while (info_.output_scanline < info_.output_height) {
            const LONG y = static_cast<LONG>(info_.output_scanline);
            JSAMPROW row = target + static_cast<size_t>(bottomUp ? height - 1 - y : y) * stride;
            jpeg_read_scanlines(&info_, &row, 1);
        }
        jpeg_finish_decompress(&info_);
        dst->SetActualDataLength(static_cast<long>(stride * height));
        return S_OK;
    }

private:
    ~MjpegDecDouble() override { jpeg_destroy_decompress(&info_); }

    // Used by the one thread that delivers samples.
    jpeg_decompress_struct info_{};
    JpegError error_{};
};

}  // namespace

HRESULT CreateMjpegDec(REFIID iid, void** out) { return CreateAndQuery<MjpegDecDouble>(iid, out); }

}  // namespace doubles
