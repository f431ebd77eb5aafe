#include "tests/service/service_client.h"

#include "base/md5.h"
#include "base/sha1.h"
#ifdef QUMO_TEST_HAVE_NET
#include "net/http_get.h"
#endif

#include <cstdio>
#include <random>

bool ApiGet(const ServiceProcess& svc, const std::string& target, Json::Value& out) {
#ifdef QUMO_TEST_HAVE_NET
    std::string body;
    std::string url = svc.ApiUrl(target);
    return HttpModuleGet(url.c_str(), body) && ParseJson(body, out);
#else
    return GetJson(svc.ApiPort(), target, out);
#endif
}

bool UpGet(const ServiceProcess& svc, const std::string& target, Json::Value& out) {
    return GetJson(svc.UploadPort(), target, out);
}

std::string Md5Of(const std::string& s) {
    return Md5Hex(s.data(), s.size());
}
std::string Sha1Of(const std::string& s) {
    return Sha1Hex(s.data(), s.size());
}

std::string RandomBytes(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (char& c : s)
        c = static_cast<char>(rng() & 0xFF);
    return s;
}

bool LogIn(const ServiceProcess& svc, const std::string& mobile, const std::string& password,
           Login& out) {
    Json::Value v;
    if (!ApiGet(svc, "/mobilelogin.json?mobile=" + mobile + "&pwd=" + Md5Of(password), v) ||
        v["status"].asInt() != 200)
        return false;
    out.uid = v["attachment"]["uid"].asString();
    out.token = v["attachment"]["token"].asString();
    return !out.uid.empty() && !out.token.empty();
}

std::string Auth(const Login& l) {
    return "uid=" + l.uid + "&token=" + l.token;
}

bool Announce(const ServiceProcess& svc, const Login& l, int64_t folder, const std::string& name,
              const std::string& sha1, size_t size, Json::Value& out) {
    return ApiGet(svc,
                  "/allinone.json?" + Auth(l) + "&sha1=" + sha1 +
                      "&folderid=" + std::to_string(folder) + "&filename=" + name +
                      "&suffix=png&size=" + std::to_string(size) +
                      "&upchannel=4&retry=0&client=pc&foldername=",
                  out);
}

std::string UpIds(const Login& l, const Json::Value& a) {
    return "uid=" + l.uid + "&mid=" + std::to_string(a["attachment"]["mid"].asInt()) +
           "&upid=" + std::to_string(a["attachment"]["upid"].asInt());
}

int64_t GetUploadByte(const ServiceProcess& svc, const Login& l, const Json::Value& a) {
    Json::Value v;
    if (!UpGet(svc, "/v2/getupload.json?" + UpIds(l, a) + "&upchannel=4&suffix=png&folderid=0",
               v) ||
        v["status"].asInt() != 200)
        return -1;
    return v["attachment"]["byte"].asInt64();
}

int64_t UploadWhole(const ServiceProcess& svc, const Login& l, int64_t folder,
                    const std::string& name, const std::string& bytes) {
    Json::Value a;
    std::string sha1 = Sha1Of(bytes);
    if (!Announce(svc, l, folder, name, sha1, bytes.size(), a) || a["status"].asInt() != 200) {
        std::fprintf(stderr, "UploadWhole: announcement failed: %s\n", a.toStyledString().c_str());
        return -1;
    }
    int st = a["attachment"]["status"].asInt();
    if (st == 1)
        return std::stoll(a["attachment"]["id"].asString());
    if (st != 0)
        return -1;
    int64_t start = GetUploadByte(svc, l, a);
    if (start < 0) {
        std::fprintf(stderr, "UploadWhole: getupload failed\n");
        return -1;
    }
    RawResponse r;
    if (!RawPost(svc.UploadPort(), "/v2/upload.json?" + UpIds(l, a) + "&upchannel=4&suffix=png",
                 bytes.substr(static_cast<size_t>(start)), r) ||
        r.status != 200) {
        std::fprintf(stderr, "UploadWhole: POST answered %d %s\n", r.status, r.body.c_str());
        return -1;
    }
    Json::Value over;
    if (!UpGet(svc,
               "/v2/uploadover.json?" + UpIds(l, a) +
                   "&upchannel=4&suffix=png&pname=&folderid=" + std::to_string(folder) +
                   "&sha1=" + sha1 + "&size=" + std::to_string(bytes.size()),
               over) ||
        over["status"].asInt() != 200) {
        std::fprintf(stderr, "UploadWhole: uploadover failed: %s\n", over.toStyledString().c_str());
        return -1;
    }
    return std::stoll(over["attachment"]["id"].asString());
}

Json::Value EntryOf(const ServiceProcess& svc, const Login& l, int64_t folder, int64_t id) {
    Json::Value v;
    if (!ApiGet(svc,
                "/getfilesforpc.json?" + Auth(l) + "&mid=" + std::to_string(id - 1) +
                    "&folderid=" + std::to_string(folder) + "&num=1",
                v))
        return Json::Value();
    const Json::Value& e = v["attachment"]["filelist"][0];
    return e["id"].asString() == std::to_string(id) ? e : Json::Value();
}

std::string Fetch(const ServiceProcess& svc, const std::string& url) {
    const std::string prefix = "http://" + svc.ApiHost();
    RawResponse r;
    if (url.rfind(prefix, 0) != 0 || !RawGet(svc.ApiPort(), url.substr(prefix.size()), r))
        return "<no answer>";
    return r.status == 200 ? r.body : "<status " + std::to_string(r.status) + ">";
}

int64_t UsedBytes(const ServiceProcess& svc, const Login& l) {
    Json::Value v;
    if (!ApiGet(svc, "/getspace.json?" + Auth(l), v) || v["status"].asInt() != 200)
        return -1;
    return v["attachment"]["usedbytes"].asInt64();
}
