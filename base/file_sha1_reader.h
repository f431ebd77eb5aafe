// Reading a file ahead of the digest: a second thread fills a small ring of chunk
// buffers while the calling thread hashes the chunks already read. On a large file the
// kernel's copy into the buffers and the hashing then run side by side.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <sys/types.h>
#include <thread>

namespace filesha1 {

// One read(2)-like call: bytes read, 0 at the end, -1 with errno set on failure.
using ReadFn = ssize_t (*)(int fd, void* buffer, size_t n);

// Calls `read` again when a signal interrupted it.
ssize_t ReadSome(ReadFn read, int fd, unsigned char* buffer, size_t n);

class ReadAhead {
public:
    // Chunks in the ring: enough to keep the reader busy while one is hashed, small
    // enough to stay in the processor's cache.
    static constexpr uint32_t kSlots = 4;

    // `buffers` holds kSlots buffers of `stride` bytes each (not owned, must outlive this);
    // each read asks for `chunk` <= stride bytes.
    ReadAhead(int fd, ReadFn read, unsigned char* buffers, size_t stride, size_t chunk) noexcept;
    // Stop().
    ~ReadAhead();
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // Starts the reader thread. False when no thread could be made; nothing has been
    // read then, so the caller can read the file itself from where it stands.
    bool Start() noexcept;

    // Waits for the next chunk in file order and returns its read's result: the number
    // of bytes now at *data, 0 at the end of the file, -1 on a failed read. After 0 or -1
    // there are no more chunks. Each chunk must be handed back with Done() before the
    // next Next().
    ssize_t Next(const unsigned char** data) noexcept;
    void Done() noexcept;

    // Ends the reading: a read under way is finished, no other is started, and the
    // thread is joined. Safe to call more than once.
    void Stop() noexcept;

    // How many reads the thread has made; valid after Stop().
    uint64_t ReadsMade() const { return m_reads; }

private:
    // Freed slots the reader waits for once the ring is full, so that it is woken once
    // per kWake chunks rather than for every chunk.
    static constexpr uint32_t kWake = kSlots / 2;

    void Run() noexcept;
    unsigned char* Slot(uint32_t n) const { return m_buffers + (n % kSlots) * m_stride; }

    const int m_fd;
    const ReadFn m_read;
    unsigned char* const m_buffers;
    const size_t m_stride;
    const size_t m_chunk;
    std::thread m_thread;

    // Counters run on and wrap; only differences are used. m_filled is written by the
    // reader only, m_freed by the consumer (and by Stop(), to wake the reader).
    std::atomic<uint32_t> m_filled{0};
    std::atomic<uint32_t> m_freed{0};
    std::atomic<uint32_t> m_wakeAt{0}; // m_freed value the sleeping reader wants to see
    std::atomic<bool> m_quit{false};
    ssize_t m_result[kSlots] = {}; // each slot's read result, published by m_filled
    uint32_t m_taken = 0;          // consumer's count of chunks handed out
    uint64_t m_reads = 0;          // reader's count of reads
};

// Seams for tests, applied to every later GetFileSha1.
struct TestHooks {
    ReadFn read = nullptr;         // replaces read(2)
    long long readAheadAbove = -1; // replaces the size above which a file is read ahead
    bool noThread = false;         // the reader thread cannot be started
    size_t blockSize = 0;          // bytes asked of each read, up to kBlockSize (0: that)
};
void SetTestHooks(const TestHooks& hooks);

} // namespace filesha1
