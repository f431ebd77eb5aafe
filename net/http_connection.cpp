// The connection pool: choosing, connecting, queuing and resetting connections.
#include "net/http_client.h"

#include <algorithm>
#include <sys/socket.h>

#include "platform/socket.h"

bool HttpClient::Connect(HttpConnection& c, std::uint32_t addr, std::uint16_t port) {
    int fd = m_connector ? m_connector(addr, port, m_timings.connectTimeoutMs)
                         : platform::SocketConnect(addr, port, m_timings.connectTimeoutMs);
    if (fd < 0)
        return false;
    c.sock = fd;
    c.served = 0;
    c.abandoned = false;
    c.lastActivity = Now();
    c.leftover.clear();
    return true;
}

void HttpClient::SendMessage(HttpConnection& c, const HttpMessage& m) {
    // A failed send is not reported: the read that follows fails and says so.
    if (platform::SocketSendAll(c.sock, m.header.data(), m.header.size(),
                                m_timings.readTimeoutMs) != platform::SocketStatus::Ok)
        return;
    std::string_view body = m.Body();
    if (!body.empty() &&
        platform::SocketSendAll(c.sock, body.data(), body.size(), m_timings.readTimeoutMs) !=
            platform::SocketStatus::Ok)
        return;
    c.lastActivity = Now();
}

HttpClient::Acquired HttpClient::QueueAndSend(HttpConnection& c, HttpMessage& request) {
    // Sent while the connections lock is held, so the order on the wire is the queue order
    // even when several threads share the connection.
    Acquired a{&c, c.ticketCounter++};
    c.queue.push_back({&request, a.ticket});
    SendMessage(c, request);
    return a;
}

HttpClient::Acquired HttpClient::AcquireConnection(HttpTarget& target, HttpMessage& request) {
    std::unique_lock<std::mutex> lk(m_connectionsLock);
    auto usable = [&](HttpConnection* c) {
        return c->address == target.address && c->port == target.port && !c->busy && c->sock >= 0;
    };
    if (target.lastConnection && usable(target.lastConnection))
        return QueueAndSend(*target.lastConnection, request);
    for (auto& c : m_connections) {
        if (usable(c.get())) {
            target.lastConnection = c.get();
            return QueueAndSend(*c, request);
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
    lk.unlock();
    bool ok = Connect(*claimed, target.address, target.port);
    lk.lock();
    if (!ok) {
        ResetConnection(*claimed);
        return {};
    }
    claimed->address = target.address;
    claimed->port = target.port;
    target.lastConnection = claimed;
    claimed->busy = false;
    return QueueAndSend(*claimed, request);
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
    platform::SocketClose(c.sock);
    c.sock = -1;
    c.served = 0;
    c.abandoned = false;
    c.busy = false;
    c.lastActivity = 0;
    c.leftover.clear();
    if (!c.queue.empty()) {
        c.busy = true;
        if (Connect(c, c.address, c.port)) {
            for (auto& q : c.queue)
                SendMessage(c, *q.request);
        }
        c.busy = false;
        return;
    }
    c.address = 0;
    c.port = 0;
}

bool HttpClient::WaitForTicket(HttpConnection& c, std::uint64_t ticket, HttpMessage& request) {
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
        if (!platform::CancellableSleep(m_timings.ticketPollMs)) {
            // Stopped while another response is being read: our request leaves the queue,
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
