// A scripted HTTP server on a free loopback port, inside the test process. Each accepted
// connection is handed to the next script in line (run on its own thread); a script reads
// requests (their exact bytes are recorded) and sends canned byte sequences.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class ScriptConn {
public:
    explicit ScriptConn(int fd, class ScriptServer& server) : m_fd(fd), m_server(server) {}
    // Reads one request header (up to its blank line) plus `bodyLen` body bytes; empty when
    // the client closed first. The bytes are recorded by the server.
    std::string ReadRequest(std::size_t bodyLen = 0);
    // Sends all bytes unless the client goes away; returns how many were taken.
    std::size_t Send(const std::string& bytes);
    // Bytes that arrived and were not read yet.
    std::size_t Unread() const;
    // Sends the pieces one by one with a pause between them, so they arrive in separate
    // receives as far as the loopback allows.
    void SendSplit(const std::vector<std::string>& pieces, int pauseMs = 30);
    // Waits until the client closes its end (or `ms` pass); true when it did.
    bool WaitClosed(int ms);
    void Close();

private:
    int m_fd;
    ScriptServer& m_server;
    std::string m_pending; // bytes read past the previous request
};

class ScriptServer {
public:
    using Script = std::function<void(ScriptConn&)>;
    ScriptServer();
    ~ScriptServer();
    int Port() const { return m_port; }
    std::string Url(const std::string& path) const;
    void Add(Script s);
    // Every request read so far, in order of arrival.
    std::vector<std::string> Requests();
    int Accepted() const { return m_accepted.load(); }
    // Waits until `n` requests were read (or `ms` pass).
    bool WaitRequests(std::size_t n, int ms);

    void Record(const std::string& request);

private:
    void AcceptLoop();
    int m_listen = -1;
    int m_port = 0;
    int m_wake[2] = {-1, -1};
    std::thread m_thread;
    std::mutex m_mu;
    std::condition_variable m_cv;
    std::deque<Script> m_scripts;
    std::vector<std::string> m_requests;
    std::vector<std::thread> m_workers;
    std::atomic<int> m_accepted{0};
};

// A complete response with a Content-Length.
std::string Reply(int status, const std::string& body, const std::string& extra = "");
