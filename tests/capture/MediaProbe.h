// What an independent reader (Debian's ffprobe, started as a Unix program from under
// Wine) finds in a recorded file.
#pragma once

#include <map>
#include <string>

namespace captest {

struct MediaProbe {
    bool ran = false;  // ffprobe could be started and read the file
    std::string format;
    double duration = 0;
    std::map<std::string, std::string> video, audio;
    // Sound bytes in the file, summed over its packets, and the seconds they hold.
    unsigned long long audioBytes = 0;
    double AudioSeconds() const;

    int VideoInt(const char* key) const;
    int AudioInt(const char* key) const;
    double VideoDouble(const char* key) const;
    double AudioDouble(const char* key) const;
};

// Reads the file at a Windows path; packets are counted (nb_read_packets).
MediaProbe ProbeMedia(const std::wstring& path);

}  // namespace captest
