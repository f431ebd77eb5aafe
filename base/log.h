// The program log (log/QumoClient.log, UTF-16LE) and the day trace (log/YYYY-MM-DD.log).
#pragma once

#include <string>

void LogInfo(const char16_t* fmt, ...);
void LogError(const char16_t* fmt, ...);

// Full path of the named program log; made on first use from the program folder.
std::u16string LogFilePath(const char16_t* name);

// Appends a line to today's day-trace file and to standard error. 0 for a null format.
int DayTrace(const char16_t* fmt, ...);
