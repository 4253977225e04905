// Started by CTest under a chosen Unix locale: prints the language abbreviation and code
// that this process sees and succeeds when they are the expected ones.
#include "common/u_ResourceLib.h"

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    const std::string abbreviation = GetLocaleString(LOCALE_SABBREVLANGNAME);
    const std::string code = GetLanguageCode();
    std::printf("%s %s\n", abbreviation.c_str(), code.c_str());
    if (argc != 3) {
        std::printf("usage: common_locale_probe <abbreviation> <code>\n");
        return 2;
    }
    return abbreviation == argv[1] && code == argv[2] ? 0 : 1;
}
