// Saving the resource behind a URL into a file (avatars, thumbnails).
#include <optional>
#include <string>

#include "base/log.h"
#include "net/http_get.h"
#include "net/http_get_with.h"
#include "platform/atomic_file.h"
#include "platform/codepage.h"

namespace {

// Like a browser's download, a picture may live behind a few redirects to other hosts.
constexpr int kMaxRedirects = 5;

bool IsRedirect(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// Where a redirect sends the download: an "http://" or "https://" URL on any host, or a path
// on the current one. A download that went over TLS never steps down to plain HTTP; "file:"
// and the like are not the network's to name.
std::optional<std::string> RedirectUrl(const std::string& current, const std::string& location,
                                       bool secure) {
    if (location.size() > 8 && StartsWithNoCase(location, "https://"))
        return "https://" + location.substr(8);
    if (location.size() > 7 && StartsWithNoCase(location, "http://")) {
        if (!secure)
            return "http://" + location.substr(7);
        LogError(u"A redirect from https to plain http was refused: %s",
                 platform::FromNarrow(location).c_str());
        return std::nullopt;
    }
    if (!location.empty() && location[0] == '/' && location.compare(0, 2, "//") != 0) {
        const std::size_t scheme = current.find("://");
        const std::size_t slash = current.find('/', scheme == std::string::npos ? 0 : scheme + 3);
        return current.substr(0, slash) + location;
    }
    return std::nullopt;
}

} // namespace

bool DownloadOnce(const char* url, const std::u16string& path, const HttpTimings& timings) {
    try {
        HttpClient client(timings);
        HttpDeadline deadline(timings); // for the whole download, redirects included
        std::string current = url ? url : "";
        for (int hop = 0; hop <= kMaxRedirects; ++hop) {
            char host[256] = {};
            char urlPath[1024] = {};
            int port = 80;
            SplitHttpUrl(current.c_str(), port, urlPath, sizeof urlPath, host, sizeof host);
            const bool secure = UrlNeedsTls(current.c_str(), host, port);
            int target = client.OpenTarget(host, port, secure);
            if (target < 0)
                return false;
            client.Target(target)->followRedirects = false; // followed here, across hosts
            auto resp = client.SendRequest(target, "GET", urlPath, &deadline);
            client.CloseTarget(target);
            if (!resp || !resp->response)
                return false;
            if (resp->status == 200) {
                if (resp->response->incomplete)
                    return false;
                std::string_view body = resp->response->Body();
                // Written beside the file and renamed: a failure never leaves a half file.
                return platform::WriteFileAtomic(path, body.data(), body.size());
            }
            auto location = resp->response->GetHeaderValue("Location:");
            std::optional<std::string> next;
            if (IsRedirect(resp->status) && location)
                next = RedirectUrl(current, *location, secure);
            if (!next)
                return false;
            current = std::move(*next);
        }
        return false;
    } catch (...) {
        return false;
    }
}

void DownLoadUrlFileWith(const char16_t* url, const char16_t* path, const HttpTimings& timings) {
    if (!url || !path)
        return;
    std::string narrowUrl = platform::ToNarrow(url);
    std::u16string target(path);
    if (DownloadOnce(narrowUrl.c_str(), target, timings))
        return;
    if (DownloadOnce(narrowUrl.c_str(), target, timings))
        return;
    LogError(u"DownLoadUrlFile %s failed.", path);
}

void DownLoadUrlFile(const char16_t* url, const char16_t* path) {
    DownLoadUrlFileWith(url, path, DownloadTimings());
}
