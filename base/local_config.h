// The local configuration file beside the program (QumolanLocalConfig.xml): the remembered
// account name and password, the automatic-login choice and the program's version. The
// installation provides the file; the program only changes elements that already exist.
#pragma once

#include <initializer_list>
#include <string>
#include <utility>

struct LocalConfigValues {
    std::u16string userName;
    std::u16string userPwd; // Base64 of the password's UTF-8 bytes, or empty
    std::u16string autoLogin;
    std::u16string version;
};

// Reads the four values, each trimmed of white space at both ends; a missing element reads
// as empty. False when the file cannot be read or parsed (the last error says why for a
// file that could not be read).
bool ReadLocalConfig(const std::u16string& path, LocalConfigValues& out);

// Sets the named top-level children with SetChildValue (a missing element is left
// missing; a change of letter case alone is no change) and writes the document back.
// The file is written readable by its owner only. False when it cannot be read or written.
bool WriteLocalConfigValues(
    const std::u16string& path,
    std::initializer_list<std::pair<const char16_t*, std::u16string>> values);

// "true" in any letter case.
bool IsAutoLoginValue(const std::u16string& value);

// The remembered-password form: the UTF-8 bytes of the password in Base64, and back.
// Decoding gives false (and an empty password) for text that is not Base64.
std::u16string EncodeRememberedPassword(const std::u16string& password);
bool DecodeRememberedPassword(const std::u16string& stored, std::u16string& password);
