// Composing requests, dispatching them onto connections, redirects and cookies.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "base/log.h"
#include "net/http_client.h"
#include "platform/codepage.h"

std::string PathDirectory(std::string_view path) {
    std::size_t stop = path.find_first_of("&;?");
    std::string_view head = path.substr(0, stop);
    std::size_t slash = head.rfind('/');
    if (slash == std::string_view::npos)
        return {};
    return std::string(path.substr(0, slash + 1));
}

namespace {

// Appends one formatted header line; like every line it is cut at 8191 bytes.
void AppendLine(std::string& out, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
void AppendLine(std::string& out, const char* fmt, ...) {
    char line[8192];
    va_list ap;
    va_start(ap, fmt);
    int n = std::vsnprintf(line, sizeof line, fmt, ap);
    va_end(ap);
    if (n < 0)
        return;
    out.append(line, static_cast<std::size_t>(n) < sizeof line ? static_cast<std::size_t>(n)
                                                               : sizeof line - 1);
}

// The redirect path a Location value allows on the same target, or none. A secure target
// follows only "https://" to its own host: a step down to plain HTTP is never taken.
std::optional<std::string> RedirectPath(const std::string& location, const std::string& host,
                                        bool secure) {
    if (!location.empty() && location[0] == '/')
        return location;
    const std::size_t skip = secure ? 8 : 7;
    const bool scheme = secure ? StartsWithNoCase(location, "https://")
                               : (location.size() > 7 &&
                                  (location[0] == 'h' || location[0] == 'H') && location[4] == ':');
    if (location.size() > skip && scheme && location.compare(skip, host.size(), host) == 0) {
        std::size_t slash = location.find('/', skip);
        return slash == std::string::npos ? std::string("/") : location.substr(slash);
    }
    if (secure && StartsWithNoCase(location, "http://"))
        LogError(u"A redirect from https to plain http was refused: %s",
                 platform::FromNarrow(location).c_str());
    return std::nullopt;
}

} // namespace

std::unique_ptr<HttpMessage> HttpClient::BuildRequest(int index, const char* method,
                                                      const char* path) {
    if (!path || path[0] != '/' || !method)
        return nullptr;
    HttpTarget* t = Target(index);
    if (!t)
        return nullptr;
    auto m = std::make_unique<HttpMessage>();
    std::string& h = m->header;
    AppendLine(h, "%s %s HTTP/1.%i\r\n", method, path, t->minorVersion);
    AppendLine(h, "Host: %s\r\n", t->hostName.c_str());
    AppendLine(h, "User-Agent: %s\r\n", m_userAgent.c_str());
    if (t->cookiesEnabled) {
        auto cookies =
            m_cookies.CookieHeaderFor(t->hostName.c_str(), PathDirectory(path).c_str(), t->secure);
        if (cookies)
            AppendLine(h, "Cookie: %s\r\n", cookies->c_str());
    }
    h += "Connection: Keep-Alive\r\n\r\n";
    return m;
}

std::unique_ptr<HttpMessage> HttpClient::DispatchHTTPRequest(int index, HttpMessage& request,
                                                             HttpDeadline* deadline) {
    HttpDeadline own(m_timings);
    HttpDeadline& within = deadline ? *deadline : own;
    try {
        HttpTarget* t = Target(index);
        if (!t)
            return nullptr;
        if (RunHooks(1, index, &request, nullptr) & 2)
            return nullptr;
        Acquired a = AcquireConnection(*t, request, within);
        if (!a.conn)
            return nullptr;
        if (!WaitForTicket(*a.conn, a.ticket, request, within))
            return nullptr;
        auto response = ReadResponse(*a.conn, request, within);
        if (response && (RunHooks(2, index, &request, response.get()) & 2))
            return nullptr;
        return response;
    } catch (...) {
        // The request may still be queued; its sender is about to destroy it.
        ForgetRequest(request);
        std::fputs("#FATAL# ::DispatchHTTPRequest exception catch()\n", stdout);
        return nullptr;
    }
}

std::unique_ptr<HttpResponse> HttpClient::SendRequest(int index, const char* method,
                                                      const char* path, HttpDeadline* deadline) {
    HttpDeadline own(m_timings);
    if (!deadline)
        deadline = &own; // redirects share it
    HttpTarget* t = Target(index);
    if (!t)
        return nullptr;
    auto request = BuildRequest(index, method, path);
    if (!request)
        return nullptr;
    auto raw = DispatchHTTPRequest(index, *request, deadline);
    if (!raw)
        return nullptr;
    auto resp = std::make_unique<HttpResponse>();
    resp->status = ParseStatus(raw->header);
    resp->request = std::move(request);
    resp->response = std::move(raw);

    if (t->cookiesEnabled) {
        const std::string& h = resp->request->header;
        std::size_t a = h.find(' ');
        std::size_t b = a == std::string::npos ? a : h.find(' ', a + 1);
        std::string uri = b == std::string::npos ? std::string() : h.substr(a + 1, b - a - 1);
        m_cookies.StoreCookies(*resp->response, PathDirectory(uri).c_str(), t->hostName.c_str());
    }

    int s = resp->status;
    if (t->followRedirects && (s == 301 || s == 302 || s == 303) && t->redirectBudget != 0) {
        --t->redirectBudget;
        auto host = resp->request->GetHeaderValue("Host:");
        auto location = resp->response->GetHeaderValue("Location:");
        std::optional<std::string> next;
        if (host && location)
            next = RedirectPath(*location, *host, t->secure);
        if (next) {
            auto followed = SendRequest(index, "GET", next->c_str(), deadline);
            if (followed)
                resp = std::move(followed);
        }
    }
    t->redirectBudget = 2;
    return resp;
}
