#include "net/hosts.h"

#include <mutex>
#include <vector>

#include "net/http_message.h"
#include "net/net_link.h"

#ifndef QUMO_API_HOST
#define QUMO_API_HOST "127.0.0.1:8410"
#endif
#ifndef QUMO_UPDATE_HOST
#define QUMO_UPDATE_HOST "127.0.0.1:8410"
#endif
#ifndef QUMO_WEBSITE_HOST
#define QUMO_WEBSITE_HOST "www.qumo.localhost:8410"
#endif
#ifndef QUMO_PARTNER_LOGIN_HOST
#define QUMO_PARTNER_LOGIN_HOST "open.qumo.localhost:8410"
#endif
#ifndef QUMO_PICTURE_HOST
#define QUMO_PICTURE_HOST "127.0.0.1:8410"
#endif
#ifndef QUMO_VIDEO_THUMB_HOST
#define QUMO_VIDEO_THUMB_HOST "127.0.0.1:8410"
#endif

namespace hosts {
namespace {

struct Host {
    std::string name; // "name" or "name:port"
    bool secure = false;

    // "name:port" with the port the scheme implies when none is given.
    std::string Origin() const {
        return name.find(':') == std::string::npos ? name + (secure ? ":443" : ":80") : name;
    }
    std::string Base() const { return (secure ? "https://" : "http://") + name; }
};

Host Parse(const std::string& text) {
    Host h;
    if (StartsWithNoCase(text, "https://")) {
        h.secure = true;
        h.name = text.substr(8);
    } else if (StartsWithNoCase(text, "http://")) {
        h.name = text.substr(7);
    } else {
        h.name = text;
    }
    const std::size_t slash = h.name.find('/');
    if (slash != std::string::npos)
        h.name.resize(slash);
    return h;
}

void PublishPolicy(struct Table& t);

struct Table {
    Table() { PublishPolicy(*this); } // build defaults may be https
    std::mutex lock;
    Host api = Parse(QUMO_API_HOST);
    Host update = Parse(QUMO_UPDATE_HOST);
    Host website = Parse(QUMO_WEBSITE_HOST);
    Host partner = Parse(QUMO_PARTNER_LOGIN_HOST);
    Host picture = Parse(QUMO_PICTURE_HOST);
    Host video = Parse(QUMO_VIDEO_THUMB_HOST);
};

Table& T() {
    static Table t;
    return t;
}

// Tells the connection layer which hosts must be reached over TLS. Needs the table lock.
void PublishPolicy(Table& t) {
    std::vector<std::string> secure, plain;
    for (const Host* h : {&t.api, &t.update, &t.website, &t.partner, &t.picture, &t.video})
        (h->secure ? secure : plain).push_back(h->Origin());
    net::SetTlsPolicy(std::move(secure), std::move(plain), t.api.secure);
}

std::string Get(Host Table::*m) {
    std::lock_guard<std::mutex> g(T().lock);
    return (T().*m).name;
}

std::string GetBase(Host Table::*m) {
    std::lock_guard<std::mutex> g(T().lock);
    return (T().*m).Base();
}

void Put(Host Table::*m, const std::string& v) {
    std::lock_guard<std::mutex> g(T().lock);
    T().*m = Parse(v);
    PublishPolicy(T());
}

} // namespace

std::string Api() {
    return Get(&Table::api);
}
std::string Update() {
    return Get(&Table::update);
}
std::string Website() {
    return Get(&Table::website);
}
std::string PartnerLogin() {
    return Get(&Table::partner);
}
std::string Picture() {
    return Get(&Table::picture);
}
std::string VideoThumb() {
    return Get(&Table::video);
}

std::string ApiBase() {
    return GetBase(&Table::api);
}
std::string UpdateBase() {
    return GetBase(&Table::update);
}
std::string WebsiteBase() {
    return GetBase(&Table::website);
}
std::string PartnerLoginBase() {
    return GetBase(&Table::partner);
}
std::string PictureBase() {
    return GetBase(&Table::picture);
}
std::string VideoThumbBase() {
    return GetBase(&Table::video);
}

void SetApi(const std::string& host) {
    Put(&Table::api, host);
}
void SetUpdate(const std::string& host) {
    Put(&Table::update, host);
}
void SetWebsite(const std::string& host) {
    Put(&Table::website, host);
}
void SetPartnerLogin(const std::string& host) {
    Put(&Table::partner, host);
}
void SetPicture(const std::string& host) {
    Put(&Table::picture, host);
}
void SetVideoThumb(const std::string& host) {
    Put(&Table::video, host);
}

void SetAllServiceHosts(const std::string& host) {
    std::lock_guard<std::mutex> g(T().lock);
    const Host h = Parse(host);
    T().api = h;
    T().update = h;
    T().picture = h;
    T().video = h;
    PublishPolicy(T());
}

} // namespace hosts
