// What the service tests do as a client: API calls, logins and whole uploads.
#pragma once

#include "tests/0support/raw_http.h"
#include "tests/0support/service_process.h"

#include <cstdint>
#include <string>

struct Login {
    std::string uid, token;
};

// GET of an API call on the API listener, through the project's HttpModuleGet when it is
// built; false unless the answer was HTTP 200 with a JSON body.
bool ApiGet(const ServiceProcess& svc, const std::string& target, Json::Value& out);
// GET on the upload listener.
bool UpGet(const ServiceProcess& svc, const std::string& target, Json::Value& out);

std::string Md5Of(const std::string& s);
std::string Sha1Of(const std::string& s);
std::string RandomBytes(size_t n, uint32_t seed);

bool LogIn(const ServiceProcess& svc, const std::string& mobile, const std::string& password,
           Login& out);
std::string Auth(const Login& l); // "uid=..&token=.."

// The announcement; the answer in `out`.
bool Announce(const ServiceProcess& svc, const Login& l, int64_t folder, const std::string& name,
              const std::string& sha1, size_t size, Json::Value& out);
// "uid=..&mid=..&upid=.." for the upload calls.
std::string UpIds(const Login& l, const Json::Value& announce);
int64_t GetUploadByte(const ServiceProcess& svc, const Login& l, const Json::Value& announce);
// Announces, sends and confirms a whole file; its file id, or -1.
int64_t UploadWhole(const ServiceProcess& svc, const Login& l, int64_t folder,
                    const std::string& name, const std::string& bytes);
// The listing entry of file `id` in `folder` (file ids follow one sequence, so it is the
// first entry after id - 1); a null value when absent.
Json::Value EntryOf(const ServiceProcess& svc, const Login& l, int64_t folder, int64_t id);
// GET of an absolute address the service named ("http://127.0.0.1:port/..."); the body, or
// "<status N>" when the answer was not 200.
std::string Fetch(const ServiceProcess& svc, const std::string& url);
// Account's used bytes from getspace; -1 on failure.
int64_t UsedBytes(const ServiceProcess& svc, const Login& l);
