// The journal beside the upload list file: the changes the upload worker made to the list
// since the file was last written whole, one appended record each, so ending a task costs
// the same whatever the length of the queue. The list file stays the record of the queue:
// the journal is folded into it when the queue goes quiet, at exit and past a size, and
// replayed into it at the next start after a kill.
//
// File layout: a header (magic "QJNL", version, and the identity of the list file it
// extends: inode, size and modification time), then records, each a little-endian length,
// the CRC-32 of the payload, and the payload (kind, then length-prefixed UTF-16 texts). A
// journal written for another list file (a restored backup, a file someone else wrote) is
// recognised by its header and not applied. A record cut short by a kill ends the replay
// quietly; a damaged one ends it with a log line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace listjournal {

// Identifies one version of the list file on disk.
struct FileStamp {
    uint64_t inode = 0;
    uint64_t size = 0;
    int64_t mtimeSec = 0;
    int64_t mtimeNsec = 0;
    bool operator==(const FileStamp&) const = default;
};
// The stamp of the file at `path`; false when it cannot be read.
bool StampOf(const std::u16string& path, FileStamp& out);

enum class Kind : uint8_t { Update = 1, Reset = 2, Delete = 3 };

// One change of one user's task. Update carries the four upload values.
struct Record {
    Kind kind = Kind::Delete;
    std::u16string uid, path, id, mid, ip, port;
};

class Journal {
public:
    ~Journal();
    // Starts a journal at `path` for the list file version `base` holding `carried` (changes
    // replayed but not yet in the list file), replacing any journal there only once the new
    // one is durable. False (with a log line) when it cannot be written.
    bool Start(const std::u16string& path, const FileStamp& base,
               const std::vector<Record>& carried = {});
    // Appends a record and makes it durable before returning (the end of a task must
    // survive a kill). False when it could not be written.
    bool Append(const Record& record);
    bool Open() const { return m_fd >= 0; }
    std::size_t Count() const { return m_count; }
    // Closes and deletes the journal (its changes are in the list file now).
    void Discard();
    // Closes the journal and leaves it on disk.
    void Close();

private:
    int m_fd = -1;
    std::u16string m_path;
    std::size_t m_count = 0;
};

// The records of the journal at `path` when it extends the list file version `base`, in
// order. A missing journal, one for another version (`foreign` set) or an unreadable one
// gives none.
std::vector<Record> Replay(const std::u16string& path, const FileStamp& base, bool* foreign);

// The same for a journal's bytes already read; `path` only names it in log lines.
std::vector<Record> ReplayBytes(const std::string& bytes, const FileStamp& base, bool* foreign,
                                const std::u16string& path = {});
// The header a journal for `base` starts with.
std::string JournalHeader(const FileStamp& base);

// Deletes the journal at `path`, if any.
void Remove(const std::u16string& path);

// Encoding of one record's payload and frame, for tests that cut and damage journals.
std::string EncodeRecord(const Record& record);

} // namespace listjournal
