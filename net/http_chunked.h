// Finding the end of a chunked body while it arrives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Reads the leading hexadecimal digits of a chunk-size line (spaces before them skipped);
// 0 when there are none.
std::uint64_t ParseChunkSize(const char* p, std::size_t len);

// Follows the chunk structure of a body as it arrives, only to learn where it ends: every
// byte up to that end belongs to the body (decoded later), bytes after it to the next
// response. A size line must show its CR LF within its first 10 bytes; otherwise the body
// is taken as not chunked any more and ends only when the connection does.
class ChunkTracker {
public:
    // How many of the `n` bytes belong to the body (all of them unless it ended here).
    std::size_t Feed(const char* p, std::size_t n);
    bool Complete() const { return m_state == State::Done; }
    bool GaveUp() const { return m_state == State::NotChunked; }

private:
    enum class State { SizeLine, Data, DataEnd, Done, NotChunked };
    State m_state = State::SizeLine;
    std::string m_line;
    std::uint64_t m_remaining = 0;
    int m_skipped = 0;
};
