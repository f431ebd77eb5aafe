// The service's records in SQLite (WAL): accounts, tokens, folders, files, upload sessions.
// One connection behind one mutex: every method is one short transaction and thread-safe.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

struct sqlite3;

namespace qumo_service {

struct Account {
    int64_t uid = 0;
    std::string mobile, pwdMd5, nick, avatar;
    std::string face; // capability in the avatar's address
    int64_t totalMb = 0;
};

struct Folder {
    int64_t fid = 0, parent = -1;
    std::string name;
    int64_t created = 0;
};

struct FileRow {
    int64_t id = 0, owner = 0, folder = 0, size = 0, created = 0;
    int type = 1; // 200 video, else picture
    std::string name, suffix, sha1;
    std::string cap; // capability in the addresses of the file and its pictures
};

// One entry of a folder listing: a sub-folder (isDir) or a file.
struct Entry {
    bool isDir = false;
    Folder folder;
    FileRow file;
    int64_t Id() const { return isDir ? folder.fid : file.id; }
};

// An upload session. mid and upid are random (their pair is the only key the upload
// listener gets); the session reserves its announced size until it ends or is abandoned.
struct UploadRow {
    int64_t upid = 0, mid = 0, owner = 0, folder = 0, size = 0, received = 0, created = 0;
    int64_t touched = 0; // last activity, seconds
    int type = 1;
    std::string name, suffix, sha1;
};

class Db {
public:
    Db() = default;
    ~Db();
    Db(const Db&) = delete;
    Db& operator=(const Db&) = delete;

    bool Open(const std::string& path, std::string& err);
    void Close();

    // Accounts and tokens.
    std::optional<Account> AccountByMobile(const std::string& mobile);
    std::optional<Account> AccountByUid(int64_t uid);
    std::optional<Account> AccountByFace(const std::string& face);
    // Creates the account and its root folder; false when the mobile is taken.
    bool CreateAccount(const std::string& mobile, const std::string& pwdMd5,
                       const std::string& nick, int64_t totalMb, int64_t& uid);
    bool SetAvatar(int64_t uid, const std::string& avatar);
    bool SetTotalSpace(int64_t uid, int64_t totalMb);
    std::string NewToken(int64_t uid);
    std::optional<int64_t> UidForToken(const std::string& token);

    // Folders (fid 0 is each account's root; other ids come from one sequence with files).
    std::vector<Folder> Folders(int64_t uid);
    bool FolderExists(int64_t uid, int64_t fid);
    int64_t AddFolder(int64_t uid, int64_t parent, const std::string& name); // -1 on failure

    // Files and listings (db_files.cpp).
    int64_t CountEntries(int64_t uid, int64_t folder);
    std::vector<Entry> ListEntries(int64_t uid, int64_t folder, int64_t afterId, int limit);
    std::optional<FileRow> FileById(int64_t id);
    std::optional<FileRow> FileByCap(const std::string& cap);
    // The file a finished upload became (for a repeated confirmation).
    std::optional<FileRow> FileByUpload(int64_t mid, int64_t upid);
    // Bytes of distinct contents (SHA-1 and size) the account holds.
    int64_t UsedBytes(int64_t uid);
    // Instant upload: when the account holds the announced file's content, adds the file to
    // its folder (unless the same name and content are already there) and returns its id.
    std::optional<int64_t> AddIfContentKnown(const UploadRow& announced);
    int64_t AddFile(const FileRow& f); // id from the sequence unless f.id > 0; -1 on failure

    // Upload sessions.
    // The open session of the same file (owner, folder, name, content).
    std::optional<UploadRow> FindUpload(const UploadRow& announced);
    // Assigns random upid and mid and reserves the upload's size, unless the account's used
    // and reserved bytes would then pass `limitBytes` (noSpace is set then). Checked and
    // reserved in one step: uploads announced at once cannot pass the limit together.
    std::optional<UploadRow> CreateUpload(const UploadRow& u, int64_t limitBytes, bool& noSpace);
    std::optional<UploadRow> UploadByMid(int64_t mid);
    std::vector<UploadRow> AllUploads();
    bool SetReceived(int64_t upid, int64_t received); // also counts as activity
    bool TouchUpload(int64_t upid);
    // Bytes announced by the account's open uploads: space they hold until they end.
    int64_t ReservedBytes(int64_t uid);
    // True when the account already holds this content (it costs no more space).
    bool HoldsContent(int64_t uid, const std::string& sha1, int64_t size);
    // Open uploads without activity since `before` (seconds).
    std::vector<UploadRow> UploadsIdleSince(int64_t before);
    // Ends a session; with idleBefore, only when it is still idle since then.
    bool DeleteUpload(int64_t upid, int64_t idleBefore = INT64_MAX);
    // The upload becomes a file (next id of the sequence); the session ends. The file id.
    std::optional<int64_t> FinishUpload(const UploadRow& u, int64_t now);

    // Bulk loading (the demo seed) runs without per-commit syncs; SyncAll ends it with one.
    void SetBulkLoad(bool on);

    std::string Meta(const std::string& key);
    bool SetMeta(const std::string& key, const std::string& value);

private:
    int64_t NextIdLocked();
    int64_t UsedBytesLocked(int64_t uid);
    int64_t ReservedBytesLocked(int64_t uid);
    bool ExecLocked(const char* sql);
    // Older data folders lack the capability and activity columns: add and fill them.
    bool UpgradeLocked(std::string& err);
    bool HasColumnLocked(const char* table, const char* column);

    // Whether the owner holds no file of this content yet (it then adds to his used space).
    bool NewContentLocked(int64_t owner, const std::string& sha1, int64_t size);
    // Keeps the used space of an owner known, once computed, right after a file was added.
    void AddUsedLocked(int64_t owner, bool fresh, int64_t size);

    sqlite3* db_ = nullptr;
    std::mutex mu_;
    // Used bytes per owner, computed once and then kept up to date: summing every file on
    // each announcement made the cost of a file grow with the account's library.
    std::unordered_map<int64_t, int64_t> used_;
};

int64_t NowSeconds();

} // namespace qumo_service
