// An installable Video for Windows decompressor for the YUV layouts capture devices send
// (YUY2, UYVY, I420), into bottom-up or top-down RGB (5-5-5, 5-6-5, 24 or 32 bits) at the
// same size.
// It is entered in Drivers32 as vidc.YUY2, vidc.UYVY and vidc.I420, where the AVI
// Decompressor looks for a codec for a compression code, as Windows' own YUV codecs are.
#include <windows.h>
#include <mmsystem.h>
#include <vfw.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

namespace {

HMODULE g_module = nullptr;

constexpr DWORD kYuy2 = MAKEFOURCC('Y', 'U', 'Y', '2');
constexpr DWORD kUyvy = MAKEFOURCC('U', 'Y', 'V', 'Y');
constexpr DWORD kI420 = MAKEFOURCC('I', '4', '2', '0');
constexpr const wchar_t* kEntries[] = {L"vidc.YUY2", L"vidc.UYVY", L"vidc.I420"};
constexpr wchar_t kDrivers32[] = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\Drivers32";

struct Instance {
    DWORD handler;  // the code the codec was opened for
    bool begun = false;
};

DWORD Upper(DWORD code) {
    char c[4];
    std::memcpy(c, &code, 4);
    for (char& ch : c) ch = static_cast<char>(ch >= 'a' && ch <= 'z' ? ch - 32 : ch);
    std::memcpy(&code, c, 4);
    return code;
}

// A YUV picture this codec reads: its code with its own depth, a width in whole pixel
// pairs and, for the 4:2:0 layout, an even height. The sign of the height is not looked
// at: YUV pictures are always stored top-down.
bool InputOk(const BITMAPINFOHEADER* in) {
    if (!in || in->biWidth <= 0 || in->biHeight == 0 || in->biWidth % 2) return false;
    const DWORD code = Upper(in->biCompression);
    if (code == kYuy2 || code == kUyvy) return in->biBitCount == 16;
    if (code == kI420) return in->biBitCount == 12 && in->biHeight % 2 == 0;
    return false;
}

// 16-bit RGB is 5-5-5 unless its masks say 5-6-5.
bool Is565(const BITMAPINFOHEADER& out) {
    if (out.biCompression != BI_BITFIELDS) return false;
    const auto* masks =
        reinterpret_cast<const DWORD*>(reinterpret_cast<const BYTE*>(&out) + out.biSize);
    return masks[0] == 0xF800 && masks[1] == 0x07E0 && masks[2] == 0x001F;
}

// Uncompressed RGB at the input's size: it neither scales nor takes a palette.
bool OutputOk(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) {
    if (!out) return true;
    const LONG h = in->biHeight < 0 ? -in->biHeight : in->biHeight;
    const LONG oh = out->biHeight < 0 ? -out->biHeight : out->biHeight;
    const bool rgb = out->biCompression == BI_RGB &&
                     (out->biBitCount == 16 || out->biBitCount == 24 || out->biBitCount == 32);
    const bool rgb565 = out->biBitCount == 16 && Is565(*out);
    return (rgb || rgb565) && out->biWidth == in->biWidth && oh == h;
}

BYTE Clip(int v) { return static_cast<BYTE>(std::clamp(v, 0, 255)); }

// One pixel of `bits` depth (16: 5-5-5, or 5-6-5 when `wide`), from BT.601 studio range.
void PutRgb(BYTE* p, int bits, bool wide, int y, int u, int v) {
    const int c = 298 * (y - 16), d = u - 128, e = v - 128;
    const BYTE b = Clip((c + 516 * d + 128) >> 8);
    const BYTE g = Clip((c - 100 * d - 208 * e + 128) >> 8);
    const BYTE r = Clip((c + 409 * e + 128) >> 8);
    if (bits == 16) {
        const WORD w = wide ? static_cast<WORD>(((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3))
                            : static_cast<WORD>(((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3));
        p[0] = static_cast<BYTE>(w);
        p[1] = static_cast<BYTE>(w >> 8);
        return;
    }
    p[0] = b;
    p[1] = g;
    p[2] = r;
    if (bits == 32) p[3] = 0;
}

void Decompress(const BITMAPINFOHEADER& in, const BYTE* src, const BITMAPINFOHEADER& out,
                BYTE* dst) {
    const LONG w = in.biWidth;
    const LONG h = in.biHeight < 0 ? -in.biHeight : in.biHeight;
    const int bytes = out.biBitCount / 8;
    const DWORD stride = ((static_cast<DWORD>(w) * out.biBitCount + 31) / 32) * 4;
    const bool bottomUp = out.biHeight > 0;
    const DWORD code = Upper(in.biCompression);
    const bool wide = Is565(out);
    for (LONG y = 0; y < h; ++y) {
        BYTE* row = dst + static_cast<size_t>(bottomUp ? h - 1 - y : y) * stride;
        for (LONG x = 0; x < w; x += 2) {
            int y0, y1, u, v;
            if (code == kI420) {
                const BYTE* yp = src + static_cast<size_t>(y) * w;
                const BYTE* up = src + static_cast<size_t>(w) * h;
                const BYTE* vp = up + static_cast<size_t>(w / 2) * (h / 2);
                const size_t c = static_cast<size_t>(y / 2) * (w / 2) + x / 2;
                y0 = yp[x];
                y1 = yp[x + 1];
                u = up[c];
                v = vp[c];
            } else {
                const BYTE* p = src + (static_cast<size_t>(y) * w + x) * 2;
                if (code == kYuy2) {
                    y0 = p[0], u = p[1], y1 = p[2], v = p[3];
                } else {
                    u = p[0], y0 = p[1], v = p[2], y1 = p[3];
                }
            }
            PutRgb(row + x * bytes, out.biBitCount, wide, y0, u, v);
            PutRgb(row + (x + 1) * bytes, out.biBitCount, wide, y1, u, v);
        }
    }
}

LRESULT GetInfo(const Instance& codec, ICINFO* info, LPARAM size) {
    if (!info || size < static_cast<LPARAM>(sizeof(ICINFO))) return 0;
    std::memset(info, 0, sizeof(ICINFO));
    info->dwSize = sizeof(ICINFO);
    info->fccType = ICTYPE_VIDEO;
    info->fccHandler = codec.handler;
    info->dwVersion = 1;
    info->dwVersionICM = ICVERSION;
    lstrcpynW(info->szName, L"Orvix YUV", 16);
    lstrcpynW(info->szDescription, L"Orvix YUV decompressor (tests)", 128);
    return sizeof(ICINFO);
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = instance;
        DisableThreadLibraryCalls(instance);
        // Loaded and freed again for every codec open and every search the AVI
        // Decompressor makes, and each load of the statically linked thread library keeps
        // a duplicated handle of the loading thread that its unload never closes. Kept
        // loaded, as the system keeps its own codecs, it keeps one.
        HMODULE self = nullptr;
        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                           reinterpret_cast<LPCWSTR>(&g_module), &self);
    }
    return TRUE;
}

extern "C" LRESULT WINAPI DriverProc(DWORD_PTR id, HDRVR driver, UINT msg, LPARAM p1, LPARAM p2) {
    auto* codec = reinterpret_cast<Instance*>(id);
    switch (msg) {
        case DRV_LOAD:
        case DRV_FREE:
        case DRV_ENABLE:
        case DRV_DISABLE:
            return 1;
        case DRV_OPEN: {
            auto* open = reinterpret_cast<ICOPEN*>(p2);
            // A video decompressor: opened for another kind of stream, or to compress, it
            // refuses, as an installable compressor must.
            if (open && (open->fccType != ICTYPE_VIDEO || open->dwFlags == ICMODE_COMPRESS ||
                         open->dwFlags == ICMODE_FASTCOMPRESS)) {
                open->dwError = ICERR_UNSUPPORTED;
                return 0;
            }
            auto* made = new (std::nothrow) Instance{open ? Upper(open->fccHandler) : kYuy2};
            if (open) open->dwError = made ? ICERR_OK : ICERR_MEMORY;
            return reinterpret_cast<LRESULT>(made);
        }
        case DRV_CLOSE:
            delete codec;
            return 1;
        case DRV_QUERYCONFIGURE:
            return 0;  // nothing to configure
        case ICM_GETINFO:
            return codec ? GetInfo(*codec, reinterpret_cast<ICINFO*>(p1), p2) : 0;
        case ICM_DECOMPRESS_QUERY: {
            const auto* in = reinterpret_cast<const BITMAPINFOHEADER*>(p1);
            const auto* out = reinterpret_cast<const BITMAPINFOHEADER*>(p2);
            return InputOk(in) && OutputOk(in, out) ? ICERR_OK : ICERR_BADFORMAT;
        }
        case ICM_DECOMPRESS_GET_FORMAT: {
            const auto* in = reinterpret_cast<const BITMAPINFOHEADER*>(p1);
            auto* out = reinterpret_cast<BITMAPINFOHEADER*>(p2);
            if (!InputOk(in)) return ICERR_BADFORMAT;
            // Without a header to fill, the answer is the size of the one it would write.
            if (!out) return sizeof(BITMAPINFOHEADER);
            const LONG h = in->biHeight < 0 ? -in->biHeight : in->biHeight;
            *out = BITMAPINFOHEADER{};
            out->biSize = sizeof(BITMAPINFOHEADER);
            out->biWidth = in->biWidth;
            out->biHeight = h;
            out->biPlanes = 1;
            out->biBitCount = 24;
            out->biCompression = BI_RGB;
            out->biSizeImage = ((static_cast<DWORD>(in->biWidth) * 24 + 31) / 32) * 4 * h;
            return ICERR_OK;
        }
        case ICM_DECOMPRESS_BEGIN: {
            const auto* in = reinterpret_cast<const BITMAPINFOHEADER*>(p1);
            const auto* out = reinterpret_cast<const BITMAPINFOHEADER*>(p2);
            if (!codec || !InputOk(in) || !out) return ICERR_BADFORMAT;
            // Wine 8's AVI Decompressor begins with its input format in place of its output
            // (it names the right one with each frame, where it is checked): that one header
            // is let through here, any other that is not RGB of the input's size is refused.
            const bool wineInputTwice = std::memcmp(in, out, sizeof(BITMAPINFOHEADER)) == 0;
            if (!wineInputTwice && !OutputOk(in, out)) return ICERR_BADFORMAT;
            codec->begun = true;
            return ICERR_OK;
        }
        case ICM_DECOMPRESS: {
            auto* job = reinterpret_cast<ICDECOMPRESS*>(p1);
            if (!codec || !job || p2 < static_cast<LPARAM>(sizeof(ICDECOMPRESS)))
                return ICERR_BADPARAM;
            // Frames are decompressed only between ICM_DECOMPRESS_BEGIN and _END.
            if (!codec->begun) return ICERR_ERROR;
            if (!InputOk(job->lpbiInput) || !job->lpbiOutput ||
                !OutputOk(job->lpbiInput, job->lpbiOutput) || !job->lpInput || !job->lpOutput)
                return ICERR_BADFORMAT;
            Decompress(*job->lpbiInput, static_cast<const BYTE*>(job->lpInput), *job->lpbiOutput,
                       static_cast<BYTE*>(job->lpOutput));
            return ICERR_OK;
        }
        case ICM_DECOMPRESS_END:
            if (codec) codec->begun = false;
            return ICERR_OK;
        default:
            if (msg < DRV_USER) return DefDriverProc(id, driver, msg, p1, p2);
            return ICERR_UNSUPPORTED;
    }
}

// The entries go into the prefix's Drivers32, where the installable compressors are found.
STDAPI DllRegisterServer() {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(g_module, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return E_FAIL;
    HKEY key = nullptr;
    LSTATUS status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kDrivers32, 0, nullptr, 0, KEY_SET_VALUE,
                                     nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
    for (const wchar_t* entry : kEntries) {
        status = RegSetValueExW(key, entry, 0, REG_SZ, reinterpret_cast<const BYTE*>(path),
                                (length + 1) * sizeof(wchar_t));
        if (status != ERROR_SUCCESS) break;
    }
    RegCloseKey(key);
    return HRESULT_FROM_WIN32(status);
}

// Only entries that name this file go; another codec's stay.
STDAPI DllUnregisterServer() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(g_module, path, MAX_PATH);
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kDrivers32, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key) !=
        ERROR_SUCCESS)
        return S_OK;
    for (const wchar_t* entry : kEntries) {
        wchar_t value[MAX_PATH] = {};
        DWORD size = sizeof(value);
        if (RegGetValueW(key, nullptr, entry, RRF_RT_REG_SZ, nullptr, value, &size) ==
                ERROR_SUCCESS &&
            lstrcmpiW(value, path) == 0)
            RegDeleteValueW(key, entry);
    }
    RegCloseKey(key);
    return S_OK;
}
