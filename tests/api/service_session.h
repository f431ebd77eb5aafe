// A running qumo-service for the integration tests of the API calls and the upload
// engine, with the demo account logged in: the client's hosts point at it, the account's
// bytes are in the settings store and the user id in the program-wide state.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "net/api_calls.h"

class ServiceProcess;

// Every entry of a server folder, through the file list pages, as the logged-in account
// sees it.
std::vector<ServerFileEntry> ListServerFolder(int fid);

class ServiceSession {
public:
    ServiceSession();
    ~ServiceSession();

    // Starts the service (demo account, admin calls on) with extra arguments and points
    // the client's hosts at it. False when it could not start.
    bool Start(const std::vector<std::string>& extraArgs = {});
    void Stop();
    // Logs the demo account in and stores its values where the engine reads them.
    bool Login();

    std::string ApiHost() const; // "127.0.0.1:port"
    int Port() const;            // the API listener
    std::string DataDir() const;
    // GET of "/admin/..." on the API listener; the body ("" on failure).
    std::string Admin(const std::string& pathAndQuery) const;
    // A counter of "/admin/counters" (-1 when missing).
    long long Counter(const std::string& name) const;

    // Every entry of a server folder, through the file list pages.
    std::vector<ServerFileEntry> ListFolder(int fid) const;

    static const char* DemoMobile() { return "13800138000"; }
    static const char* DemoPassword() { return "qumo2012"; }

    LoginAnswer login;

private:
    std::unique_ptr<ServiceProcess> m_proc;
};
