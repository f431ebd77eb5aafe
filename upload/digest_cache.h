// Digests of files already read, so that a file queued again, or resumed after a restart,
// is not read again. A digest is known for one path with one size, modification time (ns),
// inode and change time (ns); any change of these, or another file at the path, is a miss.
// The change time is there because a program can set the modification time back (a copy
// that keeps times, a restore over a deleted file that gets its inode again); nothing but
// the clock sets the change time.
//
// Only a file that had been left alone for kSettleNs (by its change time) when the digest
// began is remembered: a file still being written could change again within one tick of
// the file system's clock, keeping its times and size, and a remembered digest would then
// name other bytes.
//
// The cache lives in a file of its own beside the program ("qumoclient-digests.cache",
// mode 0600). It holds no file names, only the SHA-1 of each path. Layout: a header
// (magic "QDGC", version, record size), then fixed-size records, each the first four
// bytes of the SHA-1 of its payload and the payload (path SHA-1, size, inode, the two
// times, digest; little-endian). Every store appends one record; the file is rewritten whole
// through an atomic replace when its dead records outnumber the live ones (by 1024), after an
// eviction, and when it was found damaged. The file is untrusted: a damaged record is
// skipped, a damaged header or an oversized file is a fresh start.
//
// Thread-safe: every transfer looks up and stores through the one Shared() cache.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <list>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class CFileSha1;

namespace digestcache {

inline constexpr std::size_t kMaxEntries = 200'000;
inline constexpr int64_t kSettleNs = 2'000'000'000;

using Bytes20 = std::array<uint8_t, 20>;

struct Key {
    Bytes20 pathId{}; // SHA-1 of the path's bytes
    uint64_t size = 0;
    uint64_t inode = 0;
    int64_t mtimeNs = 0;
    int64_t ctimeNs = 0;
    bool operator==(const Key&) const = default;
};

// The regular file at a path as it is now.
struct FileState {
    Key key;
    bool settled = false; // unchanged for kSettleNs or longer
};

// Opens the file for reading (without blocking) and reads its state; false when it
// cannot be opened or is not a regular file.
bool StateOf(const std::string& path, FileState& out, int64_t settleNs = kSettleNs);

struct Entry {
    Key key;
    Bytes20 digest{};
};

// The file format, for the cache itself, its tests and its fuzz target.
std::string Header();
std::string EncodeRecord(const Entry& e);
// The records of a cache file's bytes in file order, at most `maxRecords`. `damaged` is set
// when anything was skipped: a bad header (nothing is read then), a record failing its
// check, a cut last record, or records beyond the limit.
std::vector<Entry> ParseBytes(std::string_view bytes, std::size_t maxRecords, bool* damaged);

class Cache {
public:
    // `file` empty keeps the cache in memory only. The file is read at the first use.
    explicit Cache(std::u16string file, std::size_t maxEntries = kMaxEntries,
                   int64_t settleNs = kSettleNs);
    ~Cache();
    Cache(const Cache&) = delete;
    Cache& operator=(const Cache&) = delete;

    // The one cache of the program, in the program folder (memory only when that is
    // unknown).
    static Cache& Shared();

    // True with the digest (40 lowercase hexadecimal digits) known for exactly this key.
    bool Lookup(const Key& key, std::u16string& digest);
    // Remembers `digest`, computed for the file at `path` after `before` was read, if the
    // file had settled then and is still the same now. Anything but 40 lowercase
    // hexadecimal digits is ignored.
    void Store(const std::string& path, const FileState& before, const std::u16string& digest);

    // The digest of the file at `path`: remembered when known for the file as it is,
    // otherwise computed by `sha` (and remembered). Results and errors as
    // sha.GetFileSha1.
    std::u16string FileSha1(const std::string& path, CFileSha1& sha);

    std::size_t Size();
    // Replaces what is known with the entries of a cache file's bytes (for the fuzz target
    // and tests; the file itself is then neither read nor written).
    void LoadBytesForTesting(std::string_view bytes);

private:
    struct IdHash {
        std::size_t operator()(const Bytes20& id) const;
    };
    using Order = std::list<Entry>; // least recently used first

    void LoadLocked();
    void PutLocked(const Entry& e);
    void EvictLocked();
    void AppendLocked(const Entry& e);
    bool RewriteLocked();
    void CloseLocked();

    const std::u16string m_file;
    const std::size_t m_max;
    const int64_t m_settleNs;

    std::mutex m_lock;
    bool m_loaded = false;
    bool m_rewrite = false;    // the file on disk is damaged, missing or holds evicted entries
    bool m_diskOff = false;    // writing failed: memory only from then on
    int m_fd = -1;             // the file, open for appending
    std::size_t m_records = 0; // records in the file, live or dead
    Order m_order;
    std::unordered_map<Bytes20, Order::iterator, IdHash> m_index;
};

} // namespace digestcache
