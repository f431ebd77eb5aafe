// The program log (log/QumoClient.log, UTF-16LE) and the day trace (log/YYYY-MM-DD.log).
//
// Writers are serialised within the process, so lines from several threads all arrive
// whole. Neither writer creates the "log" folder; without it program log lines are
// dropped and day-trace lines go to standard error only. Logging never changes the
// calling thread's last error.
#pragma once

#include <string>

void LogInfo(const char16_t* fmt, ...);
void LogError(const char16_t* fmt, ...);

// Full path of the named program log; made on first use from the program folder.
std::u16string LogFilePath(const char16_t* name);

// Moves the log at `path` to its ".0.log" name once it has grown past 2 MiB. The size is
// checked at the first line and, after a rotation, again only 100 lines later.
void RotateIfLarge(const std::u16string& path);

// Appends a line to today's day-trace file and to standard error. 0 for a null format.
int DayTrace(const char16_t* fmt, ...);
