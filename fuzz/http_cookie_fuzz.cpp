// Stores arbitrary Set-Cookie lines and asks for the Cookie header of several hosts.
#include <cstddef>
#include <cstdint>
#include <string>

#include "net/http_cookies.h"
#include "net/http_message.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    HttpCookieJar jar;
    jar.SetClock([] { return std::int64_t{1700000000}; });
    HttpMessage m;
    m.header = "HTTP/1.1 200 OK\r\n";
    std::size_t pos = 0;
    while (pos <= text.size()) {
        std::size_t nl = text.find('\n', pos);
        if (nl == std::string::npos)
            nl = text.size();
        m.header += "Set-Cookie: " + text.substr(pos, nl - pos) + "\r\n";
        pos = nl + 1;
    }
    m.header += "\r\n";
    jar.StoreCookies(m, "/a/", "www.example.test");
    jar.StoreCookies(m, "/", "10.0.0.1");
    for (const char* host : {"www.example.test", "x.example.test", "10.0.0.1", "example.test", ""})
        for (const char* dir : {"/", "/a/", "/a/b/"})
            jar.CookieHeaderFor(host, dir, false);
    return 0;
}
