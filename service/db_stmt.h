// A prepared statement that finalizes itself; binds by position starting at 1.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>

namespace qumo_service {

class Stmt {
public:
    Stmt(sqlite3* db, const char* sql) {
        if (sqlite3_prepare_v2(db, sql, -1, &st_, nullptr) != SQLITE_OK)
            st_ = nullptr;
    }
    ~Stmt() { sqlite3_finalize(st_); }
    Stmt(const Stmt&) = delete;
    Stmt& operator=(const Stmt&) = delete;

    bool ok() const { return st_ != nullptr; }
    Stmt& Bind(int i, int64_t v) {
        if (st_)
            sqlite3_bind_int64(st_, i, v);
        return *this;
    }
    Stmt& Bind(int i, const std::string& v) {
        if (st_)
            sqlite3_bind_text(st_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
        return *this;
    }
    // True while a row is available.
    bool Step() { return st_ && sqlite3_step(st_) == SQLITE_ROW; }
    // Runs a statement that returns no rows.
    bool Run() {
        if (!st_)
            return false;
        int rc = sqlite3_step(st_);
        return rc == SQLITE_DONE || rc == SQLITE_ROW;
    }
    int64_t Int(int col) const { return sqlite3_column_int64(st_, col); }
    std::string Text(int col) const {
        const unsigned char* p = sqlite3_column_text(st_, col);
        int n = sqlite3_column_bytes(st_, col);
        return p ? std::string(reinterpret_cast<const char*>(p), static_cast<size_t>(n))
                 : std::string();
    }

private:
    sqlite3_stmt* st_ = nullptr;
};

// Begins a transaction and rolls it back unless committed.
class Txn {
public:
    explicit Txn(sqlite3* db) : db_(db) {
        ok_ = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    ~Txn() {
        if (ok_ && !done_)
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    bool ok() const { return ok_; }
    bool Commit() {
        if (!ok_)
            return false;
        done_ = true;
        return sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
    }

private:
    sqlite3* db_;
    bool ok_ = false, done_ = false;
};

} // namespace qumo_service
