// Still-picture benchmark, each pair measured side by side in alternating rounds:
//  1. FrameToBitmap of a 640 x 480 x 24 frame against a plain copy of the same bytes
//     into a new buffer (goal: at most 1.05);
//  2. the whole save path of the capture control (frame to JPEG file on disk, quality 90)
//     against a bare libjpeg-turbo encode of the same frame into memory (goal: at most
//     1.15);
//  3. the free-number search in a folder of 10,000 numbered pictures against one listing
//     of that folder (goal: at most 1.0).
// Usage: snapshot_bench.exe (arguments are ignored)
#include "capture/GDirectCapPin2.h"
#include "capture/StillPicture.h"
#include "capture/gDirectCapDefine2.h"
#include "framework/Application.h"
#include "framework/Form.h"
#include "framework/WinHandles.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <jpeglib.h>

namespace {

double Now() {
    static const double freq = [] {
        LARGE_INTEGER f;
        ::QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart);
    }();
    LARGE_INTEGER c;
    ::QueryPerformanceCounter(&c);
    return static_cast<double>(c.QuadPart) * 1000.0 / freq;
}

double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Runs a and b alternately, `rounds` times each, and gives the two medians in ms.
void SideBySide(int rounds, const std::function<void()>& a, const std::function<void()>& b,
                double& medianA, double& medianB) {
    std::vector<double> ta, tb;
    for (int i = 0; i < rounds; ++i) {
        double t = Now();
        a();
        ta.push_back(Now() - t);
        t = Now();
        b();
        tb.push_back(Now() - t);
    }
    medianA = Median(ta);
    medianB = Median(tb);
}

void Report(const char* what, double ms, const char* baseline, double baseMs, double goal) {
    const double ratio = baseMs > 0 ? ms / baseMs : 0;
    std::printf("%s %.3f ms, %s %.3f ms, ratio %.3f (goal <= %.2f) %s\n", what, ms, baseline,
                baseMs, ratio, goal, ratio > 0 && ratio <= goal ? "MET" : "MISSED");
}

std::wstring TempFolder(const wchar_t* name) {
    wchar_t tmp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, tmp);
    return std::wstring(tmp) + name + L"_" + std::to_wstring(::GetCurrentProcessId()) + L"\\";
}

void RemoveFolder(const std::wstring& dir) {
    WIN32_FIND_DATAW fd;
    HANDLE h = ::FindFirstFileW((dir + L"*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                ::DeleteFileW((dir + fd.cFileName).c_str());
        } while (::FindNextFileW(h, &fd));
        ::FindClose(h);
    }
    ::RemoveDirectoryW(dir.c_str());
}

// A camera-like 640 x 480 frame (bottom-up, B,G,R) with edges and gradients, so that the
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

// The least a JPEG of the frame needs: the library reading the bottom-up rows in place.
size_t BareEncode(const std::vector<uint8_t>& frame, int w, int h, int quality) {
    jpeg_compress_struct cinfo;
    BenchJpegError err;
    cinfo.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = BenchErrorExit;
    unsigned char* out = nullptr;
    unsigned long size = 0;
    if (setjmp(err.jump)) {
        jpeg_destroy_compress(&cinfo);
        std::free(out);
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
    std::free(out);
    return size;
}

}  // namespace

int main() {
    fw::ComInit com(COINIT_APARTMENTTHREADED);
    fw::Application app;
    const int w = 640, h = 480;
    std::vector<uint8_t> frame = MakeFrame(w, h);
    const int32_t size = static_cast<int32_t>(frame.size());

    // 1. Conversion against a plain copy.
    {
        volatile uint8_t sink = 0;
        double convertMs = 0, copyMs = 0;
        SideBySide(
            1000,
            [&] {
                const TFrameBitmap b = FrameToBitmap(frame.data(), w, h, size);
                sink = sink + b.Bits[12345];
            },
            [&] {
                std::unique_ptr<uint8_t[]> copy(new uint8_t[frame.size()]);
                std::memcpy(copy.get(), frame.data(), frame.size());
                sink = sink + copy[12345];
            },
            convertMs, copyMs);
        Report("FrameToBitmap 640 x 480 x 24:", convertMs, "plain copy", copyMs, 1.05);
    }

    // 2. The control's save path against a bare encode into memory.
    {
        fw::Form* form = fw::NewForm<fw::Form>(&app);
        auto* cap = new TGDirectCapPin2(form);
        cap->SetVideoFormat(w, h, 30, 24);
        const std::wstring dir = TempFolder(L"snapshot_bench");
        RemoveFolder(dir);
        ::CreateDirectoryW(dir.c_str(), nullptr);
        // A folder with some pictures already, as a user's has.
        for (int i = 0; i < 20; ++i) {
            HANDLE f = ::CreateFileW((dir + L"image_kv_" + std::to_wstring(i) + L".jpg").c_str(),
                                     GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
            ::CloseHandle(f);
        }
        cap->ImageFileName = dir + L"image_kv_.jpg";
        std::wstring last;
        cap->OnSnapShot = [&](const std::wstring& name) { last = name; };
        std::vector<double> saveT, bareT;
        size_t bytes = 0;
        for (int i = 0; i < 60; ++i) {
            BYTE* buffer = frame.data();
            int32_t s = size;
            last.clear();
            double t = Now();
            cap->SaveSnapshotFrame(1, buffer, s);
            saveT.push_back(Now() - t);
            if (last.empty()) {
                std::printf("the save path wrote nothing\n");
                return 2;
            }
            ::DeleteFileW(last.c_str());  // the folder stays as it was
            t = Now();
            bytes = BareEncode(frame, w, h, 90);
            bareT.push_back(Now() - t);
        }
        Report("save path (frame to JPEG file, q90):", Median(saveT), "bare encode into memory",
               Median(bareT), 1.15);
        // Where the save path's time goes.
        std::vector<double> convT, encT, fileT, bare2T;
        for (int i = 0; i < 60; ++i) {
            double t = Now();
            BareEncode(frame, w, h, 90);
            bare2T.push_back(Now() - t);
            t = Now();
            const TFrameBitmap b = FrameToBitmap(frame.data(), w, h, size);
            convT.push_back(Now() - t);
            std::vector<uint8_t> jpg;
            t = Now();
            EncodeJpegFile(b, 90, jpg);
            encT.push_back(Now() - t);
            DWORD error = 0;
            t = Now();
            const std::wstring name = WriteNewNumberedFile(cap->ImageFileName, jpg, error);
            fileT.push_back(Now() - t);
            ::DeleteFileW(name.c_str());
        }
        std::printf(
            "  of which: conversion %.3f ms, encode %.3f ms, numbered file %.3f ms "
            "(listing, exclusive creation, write, close)\n",
            Median(convT), Median(encT), Median(fileT));
        std::printf("  conversion and encode against the bare encode: ratio %.3f\n",
                    (Median(convT) + Median(encT)) / Median(bare2T));
        std::printf("  JPEG size %zu bytes\n", bytes);
        delete form;
        RemoveFolder(dir);
    }

    // 3. Free-number search against one listing of the folder.
    {
        const std::wstring dir = TempFolder(L"snapshot_bench_names");
        RemoveFolder(dir);
        ::CreateDirectoryW(dir.c_str(), nullptr);
        for (int i = 0; i < 10000; ++i) {
            HANDLE f = ::CreateFileW((dir + L"image_kv_" + std::to_wstring(i) + L".jpg").c_str(),
                                     GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
            ::CloseHandle(f);
        }
        const std::wstring tpl = dir + L"image_kv_.jpg";
        size_t listed = 0;
        std::wstring found;
        double searchMs = 0, listMs = 0;
        SideBySide(
            30, [&] { found = UniqueFileName(tpl); },
            [&] {
                WIN32_FIND_DATAW fd;
                size_t n = 0;
                HANDLE hf = ::FindFirstFileW((dir + L"*").c_str(), &fd);
                if (hf != INVALID_HANDLE_VALUE) {
                    do ++n;
                    while (::FindNextFileW(hf, &fd));
                    ::FindClose(hf);
                }
                listed = n;
            },
            searchMs, listMs);
        Report("free-number search, 10,000 pictures:", searchMs, "one listing", listMs, 1.0);
        std::printf("  found %ls, listing saw %zu entries\n",
                    found.substr(found.find_last_of(L'\\') + 1).c_str(), listed);
        RemoveFolder(dir);
    }
    return 0;
}
