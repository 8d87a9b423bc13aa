#pragma once
// The whole content of a file, read through the file substitutes (a packed
// file comes unpacked).
#include <string>

namespace Vak {

// False, with `bytes` empty, when the file cannot be opened or read whole.
bool ReadWholeFile(const char* path, std::string& bytes);

} // namespace Vak
