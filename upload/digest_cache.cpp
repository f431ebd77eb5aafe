#include "upload/digest_cache.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "base/file_sha1.h"
#include "base/log.h"
#include "base/sha1.h"
#include "platform/atomic_file.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace digestcache {

namespace {

constexpr char kMagic[4] = {'Q', 'D', 'G', 'C'};
constexpr uint32_t kVersion = 1;
constexpr std::size_t kHeaderSize = 12;
constexpr std::size_t kPayloadSize = 20 + 8 + 8 + 8 + 8 + 20;
constexpr std::size_t kCheckSize = 4;
constexpr std::size_t kRecordSize = kCheckSize + kPayloadSize;
// Dead records (replaced digests) the file may hold beyond the live ones before it is
// rewritten; a file far beyond that was not written by us and is not read.
constexpr std::size_t kSlack = 1024;

void Put(std::string& out, uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

uint64_t Get(std::string_view in, std::size_t at, int bytes) {
    uint64_t v = 0;
    for (int i = 0; i < bytes; ++i)
        v |= uint64_t(static_cast<uint8_t>(in[at + i])) << (8 * i);
    return v;
}

Bytes20 Sha1Of(std::string_view data) {
    Sha1 h;
    h.Update(data.data(), data.size());
    Bytes20 out;
    h.Final(out.data());
    return out;
}

std::string Payload(const Entry& e) {
    std::string p(reinterpret_cast<const char*>(e.key.pathId.data()), 20);
    Put(p, e.key.size, 8);
    Put(p, e.key.inode, 8);
    Put(p, static_cast<uint64_t>(e.key.mtimeNs), 8);
    Put(p, static_cast<uint64_t>(e.key.ctimeNs), 8);
    p.append(reinterpret_cast<const char*>(e.digest.data()), 20);
    return p;
}

bool FromHex(const std::u16string& hex, Bytes20& out) {
    if (hex.size() != 40)
        return false;
    auto nibble = [](char16_t c) {
        return c >= u'0' && c <= u'9' ? c - u'0' : c >= u'a' && c <= u'f' ? c - u'a' + 10 : -1;
    };
    for (std::size_t i = 0; i < 20; ++i) {
        int hi = nibble(hex[2 * i]), lo = nibble(hex[2 * i + 1]);
        if (hi < 0 || lo < 0)
            return false;
        out[i] = static_cast<uint8_t>(hi * 16 + lo);
    }
    return true;
}

__int128 Ns(const timespec& t) {
    return static_cast<__int128>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

std::u16string ToHex(const Bytes20& d) {
    static const char16_t kHex[] = u"0123456789abcdef";
    std::u16string s(40, u'0');
    for (std::size_t i = 0; i < 20; ++i) {
        s[2 * i] = kHex[d[i] >> 4];
        s[2 * i + 1] = kHex[d[i] & 15];
    }
    return s;
}

} // namespace

bool StateOf(const std::string& path, FileState& out, int64_t settleNs) {
    // The file as the digest will open it: readable, and never a pipe that blocks the open.
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    const bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    ::close(fd);
    if (!ok)
        return false;
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const __int128 mtime = Ns(st.st_mtim);
    const __int128 ctime = Ns(st.st_ctim);
    out.key.pathId = Sha1Of(path);
    out.key.size = static_cast<uint64_t>(st.st_size);
    out.key.inode = static_cast<uint64_t>(st.st_ino);
    out.key.mtimeNs = static_cast<int64_t>(mtime);
    out.key.ctimeNs = static_cast<int64_t>(ctime);
    // Times beyond 64 bits of nanoseconds, or a change in the future, never count as settled.
    out.settled =
        mtime == out.key.mtimeNs && ctime == out.key.ctimeNs && Ns(now) - ctime >= settleNs;
    return true;
}

std::string Header() {
    std::string h(kMagic, sizeof kMagic);
    Put(h, kVersion, 4);
    Put(h, kRecordSize, 4);
    return h;
}

std::string EncodeRecord(const Entry& e) {
    const std::string payload = Payload(e);
    const Bytes20 check = Sha1Of(payload);
    std::string r(reinterpret_cast<const char*>(check.data()), kCheckSize);
    return r + payload;
}

std::vector<Entry> ParseBytes(std::string_view bytes, std::size_t maxRecords, bool* damaged) {
    std::vector<Entry> out;
    bool bad = bytes.size() < kHeaderSize || bytes.substr(0, kHeaderSize) != Header();
    if (!bad) {
        std::size_t at = kHeaderSize;
        for (; at + kRecordSize <= bytes.size(); at += kRecordSize) {
            if (out.size() >= maxRecords) {
                bad = true;
                break;
            }
            const std::string_view payload = bytes.substr(at + kCheckSize, kPayloadSize);
            if (std::memcmp(Sha1Of(payload).data(), bytes.data() + at, kCheckSize) != 0) {
                bad = true;
                continue;
            }
            Entry e;
            std::memcpy(e.key.pathId.data(), payload.data(), 20);
            e.key.size = Get(payload, 20, 8);
            e.key.inode = Get(payload, 28, 8);
            e.key.mtimeNs = static_cast<int64_t>(Get(payload, 36, 8));
            e.key.ctimeNs = static_cast<int64_t>(Get(payload, 44, 8));
            std::memcpy(e.digest.data(), payload.data() + 52, 20);
            out.push_back(e);
        }
        bad = bad || at != bytes.size();
    }
    if (damaged != nullptr)
        *damaged = bad;
    return out;
}

std::size_t Cache::IdHash::operator()(const Bytes20& id) const {
    std::size_t h;
    std::memcpy(&h, id.data(), sizeof h);
    return h;
}

Cache::Cache(std::u16string file, std::size_t maxEntries, int64_t settleNs)
    : m_file(std::move(file)), m_max(maxEntries > 0 ? maxEntries : 1), m_settleNs(settleNs) {}

Cache::~Cache() {
    CloseLocked();
}

Cache& Cache::Shared() {
    // Never destroyed: a worker that outlives the end of main may still be using it.
    static Cache* cache = new Cache([] {
        const std::u16string exe = platform::ModuleFileName();
        const std::size_t cut = exe.rfind(u'/');
        return cut == std::u16string::npos ? std::u16string()
                                           : exe.substr(0, cut) + u"/qumoclient-digests.cache";
    }());
    return *cache;
}

void Cache::CloseLocked() {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

void Cache::PutLocked(const Entry& e) {
    auto it = m_index.find(e.key.pathId);
    if (it != m_index.end()) {
        *it->second = e;
        m_order.splice(m_order.end(), m_order, it->second);
        return;
    }
    m_order.push_back(e);
    m_index.emplace(e.key.pathId, std::prev(m_order.end()));
}

void Cache::EvictLocked() {
    if (m_index.size() <= m_max)
        return;
    // An eighth at once, so the rewrite that drops them from the file is rare.
    const std::size_t keep = m_max - m_max / 8;
    while (m_index.size() > keep) {
        m_index.erase(m_order.front().key.pathId);
        m_order.pop_front();
    }
    m_rewrite = true;
}

void Cache::LoadLocked() {
    m_loaded = true;
    if (m_file.empty())
        return;
    const std::size_t maxRecords = 2 * m_max + kSlack;
    std::string bytes;
    if (!platform::ReadWholeFile(m_file, bytes, kHeaderSize + maxRecords * kRecordSize)) {
        m_rewrite = true; // missing, unreadable or far too large: start afresh
        return;
    }
    bool damaged = false;
    const std::vector<Entry> entries = ParseBytes(bytes, maxRecords, &damaged);
    for (const Entry& e : entries)
        PutLocked(e);
    m_records = entries.size();
    m_rewrite = damaged;
    EvictLocked();
}

bool Cache::RewriteLocked() {
    CloseLocked();
    std::string data = Header();
    data.reserve(kHeaderSize + m_order.size() * kRecordSize);
    for (const Entry& e : m_order)
        data += EncodeRecord(e);
    if (!platform::WriteFileAtomic(m_file, data.data(), data.size(), 0600)) {
        LogError(u"The digest cache %s cannot be written; digests are kept in memory only",
                 m_file.c_str());
        m_diskOff = true;
        return false;
    }
    m_records = m_order.size();
    m_rewrite = false;
    return true;
}

void Cache::AppendLocked(const Entry& e) {
    if (m_file.empty() || m_diskOff)
        return;
    if (m_rewrite || m_records >= 2 * m_index.size() + kSlack) {
        RewriteLocked(); // holds `e` already
        return;
    }
    if (m_fd < 0)
        m_fd = ::open(platform::ToNarrow(m_file).c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    const std::string record = EncodeRecord(e);
    ssize_t n = -1;
    if (m_fd >= 0) {
        do {
            n = ::write(m_fd, record.data(), record.size());
        } while (n < 0 && errno == EINTR);
    }
    if (n != static_cast<ssize_t>(record.size())) {
        // Gone, or a short write that would leave the records after it out of step: the
        // whole file is written afresh.
        CloseLocked();
        RewriteLocked();
        return;
    }
    ++m_records;
}

bool Cache::Lookup(const Key& key, std::u16string& digest) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (!m_loaded)
        LoadLocked();
    auto it = m_index.find(key.pathId);
    if (it == m_index.end() || !(it->second->key == key))
        return false;
    m_order.splice(m_order.end(), m_order, it->second);
    digest = ToHex(it->second->digest);
    return true;
}

void Cache::Store(const std::string& path, const FileState& before, const std::u16string& digest) {
    Entry e;
    if (!before.settled || !FromHex(digest, e.digest))
        return;
    // Changed while it was read: the digest may be of neither version.
    FileState after;
    if (!StateOf(path, after, m_settleNs) || !(after.key == before.key))
        return;
    e.key = before.key;
    std::lock_guard<std::mutex> lock(m_lock);
    if (!m_loaded)
        LoadLocked();
    auto it = m_index.find(e.key.pathId);
    if (it != m_index.end() && it->second->key == e.key && it->second->digest == e.digest)
        return;
    PutLocked(e);
    EvictLocked();
    AppendLocked(e);
}

std::u16string Cache::FileSha1(const std::string& path, CFileSha1& sha) {
    FileState before;
    const bool known = StateOf(path, before, m_settleNs);
    std::u16string digest;
    if (known && Lookup(before.key, digest))
        return digest;
    digest = sha.GetFileSha1(path.c_str());
    if (known && !digest.empty())
        Store(path, before, digest);
    return digest;
}

std::size_t Cache::Size() {
    std::lock_guard<std::mutex> lock(m_lock);
    if (!m_loaded)
        LoadLocked();
    return m_index.size();
}

void Cache::LoadBytesForTesting(std::string_view bytes) {
    std::lock_guard<std::mutex> lock(m_lock);
    CloseLocked();
    m_order.clear();
    m_index.clear();
    m_loaded = true;
    m_diskOff = true;
    bool damaged = false;
    for (const Entry& e : ParseBytes(bytes, 2 * m_max + kSlack, &damaged))
        PutLocked(e);
    EvictLocked();
}

} // namespace digestcache
