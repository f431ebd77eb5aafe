// A real qumo-service in a child process for integration tests: a fresh temporary data
// folder, ports picked by the system (port 0), the admin calls switched on (with the secret
// the service prints at start) and exact request targets kept for /admin/requests.
//
//   ServiceProcess svc;
//   ASSERT_TRUE(svc.Start({"--demo"}));
//   ... talk to 127.0.0.1:svc.ApiPort() and svc.UploadPort() ...
//   svc.Kill(); ASSERT_TRUE(svc.Restart());   // same data folder, new ports
//
// The binary is $QUMO_SERVICE_BIN, else service/qumo-service of the build tree that holds
// the test executable. The data folder is removed at destruction unless
// QUMO_KEEP_SERVICE_DATA is set; the service's stderr goes to <data>/service.log.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

class ServiceProcess {
public:
    ServiceProcess();
    ~ServiceProcess();
    ServiceProcess(const ServiceProcess&) = delete;
    ServiceProcess& operator=(const ServiceProcess&) = delete;

    // Where the next Start makes its data folder (default $TMPDIR or /tmp). Load tests use a
    // memory file system so they measure the service rather than the disk's flushes.
    void SetTempRoot(const std::string& dir) { m_tempRoot = dir; }
    // Whether /admin/requests keeps tokens and password digests as sent (on by default:
    // tests check the client's exact requests); takes effect at the next start.
    void SetExactRequestLog(bool on) { m_exactRequests = on; }
    // Starts with a new data folder; false (with Error()) when it did not come up.
    bool Start(const std::vector<std::string>& extraArgs = {});
    // Starts again on the same data folder (after Stop or Kill) with these arguments.
    bool Restart(const std::vector<std::string>& extraArgs = {});
    // SIGTERM and wait (SIGKILL after 10 s). Returns the exit status (-1 if not running).
    int Stop();
    // SIGKILL and wait: a crash at an arbitrary moment.
    void Kill();
    bool Running() const { return m_pid > 0; }

    pid_t Pid() const { return m_pid; }
    int ApiPort() const { return m_apiPort; }
    int UploadPort() const { return m_uploadPort; }
    std::string ApiHost() const { return "127.0.0.1:" + std::to_string(m_apiPort); }
    std::string UploadHost() const { return "127.0.0.1:" + std::to_string(m_uploadPort); }
    std::string ApiUrl(const std::string& pathAndQuery) const {
        return "http://" + ApiHost() + pathAndQuery;
    }
    const std::string& DataDir() const { return m_dataDir; }
    const std::string& Error() const { return m_error; }
    // Milliseconds from the start of the process to its ports line.
    long long StartMillis() const { return m_startMillis; }

    // POST of "/admin/..." on the API listener with the admin secret the service printed at
    // start; the body, "" on failure.
    std::string Admin(const std::string& pathAndQuery) const;
    const std::string& AdminSecret() const { return m_adminSecret; }
    // Sets one fault ("drop_after", "drop_always", "fail_next", "chunked", "close",
    // "delay_ms", "refuse_announce") through the admin call.
    bool SetFault(const std::string& key, long long value) const;
    // An account's total space in megabytes.
    bool SetSpace(const std::string& mobile, long long mb) const;
    // One counter of "/admin/counters"; -1 when missing.
    long long Counter(const std::string& name) const;

    static std::string BinaryPath();
    static const char* DemoMobile() { return "13800138000"; }
    static const char* DemoPassword() { return "qumo2012"; }

private:
    bool Launch(const std::vector<std::string>& extraArgs);

    pid_t m_pid = -1;
    bool m_exactRequests = true;
    int m_stdout = -1;
    int m_apiPort = 0, m_uploadPort = 0;
    long long m_startMillis = 0;
    std::string m_dataDir, m_error, m_tempRoot, m_adminSecret;
};
