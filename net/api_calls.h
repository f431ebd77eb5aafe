// The calls of the service's web API, made inline by the windows and workers that need
// them. Each returns the case that happened (`ApiOutcome`) so the caller shows the
// matching message; the texts of those messages come with each call.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "net/api_answer.h"

enum class ApiOutcome {
    Ok,        // status 200 and every member the caller needs was read
    NoAnswer,  // no attempt was answered with HTTP 200 (or the URL could not be built)
    NotJson,   // the answer was not JSON, or had no numeric "status"
    Refused,   // status 405; `message` holds the service's reason
    Failed,    // any other status
    BadAnswer, // status 200 but a needed member was missing or of the wrong type
    ZeroSpace, // space call: the account's total space is 0
    Cancelled, // the thread's stop event ended a pause
    GaveUp,    // file list: the failure budget of the listing is used up
};

struct ApiResult {
    ApiOutcome outcome = ApiOutcome::NoAnswer;
    int status = 0;             // the answer's "status" when there was one
    char16_t message[260] = {}; // the answer's "message" (decoded)
    int attempts = 0;           // requests sent
    // Why the last unanswered attempt could not reach an https host: its certificate was
    // refused, or no TLS session came about. None for any other failure.
    enum class Tls { None, Certificate, Handshake } tls = Tls::None;
};

// How often one call is tried and how long it pauses after an unanswered attempt.
struct RetryPolicy {
    int attempts = 1;
    int pauseMs = 0;
    bool notJsonRetries = false; // a non-JSON answer counts as a failed attempt (no pause)
};

// GETs `url` as the policy says and parses the envelope. Ok means status 200; the
// answer then holds the attachment. Refused/Failed carry the status in `result`.
ApiOutcome CallApi(const char* url, const RetryPolicy& policy, ApiAnswer& answer,
                   ApiResult& result);

// 1. Login with the typed account name and password.
struct LoginAnswer : ApiResult {
    std::string uid, token, nick, headface; // bytes as received (at most 31/63/127/255)
    uint32_t totalSpace = 0, usedSpace = 0;
};
LoginAnswer ApiLogin(std::u16string_view account, std::u16string_view password);
// The message the login window shows for a failed login; empty on success.
std::u16string LoginFailureText(const LoginAnswer& a);

// 2. Space of a partner-login account, from the cookies "uid" and "utoken".
struct SpaceAnswer : ApiResult {
    std::string escUid, escToken; // the escaped cookie values sent (the account's bytes)
    std::string nick, headface;
    uint32_t totalSpace = 0, usedSpace = 0;
};
SpaceAnswer ApiGetSpace(std::u16string_view uidCookie, std::u16string_view tokenCookie);
std::u16string SpaceFailureText(const SpaceAnswer& a);

// 3. The account's folder list ("folderlist" of `ServerFolder`).
struct ServerFolder {
    char16_t name[260] = {};
    int fid = 0;         // 0 for the account's root folder
    int parenterid = -1; // -1 for the root folder
};
enum class LoginKind { Account, Partner };
struct FolderListAnswer : ApiResult {
    bool hasList = false; // "folderlist" was an array or null (hand it to the tree writer)
    std::vector<ServerFolder> folders;
};
// Uses `m_szUid` and `m_szToken` of the settings store.
FolderListAnswer ApiGetFolderList(LoginKind kind);
std::u16string FolderListFailureText(const FolderListAnswer& a, LoginKind kind);

// 4. One page of a server folder's file list.
struct ServerFileEntry {
    std::u16string name;
    int dirid = 0;
    int type = 0; // 100 sub-folder, 200 video, else picture
    int64_t timestamp = 0;
    char16_t id[32] = {}; // "fid" of a sub-folder, "id" of a file
    uint64_t size = 0;    // files reach 1 TiB
    char16_t suffix[24] = {};
    char16_t source[520] = {};
    char16_t bigpic[520] = {};
    char16_t mobilepic[520] = {};
    char16_t playurl[520] = {};
};
struct FileListPage : ApiResult {
    int total = 0;        // "size": entries in the folder
    bool hasList = false; // "filelist" was an array or null
    std::vector<ServerFileEntry> entries;
};
// Fetches one page, retrying after a 50 ms (cancellable) pause while `failures`, the
// count of failed attempts over the whole listing of the folder, stays below 4.
// Returns Ok, GaveUp or Cancelled. At most `num` entries of a page are taken.
constexpr int kFileListMaxFailures = 4;
constexpr int kFileListPauseMs = 50;
ApiOutcome ApiGetFileListPage(int mid, int folderid, int num, int& failures, FileListPage& page);

// 5. Version information; the interactive form pauses longer between attempts.
struct VersionAnswer : ApiResult {
    bool newer = false; // attachment "status" not 0
    char16_t updateUrl[520] = {};
};
VersionAnswer ApiGetVersionInfo(std::u16string_view version, bool interactive);
// Empty when nothing is to be shown (the silent form never shows anything).
std::u16string VersionFailureText(const VersionAnswer& a, bool interactive);
