#pragma once
#include <string>

namespace platform {

// Directory of the running program, ending in '/'; empty when unknown.
std::string hostProgramDirectory();

// Tests point the directory elsewhere; an empty text restores the real one.
void setHostProgramDirectoryForTest(const std::string& directory);

}  // namespace platform
