// Decodes arbitrary bytes as a chunked body, and checks the tracker that finds the end of a
// chunked body as it arrives against the same bytes split at a chosen point.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "net/http_chunked.h"
#include "net/http_client.h"

namespace {
HttpClient& Client() {
    static HttpClient* c = [] {
        HttpTimings t;
        t.bodyMemoryLimit = 256; // larger decoded bodies go through the file store
        return new HttpClient(t);
    }();
    return *c;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    std::size_t split = data[0] % (size + 1);
    const char* body = reinterpret_cast<const char*>(data + 1);
    std::size_t n = size - 1;
    if (split > n)
        split = n;

    ChunkTracker whole, parts;
    std::size_t a = whole.Feed(body, n);
    std::size_t b = parts.Feed(body, split);
    if (b == split && !parts.Complete() && !parts.GaveUp())
        b += parts.Feed(body + split, n - split);
    if (a > n || b > n)
        std::abort();
    // Where a body ends must not depend on how it was received, except for the line break
    // after the last chunk, which is not waited for.
    if (!whole.GaveUp() && !parts.GaveUp()) {
        if (whole.Complete() != parts.Complete() || b > a)
            std::abort();
        for (std::size_t i = b; i < a; ++i)
            if (body[i] != '\r' && body[i] != '\n')
                std::abort();
    }

    HttpMessage m;
    m.header = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    m.SetBody(std::string(body, n));
    DecodeChunkedBody(2, Client(), 0, nullptr, &m);
    if (m.BodyLength() > n)
        std::abort(); // decoding never grows a body
    return 0;
}
