// The settings and user store: the options handed to the rest of the installation and the
// byte copies of the account values that requests put into their addresses.
//
// GetAppSettings makes the one store on first use (on the user-interface thread, at login,
// before any worker reads it); it is destroyed when the process ends normally, and its
// destruction writes the exit files beside the program.
#pragma once

#include "base/settings_files.h"

#include <cstdint>
#include <string>

class CAppSettings {
public:
    static constexpr std::size_t kUidCap = 32;
    static constexpr std::size_t kTokenCap = 64;
    static constexpr std::size_t kNickCap = 128;
    static constexpr std::size_t kHeadfaceCap = 256;

    CAppSettings();
    // Writes the exit files (see base/settings_files.h) into the program folder.
    ~CAppSettings();
    CAppSettings(const CAppSettings&) = delete;
    CAppSettings& operator=(const CAppSettings&) = delete;

    // Takes the account values the service confirmed at login. Each byte string is kept
    // in its fixed field, cut to fit (31, 63, 127, 255 bytes) if ever longer; a null one
    // counts as empty. The decoded texts and the byte copies also go to CGlobalVar, and
    // the storage values to both.
    void SetUserInfo(const char* uid, const char* token, const char* nick, const char* headface,
                     int used, int total);

    SettingsOptions m_options;
    char m_szUid[kUidCap] = {};
    char m_szToken[kTokenCap] = {};
    char m_szNick[kNickCap] = {};
    std::u16string m_strNick;
    char m_szHeadface[kHeadfaceCap] = {};
    std::int32_t m_nUsedSpace = 0;
    std::int32_t m_nTotalSpace = 1;
};

// The one store, made on first use.
CAppSettings& GetAppSettings();

// The folder the exit files go to: the program's file name cut after its last "/".
// Empty when the program's location is unknown.
std::u16string ExitFilesFolder();
