// Feeds arbitrary bytes as the server's side of a connection: the whole request path runs
// (reading, chunk tracking and decoding, cookies, redirects, the resend rule) over socket
// pairs whose far end holds the input and is then shut for writing.
#include <cstddef>
#include <cstdint>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "net/http_client.h"
#include "platform/socket.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A socket pair buffers a few hundred KiB; larger inputs are not more interesting.
    if (size > 60000)
        return 0;
    std::vector<int> peers;
    HttpTimings t;
    t.readTimeoutMs = 50;
    t.connectTimeoutMs = 50;
    t.ticketPollMs = 1;
    t.bodyMemoryLimit = (size & 1) ? 64 : 65536; // both body stores
    t.headerLimit = 4096;
    {
        HttpClient client(t);
        int connects = 0;
        client.SetConnector([&](std::uint32_t, std::uint16_t, int) {
            int sv[2];
            if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0)
                return -1;
            platform::PrepareSocket(sv[0]);
            // The first connection answers with the input; later ones (redirects, resends)
            // with its second half, so pipelined leftovers meet fresh connections too.
            const std::uint8_t* p = connects == 0 ? data : data + size / 2;
            std::size_t n = connects == 0 ? size : size - size / 2;
            ++connects;
            if (n && write(sv[1], p, n) < 0) {
            }
            shutdown(sv[1], SHUT_WR);
            peers.push_back(sv[1]);
            return sv[0];
        });
        int target = client.OpenTarget("127.0.0.1", 80, false);
        for (int i = 0; i < 2; ++i) {
            auto r = client.SendRequest(target, "GET", "/dir/page?x=1");
            if (r && r->response) {
                volatile std::size_t sum = 0;
                auto b = r->response->Body();
                for (char ch : b)
                    sum = sum + static_cast<unsigned char>(ch);
                (void)sum;
            }
        }
    }
    for (int fd : peers)
        close(fd);
    return 0;
}
