// Every file the program reads, fuzzed: the language files, Orvix.ini and the button and
// dialog bitmaps, each input read in-process by the program's own readers. A reader that
// parses a buffer gets the input at the very end of a readable region followed by a
// no-access page, so that a read past the end faults at once; the readers that take a
// file name get real files in a temporary folder. The inputs come from a seeded
// generator: mutations of the staged files and damage that knows their structure (cut
// headers, huge sizes, other encodings). A crash, an exception or a reader that does not
// return within kHangMs ends the run with the input saved beside the executable.
//
//   fuzz_bench.exe [--count N] [--seed S]     (N inputs of each kind, default 100000;
//                                              ORVIX_FUZZ_COUNT sets N as well)
#include "common/u_GlobalDefine.h"
#include "common/u_PathUtil.h"
#include "common/u_ResourceLib.h"
#include "framework/Bitmap.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestPaths.h"

#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

constexpr size_t kMaxInput = 1 << 20;
constexpr DWORD kHangMs = 20000;
// Every this many inputs of a kind also go through the reader that takes a file.
constexpr uint64_t kFileEvery = 50;

// --- what is being read, for the fault report

const char* g_kind = "";
std::atomic<uint64_t> g_index{0};
std::atomic<uint64_t> g_progress{0};
const Bytes* g_input = nullptr;
std::wstring g_crashFile;

void SaveInput() {
    if (!g_input) return;
    std::ofstream out(std::filesystem::path(g_crashFile), std::ios::binary);
    out.write(reinterpret_cast<const char*>(g_input->data()),
              static_cast<std::streamsize>(g_input->size()));
}

[[noreturn]] void Fail(const char* what) {
    std::printf("FAULT: %s reading %s input %llu (%zu bytes), saved as %ls\n", what, g_kind,
                static_cast<unsigned long long>(g_index.load()), g_input ? g_input->size() : 0,
                g_crashFile.c_str());
    std::fflush(stdout);
    SaveInput();
    ExitProcess(3);
}

LONG WINAPI OnCrash(EXCEPTION_POINTERS* info) {
    char what[96];
    std::snprintf(what, sizeof(what), "exception 0x%08lX at %p",
                  static_cast<unsigned long>(info->ExceptionRecord->ExceptionCode),
                  info->ExceptionRecord->ExceptionAddress);
    Fail(what);
}

// --- the guard page

// A readable region whose end touches a no-access page; an input is copied so that its
// last byte is the last readable one.
class GuardedBuffer {
public:
    GuardedBuffer() {
        SYSTEM_INFO si{};
        GetSystemInfo(&si);
        page_ = si.dwPageSize;
        readable_ = (kMaxInput + page_ - 1) / page_ * page_;
        base_ = static_cast<uint8_t*>(
            VirtualAlloc(nullptr, readable_ + page_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        DWORD old = 0;
        if (!base_ || !VirtualProtect(base_ + readable_, page_, PAGE_NOACCESS, &old) ||
            !IsBadReadPtr(base_ + readable_, 1) || IsBadReadPtr(base_ + readable_ - 1, 1)) {
            std::printf("no guard page could be set up\n");
            std::exit(2);
        }
    }
    const uint8_t* Place(const Bytes& input) {
        uint8_t* at = base_ + readable_ - input.size();
        if (!input.empty()) std::memcpy(at, input.data(), input.size());
        return at;
    }

private:
    size_t page_ = 4096, readable_ = 0;
    uint8_t* base_ = nullptr;
};

// --- input generation

class Mutator {
public:
    explicit Mutator(uint32_t seed) : rng_(seed) {}

    size_t Below(size_t n) { return n ? std::uniform_int_distribution<size_t>(0, n - 1)(rng_) : 0; }
    bool OneIn(size_t n) { return Below(n) == 0; }
    uint32_t Word() { return static_cast<uint32_t>(rng_()); }

    uint32_t Interesting32() {
        static const uint32_t values[] = {
            0,          1,          2,          3,          4,          12,        14,
            16,         40,         52,         56,         108,        124,       255,
            256,        4096,       32767,      32768,      65535,      65536,     0x7FFFFFFF,
            0x80000000, 0xFFFFFFFF, 0xFFFFFFFE, 0x40000000, 0x00FFFFFF, 0x01000000};
        return values[Below(std::size(values))];
    }

    // Byte-level damage of any kind of file.
    void Damage(Bytes& b) {
        const size_t steps = 1 + Below(8);
        for (size_t s = 0; s < steps; ++s) {
            switch (Below(9)) {
                case 0:  // flip bits
                    if (!b.empty()) b[Below(b.size())] ^= static_cast<uint8_t>(1u << Below(8));
                    break;
                case 1: {  // interesting byte
                    static const uint8_t v[] = {0, 1, 0x7F, 0x80, 0xFF, '\r', '\n', '=', '[', ']'};
                    if (!b.empty()) b[Below(b.size())] = v[Below(std::size(v))];
                    break;
                }
                case 2:  // cut
                    b.resize(Below(b.size() + 1));
                    break;
                case 3: {  // remove a run
                    if (b.empty()) break;
                    const size_t at = Below(b.size()),
                                 n = 1 + Below(std::min<size_t>(64, b.size() - at));
                    b.erase(b.begin() + static_cast<ptrdiff_t>(at),
                            b.begin() + static_cast<ptrdiff_t>(at + n));
                    break;
                }
                case 4: {  // repeat a run
                    if (b.empty() || b.size() > kMaxInput / 2) break;
                    const size_t at = Below(b.size()),
                                 n = 1 + Below(std::min<size_t>(256, b.size() - at));
                    Bytes run(b.begin() + static_cast<ptrdiff_t>(at),
                              b.begin() + static_cast<ptrdiff_t>(at + n));
                    const size_t reps = 1 + Below(OneIn(8) ? 2000 : 4);
                    for (size_t r = 0; r < reps && b.size() + run.size() <= kMaxInput; ++r)
                        b.insert(b.begin() + static_cast<ptrdiff_t>(at), run.begin(), run.end());
                    break;
                }
                case 5: {  // random bytes in
                    const size_t at = Below(b.size() + 1), n = 1 + Below(32);
                    Bytes junk(n);
                    for (auto& c : junk) c = static_cast<uint8_t>(Word());
                    b.insert(b.begin() + static_cast<ptrdiff_t>(at), junk.begin(), junk.end());
                    break;
                }
                case 6:  // interesting 32-bit value anywhere
                    if (b.size() >= 4) Put32(b, Below(b.size() - 3), Interesting32());
                    break;
                case 7:  // swap two bytes
                    if (b.size() >= 2) std::swap(b[Below(b.size())], b[Below(b.size())]);
                    break;
                default:  // overwrite with a run of one byte
                    if (!b.empty()) {
                        const size_t at = Below(b.size());
                        const size_t n = std::min(b.size() - at, 1 + Below(64));
                        std::memset(b.data() + at, static_cast<int>(Word() & 0xFF), n);
                    }
                    break;
            }
        }
        if (b.size() > kMaxInput) b.resize(kMaxInput);
    }

    static void Put32(Bytes& b, size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
    }
    static void Put16(Bytes& b, size_t at, uint16_t v) {
        b[at] = static_cast<uint8_t>(v);
        b[at + 1] = static_cast<uint8_t>(v >> 8);
    }

private:
    std::mt19937 rng_;
};

Bytes ReadAll(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<Bytes> Seeds(const std::wstring& folder, const wchar_t* extension) {
    std::vector<Bytes> seeds;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(folder, ec))
        if (e.path().extension() == extension) seeds.push_back(ReadAll(e.path()));
    return seeds;
}

// Text as UTF-16 code units from UTF-8 (the language files are UTF-8 with a byte-order mark).
std::wstring Utf8ToWide(const Bytes& b, size_t from) {
    if (b.size() <= from) return {};
    return AnsiToWide(
        std::string_view(reinterpret_cast<const char*>(b.data() + from), b.size() - from), CP_UTF8);
}

Bytes Utf16(const std::wstring& w, bool bigEndian, bool mark) {
    Bytes out;
    if (mark) {
        out.push_back(bigEndian ? 0xFE : 0xFF);
        out.push_back(bigEndian ? 0xFF : 0xFE);
    }
    for (wchar_t c : w) {
        const uint8_t lo = static_cast<uint8_t>(c), hi = static_cast<uint8_t>(c >> 8);
        out.push_back(bigEndian ? hi : lo);
        out.push_back(bigEndian ? lo : hi);
    }
    return out;
}

// A language file: the staged ones, re-encoded, with their line structure damaged.
Bytes LanguageInput(Mutator& m, const std::vector<Bytes>& seeds) {
    Bytes b = seeds[m.Below(seeds.size())];
    const bool hasMark = b.size() >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF;
    switch (m.Below(8)) {
        case 0:  // UTF-16 either way, with or without a mark, maybe an odd length
            b = Utf16(Utf8ToWide(b, hasMark ? 3 : 0), m.OneIn(2), !m.OneIn(4));
            if (m.OneIn(2) && !b.empty()) b.pop_back();
            break;
        case 1:  // the mark gone or swapped: read in the system code page
            if (hasMark) b.erase(b.begin(), b.begin() + static_cast<ptrdiff_t>(1 + m.Below(3)));
            break;
        case 2: {  // line separators of every kind and lone surrogates
            std::wstring w = Utf8ToWide(b, hasMark ? 3 : 0);
            static const wchar_t odd[] = {L'\x2028', L'\r', L'\n', L'\xD800',
                                          L'\xDC00', L'\0', L'=',  L'\xFEFF'};
            for (size_t i = 0, n = 1 + m.Below(40); i < n; ++i)
                w.insert(m.Below(w.size() + 1), 1, odd[m.Below(std::size(odd))]);
            b = Utf16(w, false, true);
            break;
        }
        case 3: {  // a huge line
            const size_t at = m.Below(b.size() + 1);
            b.insert(b.begin() + static_cast<ptrdiff_t>(at), 1 + m.Below(200000),
                     static_cast<uint8_t>(m.OneIn(2) ? 'A' : 0xC3));
            break;
        }
        case 4:  // nothing but the mark, or one byte of it
            b.resize(m.Below(4));
            break;
        default:
            break;
    }
    m.Damage(b);
    return b;
}

// An Orvix.ini: the program's two folder keys, with the file's structure damaged.
Bytes SettingsInput(Mutator& m, const std::string& folder) {
    std::string text;
    if (!m.OneIn(4)) text += "[Option]\r\n";
    const char* keys[] = {"ImageFolder", "MovieFolder", "Other"};
    for (size_t i = 0, n = m.Below(5); i < n; ++i) {
        text += keys[m.Below(3)];
        if (!m.OneIn(8)) text += '=';
        switch (m.Below(4)) {
            case 0:
                text += folder;
                break;
            case 1:
                text += std::string(1 + m.Below(70000), 'x');  // past every buffer the reader grows
                break;
            case 2:
                text.append(1, '"').append(folder).append("sub\\\"");
                break;
            default:
                text += "C:\\no such folder\\";
                break;
        }
        text += m.OneIn(4) ? "\n" : "\r\n";
        if (m.OneIn(4)) {
            text.append(1, '[').append(m.Below(300), 'S');
            text.append(m.OneIn(2) ? "]\r\n" : "\r\n");
        }
    }
    Bytes b(text.begin(), text.end());
    if (m.OneIn(6)) b = Utf16(std::wstring(text.begin(), text.end()), false, true);
    if (!m.OneIn(3)) m.Damage(b);
    return b;
}

// A bitmap: a staged one with damaged header fields, or a small one made up in any of
// the formats a .bmp can have, then byte damage.
Bytes BitmapInput(Mutator& m, const std::vector<Bytes>& seeds) {
    Bytes b;
    if (m.OneIn(3)) {
        static const uint16_t depths[] = {1, 4, 8, 16, 24, 32, 0, 2, 64};
        static const uint32_t headers[] = {12, 40, 52, 56, 108, 124, 64, 11, 41};
        const uint32_t hdr = headers[m.Below(std::size(headers))];
        const uint16_t bpp = depths[m.Below(std::size(depths))];
        const uint32_t compression =
            static_cast<uint32_t>(m.Below(5));  // RGB, RLE8, RLE4, bit fields, JPEG
        const int32_t w = static_cast<int32_t>(1 + m.Below(40));
        int32_t h = static_cast<int32_t>(1 + m.Below(40));
        if (m.OneIn(4)) h = -h;
        const size_t colours = bpp <= 8 ? m.Below((1u << bpp) + 2) : m.Below(3);
        const size_t tableBytes = (hdr == 12 ? 3 : 4) * colours + (compression == 3 ? 12 : 0);
        const size_t body = m.Below(8000);
        b.assign(14 + hdr + tableBytes + body, 0);
        b[0] = 'B';
        b[1] = 'M';
        Mutator::Put32(b, 2, static_cast<uint32_t>(b.size()));
        Mutator::Put32(b, 10, static_cast<uint32_t>(14 + hdr + tableBytes));
        Mutator::Put32(b, 14, hdr);
        if (hdr == 12) {
            Mutator::Put16(b, 18, static_cast<uint16_t>(w));
            Mutator::Put16(b, 20, static_cast<uint16_t>(h));
            Mutator::Put16(b, 22, 1);
            Mutator::Put16(b, 24, bpp);
        } else if (hdr >= 40) {
            Mutator::Put32(b, 18, static_cast<uint32_t>(w));
            Mutator::Put32(b, 22, static_cast<uint32_t>(h));
            Mutator::Put16(b, 26, 1);
            Mutator::Put16(b, 28, bpp);
            Mutator::Put32(b, 30, compression);
            Mutator::Put32(b, 34, m.OneIn(2) ? 0 : static_cast<uint32_t>(body));
            Mutator::Put32(b, 46, static_cast<uint32_t>(colours));
        }
        for (size_t i = 14 + hdr; i < b.size(); ++i) b[i] = static_cast<uint8_t>(m.Word());
    } else {
        b = seeds[m.Below(seeds.size())];
        // Header fields: file size, pixel offset, header size, width, height, planes and
        // depth, compression, image size, colours used.
        static const size_t fields[] = {2, 10, 14, 18, 22, 26, 30, 34, 46};
        for (size_t i = 0, n = m.Below(4); i < n; ++i) {
            const size_t at = fields[m.Below(std::size(fields))];
            if (at + 4 <= b.size()) Mutator::Put32(b, at, m.Interesting32());
        }
        if (m.OneIn(3)) {  // cut in or right after the headers
            static const size_t cuts[] = {0, 2, 13, 14, 25, 26, 30, 53, 54, 66, 70};
            const size_t cut = cuts[m.Below(std::size(cuts))];
            if (cut < b.size()) b.resize(cut);
        }
    }
    if (!m.OneIn(4)) m.Damage(b);
    return b;
}

bool WriteFileBytes(const std::wstring& path, const Bytes& b) {
    std::ofstream out(std::filesystem::path(path), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
    return static_cast<bool>(out);
}

// --- the run

template <typename Make, typename Read>
void FuzzKind(const char* kind, uint64_t count, uint32_t seed, Make make, Read read) {
    Mutator m(seed);
    g_kind = kind;
    uint64_t accepted = 0;
    const auto start = std::chrono::steady_clock::now();
    for (uint64_t i = 0; i < count; ++i) {
        const Bytes input = make(m);
        g_input = &input;
        g_index = i;
        try {
            if (read(input, i)) ++accepted;
        } catch (const std::exception& e) {
            Fail(e.what());
        }
        g_progress.fetch_add(1);
    }
    g_input = nullptr;
    const double s =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%-16s %llu inputs read, %llu accepted, no fault (%.1f s)\n", kind,
                static_cast<unsigned long long>(count), static_cast<unsigned long long>(accepted),
                s);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    uint64_t count = 100000;
    uint32_t seed = 1;
    if (const char* env = std::getenv("ORVIX_FUZZ_COUNT")) count = std::strtoull(env, nullptr, 10);
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--count") == 0)
            count = std::strtoull(argv[++i], nullptr, 10);
        else if (std::strcmp(argv[i], "--seed") == 0)
            seed = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
    }
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    SetUnhandledExceptionFilter(&OnCrash);
    g_crashFile = testsupport::TestBinDir() + L"fuzz-fault.bin";

    const std::wstring staged = testsupport::TestBinDir() + L"..\\Orvix\\";
    const std::vector<Bytes> languages = Seeds(staged + L"language", L".txt");
    const std::vector<Bytes> bitmaps = Seeds(staged + L"images", L".bmp");
    if (languages.empty() || bitmaps.empty()) {
        std::printf("the staged language files and bitmaps are missing (%ls)\n", staged.c_str());
        return 2;
    }
    testsupport::TempFolder temp(L"orvix-fuzz-");
    const std::wstring dir = temp.Path();
    const std::string dirA = WideToAnsi(dir);
    std::printf(
        "fuzzing with seed %u, %llu inputs of each kind, seeds: %zu language files, "
        "%zu bitmaps\n",
        seed, static_cast<unsigned long long>(count), languages.size(), bitmaps.size());

    // A reader that does not come back is a fault too.
    std::atomic<bool> done{false};
    std::thread watchdog([&] {
        uint64_t last = g_progress.load();
        DWORD since = GetTickCount();
        while (!done) {
            Sleep(200);
            const uint64_t now = g_progress.load();
            if (now != last) {
                last = now;
                since = GetTickCount();
            } else if (GetTickCount() - since > kHangMs) {
                Fail("no return (hang)");
            }
        }
    });

    GuardedBuffer guard;
    const auto start = std::chrono::steady_clock::now();

    FuzzKind(
        "language files", count, seed, [&](Mutator& m) { return LanguageInput(m, languages); },
        [&](const Bytes& in, uint64_t i) {
            const std::vector<std::wstring> lines =
                ParseLanguageText(guard.Place(in), in.size(), CP_ACP);
            FindText(lines, "T_CONFIRM");
            if (i % kFileEvery == 0) {
                const std::wstring file = dir + L"Orvix_ENG.txt";
                WriteFileBytes(file, in);
                if (LoadLanguageTexts(WideToAnsi(file))) GetText("APP_TITLE");
                FreeLanguageTexts();
            }
            return !lines.empty();
        });

    // The settings are read by the system's profile functions, which take a file name only.
    AppPath = dirA;
    const std::string folder = dirA + "pictures\\";
    CreateDirectoryA(folder.c_str(), nullptr);
    FuzzKind(
        "Orvix.ini", count, seed + 1, [&](Mutator& m) { return SettingsInput(m, folder); },
        [&](const Bytes& in, uint64_t) {
            WriteFileBytes(AnsiToWide(SettingsFilePath()), in);
            LoadSettings();
            return ImagePath == AnsiToWide(folder) || MoviePath == AnsiToWide(folder);
        });

    FuzzKind(
        "bitmaps", count, seed + 2, [&](Mutator& m) { return BitmapInput(m, bitmaps); },
        [&](const Bytes& in, uint64_t i) {
            fw::Bitmap b;
            const bool ok = b.LoadFromMemory(guard.Place(in), in.size());
            if (i % kFileEvery == 0) {
                const std::wstring file = dir + L"gbFuzz.bmp";
                WriteFileBytes(file, in);
                fw::Bitmap g;
                LoadGlyphFile(g, WideToAnsi(file));
            }
            return ok;
        });

    done = true;
    watchdog.join();
    const double s =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("fuzzed %llu inputs in all, no fault (%.1f s)\n",
                static_cast<unsigned long long>(count * 3), s);
    return 0;
}
