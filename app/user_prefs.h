// The user's own choices for uploading and the tray, kept in "qumoclient-prefs.conf" beside
// the program (never in the configuration files other installations read): one
// "key = value" a line, "#" and ";" begin comment lines.
//
//   transfers = 3              files sent at once, 1..8
//   bandwidth_cap_kbps = 0     KB/s shared by every transfer, 0 = no cap
//   tray_while_uploading = 0   closing or minimising while uploads run keeps the program
//                              in the tray
//   notify_when_done = 1       one notification when the queue empties after uploads
//
// The values in force are read by workers at any moment (Current), so a change applies
// without restarting anything.
#pragma once

#include <string>
#include <string_view>

namespace prefs {

inline constexpr int kMinTransfers = 1;
inline constexpr int kMaxTransfers = 8;
inline constexpr int kMaxCapKBps = 10 * 1000 * 1000;

struct UserPrefs {
    int transfers = 3;
    int capKBps = 0;
    bool trayWhileUploading = false;
    bool notifyWhenDone = true;

    bool operator==(const UserPrefs&) const = default;
};

// Reads the file's text over `out`. A value out of range or unreadable keeps the earlier
// value and is named in `warnings` (one line each); unknown keys are named too and skipped,
// so a file written by a later version still loads.
void ParsePrefsText(std::string_view text, UserPrefs& out, std::string& warnings);
// The file's text for `p`, every key with its value.
std::string PrefsText(const UserPrefs& p);

// A missing file leaves the defaults; an unreadable or oversized one is logged and ignored.
UserPrefs LoadPrefs(const std::u16string& path);
// Replaces the file atomically; false (logged) when it cannot be written.
bool SavePrefs(const std::u16string& path, const UserPrefs& p);

// "qumoclient-prefs.conf" in the program folder; empty when that is unknown.
std::u16string PrefsPath();

// The values in force, safe from any thread.
UserPrefs Current();
void Apply(const UserPrefs& p);

} // namespace prefs
