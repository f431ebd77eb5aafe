// SHA-1 digest of a file's whole content, read in blocks of 1 MiB.
//
// One object is used by one thread at a time; only RequestStop may be called from
// another thread, and the running computation notices it at its next block. The calling
// thread's cancel event (a worker's stop) and the abort check end it the same way, so a
// digest of a large file never holds up a stop (a block is hashed in about a millisecond).
//
// The read buffer belongs to the calling thread and is reused by its every digest, so
// a queue of small files does not allocate a large buffer per file; it is freed when the
// thread ends.
#pragma once

#include <functional>

#include <atomic>
#include <string>
#include <sys/types.h>

namespace filesha1 {
class ReadAhead;
}

class CFileSha1 {
public:
    // 40 lowercase hexadecimal digits, or an empty text on failure, with ErrorText()
    // saying why. `path` is the file's name in the narrow (UTF-8) code page. Clears any
    // earlier stop request first.
    std::u16string GetFileSha1(const char* path);

    // Ends a running GetFileSha1 at its next block with "User terminate calculate!".
    void RequestStop();

    // A check made between blocks, on the computing thread: true ends the digest as a
    // stop does. Null (the default) checks only the stop flag and the thread's stop.
    void SetAbortCheck(std::function<bool()> check) { m_abort = std::move(check); }

    // Refuses anything but a regular file ("The file can't be opened!") without ever
    // blocking in the open: a named pipe in an upload queue must not hold the worker.
    void SetRegularFilesOnly(bool on) { m_regularOnly = on; }

    // The last failure's message. Only failures assign it; a success leaves it as it was.
    const std::string& ErrorText() const { return m_error; }

    // Bytes asked of each read. Large reads keep the system calls' share of the time
    // small; the buffer, one per thread, is what every caller's memory use relies on.
    static constexpr size_t kBlockSize = size_t(1) << 20;

private:
    using ReadFn = ssize_t (*)(int fd, void* buffer, size_t n);

    std::u16string Compute(const char* path);
    std::u16string HashLoop(int fd, ReadFn read, size_t block, unsigned char* buffer);
    std::u16string HashAhead(filesha1::ReadAhead& ahead);

    bool Stopped() const;

    std::string m_error;
    std::atomic<bool> m_stop{false};
    std::function<bool()> m_abort;
    bool m_regularOnly = false;
};
