#include "base/file_sha1_reader.h"

#include <cerrno>
#include <system_error>

namespace filesha1 {

ssize_t ReadSome(ReadFn read, int fd, unsigned char* buffer, size_t n) {
    for (;;) {
        ssize_t got = read(fd, buffer, n);
        if (got >= 0 || errno != EINTR)
            return got;
    }
}

ReadAhead::ReadAhead(int fd, ReadFn read, unsigned char* buffers, size_t stride,
                     size_t chunk) noexcept
    : m_fd(fd), m_read(read), m_buffers(buffers), m_stride(stride), m_chunk(chunk) {}

ReadAhead::~ReadAhead() {
    Stop();
}

bool ReadAhead::Start() noexcept {
    try {
        m_thread = std::thread([this] { Run(); });
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

void ReadAhead::Run() noexcept {
    uint32_t filled = 0;
    for (;;) {
        if (m_quit.load(std::memory_order_acquire))
            return;
        if (filled - m_freed.load(std::memory_order_acquire) == kSlots) {
            // Ring full: sleep until kWake slots are free. The store of the wanted value
            // and the consumer's store of m_freed are both sequentially consistent, so
            // either the check below sees the freed slots or the consumer sees the wish.
            uint32_t want = filled - kSlots + kWake;
            m_wakeAt.store(want, std::memory_order_seq_cst);
            for (;;) {
                uint32_t freed = m_freed.load(std::memory_order_seq_cst);
                if (freed - (filled - kSlots) >= kWake || m_quit.load(std::memory_order_seq_cst))
                    break;
                m_freed.wait(freed, std::memory_order_seq_cst);
            }
            continue;
        }
        unsigned char* buffer = Slot(filled);
        ssize_t got = ReadSome(m_read, m_fd, buffer, m_chunk);
        ++m_reads;
        m_result[filled % kSlots] = got < 0 ? -1 : got;
        ++filled;
        m_filled.store(filled, std::memory_order_release);
        m_filled.notify_one();
        if (got <= 0)
            return;
    }
}

ssize_t ReadAhead::Next(const unsigned char** data) noexcept {
    for (;;) {
        uint32_t filled = m_filled.load(std::memory_order_acquire);
        if (filled != m_taken)
            break;
        m_filled.wait(filled, std::memory_order_acquire);
    }
    *data = Slot(m_taken);
    return m_result[m_taken % kSlots];
}

void ReadAhead::Done() noexcept {
    ++m_taken;
    m_freed.store(m_taken, std::memory_order_seq_cst);
    if (m_wakeAt.load(std::memory_order_seq_cst) == m_taken)
        m_freed.notify_one();
}

void ReadAhead::Stop() noexcept {
    if (!m_thread.joinable())
        return;
    m_quit.store(true, std::memory_order_seq_cst);
    // Any change of m_freed ends the reader's wait; it then sees the quit flag.
    m_freed.fetch_add(1, std::memory_order_seq_cst);
    m_freed.notify_one();
    m_thread.join();
}

} // namespace filesha1
