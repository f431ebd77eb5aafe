#include "platform/shell.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <thread>

#include "platform/codepage.h"
#include "platform/lasterror.h"

extern char** environ;

namespace platform {

namespace {

std::mutex g_openerLock;
std::string g_opener = "xdg-open";

std::string Opener() {
    std::lock_guard<std::mutex> lock(g_openerLock);
    return g_opener;
}

} // namespace

void SetDesktopOpener(const std::string& program) {
    std::lock_guard<std::mutex> lock(g_openerLock);
    g_opener = program.empty() ? "xdg-open" : program;
}

bool LaunchDetached(const std::string& program, const std::vector<std::string>& args) {
    if (program.empty()) {
        SetLastErrorCode(kErrInvalidParameter);
        return false;
    }
    // Everything the child needs is built before the spawn.
    std::vector<std::string> owned;
    owned.reserve(args.size() + 1);
    owned.push_back(program);
    owned.insert(owned.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : owned)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    // A session of its own, so the opened application outlives us quietly.
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
    pid_t pid = -1;
    int rc = posix_spawnp(&pid, program.c_str(), &actions, &attr, argv.data(), environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        SetLastErrorCode(ErrorFromErrno(rc));
        return false;
    }
    // Reap the child when it ends so it does not linger as a zombie.
    std::thread([pid] {
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
    return true;
}

bool OpenWithDesktop(const std::u16string& target) {
    if (target.empty()) {
        SetLastErrorCode(kErrInvalidParameter);
        return false;
    }
    std::string arg = ToNarrow(target);
    // The opener would read a leading "-" as an option of its own.
    if (arg[0] == '-')
        arg = "./" + arg;
    return LaunchDetached(Opener(), {arg});
}

} // namespace platform
