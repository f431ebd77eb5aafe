#include "base/file_sha1.h"

#include "base/log.h"
#include "base/sha1.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char kCannotOpen[] = "The file can't be opened!";
const char kNoSize[] = "Get file size failed!";
const char kStopped[] = "User terminate calculate!";
const char kUnknown[] = "UnKnow error!";

class Fd {
public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

// Whether the path names something a second handle can be opened on and sized. The
// size itself is not needed; the check only mirrors the reader's view of the file.
bool CanQuerySize(const char* path) {
    Fd probe(::open(path, O_PATH | O_CLOEXEC));
    struct stat st;
    return probe.get() >= 0 && ::fstat(probe.get(), &st) == 0;
}

struct FreeBuffer {
    void operator()(unsigned char* p) const { std::free(p); }
};
using Buffer = std::unique_ptr<unsigned char, FreeBuffer>;
// The chunk and its spare byte, rounded up to whole cache lines as aligned_alloc needs.
constexpr size_t kBufferAlloc = (CFileSha1::kChunkSize + 1 + 63) / 64 * 64;

ssize_t ReadSome(int fd, unsigned char* buffer, size_t n) {
    for (;;) {
        ssize_t got = ::read(fd, buffer, n);
        if (got >= 0 || errno != EINTR)
            return got;
    }
}

} // namespace

void CFileSha1::RequestStop() {
    m_stop.store(true, std::memory_order_relaxed);
}

std::u16string CFileSha1::GetFileSha1(const char* path) {
    try {
        // One chunk plus a spare byte, allocated per call so memory use does not grow
        // with the file. Cache-line alignment makes the kernel's copy into it markedly
        // cheaper, which is a good part of the time spent on a cached file.
        Buffer buffer(static_cast<unsigned char*>(std::aligned_alloc(64, kBufferAlloc)));
        if (!buffer) {
            m_error = kUnknown;
            return std::u16string();
        }
        // The trace line has a 32-bit field for the address; its low half is kept.
        DayTrace(u"[New]->Sha1-line=%d,%x.", 48,
                 static_cast<unsigned>(reinterpret_cast<uintptr_t>(buffer.get())));
        m_stop.store(false, std::memory_order_relaxed);
        return Compute(path, buffer.get());
    } catch (...) {
        m_error = kUnknown;
        return std::u16string();
    }
}

std::u16string CFileSha1::Compute(const char* path, unsigned char* buffer) {
    if (path == nullptr) {
        m_error = kCannotOpen;
        return std::u16string();
    }
    Fd file(::open(path, O_RDONLY | O_CLOEXEC));
    struct stat st;
    // A folder opens for reading here but is not a file that can be read.
    if (file.get() < 0 || ::fstat(file.get(), &st) != 0 || S_ISDIR(st.st_mode)) {
        m_error = kCannotOpen;
        return std::u16string();
    }
    if (!CanQuerySize(path)) {
        m_error = kNoSize;
        return std::u16string();
    }
    ::posix_fadvise(file.get(), 0, 0, POSIX_FADV_SEQUENTIAL);

    Sha1 sha;
    for (;;) {
        ssize_t got = ReadSome(file.get(), buffer, kChunkSize);
        if (got == 0)
            break;
        // A failed read is reported rather than taken for the end of the file: a digest
        // of only the part before the fault would name content the file does not have.
        if (got < 0) {
            m_error = kUnknown;
            return std::u16string();
        }
        if (m_stop.load(std::memory_order_relaxed)) {
            m_error = kStopped;
            return std::u16string();
        }
        sha.Update(buffer, static_cast<size_t>(got));
    }
    std::string hex = sha.HexFinal();
    return std::u16string(hex.begin(), hex.end());
}
