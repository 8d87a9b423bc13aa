#pragma once
// Where the running program's executable lives.
#include <string>

namespace platform {

// Absolute path of the executable, links resolved; empty when it cannot be read.
std::string ProgramPath();
// Its folder, without a trailing separator ("/" for the root); empty as above.
std::string ProgramFolder();
// The value of an environment variable; false when it is not set.
bool GetEnvironment(const char* name, std::string& value);

} // namespace platform
