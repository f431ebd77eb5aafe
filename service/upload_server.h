// The upload server: getupload, the raw POST of a file's bytes, uploadover. Its own small
// HTTP server, so a body is streamed to its part file and a connection can be dropped at an
// exact byte for tests.
#pragma once

#include "service/service.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace qumo_service {

class MiniConn;
struct MiniRequest;

class UploadServer {
public:
    explicit UploadServer(ServiceContext& ctx) : ctx_(ctx) {}
    ~UploadServer();

    bool Bind(int port, std::string& err); // 127.0.0.1 only; port 0 picks one
    int Port() const { return port_; }
    void Start();
    void Stop(); // ends the accept loop and waits for every connection to finish

private:
    void AcceptLoop();
    void Serve(int fd);
    // Each returns false when the connection must close afterwards.
    bool GetUpload(MiniConn& c, const MiniRequest& r);
    bool Post(MiniConn& c, const MiniRequest& r);
    bool Over(MiniConn& c, const MiniRequest& r);
    // Finds the session named by uid, mid and upid; answers the error itself otherwise.
    bool Session(MiniConn& c, const MiniRequest& r, bool close, struct UploadRow& out,
                 bool& finished);

    ServiceContext& ctx_;
    int listenFd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread acceptThread_;
    std::mutex mu_;
    std::condition_variable cv_;
    int active_ = 0;
};

} // namespace qumo_service
