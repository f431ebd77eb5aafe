// qumo-service: the reference service on loopback. Prints one line with both ports, then
// serves until SIGTERM or SIGINT.
#include "service/options.h"
#include "service/service.h"

#include <signal.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    qumo_service::Options opts;
    std::string err;
    if (!qumo_service::ParseOptions(argc, argv, opts, err)) {
        if (!err.empty())
            std::fprintf(stderr, "qumo-service: %s\n", err.c_str());
        std::fputs(qumo_service::UsageText(), stderr);
        return 2;
    }
    // Every thread inherits the blocked signals; only the wait below takes them.
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    signal(SIGPIPE, SIG_IGN);
    // Every waiting connection is a descriptor: take all the system allows this process.
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &files);
    }

    auto t0 = std::chrono::steady_clock::now();
    qumo_service::Service service;
    if (!service.Start(opts, err)) {
        std::fprintf(stderr, "qumo-service: %s\n", err.c_str());
        return 1;
    }
    auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0)
            .count();
    std::printf("qumo-service listening api=127.0.0.1:%d upload=127.0.0.1:%d%s\n",
                service.ApiPort(), service.UploadPort(), service.Context().tls ? " tls" : "");
    // The admin calls need this secret (header "X-Qumo-Admin"); only whoever started the
    // service sees its output.
    if (opts.admin)
        std::printf("qumo-service admin-secret=%s\n", service.Context().adminSecret.c_str());
    // Clients of the demo over TLS trust this CA (--ca-file); it signed nothing else.
    if (!service.Context().demoCaFile.empty())
        std::printf("qumo-service ca=%s\n", service.Context().demoCaFile.c_str());
    std::fflush(stdout);
    std::fprintf(stderr, "qumo-service: ready in %lld ms, data in %s\n", static_cast<long long>(ms),
                 opts.dataDir.c_str());

    int sig = 0;
    sigwait(&set, &sig);
    service.Stop();
    std::fprintf(stderr, "qumo-service: stopped (signal %d)\n", sig);
    return 0;
}
