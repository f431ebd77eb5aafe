#include "platform/atomic_file.h"

#include "platform/codepage.h"
#include "platform/lasterror.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

std::atomic<AtomicWriteHook> g_writeHook{nullptr};

bool Fail() {
    SetLastErrorFromErrno();
    return false;
}

bool FailWith(int code) {
    SetLastErrorCode(code);
    return false;
}

// Removes the temporary file unless it has been renamed into place.
class TempFile {
public:
    explicit TempFile(std::string name) : m_name(std::move(name)) {}
    ~TempFile() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
        if (!m_kept) {
            const int saved = errno;
            ::unlink(m_name.c_str());
            errno = saved;
        }
    }
    bool Create() {
        m_fd = ::mkostemp(m_name.data(), O_CLOEXEC);
        m_kept = m_fd < 0; // nothing to remove when nothing was made
        return m_fd >= 0;
    }
    bool Close() {
        const int fd = m_fd;
        m_fd = -1;
        return ::close(fd) == 0;
    }
    void Keep() { m_kept = true; }
    int Fd() const { return m_fd; }
    const std::string& Name() const { return m_name; }

private:
    std::string m_name;
    int m_fd = -1;
    bool m_kept = true;
};

bool WriteAll(int fd, const unsigned char* data, std::size_t n) {
    const AtomicWriteHook hook = g_writeHook.load();
    std::size_t done = 0;
    while (done < n) {
        const ssize_t w =
            hook ? hook(fd, data + done, n - done) : ::write(fd, data + done, n - done);
        if (w < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (w == 0) {
            errno = ENOSPC; // no progress: treat as a full disk rather than spin
            return false;
        }
        done += static_cast<std::size_t>(w);
    }
    return true;
}

void SyncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        // Best effort: the rename has happened; not every file system can sync a folder.
        (void)::fsync(fd);
        ::close(fd);
    }
}

// Temporaries of `base` that a process killed mid-write left in `folder`. Only names of
// exactly our pattern and only files untouched for a while go: a write in progress
// elsewhere takes milliseconds, not minutes.
void RemoveStaleTemporaries(const std::string& folder, const std::string& base) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) {
        return;
    }
    const std::string prefix = "." + base + ".";
    const std::time_t now = std::time(nullptr);
    while (const dirent* e = ::readdir(dir)) {
        const std::string name = e->d_name;
        if (name.size() != prefix.size() + 6 || name.compare(0, prefix.size(), prefix) != 0) {
            continue;
        }
        const std::string path = folder + "/" + name;
        struct stat st;
        if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            now - st.st_mtime > kStaleTemporarySeconds) {
            ::unlink(path.c_str());
        }
    }
    ::closedir(dir);
}

} // namespace

void SetAtomicWriteHook(AtomicWriteHook hook) {
    g_writeHook.store(hook);
}

bool WriteFileAtomic(const std::u16string& path, const void* data, std::size_t n, int mode) {
    if (path.empty() || (!data && n)) {
        return FailWith(kErrInvalidParameter);
    }
    std::string target = ToNarrow(path);

    struct stat st;
    if (::lstat(target.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char* real = ::realpath(target.c_str(), nullptr)) {
            target = real;
            std::free(real);
        }
    }
    bool exists = false;
    if (::stat(target.c_str(), &st) == 0) {
        // Only a regular file is replaced; a folder or a device keeps its place.
        if (!S_ISREG(st.st_mode)) {
            return FailWith(kErrAccessDenied);
        }
        // A read-only file stays as it is, as opening it for writing would refuse.
        if (::access(target.c_str(), W_OK) != 0) {
            return Fail();
        }
        exists = true;
    } else if (errno != ENOENT) {
        return Fail();
    }

    const std::size_t slash = target.rfind('/');
    const std::string folder =
        slash == std::string::npos ? std::string(".") : target.substr(0, slash == 0 ? 1 : slash);
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    if (base.empty()) {
        return FailWith(kErrInvalidParameter);
    }
    TempFile temp((slash == std::string::npos ? std::string() : target.substr(0, slash + 1)) + "." +
                  base + ".XXXXXX");
    if (!temp.Create()) {
        return Fail();
    }

    const mode_t wanted =
        mode >= 0 ? static_cast<mode_t>(mode & 07777) : (exists ? (st.st_mode & 07777) : 0644);
    if (::fchmod(temp.Fd(), wanted) != 0) {
        return Fail();
    }
    if (exists && (st.st_uid != ::geteuid() || st.st_gid != ::getegid())) {
        if (::fchown(temp.Fd(), st.st_uid, st.st_gid) != 0) {
            // Only a privileged process may give a file away; ours then keeps our owner.
        }
    }
    if (!WriteAll(temp.Fd(), static_cast<const unsigned char*>(data), n) ||
        ::fsync(temp.Fd()) != 0) {
        return Fail();
    }
    if (!temp.Close()) {
        return Fail();
    }
    if (::rename(temp.Name().c_str(), target.c_str()) != 0) {
        return Fail();
    }
    temp.Keep();
    SyncFolder(folder);
    RemoveStaleTemporaries(folder, base);
    return true;
}

} // namespace platform
