#include "tests/0support/service_process.h"

#include "tests/0support/raw_http.h"

#include <fcntl.h>
#include <ftw.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace {

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) {
    ::remove(path);
    return 0;
}

bool ParseSecretLine(const std::string& out, std::string& secret) {
    const std::string key = "qumo-service admin-secret=";
    size_t at = out.find(key);
    if (at == std::string::npos)
        return false;
    size_t end = out.find('\n', at);
    if (end == std::string::npos)
        return false;
    secret = out.substr(at + key.size(), end - at - key.size());
    return !secret.empty();
}

bool ParsePortsLine(const std::string& line, int& api, int& upload) {
    return std::sscanf(line.c_str(), "qumo-service listening api=127.0.0.1:%d upload=127.0.0.1:%d",
                       &api, &upload) == 2 &&
           api > 0 && upload > 0;
}

} // namespace

ServiceProcess::ServiceProcess() = default;

ServiceProcess::~ServiceProcess() {
    Stop();
    if (!m_dataDir.empty() && !std::getenv("QUMO_KEEP_SERVICE_DATA"))
        ::nftw(m_dataDir.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

std::string ServiceProcess::BinaryPath() {
    if (const char* env = std::getenv("QUMO_SERVICE_BIN"); env && *env)
        return env;
    char self[4096];
    ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0)
        return "qumo-service";
    self[n] = '\0';
    std::string dir(self);
    dir = dir.substr(0, dir.rfind('/')); // build/tests/<area>
    dir = dir.substr(0, dir.rfind('/')); // build/tests
    dir = dir.substr(0, dir.rfind('/')); // build
    return dir + "/service/qumo-service";
}

bool ServiceProcess::Start(const std::vector<std::string>& extraArgs) {
    Stop();
    const char* tmp = std::getenv("TMPDIR");
    std::string root = !m_tempRoot.empty() ? m_tempRoot : (tmp && *tmp ? tmp : "/tmp");
    std::string templ = root + "/qumo-svc-XXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    if (!::mkdtemp(buf.data())) {
        m_error = "mkdtemp failed";
        return false;
    }
    m_dataDir = buf.data();
    return Launch(extraArgs);
}

bool ServiceProcess::Restart(const std::vector<std::string>& extraArgs) {
    Stop();
    if (m_dataDir.empty())
        return Start(extraArgs);
    return Launch(extraArgs);
}

bool ServiceProcess::Launch(const std::vector<std::string>& extraArgs) {
    std::string bin = BinaryPath();
    std::vector<std::string> args = {bin, "--data",        m_dataDir, "--port",
                                     "0", "--upload-port", "0",       "--admin"};
    if (m_exactRequests)
        args.push_back("--record-exact-requests");
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        m_error = "pipe failed";
        return false;
    }
    std::string log = m_dataDir + "/service.log";
    auto t0 = std::chrono::steady_clock::now();
    const pid_t parent = ::getpid();
    pid_t pid = ::fork();
    if (pid < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        m_error = "fork failed";
        return false;
    }
    if (pid == 0) {
        // A test that crashes takes its service with it instead of leaving it running.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127);
        ::dup2(fds[1], 1);
        int err = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (err >= 0)
            ::dup2(err, 2);
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(bin.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    m_pid = pid;
    m_stdout = fds[0];
    std::string line;
    auto deadline = t0 + std::chrono::seconds(20);
    // Two lines: the ports, then the admin secret.
    while (!ParseSecretLine(line, m_adminSecret)) {
        int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        deadline - std::chrono::steady_clock::now())
                                        .count());
        pollfd p{m_stdout, POLLIN, 0};
        if (left <= 0 || ::poll(&p, 1, left) <= 0)
            break;
        char c[256];
        ssize_t n = ::read(m_stdout, c, sizeof c);
        if (n <= 0)
            break;
        line.append(c, static_cast<size_t>(n));
    }
    m_startMillis =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0)
            .count();
    if (!ParsePortsLine(line, m_apiPort, m_uploadPort)) {
        m_error = "no ports line from " + bin + " (got \"" + line + "\"); see " + log;
        Kill();
        return false;
    }
    return true;
}

int ServiceProcess::Stop() {
    if (m_pid <= 0)
        return -1;
    ::kill(m_pid, SIGTERM);
    int status = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
        pid_t r = ::waitpid(m_pid, &status, WNOHANG);
        if (r == m_pid)
            break;
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, &status, 0);
            status = -1;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    m_pid = -1;
    if (m_stdout >= 0)
        ::close(m_stdout);
    m_stdout = -1;
    if (status == -1)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void ServiceProcess::Kill() {
    if (m_pid <= 0)
        return;
    ::kill(m_pid, SIGKILL);
    int status = 0;
    ::waitpid(m_pid, &status, 0);
    m_pid = -1;
    if (m_stdout >= 0)
        ::close(m_stdout);
    m_stdout = -1;
}

std::string ServiceProcess::Admin(const std::string& pathAndQuery) const {
    RawResponse r;
    std::string req = "POST " + pathAndQuery +
                      " HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Qumo-Admin: " + m_adminSecret +
                      "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    if (!RawExchange(m_apiPort, req, r) || r.status != 200)
        return std::string();
    return r.body;
}

bool ServiceProcess::SetFault(const std::string& key, long long value) const {
    Json::Value v;
    return ParseJson(Admin("/admin/faults?" + key + "=" + std::to_string(value)), v) &&
           v["status"].asInt() == 200;
}

bool ServiceProcess::SetSpace(const std::string& mobile, long long mb) const {
    Json::Value v;
    return ParseJson(Admin("/admin/space?mobile=" + mobile + "&mb=" + std::to_string(mb)), v) &&
           v["status"].asInt() == 200;
}

long long ServiceProcess::Counter(const std::string& name) const {
    Json::Value v;
    if (!ParseJson(Admin("/admin/counters"), v))
        return -1;
    const Json::Value& c = v["attachment"][name];
    return c.isIntegral() ? c.asInt64() : -1;
}
