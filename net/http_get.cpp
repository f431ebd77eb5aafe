#include "net/http_get.h"

#include <cstdlib>
#include <cstring>

#include "net/http_client.h"
#include "net/http_get_with.h"

namespace {

// Copies at most cap - 1 bytes and terminates.
void CopyCut(char* dst, std::size_t cap, const char* src, std::size_t len) {
    if (cap == 0)
        return;
    if (len > cap - 1)
        len = cap - 1;
    std::memcpy(dst, src, len);
    dst[len] = '\0';
}

// The decimal number at the start of `text` (like atoi, but never overflowing).
int ReadPort(const char* text) {
    while (*text == ' ' || *text == '\t')
        ++text;
    bool neg = *text == '-';
    if (*text == '-' || *text == '+')
        ++text;
    long v = 0;
    while (*text >= '0' && *text <= '9' && v < 100000000) {
        v = v * 10 + (*text - '0');
        ++text;
    }
    return static_cast<int>(neg ? -v : v);
}

} // namespace

bool UrlIsHttps(const char* url) {
    return url && StartsWithNoCase(url, "https://");
}

bool UrlNeedsTls(const char* url, const char* host, int port) {
    return UrlIsHttps(url) || net::MustUseTls(host ? host : "", port);
}

void SplitHttpUrl(const char* url, int& port, char* path, std::size_t pathCap, char* host,
                  std::size_t hostCap) {
    if (!url || (!std::strstr(url, "http://") && !std::strstr(url, "https://") &&
                 !std::strstr(url, "file://")))
        return;
    const char* start = std::strstr(url, "//");
    start = start ? start + 2 : url;
    const char* slash = std::strchr(start, '/');
    std::size_t partLen = slash ? static_cast<std::size_t>(slash - start) : std::strlen(start);
    const char* colon = static_cast<const char*>(std::memchr(start, ':', partLen));
    if (colon) {
        CopyCut(host, hostCap, start, static_cast<std::size_t>(colon - start));
        std::string portText(colon + 1, start + partLen);
        port = ReadPort(portText.c_str());
    } else {
        CopyCut(host, hostCap, start, partLen);
        port = UrlIsHttps(url) ? 443 : 80;
    }
    if (slash)
        CopyCut(path, pathCap, slash, std::strlen(slash));
    else
        CopyCut(path, pathCap, "/", 1);
}

void SplitHostPort(char* dest, std::size_t destCap, const char* text, int& port) {
    if (!dest || !text || destCap == 0)
        return;
    const char* colon = std::strchr(text, ':');
    if (colon) {
        std::size_t len = static_cast<std::size_t>(colon - text);
        std::memcpy(dest, text, len < destCap - 1 ? len : destCap - 1);
        port = ReadPort(colon + 1);
    } else {
        CopyCut(dest, destCap, text, std::strlen(text));
    }
}

bool HttpGetWith(const char* url, std::string& body, const HttpTimings& timings, int* httpStatus) {
    if (httpStatus != nullptr)
        *httpStatus = 0;
    try {
        char host[256] = {};
        char path[1024] = {};
        int port = 80;
        SplitHttpUrl(url, port, path, sizeof path, host, sizeof host);
        net::ClearTlsFailure();
        HttpClient client(timings);
        int target = client.OpenTarget(host, port, UrlNeedsTls(url, host, port));
        if (target < 0)
            return false;
        bool ok = false;
        auto resp = client.SendRequest(target, "GET", path);
        if (httpStatus != nullptr && resp && resp->response && !resp->response->incomplete)
            *httpStatus = resp->status;
        if (resp && resp->status == 200 && resp->response && !resp->response->incomplete) {
            std::string_view b = resp->response->Body();
            std::size_t zero = b.find('\0');
            std::string text(b.data(), zero == std::string_view::npos ? b.size() : zero);
            body.swap(text);
            ok = true;
        }
        resp.reset();
        client.CloseTarget(target);
        return ok;
    } catch (...) {
        return false; // out of memory or threads: a failed call like any other
    }
}

bool HttpModuleGet(const char* url, std::string& body) {
    return HttpGetWith(url, body, HttpTimings());
}

bool HttpModuleGet(const char* url, std::string& body, int& httpStatus) {
    return HttpGetWith(url, body, HttpTimings(), &httpStatus);
}
