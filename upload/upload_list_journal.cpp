#include "upload/upload_list_journal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

#include "base/log.h"
#include "platform/codepage.h"

namespace listjournal {

namespace {

constexpr char kMagic[4] = {'Q', 'J', 'N', 'L'};
constexpr uint32_t kVersion = 1;
constexpr std::size_t kHeaderSize = 4 + 4 + 8 * 4;
// No record of ours comes near this: six texts of a path's length.
constexpr uint32_t kMaxPayload = 1u << 20;

uint32_t Crc32(const std::string& data) {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    uint32_t c = 0xFFFFFFFFu;
    for (unsigned char b : data)
        c = table[(c ^ b) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

void Put32(std::string& out, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out += static_cast<char>((v >> (8 * i)) & 0xFF);
}
void Put64(std::string& out, uint64_t v) {
    for (int i = 0; i < 8; ++i)
        out += static_cast<char>((v >> (8 * i)) & 0xFF);
}
uint64_t Get(const std::string& in, std::size_t at, int bytes) {
    uint64_t v = 0;
    for (int i = 0; i < bytes; ++i)
        v |= static_cast<uint64_t>(static_cast<unsigned char>(in[at + i])) << (8 * i);
    return v;
}

void PutText(std::string& out, const std::u16string& s) {
    Put32(out, static_cast<uint32_t>(s.size()));
    for (char16_t c : s) {
        out += static_cast<char>(c & 0xFF);
        out += static_cast<char>(c >> 8);
    }
}
bool GetText(const std::string& in, std::size_t& at, std::u16string& s) {
    if (in.size() - at < 4)
        return false;
    const uint64_t n = Get(in, at, 4);
    at += 4;
    if ((in.size() - at) / 2 < n)
        return false;
    s.resize(n);
    for (uint64_t i = 0; i < n; ++i, at += 2)
        s[i] = static_cast<char16_t>(Get(in, at, 2));
    return true;
}

std::string Header(const FileStamp& base) {
    std::string h(kMagic, sizeof kMagic);
    Put32(h, kVersion);
    Put64(h, base.inode);
    Put64(h, base.size);
    Put64(h, static_cast<uint64_t>(base.mtimeSec));
    Put64(h, static_cast<uint64_t>(base.mtimeNsec));
    return h;
}

bool WriteAll(int fd, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool ReadAll(const std::u16string& path, std::string& out) {
    int fd = ::open(platform::ToNarrow(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false;
    struct stat st {};
    // Far more than a queue of any size writes between two folds.
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > (int64_t{1} << 30)) {
        ::close(fd);
        return false;
    }
    out.resize(static_cast<std::size_t>(st.st_size));
    std::size_t got = 0;
    while (got < out.size()) {
        ssize_t n = ::read(fd, out.data() + got, out.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    out.resize(got);
    return true;
}

bool Decode(const std::string& payload, Record& r) {
    if (payload.empty())
        return false;
    const auto kind = static_cast<uint8_t>(payload[0]);
    if (kind < 1 || kind > 3)
        return false;
    r.kind = static_cast<Kind>(kind);
    std::size_t at = 1;
    for (std::u16string* s : {&r.uid, &r.path, &r.id, &r.mid, &r.ip, &r.port})
        if (!GetText(payload, at, *s))
            return false;
    return at == payload.size();
}

} // namespace

bool StampOf(const std::u16string& path, FileStamp& out) {
    struct stat st {};
    if (::stat(platform::ToNarrow(path).c_str(), &st) != 0)
        return false;
    out.inode = static_cast<uint64_t>(st.st_ino);
    out.size = static_cast<uint64_t>(st.st_size);
    out.mtimeSec = static_cast<int64_t>(st.st_mtim.tv_sec);
    out.mtimeNsec = static_cast<int64_t>(st.st_mtim.tv_nsec);
    return true;
}

std::string EncodeRecord(const Record& record) {
    std::string payload(1, static_cast<char>(record.kind));
    for (const std::u16string* s :
         {&record.uid, &record.path, &record.id, &record.mid, &record.ip, &record.port})
        PutText(payload, *s);
    std::string frame;
    Put32(frame, static_cast<uint32_t>(payload.size()));
    Put32(frame, Crc32(payload));
    return frame + payload;
}

std::string JournalHeader(const FileStamp& base) {
    return Header(base);
}

Journal::~Journal() {
    if (m_fd >= 0)
        ::close(m_fd);
}

bool Journal::Start(const std::u16string& path, const FileStamp& base,
                    const std::vector<Record>& carried) {
    if (m_fd >= 0)
        ::close(m_fd);
    m_path = path;
    m_count = 0;
    // Written aside and renamed over the old journal: until the new one is durable, the old
    // one (with changes not yet in the list file) stays whole.
    const std::string target = platform::ToNarrow(path);
    const std::string aside = target + ".new";
    std::string bytes = Header(base);
    for (const Record& r : carried)
        bytes += EncodeRecord(r);
    m_fd = ::open(aside.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (m_fd < 0 || !WriteAll(m_fd, bytes) || ::fdatasync(m_fd) != 0 ||
        ::rename(aside.c_str(), target.c_str()) != 0) {
        LogError(u"The upload list journal %s cannot be written (errno %d)", path.c_str(), errno);
        if (m_fd >= 0)
            ::close(m_fd);
        ::unlink(aside.c_str());
        m_fd = -1;
        return false;
    }
    m_count = carried.size();
    return true;
}

bool Journal::Append(const Record& record) {
    if (m_fd < 0)
        return false;
    if (!WriteAll(m_fd, EncodeRecord(record)) || ::fdatasync(m_fd) != 0) {
        LogError(u"The upload list journal %s cannot be written (errno %d)", m_path.c_str(), errno);
        return false;
    }
    ++m_count;
    return true;
}

void Remove(const std::u16string& path) {
    ::unlink(platform::ToNarrow(path).c_str());
}

void Journal::Close() {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_count = 0;
}

void Journal::Discard() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    m_count = 0;
    if (!m_path.empty())
        ::unlink(platform::ToNarrow(m_path).c_str());
}

std::vector<Record> Replay(const std::u16string& path, const FileStamp& base, bool* foreign) {
    if (foreign)
        *foreign = false;
    std::string bytes;
    if (!ReadAll(path, bytes) || bytes.empty())
        return {};
    return ReplayBytes(bytes, base, foreign, path);
}

std::vector<Record> ReplayBytes(const std::string& bytes, const FileStamp& base, bool* foreign,
                                const std::u16string& path) {
    std::vector<Record> out;
    if (foreign)
        *foreign = false;
    if (bytes.size() < kHeaderSize || bytes.compare(0, kHeaderSize, Header(base)) != 0) {
        LogError(u"The upload list journal %s does not belong to the list file; not applied",
                 path.c_str());
        if (foreign)
            *foreign = true;
        return out;
    }
    std::size_t at = kHeaderSize;
    while (bytes.size() - at >= 8) {
        const uint64_t len = Get(bytes, at, 4);
        const uint64_t crc = Get(bytes, at + 4, 4);
        if (len > kMaxPayload) {
            LogError(u"The upload list journal %s is damaged after %d records; the rest is dropped",
                     path.c_str(), static_cast<int>(out.size()));
            return out;
        }
        if (bytes.size() - at - 8 < len)
            break; // cut short by a kill: the change never happened
        const std::string payload = bytes.substr(at + 8, len);
        Record r;
        if (Crc32(payload) != crc || !Decode(payload, r)) {
            LogError(u"The upload list journal %s is damaged after %d records; the rest is dropped",
                     path.c_str(), static_cast<int>(out.size()));
            return out;
        }
        out.push_back(std::move(r));
        at += 8 + len;
    }
    return out;
}

} // namespace listjournal
