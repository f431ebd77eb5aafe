// Shared by the login tests: a pretend installation in a temporary folder (program folder
// "bin" with the configuration file and the log folder, the blue skin under the install
// root), the blue skin as the application's style, message boxes answered and recorded,
// the desktop opener replaced by a recorder, and a real qumo-service.
#pragma once

#include "../0support/service_process.h"
#include "app/app_settings.h"
#include "app/global_var.h"
#include "app/program_paths.h"
#include "base/log_testing.h"
#include "net/hosts.h"
#include "platform/codepage.h"
#include "platform/paths.h"
#include "platform/shell.h"
#include "ui/skin/du_style.h"
#include "ui/test_hooks.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

namespace logintest {

namespace fs = std::filesystem;

inline const char* DemoMobile() {
    return ServiceProcess::DemoMobile();
}
inline const char* DemoPassword() {
    return ServiceProcess::DemoPassword();
}

// The configuration file the installation ships, with the given values.
inline std::string ConfigXml(const std::string& name, const std::string& pwd,
                             const std::string& autoLogin, const std::string& version = "1.0.0") {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<QumolanLocalConfig>\n  <UserName>" + name +
           "</UserName>\n  <UserPwd>" + pwd + "</UserPwd>\n  <AutoLogin>" + autoLogin +
           "</AutoLogin>\n  <Version>" + version + "</Version>\n</QumolanLocalConfig>\n";
}

inline std::string ReadBytes(const fs::path& path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

// UTF-16LE file content (the program log, documents the program wrote) as UTF-8.
inline std::string Utf16FileText(const fs::path& path) {
    const std::string bytes = ReadBytes(path);
    std::u16string text;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        text += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                      (static_cast<unsigned char>(bytes[i + 1]) << 8));
    }
    return platform::ToNarrow(text);
}

// A loopback port nobody listens on (bound once, then released).
inline int FreePort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t n = sizeof a;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n) == 0) {
        port = ntohs(a.sin_port);
    }
    ::close(fd);
    return port;
}

// A loopback server answering every request with HTTP 200 and `body` (JSON), one request
// per connection; for answers the reference service never gives.
class CannedServer {
public:
    explicit CannedServer(std::string body) : body_(std::move(body)) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t n = sizeof a;
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &n) == 0 && ::listen(fd_, 8) == 0) {
            port_ = ntohs(a.sin_port);
        }
        thread_ = std::thread([this]() { Serve(); });
    }
    ~CannedServer() {
        stop_ = true;
        ::shutdown(fd_, SHUT_RDWR);
        ::close(fd_);
        thread_.join();
    }
    std::string Host() const { return "127.0.0.1:" + std::to_string(port_); }

private:
    void Serve() {
        while (!stop_) {
            const int c = ::accept(fd_, nullptr, nullptr);
            if (c < 0) {
                return;
            }
            std::string request;
            char buf[1024];
            while (request.find("\r\n\r\n") == std::string::npos) {
                const ssize_t got = ::recv(c, buf, sizeof buf, 0);
                if (got <= 0) {
                    break;
                }
                request.append(buf, static_cast<std::size_t>(got));
            }
            const std::string answer =
                "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " +
                std::to_string(body_.size()) + "\r\nConnection: close\r\n\r\n" + body_;
            if (::send(c, answer.data(), answer.size(), MSG_NOSIGNAL) < 0) {
                // The client went away; nothing to do.
            }
            ::close(c);
        }
    }

    std::string body_;
    int fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

class Installation {
public:
    Installation() {
        root_ = fs::path(tmp_.path().toStdString());
        bin_ = root_ / "bin";
        fs::create_directories(bin_ / "log");
        fs::create_directories(root_ / "lib" / "tmp");
        platform::OverrideModuleFileName(platform::FromNarrow((bin_ / "QumoClient").string()));
        ResetLogForTesting();
        CGlobalVar::m_strInstallRoot.clear();
        CGlobalVar::m_strSkinPath.clear();
        ComputeProgramPaths();
        // The opener records what it was handed, one target per line.
        opener_ = root_ / "opener";
        opened_ = root_ / "opened";
        std::ofstream(opener_) << "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" << opened_.string()
                               << "'\n";
        fs::permissions(opener_, fs::perms::owner_all);
        platform::SetDesktopOpener(opener_.string());
    }
    ~Installation() {
        platform::SetDesktopOpener("");
        platform::OverrideModuleFileName(u"");
        ResetLogForTesting();
    }

    void InstallSkin() {
        fs::create_directories(root_ / "skin");
        fs::copy(fs::path(QUMO_SOURCE_DIR) / "skin" / "blue", root_ / "skin" / "blue",
                 fs::copy_options::recursive);
    }
    void WriteConfig(const std::string& xml) {
        std::ofstream(ConfigPath(), std::ios::binary) << xml;
    }

    fs::path ConfigPath() const { return bin_ / "QumolanLocalConfig.xml"; }
    fs::path LogPath() const { return bin_ / "log" / "QumoClient.log"; }
    std::string LogText() const { return fs::exists(LogPath()) ? Utf16FileText(LogPath()) : ""; }
    const fs::path& Root() const { return root_; }
    const fs::path& Bin() const { return bin_; }

    // The targets handed to the desktop so far; waits up to 10 s for `count` of them.
    std::vector<std::string> Opened(std::size_t count) const {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        std::vector<std::string> lines;
        for (;;) {
            lines.clear();
            std::ifstream f(opened_);
            for (std::string line; std::getline(f, line);) {
                lines.push_back(line);
            }
            if (lines.size() >= count || std::chrono::steady_clock::now() > until) {
                return lines;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

private:
    QTemporaryDir tmp_;
    fs::path root_, bin_, opener_, opened_;
};

// Clears what an earlier login left in the program-wide state.
inline void ClearAccount() {
    CGlobalVar::ClearUserState();
    CAppSettings& s = GetAppSettings();
    s.m_szUid[0] = s.m_szToken[0] = s.m_szNick[0] = s.m_szHeadface[0] = 0;
}

} // namespace logintest
