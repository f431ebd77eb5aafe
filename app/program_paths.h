// The program's fixed file paths, computed once at start-up from the running executable.
#pragma once

#include <string>

// Fills the path values of CGlobalVar from `moduleFileName` (the executable's full path):
//   local configuration: program folder + "/QumolanLocalConfig.xml"
//   upload list:         program folder + "/QumolanUploadList.xml"
//   install root:        the program folder's parent, ending in "/"
//   skin file:           install root + "skin/blue/config.xml"
// A name without "/" leaves every value empty (false); a program folder without "/" (the
// program in the file system's root) sets the first two only (true).
bool ComputeProgramPaths(const std::u16string& moduleFileName);
// The same for the running program (platform::ModuleFileName).
bool ComputeProgramPaths();
