// Still-picture benchmark, each measure against a baseline taken in the same run, the two
// alternating so that drift in the machine's speed touches both:
//  1. the save path (a 24-bit frame to a numbered JPEG file at the quality for its width:
//     640 x 480 at 90, 1920 x 1080 at 75) against a bare libjpeg-turbo encode of the same
//     frame plus a plain write of the same bytes to a new file (goal: at most 1.15);
//  2. the conversion and encode alone against the bare encode (goal: at most 1.05);
//  3. click-to-file latency: SnapShot to OnSnapShot on the stand-in MJPG camera's live
//     1920 x 1080 stream at 30 frames a second, 200 pictures asked for at random moments,
//     against one frame interval plus two save paths of that size (goal: the 95th
//     percentile within it);
//  4. the free-number search in a folder of 10,000 numbered pictures against one listing of
//     that folder (goal: at most 1.05).
// Usage: snapshot_bench.exe (arguments are ignored)
#include "bench/support/BenchSupport.h"
#include "capture/GDirectCapPin2.h"
#include "capture/NumberedFiles.h"
#include "capture/StillPicture.h"
#include "framework/Form.h"
#include "framework/WinHandles.h"
#include "standins/vcam/VCamConfig.h"

#include <atomic>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <jpeglib.h>

using namespace bench;

namespace {

// A camera-like frame (bottom-up, B,G,R) with edges and gradients, so that the
// encoder has real work.
std::vector<uint8_t> MakeFrame(int w, int h) {
    std::vector<uint8_t> f(static_cast<size_t>(w) * h * 3);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            uint8_t* p = &f[(static_cast<size_t>(y) * w + x) * 3];
            const bool cell = ((x / 8) + (y / 8)) % 2;
            p[0] = static_cast<uint8_t>(cell ? 220 : 60 + x % 64);
            p[1] = static_cast<uint8_t>((x * 255) / w);
            p[2] = static_cast<uint8_t>((y * 255) / h);
        }
    }
    return f;
}

struct BenchJpegError {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
};

[[noreturn]] void BenchErrorExit(j_common_ptr c) {
    std::longjmp(reinterpret_cast<BenchJpegError*>(c->err)->jump, 1);
}

// The least a JPEG of the frame needs: the library's own memory destination reading the
// bottom-up rows in place. The caller frees Out.
unsigned long BareEncode(const std::vector<uint8_t>& frame, int w, int h, int quality,
                         unsigned char*& out) {
    jpeg_compress_struct cinfo;
    BenchJpegError err;
    cinfo.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = BenchErrorExit;
    out = nullptr;
    unsigned long size = 0;
    if (setjmp(err.jump)) {
        jpeg_destroy_compress(&cinfo);
        return 0;
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, &out, &size);
    cinfo.image_width = static_cast<JDIMENSION>(w);
    cinfo.image_height = static_cast<JDIMENSION>(h);
    cinfo.in_color_space = JCS_EXT_BGR;
    cinfo.input_components = 3;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    const size_t stride = static_cast<size_t>(w) * 3;
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(frame.data()) +
                       (static_cast<size_t>(h) - 1 - cinfo.next_scanline) * stride;
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return size;
}

// A plain write of the bytes to a new file of the folder.
void PlainWrite(const std::wstring& name, const unsigned char* data, unsigned long size) {
    fw::Handle f(::CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (f) ::WriteFile(f.get(), data, size, &written, nullptr);
}

void Touch(const std::wstring& name) {
    fw::Handle f(::CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
}

// 3. Pictures of the live stream of the MJPG camera at Width x Height, one at a time; ms
// from SnapShot to OnSnapShot.
std::vector<double> ClickToFile(fw::Application& app, const std::wstring& dir, int width,
                                int height, int count) {
    std::vector<double> latency;
    const wchar_t subtype[] = L"MJPG";
    ::RegSetKeyValueW(HKEY_CURRENT_USER, vcam::kConfigKey, vcam::kValueSubtype, REG_SZ, subtype,
                      sizeof(subtype));
    // The program's picture area at most: 640 x 480.
    const auto [form, cap] = NewControlOnForm(app, 640, 480);
    const int camera = CameraIndex(*cap);
    cap->SelectDevices(camera, -1);
    cap->SetVideoFormat(width, height, 30, 24);
    cap->ImageFileName = dir + L"image_kv_.jpg";
    std::atomic<double> savedAt{0};
    std::wstring saved;
    cap->OnSnapShot = [&](const std::wstring& name) {
        saved = name;
        savedAt = Now();
    };
    std::atomic<uint32_t> frames{0};
    cap->SetOnVideoPreview([&](uint32_t, BYTE*&, int32_t&) { ++frames; });
    if (camera >= 0 && cap->StartPreview() &&
        PumpUntil(app, [&] { return frames.load() >= 10; }, 10000)) {
        uint32_t seed = 7;
        for (int i = 0; i < count; ++i) {
            // A request at any moment of the frame interval, as a click comes; right after
            // the last picture, it would always wait nearly a whole interval.
            seed = seed * 1103515245u + 12345u;
            PumpFor(app, (seed >> 16) % 34);
            savedAt = 0;
            const double start = Now();
            cap->SnapShot();
            if (!PumpUntil(app, [&] { return savedAt.load() != 0; }, 5000)) break;
            latency.push_back(savedAt.load() - start);
            ::DeleteFileW(saved.c_str());  // the folder stays as it was
        }
    }
    cap->StopPreview();
    cap->SetOnVideoPreview(nullptr);
    delete form;
    ::RegDeleteKeyValueW(HKEY_CURRENT_USER, vcam::kConfigKey, vcam::kValueSubtype);
    return latency;
}

struct SavePathFigures {
    double saveMs = -1;  // median of the save path
};

// 1 and 2 at one frame size, alternating: the save path, the bare encode with a plain write,
// the conversion and encode, and the bare encode into memory alone.
SavePathFigures SavePath(const std::wstring& dir, int w, int h, int rounds) {
    SavePathFigures figures;
    std::vector<uint8_t> frame = MakeFrame(w, h);
    const int32_t size = static_cast<int32_t>(frame.size());
    const int quality = JpegQualityForWidth(w);
    const std::wstring tpl = dir + L"image_kv_.jpg";
    std::vector<double> saveT, bareWriteT, convEncT, bareT, listT, numberedT, plainT;
    unsigned long jpegBytes = 0;
    for (int i = 0; i < rounds; ++i) {
        double t = Now();
        const TSavedPicture saved = SaveFramePicture(tpl, frame.data(), w, h, size);
        saveT.push_back(Now() - t);
        if (saved.FileName.empty()) {
            std::printf("the save path wrote nothing (error %lu)\n", saved.Error);
            return figures;
        }
        ::DeleteFileW(saved.FileName.c_str());

        const std::wstring plain = dir + L"plain_" + std::to_wstring(i) + L".jpg";
        unsigned char* out = nullptr;
        t = Now();
        jpegBytes = BareEncode(frame, w, h, quality, out);
        PlainWrite(plain, out, jpegBytes);
        bareWriteT.push_back(Now() - t);
        std::free(out);
        ::DeleteFileW(plain.c_str());

        std::vector<uint8_t> jpg;
        t = Now();
        EncodeJpegFile(FrameToBitmap(frame.data(), w, h, size), quality, jpg);
        convEncT.push_back(Now() - t);

        t = Now();
        BareEncode(frame, w, h, quality, out);
        bareT.push_back(Now() - t);

        // Where the file's time goes.
        t = Now();
        UniqueFileName(tpl);
        listT.push_back(Now() - t);
        DWORD error = 0;
        t = Now();
        TNumberedFileSearch search(tpl, false);
        const std::wstring numbered = WriteNumberedFile(search, out, jpegBytes, error);
        numberedT.push_back(Now() - t);
        ::DeleteFileW(numbered.c_str());
        t = Now();
        PlainWrite(plain, out, jpegBytes);
        plainT.push_back(Now() - t);
        ::DeleteFileW(plain.c_str());
        std::free(out);
    }
    figures.saveMs = Median(saveT);
    const std::string what = Format("%d x %d q%d", w, h, quality);
    RatioGoal(("save path, " + what + " to a numbered JPEG file").c_str(), figures.saveMs,
              "bare encode and plain write", Median(bareWriteT), 1.15);
    RatioGoal(("conversion and encode, " + what).c_str(), Median(convEncT), "bare encode",
              Median(bareT), 1.05);
    std::printf("  JPEG size %lu bytes; the numbered file %.3f ms (of which the folder's listing "
                "%.3f ms), a plain write %.3f ms\n",
                jpegBytes, Median(numberedT), Median(listT), Median(plainT));
    return figures;
}

}  // namespace

int main() {
    fw::ComInit com(COINIT_APARTMENTTHREADED);
    fw::Application app;
    ::RegDeleteTreeW(HKEY_CURRENT_USER, vcam::kConfigKey);
    const std::wstring dir = NewTempFolder(L"snapshot_bench");
    // A folder with some pictures already, as a user's has.
    for (int i = 0; i < 20; ++i) Touch(dir + L"image_kv_" + std::to_wstring(i) + L".jpg");

    SavePath(dir, 640, 480, 100);
    const SavePathFigures hd = SavePath(dir, 1920, 1080, 40);
    if (hd.saveMs < 0) return 2;

    // 3. Click-to-file latency on the live stream.
    {
        const std::vector<double> latency = ClickToFile(app, dir, 1920, 1080, 200);
        const double bound = 1000.0 / 30 + 2 * hd.saveMs;
        const double p95 = Percentile(latency, 0.95);
        Goal("click-to-file latency, 200 pictures at 1920 x 1080 MJPG, 30 fps",
             Format("%u pictures, median %.1f ms, p95 %.1f ms, frame interval plus two save "
                    "paths %.1f ms",
                    static_cast<unsigned>(latency.size()), Median(latency), p95, bound),
             "p95 within it", latency.size() == 200 && p95 <= bound);
    }
    RemoveFolder(dir);

    // 4. Free-number search against one listing of the folder.
    {
        const std::wstring names = NewTempFolder(L"snapshot_bench_names");
        for (int i = 0; i < 10000; ++i) Touch(names + L"image_kv_" + std::to_wstring(i) + L".jpg");
        const std::wstring many = names + L"image_kv_.jpg";
        size_t listed = 0;
        std::wstring found;
        std::vector<double> searchT, listT;
        for (int i = 0; i < 30; ++i) {
            double t = Now();
            found = UniqueFileName(many);
            searchT.push_back(Now() - t);
            t = Now();
            WIN32_FIND_DATAW fd;
            size_t n = 0;
            HANDLE hf = ::FindFirstFileW((names + L"*").c_str(), &fd);
            if (hf != INVALID_HANDLE_VALUE) {
                do ++n;
                while (::FindNextFileW(hf, &fd));
                ::FindClose(hf);
            }
            listed = n;
            listT.push_back(Now() - t);
        }
        RatioGoal("free-number search, 10,000 pictures", Median(searchT), "one listing",
                  Median(listT), 1.05);
        std::printf("  found %ls, listing saw %zu entries\n",
                    found.substr(found.find_last_of(L'\\') + 1).c_str(), listed);
        RemoveFolder(names);
    }
    ::RegDeleteTreeW(HKEY_CURRENT_USER, vcam::kConfigKey);
    return 0;
}
