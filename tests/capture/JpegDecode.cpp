#include "tests/capture/JpegDecode.h"

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

namespace captest {

namespace {

struct DecodeFailure {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
};

[[noreturn]] void DecodeErrorExit(j_common_ptr c) {
    std::longjmp(reinterpret_cast<DecodeFailure*>(c->err)->jump, 1);
}

bool DecodeInto(const std::vector<uint8_t>& file, Decoded& out) {
    jpeg_decompress_struct cinfo;
    DecodeFailure failure;
    cinfo.err = jpeg_std_error(&failure.mgr);
    failure.mgr.error_exit = DecodeErrorExit;
    if (setjmp(failure.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, file.data(), static_cast<unsigned long>(file.size()));
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    out.width = static_cast<int>(cinfo.output_width);
    out.height = static_cast<int>(cinfo.output_height);
    out.rgb.resize(static_cast<size_t>(out.width) * out.height * 3);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = out.rgb.data() + static_cast<size_t>(cinfo.output_scanline) * out.width * 3;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

}  // namespace

Decoded Decode(const std::vector<uint8_t>& file) {
    Decoded d;
    d.ok = !file.empty() && DecodeInto(file, d);
    return d;
}

}  // namespace captest
