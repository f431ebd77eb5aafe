// The processes running on this machine.
#pragma once

#include <string>

namespace platform {

// How many running processes have an executable whose file name equals `name`, ignoring
// ASCII letter case. Processes whose executable cannot be read (another user's) are judged
// by their command name. -1 when the process list cannot be read at all.
int CountProcessesNamed(std::u16string name);

// Gives the memory the process freed back to the system, where the allocator keeps it
// otherwise: after a large document was written or a long list read, the process should
// not stay at the size of that moment.
void ReleaseFreedMemory();

} // namespace platform
