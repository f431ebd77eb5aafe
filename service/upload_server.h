// The upload server: getupload, the raw POST of a file's bytes, uploadover. Its own small
// HTTP server behind the connection gate, so a body is streamed to its part file and a
// connection can be dropped at an exact byte for tests. The protocol carries no token: the
// random pair (mid, upid) is the key, and guessing pairs is slowed per client address.
#pragma once

#include "service/conn_gate.h"
#include "service/service.h"
#include "service/work_queue.h"

#include <atomic>
#include <memory>
#include <string>

namespace qumo_service {

class MiniConn;
struct MiniRequest;

class UploadServer {
public:
    explicit UploadServer(ServiceContext& ctx);
    ~UploadServer();

    bool Bind(int port, std::string& err) { return gate_.Bind(port, err); }
    int Port() const { return gate_.Port(); }
    void Start();
    void Stop(); // ends the gate and waits for every request in progress to finish
    const ConnGate& Gate() const { return gate_; }

private:
    void Serve(GateConn&& gc);
    // Waits the --delay-ms of every exchange; false when the server stops meanwhile.
    bool Delay();
    // Each returns false when the connection must close afterwards.
    bool GetUpload(MiniConn& c, const MiniRequest& r, const std::string& peer);
    bool Post(MiniConn& c, const MiniRequest& r, const std::string& peer);
    bool Over(MiniConn& c, const MiniRequest& r, const std::string& peer);
    // Finds the open session named by uid, mid and upid, or the file a finished one became
    // (finished is set, out.size is the file's size, fileId its id); answers the error
    // itself otherwise.
    bool Session(MiniConn& c, const MiniRequest& r, const std::string& peer, bool close,
                 struct UploadRow& out, bool& finished, int64_t& fileId);

    ServiceContext& ctx_;
    ConnGate gate_;
    std::unique_ptr<WorkQueue> workers_;
    std::atomic<bool> stop_{false};
};

} // namespace qumo_service
