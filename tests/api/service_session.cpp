#include "tests/api/service_session.h"

#include <cstdio>

#include "app/app_settings.h"
#include "app/global_var.h"
#include "net/api_answer.h"
#include "net/hosts.h"
#include "platform/codepage.h"
#include "tests/0support/service_process.h"

ServiceSession::ServiceSession() : m_proc(std::make_unique<ServiceProcess>()) {}

ServiceSession::~ServiceSession() {
    Stop();
}

bool ServiceSession::Start(const std::vector<std::string>& extraArgs) {
    std::vector<std::string> args = {"--demo"};
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    if (!m_proc->Start(args)) {
        std::fprintf(stderr, "qumo-service did not start: %s\n", m_proc->Error().c_str());
        return false;
    }
    hosts::SetAllServiceHosts(m_proc->ApiHost());
    return true;
}

void ServiceSession::Stop() {
    if (m_proc->Running())
        m_proc->Stop();
}

bool ServiceSession::Login() {
    login = ApiLogin(platform::FromNarrow(DemoMobile()), platform::FromNarrow(DemoPassword()));
    if (login.outcome != ApiOutcome::Ok)
        return false;
    GetAppSettings().SetUserInfo(login.uid.c_str(), login.token.c_str(), login.nick.c_str(),
                                 login.headface.c_str(), static_cast<int>(login.usedSpace),
                                 static_cast<int>(login.totalSpace));
    return true;
}

std::string ServiceSession::ApiHost() const {
    return m_proc->ApiHost();
}

int ServiceSession::Port() const {
    return m_proc->ApiPort();
}

std::string ServiceSession::DataDir() const {
    return m_proc->DataDir();
}

std::string ServiceSession::Admin(const std::string& pathAndQuery) const {
    return m_proc->Admin(pathAndQuery);
}

long long ServiceSession::Counter(const std::string& name) const {
    return m_proc->Counter(name);
}

std::vector<ServerFileEntry> ListServerFolder(int fid) {
    std::vector<ServerFileEntry> all;
    int mid = -1, failures = 0;
    while (true) {
        FileListPage page;
        if (ApiGetFileListPage(mid, fid, 30, failures, page) != ApiOutcome::Ok ||
            page.entries.empty())
            break;
        all.insert(all.end(), page.entries.begin(), page.entries.end());
        if (static_cast<int>(all.size()) >= page.total)
            break;
        mid = api_json::AtoiText(platform::ToNarrow(page.entries.back().id));
    }
    return all;
}

std::vector<ServerFileEntry> ServiceSession::ListFolder(int fid) const {
    return ListServerFolder(fid);
}
