// Files, folder listings and upload sessions.
#include "service/db.h"

#include "service/db_stmt.h"
#include "service/secrets.h"

namespace qumo_service {

namespace {

const char* const kFileCols = "id, owner, folder, name, suffix, size, type, sha1, created, cap";
const char* const kUploadCols =
    "upid, mid, owner, folder, name, suffix, size, type, sha1, received, created, touched";
const char* const kInsertFile =
    "INSERT INTO files(id, owner, folder, name, suffix, size, type, sha1, created, cap, mid, upid)"
    " VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";

// Random ids collide rarely; a few draws always find a free one.
constexpr int kIdDraws = 8;

FileRow ReadFile(Stmt& s, int c = 0) {
    FileRow f;
    f.id = s.Int(c + 0);
    f.owner = s.Int(c + 1);
    f.folder = s.Int(c + 2);
    f.name = s.Text(c + 3);
    f.suffix = s.Text(c + 4);
    f.size = s.Int(c + 5);
    f.type = static_cast<int>(s.Int(c + 6));
    f.sha1 = s.Text(c + 7);
    f.created = s.Int(c + 8);
    f.cap = s.Text(c + 9);
    return f;
}

UploadRow ReadUpload(Stmt& s) {
    UploadRow u;
    u.upid = s.Int(0);
    u.mid = s.Int(1);
    u.owner = s.Int(2);
    u.folder = s.Int(3);
    u.name = s.Text(4);
    u.suffix = s.Text(5);
    u.size = s.Int(6);
    u.type = static_cast<int>(s.Int(7));
    u.sha1 = s.Text(8);
    u.received = s.Int(9);
    u.created = s.Int(10);
    u.touched = s.Int(11);
    return u;
}

std::string Sql(const char* head, const char* cols, const char* tail) {
    return std::string(head) + cols + tail;
}

// Every upload row a statement over kUploadCols gives.
std::vector<UploadRow> ReadUploads(Stmt& s) {
    std::vector<UploadRow> out;
    while (s.Step())
        out.push_back(ReadUpload(s));
    return out;
}

std::optional<UploadRow> FirstUpload(Stmt& s) {
    if (!s.Step())
        return std::nullopt;
    return ReadUpload(s);
}

// The file an upload (announced or finished) becomes.
FileRow FileOf(const UploadRow& u) {
    FileRow f;
    f.owner = u.owner;
    f.folder = u.folder;
    f.name = u.name;
    f.suffix = u.suffix;
    f.size = u.size;
    f.type = u.type;
    f.sha1 = u.sha1;
    return f;
}

// Inserts a file row with a fresh capability; mid and upid are 0 unless it came from an upload.
bool InsertFile(sqlite3* db, int64_t id, const FileRow& f, int64_t created, int64_t mid = 0,
                int64_t upid = 0) {
    std::string cap = RandomHex(kCapBytes);
    if (cap.empty())
        return false;
    Stmt ins(db, kInsertFile);
    ins.Bind(1, id).Bind(2, f.owner).Bind(3, f.folder).Bind(4, f.name).Bind(5, f.suffix);
    ins.Bind(6, f.size).Bind(7, static_cast<int64_t>(f.type)).Bind(8, f.sha1).Bind(9, created);
    ins.Bind(10, cap).Bind(11, mid).Bind(12, upid);
    return ins.Run();
}

} // namespace

int64_t Db::CountEntries(int64_t uid, int64_t folder) {
    std::lock_guard<std::mutex> lock(mu_);
    Stmt s(db_,
           "SELECT (SELECT COUNT(*) FROM folders WHERE owner = ?1 AND parent = ?2 AND fid != 0)"
           " + (SELECT COUNT(*) FROM files WHERE owner = ?1 AND folder = ?2)");
    s.Bind(1, uid).Bind(2, folder);
    return s.Step() ? s.Int(0) : 0;
}

std::vector<Entry> Db::ListEntries(int64_t uid, int64_t folder, int64_t afterId, int limit) {
    std::lock_guard<std::mutex> lock(mu_);
    // Folders and files share one id sequence, so "after the entry whose id is mid" is simply
    // every id above mid, in id order, whichever kind the mid entry was.
    Stmt s(db_, "SELECT 1, fid, parent, name, created, 0, '', 0, '', '' FROM folders"
                " WHERE owner = ?1 AND parent = ?2 AND fid != 0 AND fid > ?3"
                " UNION ALL"
                " SELECT 0, id, folder, name, created, size, suffix, type, cap, sha1 FROM files"
                " WHERE owner = ?1 AND folder = ?2 AND id > ?3"
                " ORDER BY 2 LIMIT ?4");
    s.Bind(1, uid).Bind(2, folder).Bind(3, afterId).Bind(4, static_cast<int64_t>(limit));
    std::vector<Entry> out;
    while (s.Step()) {
        Entry e;
        e.isDir = s.Int(0) == 1;
        if (e.isDir) {
            e.folder.fid = s.Int(1);
            e.folder.parent = s.Int(2);
            e.folder.name = s.Text(3);
            e.folder.created = s.Int(4);
        } else {
            e.file.id = s.Int(1);
            e.file.owner = uid;
            e.file.folder = s.Int(2);
            e.file.name = s.Text(3);
            e.file.created = s.Int(4);
            e.file.size = s.Int(5);
            e.file.suffix = s.Text(6);
            e.file.type = static_cast<int>(s.Int(7));
            e.file.cap = s.Text(8);
            e.file.sha1 = s.Text(9);
        }
        out.push_back(std::move(e));
    }
    return out;
}

std::optional<FileRow> Db::FileById(int64_t id) {
    std::lock_guard<std::mutex> lock(mu_);
    Stmt s(db_, Sql("SELECT ", kFileCols, " FROM files WHERE id = ?").c_str());
    s.Bind(1, id);
    if (!s.Step())
        return std::nullopt;
    return ReadFile(s);
}

std::optional<FileRow> Db::FileByCap(const std::string& cap) {
    std::lock_guard<std::mutex> lock(mu_);
    Stmt s(db_, Sql("SELECT ", kFileCols, " FROM files WHERE cap = ?").c_str());
    s.Bind(1, cap);
    if (!s.Step())
        return std::nullopt;
    return ReadFile(s);
}

std::optional<FileRow> Db::FileByUpload(int64_t mid, int64_t upid) {
    std::lock_guard<std::mutex> lock(mu_);
    Stmt s(db_,
           Sql("SELECT ", kFileCols, " FROM files WHERE mid = ? AND upid = ? LIMIT 1").c_str());
    s.Bind(1, mid).Bind(2, upid);
    if (!s.Step())
        return std::nullopt;
    return ReadFile(s);
}

int64_t Db::UsedBytes(int64_t uid) {
    std::lock_guard<std::mutex> lock(mu_);
    return UsedBytesLocked(uid);
}

int64_t Db::UsedBytesLocked(int64_t uid) {
    if (auto it = used_.find(uid); it != used_.end())
        return it->second;
    Stmt s(db_, "SELECT COALESCE(SUM(size), 0) FROM"
                " (SELECT DISTINCT sha1, size FROM files WHERE owner = ?)");
    s.Bind(1, uid);
    if (!s.Step())
        return 0;
    used_[uid] = s.Int(0);
    return s.Int(0);
}

bool Db::NewContentLocked(int64_t owner, const std::string& sha1, int64_t size) {
    Stmt s(db_, "SELECT 1 FROM files WHERE owner = ? AND sha1 = ? AND size = ? LIMIT 1");
    s.Bind(1, owner).Bind(2, sha1).Bind(3, size);
    return !s.Step();
}

void Db::AddUsedLocked(int64_t owner, bool fresh, int64_t size) {
    if (auto it = used_.find(owner); it != used_.end() && fresh)
        it->second += size;
}

std::optional<int64_t> Db::AddIfContentKnown(const UploadRow& announced) {
    std::lock_guard<std::mutex> lock(mu_);
    Txn t(db_);
    const FileRow f = FileOf(announced);
    if (!t.ok() || NewContentLocked(f.owner, f.sha1, f.size))
        return std::nullopt;
    Stmt same(db_, "SELECT id FROM files WHERE owner = ? AND folder = ? AND name = ?"
                   " AND sha1 = ? AND size = ? LIMIT 1");
    same.Bind(1, f.owner).Bind(2, f.folder).Bind(3, f.name).Bind(4, f.sha1).Bind(5, f.size);
    if (same.Step())
        return same.Int(0);
    int64_t id = NextIdLocked();
    // Known content adds nothing to the used space.
    if (id < 0 || !InsertFile(db_, id, f, NowSeconds()) || !t.Commit())
        return std::nullopt;
    return id;
}

int64_t Db::AddFile(const FileRow& f) {
    std::lock_guard<std::mutex> lock(mu_);
    Txn t(db_);
    if (!t.ok())
        return -1;
    int64_t id = f.id > 0 ? f.id : NextIdLocked();
    if (id < 0)
        return -1;
    const bool fresh = NewContentLocked(f.owner, f.sha1, f.size);
    if (!InsertFile(db_, id, f, f.created > 0 ? f.created : NowSeconds()) || !t.Commit())
        return -1;
    AddUsedLocked(f.owner, fresh, f.size);
    return id;
}

std::optional<UploadRow> Db::FindUpload(const UploadRow& a) {
    std::lock_guard<std::mutex> lock(mu_);
    Stmt s(db_, Sql("SELECT ", kUploadCols,
                    " FROM uploads WHERE owner = ? AND folder = ? AND name = ? AND sha1 = ?"
                    " AND size = ? ORDER BY upid LIMIT 1")
                    .c_str());
    s.Bind(1, a.owner).Bind(2, a.folder).Bind(3, a.name).Bind(4, a.sha1).Bind(5, a.size);
    return FirstUpload(s);
}

std::optional<UploadRow> Db::CreateUpload(const UploadRow& u, int64_t limitBytes, bool& noSpace) {
    std::lock_guard<std::mutex> lock(mu_);
    noSpace = UsedBytesLocked(u.owner) + ReservedBytesLocked(u.owner) + u.size > limitBytes;
    if (noSpace)
        return std::nullopt;
    Txn t(db_);
    if (!t.ok())
        return std::nullopt;
    UploadRow r = u;
    r.received = 0;
    r.created = r.touched = NowSeconds();
    for (int draw = 0; draw < kIdDraws; ++draw) {
        r.mid = RandomId31();
        r.upid = RandomId31();
        if (r.mid < 0 || r.upid < 0)
            return std::nullopt;
        // A finished upload keeps its mid in the files table: never hand it out again.
        Stmt used(db_, "SELECT 1 FROM files WHERE mid = ?");
        used.Bind(1, r.mid);
        if (used.Step())
            continue;
        Stmt s(db_, "INSERT OR IGNORE INTO uploads(upid, mid, owner, folder, name, suffix, size,"
                    " type, sha1, received, created, touched)"
                    " VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, 0, ?, ?)");
        s.Bind(1, r.upid).Bind(2, r.mid).Bind(3, r.owner).Bind(4, r.folder).Bind(5, r.name);
        s.Bind(6, r.suffix).Bind(7, r.size).Bind(8, static_cast<int64_t>(r.type)).Bind(9, r.sha1);
        s.Bind(10, r.created).Bind(11, r.touched);
        if (!s.Run())
            return std::nullopt;
        if (sqlite3_changes(db_) == 1)
            return t.Commit() ? std::optional<UploadRow>(r) : std::nullopt;
    }
    return std::nullopt;
}

std::optional<UploadRow> Db::UploadByMid(int64_t mid) {
    std::lock_guard<std::mutex> lock(mu_);
    Stmt s(db_, Sql("SELECT ", kUploadCols, " FROM uploads WHERE mid = ?").c_str());
    s.Bind(1, mid);
    return FirstUpload(s);
}

std::vector<UploadRow> Db::AllUploads() {
    std::lock_guard<std::mutex> lock(mu_);
    Stmt s(db_, Sql("SELECT ", kUploadCols, " FROM uploads ORDER BY upid").c_str());
    return ReadUploads(s);
}

bool Db::SetReceived(int64_t upid, int64_t received) {
    std::lock_guard<std::mutex> lock(mu_);
    Stmt s(db_, "UPDATE uploads SET received = ?, touched = ? WHERE upid = ?");
    s.Bind(1, received).Bind(2, NowSeconds()).Bind(3, upid);
    return s.Run();
}

bool Db::TouchUpload(int64_t upid) {
    std::lock_guard<std::mutex> lock(mu_);
    Stmt s(db_, "UPDATE uploads SET touched = ? WHERE upid = ?");
    s.Bind(1, NowSeconds()).Bind(2, upid);
    return s.Run();
}

int64_t Db::ReservedBytes(int64_t uid) {
    std::lock_guard<std::mutex> lock(mu_);
    return ReservedBytesLocked(uid);
}

int64_t Db::ReservedBytesLocked(int64_t uid) {
    Stmt s(db_, "SELECT COALESCE(SUM(size), 0) FROM uploads WHERE owner = ?");
    s.Bind(1, uid);
    return s.Step() ? s.Int(0) : 0;
}

bool Db::HoldsContent(int64_t uid, const std::string& sha1, int64_t size) {
    std::lock_guard<std::mutex> lock(mu_);
    return !NewContentLocked(uid, sha1, size);
}

std::vector<UploadRow> Db::UploadsIdleSince(int64_t before) {
    std::lock_guard<std::mutex> lock(mu_);
    Stmt s(db_,
           Sql("SELECT ", kUploadCols, " FROM uploads WHERE touched < ? ORDER BY upid").c_str());
    s.Bind(1, before);
    return ReadUploads(s);
}

bool Db::DeleteUpload(int64_t upid, int64_t idleBefore) {
    std::lock_guard<std::mutex> lock(mu_);
    Stmt s(db_, "DELETE FROM uploads WHERE upid = ? AND touched < ?");
    s.Bind(1, upid).Bind(2, idleBefore);
    return s.Run() && sqlite3_changes(db_) == 1;
}

std::optional<int64_t> Db::FinishUpload(const UploadRow& u, int64_t now) {
    std::lock_guard<std::mutex> lock(mu_);
    Txn t(db_);
    if (!t.ok())
        return std::nullopt;
    int64_t id = NextIdLocked();
    const FileRow f = FileOf(u);
    Stmt del(db_, "DELETE FROM uploads WHERE upid = ?");
    del.Bind(1, u.upid);
    const bool fresh = NewContentLocked(f.owner, f.sha1, f.size);
    if (id < 0 || !InsertFile(db_, id, f, now, u.mid, u.upid) || !del.Run() || !t.Commit())
        return std::nullopt;
    AddUsedLocked(f.owner, fresh, f.size);
    return id;
}

} // namespace qumo_service
