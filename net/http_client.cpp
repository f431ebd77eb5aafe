#include "net/http_client.h"

#include <chrono>
#include <cstring>

#include "platform/socket.h"

namespace {

std::int64_t SystemTime100ns() {
    using namespace std::chrono;
    return duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count() / 100;
}

std::int64_t SteadyMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

HttpTimings DownloadTimings() {
    HttpTimings t;
    t.bodyLimit = 32u << 20;          // a picture: tens of MB at most
    t.minBytesPerSecond = 256u << 10; // a slow but living server finishes that within minutes
    return t;
}

HttpDeadline::HttpDeadline(const HttpTimings& t)
    : m_set(t.callDeadlineMs > 0), m_startMs(SteadyMs()), m_graceMs(t.callDeadlineMs),
      m_minRate(t.minBytesPerSecond) {}

int HttpDeadline::Bound(int ms) const {
    if (!m_set || ms <= 0)
        return ms < 0 ? 0 : ms;
    std::int64_t allowed = m_graceMs;
    if (m_minRate > 0) {
        const std::uint64_t earned =
            m_received / m_minRate * 1000 + m_received % m_minRate * 1000 / m_minRate;
        if (earned > static_cast<std::uint64_t>(allowed))
            allowed = earned > (std::uint64_t{1} << 40) ? std::int64_t{1} << 40
                                                        : static_cast<std::int64_t>(earned);
    }
    const std::int64_t left = m_startMs + allowed - SteadyMs();
    if (left <= 0)
        return 0;
    return left < ms ? static_cast<int>(left) : ms;
}

HttpClient::HttpClient(const HttpTimings& timings)
    : m_timings(timings), m_userAgent("Mozilla/5.0 (compatible; MSIE 7.0; QumoHttp 1.3)") {
    // Slots and connection objects are made on demand within the same limits, so a client
    // per request stays cheap.
    m_hooks.push_back({10, &DecodeChunkedBody, "HTTP Chunk encoding decoder"});
    m_stop = platform::EventHandle::Create();
    try {
        m_maintenance = std::thread([this] { MaintenanceLoop(); });
    } catch (...) {
        // Without the thread idle connections live until the client ends; requests work.
    }
}

HttpClient::~HttpClient() {
    // The maintenance thread waits on this event, so it ends at once.
    m_stop.Set();
    if (m_maintenance.joinable())
        m_maintenance.join();
    for (auto& c : m_connections) {
        CloseLink(*c);
        c->queue.clear(); // the queued messages belong to their senders
    }
}

void HttpClient::SetConnector(Connector connector) {
    std::lock_guard<std::mutex> lk(m_connectionsLock);
    m_connector = std::move(connector);
}

void HttpClient::SetClock(Clock clock) {
    std::lock_guard<std::mutex> lk(m_connectionsLock);
    m_clock = std::move(clock);
}

std::int64_t HttpClient::Now() const {
    return m_clock ? m_clock() : SystemTime100ns();
}

int HttpClient::OpenTarget(const char* host, int port, bool secure) {
    std::uint32_t addr = 0;
    if (!host || !platform::ResolveIPv4(host, addr))
        return -1;
    // A port from a server-supplied URL must not wrap around to another service.
    if (port < 0 || port > 65535)
        return -1;
    auto t = std::make_unique<HttpTarget>();
    t->address = addr;
    t->hostName.assign(host, strnlen(host, 255));
    t->port = static_cast<std::uint16_t>(port);
    t->secure = secure;
    std::lock_guard<std::mutex> lk(m_targetsLock);
    for (std::size_t i = 0; i < m_targets.size(); ++i) {
        if (!m_targets[i]) {
            m_targets[i] = std::move(t);
            return static_cast<int>(i);
        }
    }
    if (m_targets.size() >= kMaxTargets)
        return -1;
    m_targets.push_back(std::move(t));
    return static_cast<int>(m_targets.size() - 1);
}

bool HttpClient::CloseTarget(int index) {
    std::lock_guard<std::mutex> lk(m_targetsLock);
    if (index < 0 || index >= static_cast<int>(m_targets.size()) || !m_targets[index])
        return false;
    m_targets[index].reset();
    return true;
}

HttpTarget* HttpClient::Target(int index) {
    std::lock_guard<std::mutex> lk(m_targetsLock);
    if (index < 0 || index >= static_cast<int>(m_targets.size()))
        return nullptr;
    return m_targets[index].get();
}

int HttpClient::RunHooks(int event, int index, HttpMessage* request, HttpMessage* response) {
    int result = 0;
    for (const auto& h : m_hooks) {
        if (!(h.mask & static_cast<unsigned>(event)))
            continue;
        int r = h.fn(event, *this, index, request, response);
        result |= r & 2;
        if (r & 1)
            break;
    }
    return result;
}

void HttpClient::ReapIdleConnections() {
    std::lock_guard<std::mutex> lk(m_connectionsLock);
    const std::int64_t now = Now();
    for (auto& c : m_connections) {
        if (c->address != 0 && !c->busy && c->queue.empty() &&
            now - c->lastActivity > m_timings.idleLimit)
            ResetConnection(*c);
    }
}

int HttpClient::OpenConnectionCount() {
    std::lock_guard<std::mutex> lk(m_connectionsLock);
    int n = 0;
    for (auto& c : m_connections)
        n += c->sock >= 0 ? 1 : 0;
    return n;
}

void HttpClient::MaintenanceLoop() {
    for (;;) {
        ReapIdleConnections();
        if (m_stop.WaitFor(m_timings.maintenancePeriodMs))
            return;
    }
}
