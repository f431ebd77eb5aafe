// Helpers shared by the routes of the API listener.
#pragma once

#include "service/json_out.h"
#include "service/service.h"

#include <httplib.h>

#include <cstdint>
#include <optional>
#include <string>

namespace qumo_service {

// Envelope statuses beside 200 and 405 (the client treats every other value as a failure).
enum ApiStatus {
    kBadParameter = 400,
    kBadToken = 401,
    kNotFound = 404,
    kRefused = 405,
    kMismatch = 409,
    kIncomplete = 412,
    kTooLarge = 413,
    kBusy = 423,
    kTooManyTries = 429,
    kServerError = 500,
};

// True while the fault "answer API calls with chunked bodies" is on.
bool ChunkedAnswers();

// An API answer: with Content-Length, or in two chunks while the chunked fault is on.
void SendJson(httplib::Response& res, const std::string& body);

inline void SendError(httplib::Response& res, int status, const std::string& message) {
    SendJson(res, Envelope(status, message, "{}"));
}

// A strict decimal (optional sign, digits only, in range); false when absent or malformed.
bool ParseDecimal(const std::string& s, int64_t lo, int64_t hi, int64_t& out);
bool ParamInt(const httplib::Request& req, const char* name, int64_t lo, int64_t hi, int64_t& out);

// Checks "uid" and "token"; answers the error itself and returns nothing when they fail.
std::optional<int64_t> CheckToken(ServiceContext& ctx, const httplib::Request& req,
                                  httplib::Response& res);

// File names from clients: UTF-8, 1..255 bytes, no path separators or control characters.
bool IsSafeName(const std::string& name);
// Media type of a suffix: 200 for the video extensions, 1 for everything else.
int TypeOfSuffix(const std::string& suffix);
std::string LowerAscii(std::string s);

void AddAccountRoutes(httplib::Server& svr, ServiceContext& ctx);
void AddFileRoutes(httplib::Server& svr, ServiceContext& ctx);
void AddAnnounceRoute(httplib::Server& svr, ServiceContext& ctx);
void AddMediaRoutes(httplib::Server& svr, ServiceContext& ctx);
void AddPageRoutes(httplib::Server& svr, ServiceContext& ctx);
void AddPartnerRoutes(httplib::Server& svr, ServiceContext& ctx);
void AddAdminRoutes(httplib::Server& svr, ServiceContext& ctx);
// True when the request carries the admin secret (and the admin calls are on).
bool AdminAllowed(const ServiceContext& ctx, const httplib::Request& req);

// The file list entry of a stored file, as the listing and tests see it.
std::string FileEntryJson(const ServiceContext& ctx, const FileRow& f);

// Seeds the demo account once (demo_seed.cpp); false on a storage failure.
bool SeedDemo(ServiceContext& ctx, std::string& err);

} // namespace qumo_service
