#include "base/file_sha1.h"

#include "base/file_sha1_reader.h"
#include "base/log.h"
#include "base/sha1.h"
#include "platform/event.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <mutex>
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
// One block and its spare byte, rounded up to whole cache lines as aligned_alloc needs.
constexpr size_t kSlotSize = (CFileSha1::kBlockSize + 1 + 63) / 64 * 64;
// The read-ahead ring; reading on the calling thread uses its first slot only.
constexpr size_t kRingSize = kSlotSize * filesha1::ReadAhead::kSlots;

// The calling thread's read buffer, kept for its later digests: a worker digesting one
// small file after another would otherwise map and fault in a fresh megabyte each time.
// Grows to the whole ring the first time the thread reads ahead. Null when out of memory.
unsigned char* ThreadBuffer(size_t size) {
    thread_local Buffer t_buffer;
    thread_local size_t t_size = 0;
    if (t_size < size) {
        // Cache-line alignment makes the kernel's copy into it markedly cheaper. A failed
        // growth keeps the smaller buffer, which still serves reading on this thread.
        Buffer grown(static_cast<unsigned char*>(std::aligned_alloc(64, size)));
        if (!grown)
            return nullptr;
        t_buffer = std::move(grown);
        t_size = size;
    }
    return t_buffer.get();
}

// Files larger than this are read on a second thread while hashed. Measured on an idle
// two-core machine (1 GiB, warm cache, 10240-byte chunks) the hand-over between the threads
// cost more than the overlap saved (0.94 s against 0.73 s wall); with 1 MiB blocks it
// still loses on a busy two-core machine (1.93 s against 1.78 s wall, bench/sha1), where
// the second thread only competes for a processor. So the read-ahead is off until it wins.
constexpr long long kReadAheadAbove = LLONG_MAX;

ssize_t SystemRead(int fd, void* buffer, size_t n) {
    return ::read(fd, buffer, n);
}

std::mutex g_hooksLock;
filesha1::TestHooks g_hooks;

filesha1::TestHooks CurrentHooks() {
    std::lock_guard<std::mutex> lock(g_hooksLock);
    return g_hooks;
}

} // namespace

void filesha1::SetTestHooks(const TestHooks& hooks) {
    std::lock_guard<std::mutex> lock(g_hooksLock);
    g_hooks = hooks;
}

void CFileSha1::RequestStop() {
    m_stop.store(true, std::memory_order_relaxed);
}

bool CFileSha1::Stopped() const {
    return m_stop.load(std::memory_order_relaxed) || platform::ThreadCancelRequested() ||
           (m_abort && m_abort());
}

std::u16string CFileSha1::GetFileSha1(const char* path) {
    try {
        unsigned char* buffer = ThreadBuffer(kSlotSize);
        if (buffer == nullptr) {
            m_error = kUnknown;
            return std::u16string();
        }
        // The trace line has a 32-bit field for the address; its low half is kept.
        DayTrace(u"[New]->Sha1-line=%d,%x.", 48,
                 static_cast<unsigned>(reinterpret_cast<uintptr_t>(buffer)));
        m_stop.store(false, std::memory_order_relaxed);
        return Compute(path);
    } catch (...) {
        m_error = kUnknown;
        return std::u16string();
    }
}

std::u16string CFileSha1::Compute(const char* path) {
    if (path == nullptr) {
        m_error = kCannotOpen;
        return std::u16string();
    }
    // Opening a named pipe blocks until a writer comes; without blocking it cannot hang.
    Fd file(::open(path, O_RDONLY | O_CLOEXEC | (m_regularOnly ? O_NONBLOCK : 0)));
    struct stat st;
    // A folder opens for reading here but is not a file that can be read.
    if (file.get() < 0 || ::fstat(file.get(), &st) != 0 || S_ISDIR(st.st_mode) ||
        (m_regularOnly && !S_ISREG(st.st_mode))) {
        m_error = kCannotOpen;
        return std::u16string();
    }
    if (m_regularOnly)
        ::fcntl(file.get(), F_SETFL, ::fcntl(file.get(), F_GETFL) & ~O_NONBLOCK);
    if (!CanQuerySize(path)) {
        m_error = kNoSize;
        return std::u16string();
    }
    ::posix_fadvise(file.get(), 0, 0, POSIX_FADV_SEQUENTIAL);

    const filesha1::TestHooks hooks = CurrentHooks();
    const filesha1::ReadFn read = hooks.read ? hooks.read : &SystemRead;
    const long long above = hooks.readAheadAbove >= 0 ? hooks.readAheadAbove : kReadAheadAbove;
    const size_t block =
        hooks.blockSize > 0 && hooks.blockSize < kBlockSize ? hooks.blockSize : kBlockSize;
    // Only a regular file's reads are sure to end; a pipe or device may block for ever,
    // and a stop could then not join the reader. Their size is not known anyway.
    if (S_ISREG(st.st_mode) && st.st_size > above) {
        if (unsigned char* ring = ThreadBuffer(kRingSize)) {
            filesha1::ReadAhead ahead(file.get(), read, ring, kSlotSize, block);
            if (!hooks.noThread && ahead.Start())
                return HashAhead(ahead);
        }
    }
    return HashLoop(file.get(), read, block, ThreadBuffer(kSlotSize));
}

std::u16string CFileSha1::HashLoop(int fd, ReadFn read, size_t block, unsigned char* buffer) {
    Sha1 sha;
    for (;;) {
        ssize_t got = filesha1::ReadSome(read, fd, buffer, block);
        if (got == 0)
            break;
        // A failed read is reported rather than taken for the end of the file: a digest
        // of only the part before the fault would name content the file does not have.
        if (got < 0) {
            m_error = kUnknown;
            return std::u16string();
        }
        if (Stopped()) {
            m_error = kStopped;
            return std::u16string();
        }
        sha.Update(buffer, static_cast<size_t>(got));
    }
    std::string hex = sha.HexFinal();
    return std::u16string(hex.begin(), hex.end());
}

// The same steps as HashLoop, on blocks the reader thread has already read. Returning
// stops and joins the reader, so no thread outlives the call.
std::u16string CFileSha1::HashAhead(filesha1::ReadAhead& ahead) {
    Sha1 sha;
    for (;;) {
        const unsigned char* data = nullptr;
        ssize_t got = ahead.Next(&data);
        if (got == 0)
            break;
        if (got < 0) {
            m_error = kUnknown;
            return std::u16string();
        }
        if (Stopped()) {
            m_error = kStopped;
            return std::u16string();
        }
        sha.Update(data, static_cast<size_t>(got));
        ahead.Done();
    }
    std::string hex = sha.HexFinal();
    return std::u16string(hex.begin(), hex.end());
}
