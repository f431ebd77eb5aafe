// The connection pool: choosing, connecting, queuing and resetting connections.
#include "net/http_client.h"

#include <algorithm>
#include <sys/socket.h>

#include "platform/socket.h"

bool HttpClient::Connect(HttpConnection& c, std::uint32_t addr, std::uint16_t port, int timeoutMs) {
    if (timeoutMs <= 0)
        return false;
    int fd = m_connector ? m_connector(addr, port, timeoutMs)
                         : platform::SocketConnect(addr, port, timeoutMs);
    if (fd < 0)
        return false;
    // A secure connection is usable only once its peer proved who it is; a failed
    // handshake is a failed connect, never a plain connection.
    auto link = net::Link::Open(fd, c.secure ? c.tlsName : std::string(), timeoutMs);
    if (!link)
        return false;
    c.link = std::move(link);
    c.sock = c.link->Fd();
    c.served = 0;
    c.abandoned = false;
    c.lastActivity = Now();
    c.leftover.clear();
    return true;
}

void HttpClient::CloseLink(HttpConnection& c) {
    if (c.link) {
        c.link->Shutdown();
        c.link.reset();
    }
    c.sock = -1;
}

void HttpClient::SendMessage(HttpConnection& c, net::Link& link, const HttpMessage& m,
                             int timeoutMs) {
    // A failed send is not reported: the read that follows fails and says so.
    if (timeoutMs <= 0 ||
        link.SendAll(m.header.data(), m.header.size(), timeoutMs) != platform::SocketStatus::Ok)
        return;
    std::string_view body = m.Body();
    if (!body.empty() &&
        link.SendAll(body.data(), body.size(), timeoutMs) != platform::SocketStatus::Ok)
        return;
    c.lastActivity = Now();
}

HttpClient::Acquired HttpClient::QueueAndSend(HttpConnection& c, HttpMessage& request,
                                              std::unique_lock<std::mutex>& lk,
                                              const HttpDeadline& deadline) {
    Acquired a{&c, c.ticketCounter++};
    c.queue.push_back({&request, a.ticket});
    // The send runs on a copy of the link and without the connections lock, so a stalled
    // peer holds up neither the maintenance thread nor the other callers. A reset meanwhile
    // shuts the socket down, which ends this send at once; the copy keeps the descriptor
    // (and the TLS state) alive under us.
    std::shared_ptr<net::Link> link = c.link;
    lk.unlock();
    if (link)
        SendMessage(c, *link, request, deadline.Bound(m_timings.readTimeoutMs));
    return a;
}

HttpClient::Acquired HttpClient::AcquireConnection(HttpTarget& target, HttpMessage& request,
                                                   const HttpDeadline& deadline) {
    auto usable = [&](HttpConnection* c) {
        return c->address == target.address && c->port == target.port && !c->busy && c->sock >= 0 &&
               c->secure == target.secure && (!target.secure || c->tlsName == target.hostName);
    };
    std::unique_lock<std::mutex> lk(m_connectionsLock);
    for (;;) {
        HttpConnection* open = nullptr;
        if (target.lastConnection && usable(target.lastConnection)) {
            open = target.lastConnection;
        } else {
            for (auto& c : m_connections) {
                if (usable(c.get())) {
                    open = c.get();
                    break;
                }
            }
        }
        if (!open)
            break;
        // The send lock comes before the connections lock: it is taken with the latter
        // released, and the connection checked again (it may have been reset meanwhile).
        lk.unlock();
        std::unique_lock<std::mutex> sending(open->sendLock);
        lk.lock();
        if (usable(open)) {
            target.lastConnection = open;
            return QueueAndSend(*open, request, lk, deadline);
        }
    }
    HttpConnection* claimed = nullptr;
    for (auto& c : m_connections) {
        if (c->address == 0 && !c->busy && c->queue.empty()) {
            claimed = c.get();
            break;
        }
    }
    if (!claimed) {
        if (m_connections.size() >= kMaxConnections)
            return {};
        m_connections.push_back(std::make_unique<HttpConnection>());
        claimed = m_connections.back().get();
    }
    claimed->busy = true;
    claimed->secure = target.secure;
    claimed->tlsName = target.secure ? target.hostName : std::string();
    lk.unlock();
    bool ok =
        Connect(*claimed, target.address, target.port, deadline.Bound(m_timings.connectTimeoutMs));
    std::unique_lock<std::mutex> sending(claimed->sendLock);
    lk.lock();
    if (!ok) {
        ResetConnection(*claimed);
        return {};
    }
    claimed->address = target.address;
    claimed->port = target.port;
    target.lastConnection = claimed;
    claimed->busy = false;
    return QueueAndSend(*claimed, request, lk, deadline);
}

void HttpClient::ResetConnection(HttpConnection& c, HttpMessage* drop) {
    if (!c.queue.empty()) {
        if (!drop) {
            c.queue.pop_front();
        } else {
            auto it =
                std::find_if(c.queue.begin(), c.queue.end(),
                             [&](const HttpConnection::Queued& q) { return q.request == drop; });
            if (it != c.queue.end())
                c.queue.erase(it);
        }
    }
    CloseLink(c);
    c.served = 0;
    c.abandoned = false;
    c.busy = false;
    c.lastActivity = 0;
    c.leftover.clear();
    if (!c.queue.empty()) {
        c.busy = true;
        if (Connect(c, c.address, c.port, m_timings.connectTimeoutMs)) {
            for (auto& q : c.queue)
                SendMessage(c, *c.link, *q.request, m_timings.readTimeoutMs);
        }
        c.busy = false;
        return;
    }
    c.address = 0;
    c.port = 0;
    c.secure = false;
    c.tlsName.clear();
}

bool HttpClient::WaitForTicket(HttpConnection& c, std::uint64_t ticket, HttpMessage& request,
                               const HttpDeadline& deadline) {
    for (;;) {
        {
            std::lock_guard<std::mutex> lk(m_connectionsLock);
            auto it =
                std::find_if(c.queue.begin(), c.queue.end(),
                             [&](const HttpConnection::Queued& q) { return q.ticket == ticket; });
            if (it == c.queue.end())
                return false;
            if (it == c.queue.begin())
                return true;
        }
        const int pause = deadline.Bound(m_timings.ticketPollMs);
        if (pause == 0 || !platform::CancellableSleep(pause)) {
            // Stopped (or out of time) while another response is being read: our request
            // leaves the queue,
            // and the socket is shut down so the answer meant for it is never taken by the
            // requests behind; the reader in progress resends what is still queued.
            std::lock_guard<std::mutex> lk(m_connectionsLock);
            auto it =
                std::find_if(c.queue.begin(), c.queue.end(), [&](const HttpConnection::Queued& q) {
                    return q.request == &request;
                });
            if (it != c.queue.end())
                c.queue.erase(it);
            if (c.sock >= 0) {
                shutdown(c.sock, SHUT_RDWR);
                c.abandoned = true;
            }
            return false;
        }
    }
}

void HttpClient::ForgetRequest(HttpMessage& request) {
    std::lock_guard<std::mutex> lk(m_connectionsLock);
    for (auto& c : m_connections) {
        auto n = std::erase_if(
            c->queue, [&](const HttpConnection::Queued& q) { return q.request == &request; });
        if (n && c->sock >= 0)
            shutdown(c->sock, SHUT_RDWR);
    }
}
