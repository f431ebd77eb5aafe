#include "service/service.h"

#include "service/api_common.h"
#include "service/upload_server.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace qumo_service {

namespace {

bool IsApiCall(const std::string& path) {
    return path.size() > 5 && path.compare(path.size() - 5, 5, ".json") == 0;
}

bool IsAdmin(const std::string& path) {
    return path.rfind("/admin/", 0) == 0;
}

std::atomic<const Faults*> g_faults{nullptr};

bool IsIpAddress(const std::string& host) {
    for (char c : host)
        if (!((c >= '0' && c <= '9') || c == '.'))
            return false;
    return !host.empty();
}

} // namespace

bool ChunkedAnswers() {
    const Faults* f = g_faults.load();
    return f && f->Chunked();
}

void SendJson(httplib::Response& res, const std::string& body) {
    const char* type = "application/json; charset=utf-8";
    if (!ChunkedAnswers()) {
        res.set_content(body, type);
        return;
    }
    res.set_chunked_content_provider(type, [body](size_t offset, httplib::DataSink& sink) {
        // Two chunks, so a reader really has to join them.
        size_t half = (body.size() + 1) / 2;
        size_t end = offset < half ? half : body.size();
        if (offset < end && !sink.write(body.data() + offset, end - offset))
            return false;
        if (end >= body.size())
            sink.done();
        return true;
    });
}

std::string ServiceContext::SiteHost() const {
    return opts.siteHost.empty() ? "www.qumo.localhost:" + std::to_string(apiPort) : opts.siteHost;
}

std::string ServiceContext::PartnerHost() const {
    std::string site = SiteHost();
    size_t dot = site.find('.');
    return dot == std::string::npos ? site : "open" + site.substr(dot);
}

std::string ServiceContext::CookieDomain() const {
    std::string host = SiteHost();
    host = host.substr(0, host.find(':'));
    size_t dot = host.find('.');
    // An address or a one-label name has no bare domain: the cookie stays host-only.
    if (IsIpAddress(host) || dot == std::string::npos)
        return std::string();
    return host.substr(dot + 1);
}

std::string ServiceContext::HeadfaceUrl(int64_t uid) const {
    return "http://" + ApiHost() + "/avatar/" + std::to_string(uid) + ".png";
}

bool ServiceContext::TryLockUpload(int64_t upid) {
    std::lock_guard<std::mutex> lock(busyMu_);
    return busy_.insert(upid).second;
}

void ServiceContext::UnlockUpload(int64_t upid) {
    std::lock_guard<std::mutex> lock(busyMu_);
    busy_.erase(upid);
}

void ServiceContext::RecordRequest(const std::string& target) {
    // Bounded, so a long-running service does not grow without end.
    constexpr size_t kKept = 1000;
    std::lock_guard<std::mutex> lock(requestsMu_);
    if (requests_.size() >= kKept)
        requests_.pop_front();
    requests_.push_back(target);
}

std::string ServiceContext::RequestsJson() {
    std::lock_guard<std::mutex> lock(requestsMu_);
    std::string list = "[";
    for (const std::string& t : requests_) {
        if (list.size() > 1)
            list += ',';
        list += JsonObject().Str("target", t).Done();
    }
    return JsonObject().Raw("requests", list + "]").Done();
}

void AddAdminRoutes(httplib::Server& svr, ServiceContext& ctx) {
    // Changes faults: /admin/faults?fail_next=2&chunked=1 ...; answers the settings in force.
    svr.Get("/admin/faults", [&ctx](const httplib::Request& q, httplib::Response& r) {
        for (const auto& [key, value] : q.params) {
            std::string err;
            if (!ctx.faults.Set(key, value, err)) {
                SendError(r, kBadParameter, err);
                return;
            }
        }
        SendJson(r, Ok(ctx.faults.Json()));
    });
    svr.Get("/admin/counters", [&ctx](const httplib::Request&, httplib::Response& r) {
        SendJson(r, Ok(ctx.counters.Json()));
    });
    // The API calls received so far, in order: {"requests":[{"target":"/x.json?..."}]}.
    svr.Get("/admin/requests", [&ctx](const httplib::Request&, httplib::Response& r) {
        SendJson(r, Ok(ctx.RequestsJson()));
    });
    // Sets an account's total space: /admin/space?mobile=...&mb=N.
    svr.Get("/admin/space", [&ctx](const httplib::Request& q, httplib::Response& r) {
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
}

Service::Service() = default;

Service::~Service() {
    Stop();
}

bool Service::Start(const Options& opts, std::string& err) {
    ctx_.opts = opts;
    ctx_.faults.Load(opts);
    g_faults = &ctx_.faults;
    if (!ctx_.store.Init(opts.dataDir, err))
        return false;
    if (!ctx_.db.Open(ctx_.store.Root() + "/qumo.db", err))
        return false;
    for (const auto& [mobile, mb] : opts.setSpace) {
        std::optional<Account> a = ctx_.db.AccountByMobile(mobile);
        if (a)
            ctx_.db.SetTotalSpace(a->uid, mb);
    }

    api_ = std::make_unique<httplib::Server>();
    httplib::Server& svr = *api_;
    // Many clients at once, each possibly holding a kept-alive connection.
    svr.new_task_queue = [] { return new httplib::ThreadPool(64); };
    svr.set_tcp_nodelay(true);
    svr.set_keep_alive_timeout(5);
    // One exchange per connection: the server itself closes after every answer. (The admin
    // call can only add the "Connection: close" header; the listener's limit is fixed here.)
    if (opts.closeAfterAnswer)
        svr.set_keep_alive_max_count(1);
    svr.set_payload_max_length(1 << 20);
    ServiceContext& ctx = ctx_;
    svr.set_pre_routing_handler([&ctx](const httplib::Request& q, httplib::Response& r) {
        if (IsAdmin(q.path))
            return httplib::Server::HandlerResponse::Unhandled;
        if (IsApiCall(q.path)) {
            ctx.counters.apiCalls++;
            ctx.RecordRequest(q.target);
            if (ctx.faults.TakeFailure()) {
                ctx.counters.failed500++;
                r.status = 500;
                r.set_content("internal error (injected)", "text/plain");
                return httplib::Server::HandlerResponse::Handled;
            }
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });
    svr.set_post_routing_handler([&ctx](const httplib::Request& q, httplib::Response& r) {
        if (IsAdmin(q.path))
            return;
        if (int ms = ctx.faults.DelayMs(); ms > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        if (ctx.faults.CloseAfterAnswer())
            r.set_header("Connection", "close");
    });
    AddAccountRoutes(svr, ctx_);
    AddFileRoutes(svr, ctx_);
    AddAnnounceRoute(svr, ctx_);
    AddMediaRoutes(svr, ctx_);
    AddPageRoutes(svr, ctx_);
    AddPartnerRoutes(svr, ctx_);
    if (opts.admin)
        AddAdminRoutes(svr, ctx_);

    if (opts.apiPort == 0) {
        ctx_.apiPort = svr.bind_to_any_port("127.0.0.1");
    } else {
        ctx_.apiPort = svr.bind_to_port("127.0.0.1", opts.apiPort) ? opts.apiPort : -1;
    }
    if (ctx_.apiPort <= 0) {
        err = "cannot listen on 127.0.0.1:" + std::to_string(opts.apiPort);
        return false;
    }
    upload_ = std::make_unique<UploadServer>(ctx_);
    if (!upload_->Bind(opts.uploadPort, err))
        return false;
    ctx_.uploadPort = upload_->Port();

    if (opts.demo && !SeedDemo(ctx_, err))
        return false;

    upload_->Start();
    apiThread_ = std::thread([this] { api_->listen_after_bind(); });
    return true;
}

void Service::Stop() {
    if (api_) {
        api_->stop();
        if (apiThread_.joinable())
            apiThread_.join();
    }
    if (upload_)
        upload_->Stop();
    upload_.reset();
    api_.reset();
    ctx_.db.Close();
}

} // namespace qumo_service
