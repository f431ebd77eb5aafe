// The processes running on this machine.
#pragma once

#include <string>

namespace platform {

// How many running processes have an executable whose file name equals `name`, ignoring
// ASCII letter case. Processes whose executable cannot be read (another user's) are judged
// by their command name. -1 when the process list cannot be read at all.
int CountProcessesNamed(std::u16string name);

} // namespace platform
