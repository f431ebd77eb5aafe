#include "service/service.h"

#include "service/api_common.h"
#include "service/api_server.h"
#include "service/demo_tls.h"
#include "service/secrets.h"
#include "service/upload_server.h"

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

// Values no log may keep: tokens, password digests, passwords.
bool IsSecretParam(const std::string& key) {
    return key == "token" || key == "pwd" || key == "password" || key == "password2" ||
           key == "utoken";
}

std::string WithoutSecrets(const std::string& target) {
    size_t qm = target.find('?');
    if (qm == std::string::npos)
        return target;
    std::string out = target.substr(0, qm + 1);
    size_t pos = qm + 1;
    while (pos <= target.size()) {
        size_t amp = target.find('&', pos);
        if (amp == std::string::npos)
            amp = target.size();
        std::string pair = target.substr(pos, amp - pos);
        size_t eq = pair.find('=');
        if (eq != std::string::npos && IsSecretParam(pair.substr(0, eq)))
            pair = pair.substr(0, eq + 1) + "-";
        out += pair;
        if (amp < target.size())
            out += '&';
        pos = amp + 1;
    }
    return out;
}

// Body bytes a route takes: the website's forms and the admin calls; nothing else.
int64_t BodyLimit(const std::string& method, const std::string& path) {
    if (method != "POST")
        return 0;
    if (path.rfind("/admin/", 0) == 0)
        return 4096;
    return 16 * 1024; // registration and partner sign-in forms
}

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

std::string ServiceContext::HeadfaceUrl(const std::string& face) const {
    return Scheme() + ApiHost() + "/avatar/" + face + ".png";
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
    std::string kept = opts.recordExactRequests ? target : WithoutSecrets(target);
    std::lock_guard<std::mutex> lock(requestsMu_);
    if (requests_.size() >= kKept)
        requests_.pop_front();
    requests_.push_back(std::move(kept));
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

Service::Service() = default;

Service::~Service() {
    Stop();
}

bool Service::Start(const Options& opts, std::string& err) {
    ctx_.opts = opts;
    ctx_.faults.Load(opts);
    g_faults = &ctx_.faults;
    const int64_t lock = opts.lockoutMs, most = 15 * 60 * 1000;
    ctx_.loginsByAccount.Configure(5, lock, std::max(lock, most));
    ctx_.loginsByAddress.Configure(20, lock, std::max(lock, most));
    // Guessed upload pairs are refused at most a minute at a time: the refusal also holds up
    // the address's real uploads (a client retrying a task whose session was dropped), and
    // twenty tries a minute are nothing against 62 bits anyway.
    ctx_.uploadGuesses.Configure(20, std::max<int64_t>(1, lock / 6),
                                 std::max<int64_t>(lock, 60000));
    ctx_.newAccounts.Configure(opts.accountsPerHour, 3600 * 1000, 3600 * 1000);
    if (opts.admin) {
        ctx_.adminSecret = opts.adminSecret.empty() ? RandomHex(kCapBytes) : opts.adminSecret;
        if (ctx_.adminSecret.empty()) {
            err = "no random bytes for the admin secret";
            return false;
        }
    }
    if (!ctx_.store.Init(opts.dataDir, err))
        return false;
    if (!ctx_.db.Open(ctx_.store.Root() + "/qumo.db", err))
        return false;
    if (!StartTls(err))
        return false;
    for (const auto& [mobile, mb] : opts.setSpace) {
        std::optional<Account> a = ctx_.db.AccountByMobile(mobile);
        if (a)
            ctx_.db.SetTotalSpace(a->uid, mb);
    }

    ApiServer::Limits limits;
    limits.gate.maxPerAddress = opts.maxConnPerAddress;
    limits.gate.headMs = opts.headTimeoutMs;
    limits.gate.idleMs = 5000; // the keep-alive time the answers announce
    limits.gate.bodyLimit = BodyLimit;
    limits.gate.tls = ctx_.tls.get();
    limits.maxRequestsPerConn = 5;
    // One exchange per connection: the server itself closes after every answer. (The admin
    // call can only add the "Connection: close" header; the listener's limit is fixed here.)
    if (opts.closeAfterAnswer)
        limits.maxRequestsPerConn = 1;
    api_ = std::make_unique<ApiServer>(limits);
    httplib::Server& svr = *api_;
    svr.set_keep_alive_timeout(5);
    svr.set_keep_alive_max_count(static_cast<size_t>(limits.maxRequestsPerConn));
    svr.set_payload_max_length(64 * 1024);
    ServiceContext& ctx = ctx_;
    svr.set_pre_routing_handler([&ctx](const httplib::Request& q, httplib::Response& r) {
        if (IsAdmin(q.path)) {
            if (ctx.adminSecret.empty() || AdminAllowed(ctx, q))
                return httplib::Server::HandlerResponse::Unhandled;
            r.status = 403;
            r.set_content("admin secret required", "text/plain");
            return httplib::Server::HandlerResponse::Handled;
        }
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

    if (!api_->Bind(opts.apiPort, err))
        return false;
    ctx_.apiPort = api_->Port();
    upload_ = std::make_unique<UploadServer>(ctx_);
    if (!upload_->Bind(opts.uploadPort, err))
        return false;
    ctx_.uploadPort = upload_->Port();

    if (opts.demo && !SeedDemo(ctx_, err))
        return false;

    upload_->Start();
    api_->Start();
    SweepAbandoned();
    sweeper_ = std::thread([this] { SweepLoop(); });
    return true;
}

bool Service::StartTls(std::string& err) {
    std::string cert = ctx_.opts.tlsCert, key = ctx_.opts.tlsKey;
    if (ctx_.opts.demoTls) {
        // The demo's names: the loopback ones and the website's and partner login's hosts.
        std::vector<std::string> names = {"localhost", "qumo.localhost", "www.qumo.localhost",
                                          "open.qumo.localhost"};
        std::string site = ctx_.opts.siteHost.substr(0, ctx_.opts.siteHost.find(':'));
        if (!site.empty() && !IsIpAddress(site)) {
            names.push_back(site);
            if (size_t dot = site.find('.'); dot != std::string::npos)
                names.push_back("open" + site.substr(dot));
        }
        DemoTlsFiles files;
        if (!EnsureDemoTls(ctx_.opts.dataDir, names, files, err))
            return false;
        cert = files.cert;
        key = files.key;
        ctx_.demoCaFile = files.caCert;
    }
    if (cert.empty())
        return true;
    ctx_.tls = std::make_unique<TlsContext>();
    if (!ctx_.tls->Load(cert, key, err)) {
        ctx_.tls.reset();
        return false;
    }
    return true;
}

void Service::Stop() {
    {
        std::lock_guard<std::mutex> lock(sweepMu_);
        stopping_ = true;
    }
    sweepCv_.notify_all();
    if (sweeper_.joinable())
        sweeper_.join();
    if (api_)
        api_->Stop();
    if (upload_)
        upload_->Stop();
    upload_.reset();
    api_.reset();
    ctx_.db.Close();
}

void Service::SweepLoop() {
    // Four looks per abandon time, at most one a minute, at least one every quarter second.
    int64_t ms = std::clamp<int64_t>(ctx_.opts.abandonAfterSec * 250, 250, 60000);
    std::unique_lock<std::mutex> lock(sweepMu_);
    while (!sweepCv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping_; })) {
        lock.unlock();
        SweepAbandoned();
        lock.lock();
    }
}

void Service::SweepAbandoned() {
    int64_t before = NowSeconds() - ctx_.opts.abandonAfterSec;
    for (const UploadRow& u : ctx_.db.UploadsIdleSince(before)) {
        // An upload being written is not abandoned, however old its last record.
        if (!ctx_.TryLockUpload(u.upid))
            continue;
        if (ctx_.db.DeleteUpload(u.upid, before)) {
            ctx_.store.RemovePart(u.upid);
            ctx_.counters.uploadsAbandoned++;
        }
        ctx_.UnlockUpload(u.upid);
    }
}

} // namespace qumo_service
