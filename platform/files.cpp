#include "platform/files.h"

#include "platform/codepage.h"
#include "platform/lasterror.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// Closes a descriptor without disturbing errno, so a failure can still be reported.
class Fd {
public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd() { Close(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int Get() const { return m_fd; }
    int Release() {
        int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    void Close() {
        if (m_fd >= 0) {
            int saved = errno;
            ::close(m_fd);
            errno = saved;
            m_fd = -1;
        }
    }

private:
    int m_fd;
};

bool Fail() {
    SetLastErrorFromErrno();
    return false;
}

bool FailWith(int code) {
    SetLastErrorCode(code);
    return false;
}

bool WriteAll(int fd, const char* p, std::size_t n) {
    while (n > 0) {
        ssize_t w = ::write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += w;
        n -= static_cast<std::size_t>(w);
    }
    return true;
}

// Copies everything from `in` to `out`; false with errno set on a read or write error.
bool CopyData(int in, int out) {
    char buf[64 * 1024];
    for (;;) {
        ssize_t r = ::read(in, buf, sizeof buf);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (r == 0)
            return true;
        if (!WriteAll(out, buf, static_cast<std::size_t>(r)))
            return false;
    }
}

// Removes everything inside the open folder `dirFd` (which this takes over), one level
// per call. Every entry is examined without following links and opened relative to its
// parent's descriptor, so a link swapped in during the walk cannot lead outside.
bool ClearFolder(int dirFd) {
    DIR* dir = ::fdopendir(dirFd);
    if (!dir) {
        int saved = errno;
        ::close(dirFd);
        errno = saved;
        return false;
    }
    bool ok = true;
    int firstErr = 0;
    for (;;) {
        errno = 0;
        dirent* e = ::readdir(dir);
        if (!e) {
            if (errno != 0 && ok) {
                ok = false;
                firstErr = errno;
            }
            break;
        }
        const char* name = e->d_name;
        if ((name[0] == '.' && name[1] == 0) || (name[0] == '.' && name[1] == '.' && name[2] == 0))
            continue;
        struct stat st;
        if (::fstatat(::dirfd(dir), name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno != ENOENT && ok) {
                ok = false;
                firstErr = errno;
            }
            continue;
        }
        if (S_ISDIR(st.st_mode)) {
            int sub = ::openat(::dirfd(dir), name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            bool cleared = sub >= 0 && ClearFolder(sub);
            if (!cleared || ::unlinkat(::dirfd(dir), name, AT_REMOVEDIR) != 0) {
                if (ok) {
                    ok = false;
                    firstErr = errno;
                }
            }
        } else if (::unlinkat(::dirfd(dir), name, 0) != 0 && errno != ENOENT && ok) {
            ok = false;
            firstErr = errno;
        }
    }
    ::closedir(dir);
    errno = firstErr;
    return ok;
}

// "a/b/" names the same thing as "a/b", but a trailing separator would make the system
// resolve a final symbolic link; strip it so links are always seen as links.
std::string TrimTrailingSeparators(std::string p) {
    while (p.size() > 1 && p.back() == '/')
        p.pop_back();
    return p;
}

} // namespace

bool GetFileAttributesEx(const std::u16string& path, FileAttributes& out) {
    if (path.empty())
        return FailWith(kErrFileNotFound);
    struct stat st;
    if (::stat(ToNarrow(path).c_str(), &st) != 0)
        return Fail();
    out.isDirectory = S_ISDIR(st.st_mode);
    out.size = out.isDirectory ? 0 : static_cast<std::uint64_t>(st.st_size);
    return true;
}

bool CopyFileOver(const std::u16string& src, const std::u16string& dst) {
    if (src.empty() || dst.empty())
        return FailWith(kErrInvalidParameter);
    Fd in(::open(ToNarrow(src).c_str(), O_RDONLY | O_CLOEXEC));
    if (in.Get() < 0)
        return Fail();
    struct stat sst;
    if (::fstat(in.Get(), &sst) != 0)
        return Fail();
    if (!S_ISREG(sst.st_mode))
        return FailWith(kErrAccessDenied);
    std::string d = ToNarrow(dst);
    struct stat dstSt;
    if (::stat(d.c_str(), &dstSt) == 0 && dstSt.st_dev == sst.st_dev && dstSt.st_ino == sst.st_ino)
        return FailWith(kErrSharingViolation); // truncating it would destroy the source
    Fd out(::open(d.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, sst.st_mode & 0777));
    if (out.Get() < 0)
        return Fail();
    if (!CopyData(in.Get(), out.Get()))
        return Fail();
    if (::close(out.Release()) != 0)
        return Fail();
    return true;
}

bool MoveFileReplace(const std::u16string& from, const std::u16string& to) {
    if (from.empty() || to.empty())
        return FailWith(kErrInvalidParameter);
    std::string f = ToNarrow(from);
    std::string t = ToNarrow(to);
    if (::rename(f.c_str(), t.c_str()) == 0)
        return true;
    if (errno != EXDEV)
        return Fail();
    // Another file system: copy beside the target first so a failed copy never leaves a
    // half-written file under the target's name.
    struct stat st;
    if (::lstat(f.c_str(), &st) != 0)
        return Fail();
    if (!S_ISREG(st.st_mode))
        return FailWith(kErrAccessDenied);
    std::u16string tmp = to + u".part" + FromNarrow(std::to_string(::getpid()));
    if (!CopyFileOver(from, tmp)) {
        int code = GetLastErrorCode();
        ::unlink(ToNarrow(tmp).c_str());
        return FailWith(code);
    }
    if (::rename(ToNarrow(tmp).c_str(), t.c_str()) != 0) {
        int code = ErrorFromErrno(errno);
        ::unlink(ToNarrow(tmp).c_str());
        return FailWith(code);
    }
    if (::unlink(f.c_str()) != 0)
        return Fail();
    return true;
}

bool DeleteTree(const std::u16string& path) {
    std::string p = TrimTrailingSeparators(ToNarrow(path));
    if (p.empty() || p == "/")
        return FailWith(kErrInvalidParameter);
    struct stat st;
    if (::lstat(p.c_str(), &st) != 0)
        return Fail();
    if (!S_ISDIR(st.st_mode)) {
        if (::unlink(p.c_str()) != 0)
            return Fail();
        return true;
    }
    int fd = ::open(p.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return Fail();
    if (!ClearFolder(fd))
        return Fail();
    if (::rmdir(p.c_str()) != 0)
        return Fail();
    return true;
}

bool CreateDir(const std::u16string& path) {
    if (path.empty())
        return FailWith(kErrPathNotFound);
    if (::mkdir(ToNarrow(path).c_str(), 0777) != 0)
        return Fail();
    return true;
}

bool ReadWholeFile(const std::u16string& path, std::string& out, std::uint64_t maxBytes) {
    out.clear();
    if (path.empty())
        return FailWith(kErrFileNotFound);
    Fd in(::open(ToNarrow(path).c_str(), O_RDONLY | O_CLOEXEC));
    if (in.Get() < 0)
        return Fail();
    struct stat st;
    if (::fstat(in.Get(), &st) != 0)
        return Fail();
    if (S_ISDIR(st.st_mode))
        return FailWith(kErrAccessDenied);
    if (static_cast<std::uint64_t>(st.st_size) > maxBytes)
        return FailWith(kErrFileTooLarge);
    out.reserve(static_cast<std::size_t>(st.st_size));
    // Read until the end rather than trusting the size: the file may grow meanwhile,
    // and the limit must hold for what is actually read.
    char buf[64 * 1024];
    for (;;) {
        ssize_t r = ::read(in.Get(), buf, sizeof buf);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            out.clear();
            return Fail();
        }
        if (r == 0)
            break;
        if (out.size() + static_cast<std::uint64_t>(r) > maxBytes) {
            out.clear();
            return FailWith(kErrFileTooLarge);
        }
        out.append(buf, static_cast<std::size_t>(r));
    }
    return true;
}

} // namespace platform
