// Where the running test executable lives.
#pragma once

#include <string>

namespace testsupport {

// Folder of the running test executable, with a trailing separator.
std::wstring TestBinDir();

}  // namespace testsupport
