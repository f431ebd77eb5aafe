#include "net/http_chunked.h"

#include <cstring>
#include <string_view>

#include "net/http_client.h"

std::uint64_t ParseChunkSize(const char* p, std::size_t len) {
    std::size_t i = 0;
    while (i < len && (p[i] == ' ' || p[i] == '\t'))
        ++i;
    std::uint64_t v = 0;
    for (int digits = 0; i < len && digits < 16; ++i, ++digits) {
        char ch = p[i];
        int d;
        if (ch >= '0' && ch <= '9')
            d = ch - '0';
        else if (ch >= 'a' && ch <= 'f')
            d = ch - 'a' + 10;
        else if (ch >= 'A' && ch <= 'F')
            d = ch - 'A' + 10;
        else
            break;
        v = v * 16 + static_cast<std::uint64_t>(d);
    }
    return v;
}

// Position of "\r\n" starting within the first `limit` bytes, or npos.
static std::size_t FindCrLf(const char* p, std::size_t n, std::size_t limit) {
    std::size_t end = n < limit ? n : limit;
    for (std::size_t i = 0; i + 1 < end; ++i)
        if (p[i] == '\r' && p[i + 1] == '\n')
            return i;
    return std::string_view::npos;
}

std::size_t ChunkTracker::Feed(const char* p, std::size_t n) {
    std::size_t i = 0;
    while (i < n) {
        switch (m_state) {
        case State::Done:
            return i;
        case State::NotChunked:
            return n;
        case State::Data: {
            std::size_t take = n - i;
            if (m_remaining < take)
                take = static_cast<std::size_t>(m_remaining);
            m_remaining -= take;
            i += take;
            if (m_remaining == 0) {
                m_state = State::DataEnd;
                m_skipped = 0;
            }
            break;
        }
        case State::DataEnd:
            // The line break that ends a chunk's data, whatever its two bytes are.
            ++i;
            if (++m_skipped == 2)
                m_state = State::SizeLine;
            break;
        case State::SizeLine: {
            std::size_t take = n - i;
            if (take > 10 - m_line.size())
                take = 10 - m_line.size();
            std::size_t before = m_line.size();
            m_line.append(p + i, take);
            std::size_t crlf = FindCrLf(m_line.data(), m_line.size(), 10);
            if (crlf == std::string_view::npos) {
                i += take;
                if (m_line.size() >= 10) {
                    m_state = State::NotChunked;
                    return n;
                }
                break;
            }
            i += crlf + 2 - before;
            std::uint64_t size = ParseChunkSize(m_line.data(), crlf);
            m_line.clear();
            if (size == 0) {
                m_state = State::Done;
                // The line break after the last chunk is taken when it is at hand, and not
                // waited for; a stray one is dropped in front of the next response.
                if (i < n && p[i] == '\r')
                    ++i;
                if (i < n && p[i] == '\n')
                    ++i;
                return i;
            }
            m_remaining = size;
            m_state = State::Data;
            break;
        }
        }
    }
    return i;
}

int DecodeChunkedBody(int event, HttpClient& client, int, HttpMessage*, HttpMessage* response) {
    if ((event != 2 && event != 8) || !response)
        return 0;
    auto te = response->GetHeaderValue("Transfer-Encoding:");
    if (!te || !StartsWithNoCase(*te, "chunked"))
        return 0;
    std::string_view raw = response->Body();
    HttpBodySink out(client.Timings().bodyMemoryLimit);
    bool made = false;
    std::size_t pos = 0;
    bool first = true;
    for (;;) {
        std::size_t rem = raw.size() - pos;
        if (!first) {
            if (rem < 3)
                break;
            pos += 2;
            rem -= 2;
        }
        std::size_t crlf = FindCrLf(raw.data() + pos, rem, 10);
        if (crlf == std::string_view::npos)
            return 0; // not decodable: the response stays as it came
        std::uint64_t size = ParseChunkSize(raw.data() + pos, crlf);
        made = true;
        std::size_t data = pos + crlf + 2;
        std::size_t avail = raw.size() - data;
        if (size >= avail) {
            out.Append(raw.data() + data, avail);
            break;
        }
        out.Append(raw.data() + data, static_cast<std::size_t>(size));
        pos = data + static_cast<std::size_t>(size);
        first = false;
        if (size == 0 || pos >= raw.size())
            break;
    }
    if (!made)
        return 0;
    std::size_t length = out.Size();
    if (!out.AttachTo(*response)) {
        // The decoded body could not be kept (disk full): nothing trustworthy remains.
        response->SetBody({});
        response->incomplete = true;
        length = 0;
    }
    response->RemoveHeaderLine("Transfer-Encoding: ");
    char line[64];
    std::snprintf(line, sizeof line, "Content-Length: %zu\r\n", length);
    response->AddHeaderLine(line);
    return 0;
}
