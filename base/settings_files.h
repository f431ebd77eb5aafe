// The files written beside the program at every exit: qumo.env, qumo.conf and, for a
// logged-in user, "<uid>.usi" and "<uid>.dir". Nothing in this program reads them back.
#pragma once

#include <cstdint>
#include <string>

// The options handed to the rest of the installation; nothing in the program changes them.
struct SettingsOptions {
    std::int32_t threadNum = 5;
    std::int32_t startbyroot = 0;
    std::int32_t autoUpdate = 1;
    std::int32_t shellmenu = 1;
};

// Writes qumo.env, qumo.conf, then the two per-user files when `uid` (narrow, may be null)
// is not empty. `programFolder` ends in "/" (or is empty for the current folder). Every
// failure is silent: a file that cannot be written is skipped. A user id that is not a
// plain file name component ("/", "\\") gets no per-user files.
void SaveSettingsFiles(const std::u16string& programFolder, const SettingsOptions& options,
                       const char* uid);

// Whether `name` can be used as one file name inside a folder without leaving it.
bool IsPlainFileName(const std::u16string& name);
