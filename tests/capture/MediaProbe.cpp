#include "tests/capture/MediaProbe.h"

#include "tests/support/TempFolder.h"
#include "tests/support/Wait.h"

#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <vector>

namespace captest {

namespace {

std::string UnixPath(const std::wstring& path) {
    using Fn = char*(CDECL*)(LPCWSTR);
    auto fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (!fn) return {};
    char* unix = fn(path.c_str());
    if (!unix) return {};
    std::string out = unix;
    ::HeapFree(::GetProcessHeap(), 0, unix);
    return out;
}

// Starts a Unix program through Wine. Wine runs it beside the Windows process, with
// neither its handle nor its standard output to wait on: the program writes its answer
// into a file, which is complete once its last line (ending in `last`) is there. The
// process information that Wine returns for it holds no handles of ours but whatever was
// on its stack (in a 32-bit process that can be the number of an open registry key), so
// nothing in it is closed.
bool RunUnixAndRead(const std::wstring& commandLine, const std::wstring& outFile,
                    const std::string& last, std::string& output) {
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    std::wstring cmd = commandLine;
    if (!::CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                          &pi))
        return false;
    return testsupport::WaitUntil(
        [&] {
            std::ifstream in(std::filesystem::path(outFile), std::ios::binary);
            output.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
            const size_t at = output.find(last);
            return at != std::string::npos && output.find('\n', at) != std::string::npos;
        },
        20000);
}

std::map<std::string, std::string> Fields(const std::string& line) {
    std::map<std::string, std::string> out;
    std::stringstream ss(line);
    std::string item;
    while (std::getline(ss, item, '|')) {
        const size_t eq = item.find('=');
        if (eq != std::string::npos) out[item.substr(0, eq)] = item.substr(eq + 1);
    }
    return out;
}

std::string Get(const std::map<std::string, std::string>& m, const char* key) {
    const auto it = m.find(key);
    return it == m.end() ? std::string() : it->second;
}

}  // namespace

int MediaProbe::VideoInt(const char* key) const { return std::atoi(Get(video, key).c_str()); }
int MediaProbe::AudioInt(const char* key) const { return std::atoi(Get(audio, key).c_str()); }
double MediaProbe::VideoDouble(const char* key) const { return std::atof(Get(video, key).c_str()); }
double MediaProbe::AudioDouble(const char* key) const { return std::atof(Get(audio, key).c_str()); }

double MediaProbe::AudioSeconds() const {
    const int bytesPerSample = Get(audio, "sample_fmt") == "u8" ? 1 : 2;
    const double rate =
        static_cast<double>(AudioInt("sample_rate")) * AudioInt("channels") * bytesPerSample;
    return rate > 0 ? static_cast<double>(audioBytes) / rate : 0;
}

MediaProbe ProbeMedia(const std::wstring& path) {
    MediaProbe probe;
    const std::string unix = UnixPath(path);
    if (unix.empty()) return probe;
    // Wine starts a Unix program given by its path on the Z: drive.
    std::wstring cmd =
        L"Z:\\usr\\bin\\ffprobe -v error -count_packets -show_entries "
        L"format=format_name,duration:stream=codec_type,codec_name,width,height,"
        L"nb_read_packets,sample_rate,channels,sample_fmt,bits_per_sample,duration,r_frame_rate:"
        L"packet=codec_type,size "
        L"-of compact=p=0 \"";
    cmd.append(unix.begin(), unix.end());
    cmd += L"\"";
    const testsupport::TempFolder dir(L"prb");
    const std::wstring outFile = dir.Path() + L"probe.txt";
    const std::string unixOut = UnixPath(outFile);
    cmd += L" -o \"";
    cmd.append(unixOut.begin(), unixOut.end());
    cmd += L"\"";
    std::string out;
    if (!RunUnixAndRead(cmd, outFile, "format_name=", out)) return probe;
    std::stringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        auto f = Fields(line);
        if (f.count("size")) {
            if (Get(f, "codec_type") == "audio")
                probe.audioBytes += std::strtoull(Get(f, "size").c_str(), nullptr, 10);
        } else if (Get(f, "codec_type") == "video") {
            probe.video = f;
        } else if (Get(f, "codec_type") == "audio") {
            probe.audio = f;
        } else if (f.count("format_name")) {
            probe.format = Get(f, "format_name");
            probe.duration = std::atof(Get(f, "duration").c_str());
            probe.ran = true;
        }
    }
    return probe;
}

}  // namespace captest
