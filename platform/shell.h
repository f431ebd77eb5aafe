// Handing a file or an address to the desktop, the way a user double-click would.
#pragma once

#include <string>
#include <vector>

namespace platform {

// Starts `program` (looked up in PATH) with `args`, without a shell and without waiting
// for it; its standard input is /dev/null and the child is reaped in the background.
// false with the last error set when it could not be started.
bool LaunchDetached(const std::string& program, const std::vector<std::string>& args);

// Opens a path or URL with the desktop's default application (xdg-open). false when the
// target is empty or the opener could not be started.
bool OpenWithDesktop(const std::u16string& target);

// Tests replace the opener program; an empty name restores xdg-open.
void SetDesktopOpener(const std::string& program);

} // namespace platform
