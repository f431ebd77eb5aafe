// Saving the resource behind a URL into a file (avatars, thumbnails).
#include <string>

#include "base/log.h"
#include "net/http_get.h"
#include "net/http_get_with.h"
#include "platform/atomic_file.h"
#include "platform/codepage.h"

bool DownloadOnce(const char* url, const std::u16string& path, const HttpTimings& timings) {
    try {
        char host[256] = {};
        char urlPath[1024] = {};
        int port = 80;
        SplitHttpUrl(url, port, urlPath, sizeof urlPath, host, sizeof host);
        HttpClient client(timings);
        int target = client.OpenTarget(host, port, false);
        if (target < 0)
            return false;
        auto resp = client.SendRequest(target, "GET", urlPath);
        bool ok = false;
        if (resp && resp->status == 200 && resp->response && !resp->response->incomplete) {
            std::string_view body = resp->response->Body();
            // Written beside the file and renamed: a failure never leaves a half file.
            ok = platform::WriteFileAtomic(path, body.data(), body.size());
        }
        resp.reset();
        client.CloseTarget(target);
        return ok;
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
    DownLoadUrlFileWith(url, path, HttpTimings());
}
