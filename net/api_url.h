// Request URLs of the web API calls. Every builder writes a zero-terminated URL into a
// buffer of the given capacity and returns false, leaving the buffer empty, when the
// URL (or one of its parts) would not fit: a cut URL is never sent.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace api_url {

// White space trimmed at both ends, as the login and version fields are sent.
std::u16string Trim(std::u16string_view text);

// UTF-16 text as UTF-8 bytes, URL-escaped.
std::string EscapeUtf8(std::u16string_view text);

// The login's password digest: MD5 over the trimmed password in the narrow code page
// (at most 255 bytes), as 32 lowercase hex digits. False when the password is longer.
bool PasswordDigest(std::u16string_view password, std::string& hex);

// "/mobilelogin.json?mobile=%s&pwd=%s" on the API host; at most 255 bytes.
bool Login(std::u16string_view account, std::u16string_view password, char* dst,
           std::size_t cap = 256);

// "/getspace.json?uid=%s&token=%s" with the partner cookies escaped (each at most 259
// bytes escaped); the escaped forms are handed back, they become the account's bytes.
bool Space(std::u16string_view uidCookie, std::u16string_view tokenCookie, char* dst,
           std::size_t cap, std::string& escUid, std::string& escToken);

// "/getfs.json?uid=%s&token=%s&client=PC&pname=1.000.01"; 256 bytes after an account
// login, 520 after a partner login.
bool FolderList(const char* uid, const char* token, char* dst, std::size_t cap);

// "/getfilesforpc.json?uid=%s&token=%s&mid=%d&folderid=%d&num=%d"; 1024 bytes.
bool FileList(const char* uid, const char* token, int mid, int folderid, int num, char* dst,
              std::size_t cap = 1024);

// "/packagemanager/versionupdateinfo.json?version=%s" on the update host; 256 bytes.
bool Version(std::u16string_view version, char* dst, std::size_t cap = 256);

} // namespace api_url
