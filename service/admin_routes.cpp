// The admin calls of tests and benchmarks (--admin): every call needs the secret printed at
// start in the header "X-Qumo-Admin"; calls that change something are POSTs only.
#include "service/api_common.h"
#include "service/secrets.h"

namespace qumo_service {

bool AdminAllowed(const ServiceContext& ctx, const httplib::Request& req) {
    return !ctx.adminSecret.empty() &&
           SameSecret(req.get_header_value("X-Qumo-Admin"), ctx.adminSecret);
}

void AddAdminRoutes(httplib::Server& svr, ServiceContext& ctx) {
    // Changes faults: /admin/faults?fail_next=2&chunked=1 ...; answers the settings in force.
    svr.Post("/admin/faults", [&ctx](const httplib::Request& q, httplib::Response& r) {
        for (const auto& [key, value] : q.params) {
            std::string err;
            if (!ctx.faults.Set(key, value, err)) {
                SendError(r, kBadParameter, err);
                return;
            }
        }
        SendJson(r, Ok(ctx.faults.Json()));
    });
    auto counters = [&ctx](const httplib::Request&, httplib::Response& r) {
        SendJson(r, Ok(ctx.counters.Json()));
    };
    svr.Get("/admin/counters", counters);
    svr.Post("/admin/counters", counters);
    // The API calls received so far, in order: {"requests":[{"target":"/x.json?..."}]}.
    auto requests = [&ctx](const httplib::Request&, httplib::Response& r) {
        SendJson(r, Ok(ctx.RequestsJson()));
    };
    svr.Get("/admin/requests", requests);
    svr.Post("/admin/requests", requests);
    // Sets an account's total space: /admin/space?mobile=...&mb=N.
    svr.Post("/admin/space", [&ctx](const httplib::Request& q, httplib::Response& r) {
        int64_t mb = 0;
        std::optional<Account> a = ctx.db.AccountByMobile(q.get_param_value("mobile"));
        if (!a || !ParamInt(q, "mb", 0, INT64_MAX >> 21, mb) || !ctx.db.SetTotalSpace(a->uid, mb)) {
            SendError(r, kBadParameter, "unknown account or bad mb");
            return;
        }
        JsonObject o;
        o.Str("uid", std::to_string(a->uid)).Int("totalspace", mb);
        SendJson(r, Ok(o.Done()));
    });
    // A change asked for with GET (a link on any web page can make a browser do that).
    for (const char* path : {"/admin/faults", "/admin/space"}) {
        svr.Get(path, [](const httplib::Request&, httplib::Response& r) {
            r.status = 405;
            r.set_header("Allow", "POST");
            r.set_content("use POST", "text/plain");
        });
    }
}

} // namespace qumo_service
