// The API listener: cpp-httplib's routing and answers behind the connection gate. The gate
// waits for whole requests; a worker runs one request at a time through httplib.
#pragma once

#include "service/conn_gate.h"
#include "service/work_queue.h"

#include <httplib.h>

#include <memory>
#include <thread>

namespace qumo_service {

class ApiServer : public httplib::Server {
public:
    struct Limits {
        GateLimits gate;
        size_t workers = 64;
        int readTimeoutMs = 5000; // a worker never waits longer for bytes of a request
        int writeTimeoutSec = 5;  // nor for the client to take a piece of the answer
        int maxRequestsPerConn = 100;
    };
    explicit ApiServer(Limits limits);
    ~ApiServer() override;

    bool Bind(int port, std::string& err) { return gate_.Bind(port, err); }
    int Port() const { return gate_.Port(); }
    void Start();
    void Stop();
    const ConnGate& Gate() const { return gate_; }

private:
    void Serve(GateConn&& c);

    Limits limits_;
    ConnGate gate_;
    std::unique_ptr<WorkQueue> workers_;
    // httplib streams bodies (files, chunked answers) only while it counts as running, which
    // takes its accept loop: that loop runs on one end of a socket pair, where nothing can
    // ever connect, while the gate owns the real listener.
    std::thread runner_;
    int decoyPeer_ = -1;
};

} // namespace qumo_service
