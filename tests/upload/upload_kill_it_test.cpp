// A client process killed with SIGKILL in the middle of a transfer: a new process reads
// the list file, asks the upload server for its offset and finishes from there.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <cstdio>

#include "app/global_var.h"
#include "tests/api/service_session.h"
#include "upload/upload_list_file.h"
#include "upload_it_util.h"

using namespace upload_it;

namespace {

struct Child {
    pid_t pid = -1;
    FILE* out = nullptr;
};

Child Spawn(const std::vector<std::string>& args) {
    int fds[2];
    if (pipe(fds) != 0)
        return {};
    pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], 1);
        close(fds[0]);
        close(fds[1]);
        std::vector<char*> argv;
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(fds[1]);
    return {pid, fdopen(fds[0], "r")};
}

TEST(UploadKill, NewProcessFinishesFromTheOffset) {
    ServiceSession service;
    ASSERT_TRUE(service.Start());
    ASSERT_TRUE(service.Login());
    service.Admin(std::string("/admin/space?mobile=") + ServiceSession::DemoMobile() + "&mb=65536");

    char tmpl[] = "/tmp/qumo_upkill_XXXXXX";
    std::string dir = mkdtemp(tmpl);
    std::string list = dir + "/QumolanUploadList.xml";
    std::string file = dir + "/killed_" + std::to_string(::getpid()) + ".mp4";
    const int64_t size = 32 * 1024 * 1024;
    WriteFreshFile(file, size);
    std::vector<std::string> args = {QUMO_UPLOAD_TEST_CLIENT, service.ApiHost(), list,
                                     service.login.uid, service.login.token};

    // First process: killed once it has sent a fifth of the file.
    std::vector<std::string> first = args;
    first.push_back(file);
    Child c = Spawn(first);
    ASSERT_GT(c.pid, 0);
    char line[128];
    int reached = 0;
    while (reached < 20 && std::fgets(line, sizeof line, c.out) != nullptr)
        std::sscanf(line, "progress %d", &reached);
    ASSERT_GE(reached, 20);
    kill(c.pid, SIGKILL);
    int status = 0;
    waitpid(c.pid, &status, 0);
    fclose(c.out);
    ASSERT_TRUE(WIFSIGNALED(status));

    // The list file has the task announced (UploadStatus "1").
    CGlobalVar::m_strUploadListPath = platform::FromNarrow(list);
    CGlobalVar::m_strUid = platform::FromNarrow(service.login.uid);
    std::string bytes = ReadBytes(list);
    EXPECT_NE(bytes.find(ListFileBytes(u"UploadStatus=\"1\"").substr(80)), std::string::npos);
    std::vector<UpInfo> tasks;
    ASSERT_TRUE(ReadUploadTaskList(tasks));
    ASSERT_EQ(tasks.size(), 1u);
    ASSERT_NE(tasks[0].m_tcVid[0], 0);

    // Second process: only the rest is sent.
    Child d = Spawn(args);
    ASSERT_GT(d.pid, 0);
    int result = -99;
    unsigned long long sent = 0;
    int firstProgress = -1;
    while (std::fgets(line, sizeof line, d.out) != nullptr) {
        int p = 0;
        if (firstProgress < 0 && std::sscanf(line, "progress %d", &p) == 1)
            firstProgress = p;
        std::sscanf(line, "result %d bytes %llu", &result, &sent);
    }
    fclose(d.out);
    waitpid(d.pid, &status, 0);
    EXPECT_EQ(result, 0);
    EXPECT_GE(firstProgress, 15);
    EXPECT_GT(sent, 0u);
    EXPECT_LT(sent, static_cast<unsigned long long>(size) * 85 / 100);
    tasks.clear();
    ASSERT_TRUE(ReadUploadTaskList(tasks));
    EXPECT_TRUE(tasks.empty());
    bool found = false;
    for (const ServerFileEntry& e : service.ListFolder(0))
        if (platform::ToNarrow(e.name) == file.substr(file.rfind('/') + 1)) {
            found = true;
            EXPECT_EQ(StoredSha1(e.mobilepic), FileSha1(file));
        }
    EXPECT_TRUE(found);
    EXPECT_EQ(std::system(("rm -rf " + dir).c_str()), 0);
}

} // namespace
