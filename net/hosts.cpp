#include "net/hosts.h"

#include <mutex>

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

struct Table {
    std::mutex lock;
    std::string api = QUMO_API_HOST;
    std::string update = QUMO_UPDATE_HOST;
    std::string website = QUMO_WEBSITE_HOST;
    std::string partner = QUMO_PARTNER_LOGIN_HOST;
    std::string picture = QUMO_PICTURE_HOST;
    std::string video = QUMO_VIDEO_THUMB_HOST;
};

Table& T() {
    static Table t;
    return t;
}

std::string Get(std::string Table::*m) {
    std::lock_guard<std::mutex> g(T().lock);
    return T().*m;
}

void Put(std::string Table::*m, const std::string& v) {
    std::lock_guard<std::mutex> g(T().lock);
    T().*m = v;
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
    T().api = host;
    T().update = host;
    T().picture = host;
    T().video = host;
}

} // namespace hosts
