// Random and damaged language files: every one parses without a crash, without reading
// a byte past its data, and into lines that hold no line end and no NUL.
#include "CommonTestSupport.h"

#include "common/u_PathUtil.h"
#include "common/u_ResourceLib.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace {

// Holds bytes so that they end exactly at a page that may not be touched: one byte read
// past the end faults at once instead of passing unnoticed.
class GuardedBytes {
public:
    explicit GuardedBytes(const std::vector<uint8_t>& Bytes) {
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        const size_t page = info.dwPageSize;
        const size_t dataPages = (Bytes.size() + page - 1) / page;
        total_ = (dataPages + 1) * page;
        base_ = static_cast<uint8_t*>(
            VirtualAlloc(nullptr, total_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        DWORD old = 0;
        VirtualProtect(base_ + dataPages * page, page, PAGE_NOACCESS, &old);
        data_ = base_ + dataPages * page - Bytes.size();
        std::copy(Bytes.begin(), Bytes.end(), data_);
        size_ = Bytes.size();
    }
    ~GuardedBytes() { VirtualFree(base_, 0, MEM_RELEASE); }
    GuardedBytes(const GuardedBytes&) = delete;
    GuardedBytes& operator=(const GuardedBytes&) = delete;

    const uint8_t* data() const { return data_; }
    size_t size() const { return size_; }

private:
    uint8_t* base_ = nullptr;
    uint8_t* data_ = nullptr;
    size_t total_ = 0;
    size_t size_ = 0;
};

// A believable language file with some long lines and scripts from every language.
std::wstring SeedText(std::mt19937& Random) {
    static const wchar_t* const values[] = {L"Orvix",
                                            L"\ud55c\uad6d\uc5b4 \ud14d\uc2a4\ud2b8",
                                            L"\u4e2d\u6587\u8aaa\u660e",
                                            L"\u0417\u0430\u043f\u0438\u0441",
                                            L"\u00e9t\u00e9 \u00fc\u00df",
                                            L"a=b=c",
                                            L" blank ",
                                            L"",
                                            L"\U0001F4F7 camera"};
    std::wstring text;
    const int lines = 1 + static_cast<int>(Random() % 40);
    for (int i = 0; i < lines; ++i) {
        text += L"T_KEY" + std::to_wstring(i) + L"=" + values[Random() % std::size(values)];
        if (Random() % 16 == 0) text += std::wstring(1000 + Random() % 20000, L'x');
        static const wchar_t* const ends[] = {L"\r\n", L"\n", L"\r", L"\u2028", L"\r\n\u2028", L""};
        text += ends[Random() % std::size(ends)];
    }
    return text;
}

std::vector<uint8_t> Encode(const std::wstring& Text, std::mt19937& Random) {
    switch (Random() % 5) {
        case 0:
            return Utf16LE(Text);
        case 1:
            return Utf16BE(Text);
        case 2:
            return Utf8(Text);
        case 3:
            return Utf8(Text, false);
        default:
            return Utf16LE(Text, false);
    }
}

// Damage of the kinds real files suffer: cut anywhere (also inside a UTF-16 unit or a
// UTF-8 sequence), flipped and inserted bytes, NULs, lost or doubled markers, lone
// surrogates and stray continuation bytes.
void Mutate(std::vector<uint8_t>& Bytes, std::mt19937& Random) {
    const int steps = 1 + static_cast<int>(Random() % 6);
    for (int s = 0; s < steps; ++s) {
        const size_t at = Bytes.empty() ? 0 : Random() % (Bytes.size() + 1);
        switch (Random() % 9) {
            case 0:
                Bytes.resize(at);
                break;
            case 1:
                if (at < Bytes.size()) Bytes[at] ^= static_cast<uint8_t>(1u << (Random() % 8));
                break;
            case 2:
                Bytes.insert(Bytes.begin() + static_cast<std::ptrdiff_t>(at), 0);
                break;
            case 3:
                Bytes.insert(Bytes.begin() + static_cast<std::ptrdiff_t>(at),
                             static_cast<uint8_t>(Random()));
                break;
            case 4:
                Bytes.erase(Bytes.begin(),
                            Bytes.begin() + static_cast<std::ptrdiff_t>(
                                                std::min<size_t>(Bytes.size(), Random() % 4)));
                break;
            case 5: {
                const uint8_t surrogate[] = {0x00, 0xD8, 0x00, 0xDC, 0x3D};
                Bytes.insert(Bytes.begin() + static_cast<std::ptrdiff_t>(at), surrogate,
                             surrogate + 1 + Random() % 5);
                break;
            }
            case 6: {
                const uint8_t broken[] = {0xC3, 0xE2, 0x82, 0xF0, 0x9F, 0x80, 0xBF, 0xFF};
                Bytes.insert(Bytes.begin() + static_cast<std::ptrdiff_t>(at), broken + Random() % 4,
                             broken + 4 + Random() % 5);
                break;
            }
            case 7: {
                const uint8_t marks[][3] = {{0xFF, 0xFE, 0}, {0xFE, 0xFF, 0}, {0xEF, 0xBB, 0xBF}};
                const auto& m = marks[Random() % 3];
                Bytes.insert(Bytes.begin(), m, m + (m[2] ? 3 : 2));
                break;
            }
            default:
                if (!Bytes.empty()) Bytes.pop_back();
                break;
        }
    }
}

std::vector<uint8_t> RandomBytes(std::mt19937& Random) {
    std::vector<uint8_t> bytes(Random() % 300);
    for (auto& b : bytes) b = static_cast<uint8_t>(Random());
    if (!bytes.empty() && Random() % 2) {
        const uint8_t lead[] = {0xFF, 0xFE, 0xFE, 0xFF, 0xEF};
        bytes[0] = lead[Random() % 5];
    }
    return bytes;
}

void CheckLines(const std::vector<std::wstring>& Lines, size_t ByteCount) {
    size_t total = 0;
    for (const std::wstring& line : Lines) {
        ASSERT_EQ(line.find_first_of(std::wstring(L"\r\n\u2028\0", 4)), std::wstring::npos);
        total += line.size();
    }
    // No input byte yields more than one character in any of the decodings.
    ASSERT_LE(total, ByteCount);
    // Lookups over whatever was parsed stay well behaved.
    (void)FindText(Lines, "T_KEY3");
    (void)FindText(Lines, "");
}

}  // namespace

TEST(LanguageRobustness, ThousandsOfDamagedFilesInMemory) {
    std::mt19937 random(20240611);
    for (int i = 0; i < 6000; ++i) {
        std::vector<uint8_t> bytes;
        if (i % 4 == 0) {
            bytes = RandomBytes(random);
        } else {
            bytes = Encode(SeedText(random), random);
            Mutate(bytes, random);
        }
        GuardedBytes guarded(bytes);
        const auto lines = ParseLanguageText(guarded.data(), guarded.size(), i % 3 ? 1252 : CP_ACP);
        ASSERT_NO_FATAL_FAILURE(CheckLines(lines, bytes.size())) << "case " << i;
    }
}

TEST(LanguageRobustness, DamagedFilesFromDisk) {
    testsupport::TempFolder folder{L"orvix_common"};
    std::mt19937 random(77);
    const std::string path = folder.AnsiPath() + "Orvix_ENG.txt";
    for (int i = 0; i < 150; ++i) {
        std::vector<uint8_t> bytes = Encode(SeedText(random), random);
        Mutate(bytes, random);
        WriteBytes(AnsiToWide(path), bytes);
        ASSERT_TRUE(LoadLanguageTexts(path)) << "case " << i;
        (void)GetText("T_KEY0");
        // The table holds what the parser makes of the same bytes.
        const auto lines = ParseLanguageText(bytes.data(), bytes.size());
        for (const std::wstring& line : lines) {
            const size_t eq = line.find(L'=');
            if (eq != std::wstring::npos && eq > 0 && line.compare(0, 5, L"T_KEY") == 0) {
                const std::wstring name = line.substr(0, eq);
                if (std::all_of(name.begin(), name.end(),
                                [](wchar_t c) { return c > 0x20 && c < 0x7F; })) {
                    std::string key;
                    for (wchar_t c : name) key += static_cast<char>(c);
                    ASSERT_EQ(GetText(key), FindText(lines, key)) << "case " << i;
                }
                break;
            }
        }
    }
    FreeLanguageTexts();
}
