#include "service/blob_store.h"

#include "base/sha1.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <vector>

namespace qumo_service {

namespace {

bool MakeDir(const std::string& p) {
    return ::mkdir(p.c_str(), 0755) == 0 || errno == EEXIST;
}

bool SyncDir(const std::string& dir) {
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

std::string DirOf(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

} // namespace

bool IsLowerHex40(const std::string& s) {
    if (s.size() != 40)
        return false;
    for (char c : s) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    }
    return true;
}

bool BlobStore::Init(const std::string& dataDir, std::string& err) {
    root_ = dataDir;
    while (root_.size() > 1 && root_.back() == '/')
        root_.pop_back();
    for (const char* sub : {"", "/blobs", "/parts", "/pics", "/avatars"}) {
        if (!MakeDir(root_ + sub)) {
            err = "cannot create " + root_ + sub;
            return false;
        }
    }
    return true;
}

std::string BlobStore::BlobPath(const std::string& sha1) const {
    return root_ + "/blobs/" + sha1.substr(0, 2) + "/" + sha1;
}

std::string BlobStore::PartPath(int64_t upid) const {
    return root_ + "/parts/" + std::to_string(upid) + ".part";
}

std::string BlobStore::PicturePath(const std::string& sha1, char kind) const {
    return root_ + "/pics/" + sha1 + "_" + kind + ".png";
}

std::string BlobStore::AvatarPath(int64_t uid) const {
    return root_ + "/avatars/" + std::to_string(uid) + ".png";
}

bool BlobStore::HasBlob(const std::string& sha1) const {
    struct stat st;
    return IsLowerHex40(sha1) && ::stat(BlobPath(sha1).c_str(), &st) == 0;
}

bool BlobStore::WriteFileAtomic(const std::string& path, const std::string& bytes,
                                bool durable) const {
    std::string dir = DirOf(path);
    if (!MakeDir(dir))
        return false;
    static std::atomic<uint64_t> serial{0};
    std::string tmp = path + ".tmp" + std::to_string(serial.fetch_add(1));
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    size_t off = 0;
    bool ok = true;
    while (off < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + off, bytes.size() - off);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = false;
            break;
        }
        off += static_cast<size_t>(n);
    }
    ok = ok && (!durable || ::fsync(fd) == 0);
    ::close(fd);
    if (!ok || ::rename(tmp.c_str(), path.c_str()) != 0) {
        ::unlink(tmp.c_str());
        return false;
    }
    if (durable)
        SyncDir(dir);
    return true;
}

bool BlobStore::WriteBlob(const std::string& sha1, const std::string& bytes, bool durable) const {
    if (!IsLowerHex40(sha1))
        return false;
    if (HasBlob(sha1))
        return true;
    return WriteFileAtomic(BlobPath(sha1), bytes, durable);
}

bool BlobStore::SyncAll() const {
    int fd = ::open(root_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = ::syncfs(fd) == 0;
    ::close(fd);
    return ok;
}

bool BlobStore::AdoptPart(int64_t upid, const std::string& sha1) const {
    if (!IsLowerHex40(sha1))
        return false;
    std::string part = PartPath(upid);
    if (HasBlob(sha1)) {
        ::unlink(part.c_str());
        return true;
    }
    std::string blob = BlobPath(sha1);
    if (!MakeDir(DirOf(blob)))
        return false;
    if (::rename(part.c_str(), blob.c_str()) != 0)
        return false;
    SyncDir(DirOf(blob));
    SyncDir(DirOf(part));
    return true;
}

int64_t BlobStore::DurablePartLength(int64_t upid) const {
    int fd = ::open(PartPath(upid).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    ::fdatasync(fd);
    struct stat st;
    int64_t len = ::fstat(fd, &st) == 0 ? static_cast<int64_t>(st.st_size) : 0;
    ::close(fd);
    return len;
}

bool BlobStore::TruncatePart(int64_t upid, int64_t len) const {
    int fd = ::open(PartPath(upid).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    bool ok = ::ftruncate(fd, len) == 0 && ::fdatasync(fd) == 0;
    ::close(fd);
    return ok;
}

void BlobStore::RemovePart(int64_t upid) const {
    ::unlink(PartPath(upid).c_str());
}

std::string Sha1OfFile(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::string();
    Sha1 h;
    std::vector<unsigned char> buf(1 << 16);
    for (;;) {
        ssize_t n = ::read(fd, buf.data(), buf.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            ::close(fd);
            return std::string();
        }
        if (n == 0)
            break;
        h.Update(buf.data(), static_cast<size_t>(n));
    }
    ::close(fd);
    return h.HexFinal();
}

bool ReadWholeFile(const std::string& path, std::string& out, size_t maxBytes) {
    out.clear();
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char buf[1 << 16];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ::close(fd);
            return n == 0;
        }
        if (out.size() + static_cast<size_t>(n) > maxBytes) {
            ::close(fd);
            return false;
        }
        out.append(buf, static_cast<size_t>(n));
    }
}

} // namespace qumo_service
