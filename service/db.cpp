#include "service/db.h"

#include "service/db_stmt.h"
#include "service/secrets.h"

#include <chrono>
#include <vector>

namespace qumo_service {

namespace {

const char* const kSchema[] = {
    "CREATE TABLE IF NOT EXISTS ids(id INTEGER PRIMARY KEY AUTOINCREMENT, unused INTEGER)",
    "CREATE TABLE IF NOT EXISTS accounts(uid INTEGER PRIMARY KEY AUTOINCREMENT,"
    " mobile TEXT UNIQUE NOT NULL, pwd_md5 TEXT NOT NULL, nick TEXT NOT NULL,"
    " avatar TEXT NOT NULL DEFAULT '', total_mb INTEGER NOT NULL, created INTEGER NOT NULL)",
    "CREATE TABLE IF NOT EXISTS tokens(token TEXT PRIMARY KEY, uid INTEGER NOT NULL,"
    " created INTEGER NOT NULL)",
    "CREATE TABLE IF NOT EXISTS folders(owner INTEGER NOT NULL, fid INTEGER NOT NULL,"
    " parent INTEGER NOT NULL, name TEXT NOT NULL, created INTEGER NOT NULL,"
    " PRIMARY KEY(owner, fid))",
    "CREATE TABLE IF NOT EXISTS files(id INTEGER PRIMARY KEY, owner INTEGER NOT NULL,"
    " folder INTEGER NOT NULL, name TEXT NOT NULL, suffix TEXT NOT NULL, size INTEGER NOT NULL,"
    " type INTEGER NOT NULL, sha1 TEXT NOT NULL, created INTEGER NOT NULL)",
    "CREATE INDEX IF NOT EXISTS files_by_folder ON files(owner, folder, id)",
    "CREATE INDEX IF NOT EXISTS files_by_content ON files(owner, sha1, size)",
    "CREATE TABLE IF NOT EXISTS uploads(upid INTEGER PRIMARY KEY AUTOINCREMENT,"
    " mid INTEGER UNIQUE NOT NULL, owner INTEGER NOT NULL, folder INTEGER NOT NULL,"
    " name TEXT NOT NULL, suffix TEXT NOT NULL, size INTEGER NOT NULL, type INTEGER NOT NULL,"
    " sha1 TEXT NOT NULL, received INTEGER NOT NULL DEFAULT 0, created INTEGER NOT NULL)",
    "CREATE TABLE IF NOT EXISTS meta(key TEXT PRIMARY KEY, value TEXT NOT NULL)",
};

// Account ids and folder and file ids look like the service's real ones: a few digits, never
// 0. (Upload ids are random; the "uploads" sequence only matters to older data folders.)
const char* const kSequences[] = {
    "INSERT INTO sqlite_sequence(name, seq) SELECT 'accounts', 100000"
    " WHERE NOT EXISTS (SELECT 1 FROM sqlite_sequence WHERE name = 'accounts')",
    "INSERT INTO sqlite_sequence(name, seq) SELECT 'ids', 1000"
    " WHERE NOT EXISTS (SELECT 1 FROM sqlite_sequence WHERE name = 'ids')",
    "INSERT INTO sqlite_sequence(name, seq) SELECT 'uploads', 5000"
    " WHERE NOT EXISTS (SELECT 1 FROM sqlite_sequence WHERE name = 'uploads')",
};

const char* const kAccountCols = "uid, mobile, pwd_md5, nick, avatar, total_mb, face";

// Columns added after the first data folders were made: (table, column, declaration).
const char* const kAddedColumns[][3] = {
    {"accounts", "face", "TEXT"},
    {"files", "cap", "TEXT"},
    {"files", "mid", "INTEGER"},
    {"files", "upid", "INTEGER"},
    {"uploads", "touched", "INTEGER NOT NULL DEFAULT 0"},
};

const char* const kAddedIndexes[] = {
    "CREATE UNIQUE INDEX IF NOT EXISTS accounts_by_face ON accounts(face)",
    "CREATE UNIQUE INDEX IF NOT EXISTS files_by_cap ON files(cap)",
    "CREATE INDEX IF NOT EXISTS files_by_upload ON files(mid, upid)",
    "CREATE INDEX IF NOT EXISTS uploads_by_owner ON uploads(owner)",
};

Account ReadAccount(Stmt& s) {
    Account a;
    a.uid = s.Int(0);
    a.mobile = s.Text(1);
    a.pwdMd5 = s.Text(2);
    a.nick = s.Text(3);
    a.avatar = s.Text(4);
    a.totalMb = s.Int(5);
    a.face = s.Text(6);
    return a;
}

} // namespace

int64_t NowSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

Db::~Db() {
    Close();
}

void Db::Close() {
    std::lock_guard<std::mutex> lock(mu_);
    if (db_)
        sqlite3_close(db_);
    db_ = nullptr;
}

bool Db::ExecLocked(const char* sql) {
    return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

bool Db::Open(const std::string& path, std::string& err) {
    std::lock_guard<std::mutex> lock(mu_);
    int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX;
    if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
        err = db_ ? sqlite3_errmsg(db_) : "cannot open database";
        if (db_)
            sqlite3_close(db_);
        db_ = nullptr;
        return false;
    }
    sqlite3_busy_timeout(db_, 5000);
    // WAL with FULL sync: a committed record survives a crash of the process or the machine.
    if (!ExecLocked("PRAGMA journal_mode=WAL") || !ExecLocked("PRAGMA synchronous=FULL")) {
        err = sqlite3_errmsg(db_);
        return false;
    }
    for (const char* sql : kSchema) {
        if (!ExecLocked(sql)) {
            err = sqlite3_errmsg(db_);
            return false;
        }
    }
    for (const char* sql : kSequences) {
        if (!ExecLocked(sql)) {
            err = sqlite3_errmsg(db_);
            return false;
        }
    }
    return UpgradeLocked(err);
}

bool Db::HasColumnLocked(const char* table, const char* column) {
    Stmt s(
        db_,
        (std::string("SELECT 1 FROM pragma_table_info('") + table + "') WHERE name = ?").c_str());
    s.Bind(1, std::string(column));
    return s.Step();
}

bool Db::UpgradeLocked(std::string& err) {
    for (const auto& c : kAddedColumns) {
        if (HasColumnLocked(c[0], c[1]))
            continue;
        std::string sql = std::string("ALTER TABLE ") + c[0] + " ADD COLUMN " + c[1] + " " + c[2];
        if (!ExecLocked(sql.c_str())) {
            err = sqlite3_errmsg(db_);
            return false;
        }
    }
    // Rows from before capabilities get theirs now, one random value each.
    const char* const fill[][2] = {{"accounts", "face"}, {"files", "cap"}};
    for (const auto& f : fill) {
        std::string key = std::string(f[0]) == "accounts" ? "uid" : "id";
        std::vector<int64_t> ids;
        Stmt q(db_, (std::string("SELECT ") + key + " FROM " + f[0] + " WHERE " + f[1] +
                     " IS NULL OR " + f[1] + " = ''")
                        .c_str());
        while (q.Step())
            ids.push_back(q.Int(0));
        for (int64_t id : ids) {
            Stmt u(db_,
                   (std::string("UPDATE ") + f[0] + " SET " + f[1] + " = ? WHERE " + key + " = ?")
                       .c_str());
            std::string cap = RandomHex(kCapBytes);
            if (cap.empty() || !u.Bind(1, cap).Bind(2, id).Run()) {
                err = "cannot give old records their capabilities";
                return false;
            }
        }
    }
    ExecLocked("UPDATE uploads SET touched = created WHERE touched = 0");
    for (const char* sql : kAddedIndexes) {
        if (!ExecLocked(sql)) {
            err = sqlite3_errmsg(db_);
            return false;
        }
    }
    return true;
}

std::optional<Account> Db::AccountByMobile(const std::string& mobile) {
    std::lock_guard<std::mutex> lock(mu_);
    Stmt s(db_,
           (std::string("SELECT ") + kAccountCols + " FROM accounts WHERE mobile = ?").c_str());
    s.Bind(1, mobile);
    if (!s.Step())
        return std::nullopt;
    return ReadAccount(s);
}

std::optional<Account> Db::AccountByUid(int64_t uid) {
    std::lock_guard<std::mutex> lock(mu_);
    Stmt s(db_, (std::string("SELECT ") + kAccountCols + " FROM accounts WHERE uid = ?").c_str());
    s.Bind(1, uid);
    if (!s.Step())
        return std::nullopt;
    return ReadAccount(s);
}

std::optional<Account> Db::AccountByFace(const std::string& face) {
    std::lock_guard<std::mutex> lock(mu_);
    Stmt s(db_, (std::string("SELECT ") + kAccountCols + " FROM accounts WHERE face = ?").c_str());
    s.Bind(1, face);
    if (!s.Step())
        return std::nullopt;
    return ReadAccount(s);
}

bool Db::CreateAccount(const std::string& mobile, const std::string& pwdMd5,
                       const std::string& nick, int64_t totalMb, int64_t& uid) {
    std::lock_guard<std::mutex> lock(mu_);
    Txn t(db_);
    if (!t.ok())
        return false;
    std::string face = RandomHex(kCapBytes);
    if (face.empty())
        return false;
    Stmt s(db_, "INSERT INTO accounts(mobile, pwd_md5, nick, total_mb, created, face)"
                " VALUES(?, ?, ?, ?, ?, ?)");
    s.Bind(1, mobile).Bind(2, pwdMd5).Bind(3, nick).Bind(4, totalMb).Bind(5, NowSeconds());
    s.Bind(6, face);
    if (!s.Run())
        return false;
    uid = sqlite3_last_insert_rowid(db_);
    Stmt f(db_, "INSERT INTO folders(owner, fid, parent, name, created) VALUES(?, 0, -1, ?, ?)");
    f.Bind(1, uid).Bind(2, std::string("我的酷摩岚")).Bind(3, NowSeconds());
    if (!f.Run())
        return false;
    return t.Commit();
}

bool Db::SetAvatar(int64_t uid, const std::string& avatar) {
    std::lock_guard<std::mutex> lock(mu_);
    Stmt s(db_, "UPDATE accounts SET avatar = ? WHERE uid = ?");
    s.Bind(1, avatar).Bind(2, uid);
    return s.Run() && sqlite3_changes(db_) == 1;
}

bool Db::SetTotalSpace(int64_t uid, int64_t totalMb) {
    std::lock_guard<std::mutex> lock(mu_);
    Stmt s(db_, "UPDATE accounts SET total_mb = ? WHERE uid = ?");
    s.Bind(1, totalMb).Bind(2, uid);
    return s.Run() && sqlite3_changes(db_) == 1;
}

std::string Db::NewToken(int64_t uid) {
    std::string token = RandomHex(16);
    if (token.empty())
        return std::string();
    std::lock_guard<std::mutex> lock(mu_);
    Stmt s(db_, "INSERT INTO tokens(token, uid, created) VALUES(?, ?, ?)");
    s.Bind(1, token).Bind(2, uid).Bind(3, NowSeconds());
    return s.Run() ? token : std::string();
}

std::optional<int64_t> Db::UidForToken(const std::string& token) {
    std::lock_guard<std::mutex> lock(mu_);
    Stmt s(db_, "SELECT uid FROM tokens WHERE token = ?");
    s.Bind(1, token);
    if (!s.Step())
        return std::nullopt;
    return s.Int(0);
}

std::vector<Folder> Db::Folders(int64_t uid) {
    std::lock_guard<std::mutex> lock(mu_);
    std::vector<Folder> out;
    // The root (fid 0) first; the others in creation order, so parents precede children.
    Stmt s(db_, "SELECT fid, parent, name, created FROM folders WHERE owner = ? ORDER BY fid");
    s.Bind(1, uid);
    while (s.Step()) {
        Folder f;
        f.fid = s.Int(0);
        f.parent = s.Int(1);
        f.name = s.Text(2);
        f.created = s.Int(3);
        out.push_back(std::move(f));
    }
    return out;
}

bool Db::FolderExists(int64_t uid, int64_t fid) {
    std::lock_guard<std::mutex> lock(mu_);
    Stmt s(db_, "SELECT 1 FROM folders WHERE owner = ? AND fid = ?");
    s.Bind(1, uid).Bind(2, fid);
    return s.Step();
}

int64_t Db::NextIdLocked() {
    Stmt s(db_, "INSERT INTO ids(unused) VALUES(0)");
    if (!s.Run())
        return -1;
    int64_t id = sqlite3_last_insert_rowid(db_);
    Stmt d(db_, "DELETE FROM ids WHERE id = ?");
    d.Bind(1, id).Run();
    return id;
}

int64_t Db::AddFolder(int64_t uid, int64_t parent, const std::string& name) {
    std::lock_guard<std::mutex> lock(mu_);
    Txn t(db_);
    if (!t.ok())
        return -1;
    Stmt p(db_, "SELECT 1 FROM folders WHERE owner = ? AND fid = ?");
    p.Bind(1, uid).Bind(2, parent);
    if (!p.Step())
        return -1;
    int64_t fid = NextIdLocked();
    if (fid < 0)
        return -1;
    Stmt s(db_, "INSERT INTO folders(owner, fid, parent, name, created) VALUES(?, ?, ?, ?, ?)");
    s.Bind(1, uid).Bind(2, fid).Bind(3, parent).Bind(4, name).Bind(5, NowSeconds());
    if (!s.Run() || !t.Commit())
        return -1;
    return fid;
}

void Db::SetBulkLoad(bool on) {
    std::lock_guard<std::mutex> lock(mu_);
    ExecLocked(on ? "PRAGMA synchronous=OFF" : "PRAGMA synchronous=FULL");
    if (!on)
        ExecLocked("PRAGMA wal_checkpoint(FULL)");
}

std::string Db::Meta(const std::string& key) {
    std::lock_guard<std::mutex> lock(mu_);
    Stmt s(db_, "SELECT value FROM meta WHERE key = ?");
    s.Bind(1, key);
    return s.Step() ? s.Text(0) : std::string();
}

bool Db::SetMeta(const std::string& key, const std::string& value) {
    std::lock_guard<std::mutex> lock(mu_);
    Stmt s(db_, "INSERT OR REPLACE INTO meta(key, value) VALUES(?, ?)");
    s.Bind(1, key).Bind(2, value);
    return s.Run();
}

} // namespace qumo_service
