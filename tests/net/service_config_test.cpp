// Service addresses chosen at start: URL checks, the order of the sources, and that a bad
// value changes nothing.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "net/hosts.h"
#include "net/net_link.h"
#include "net/service_config.h"

using namespace service_config;

TEST(ServiceConfig, UrlsAreCheckedWhole) {
    HostUrl u;
    std::string err;
    ASSERT_TRUE(ParseHostUrl("https://api.example.com:8443", u, err)) << err;
    EXPECT_TRUE(u.secure);
    EXPECT_EQ(u.host, "api.example.com");
    EXPECT_EQ(u.port, 8443);
    ASSERT_TRUE(ParseHostUrl("HTTP://127.0.0.1/", u, err)) << err;
    EXPECT_FALSE(u.secure);
    EXPECT_EQ(u.port, 80);
    EXPECT_EQ(u.Text(), "http://127.0.0.1");
    ASSERT_TRUE(ParseHostUrl("https://pics.example.com", u, err));
    EXPECT_EQ(u.port, 443);

    const char* bad[] = {"ftp://h",         "h:80",           "http://",      "http://:80",
                         "http://h:0",      "http://h:65536", "http://h:",    "http://h:8x",
                         "http://u:p@h",    "https://u@h:1",  "http://h/api", "http://h?x",
                         "http://[::1]:80", "http://h_x",     "https//h"};
    for (const char* b : bad) {
        err.clear();
        EXPECT_FALSE(ParseHostUrl(b, u, err)) << b;
        EXPECT_FALSE(err.empty()) << b;
    }
    ParseHostUrl("http://u:secret@h", u, err);
    EXPECT_NE(err.find("password"), std::string::npos) << err;
    ParseHostUrl("gopher://h", u, err);
    EXPECT_NE(err.find("unknown scheme"), std::string::npos) << err;
}

TEST(ServiceConfig, OptionsBeatTheFileWhichBeatsTheDefaults) {
    Settings file, args;
    std::string err;
    ASSERT_TRUE(ParseConfText("# comment\n; another\n\n service = https://svc.example:9443 \r\n"
                              "pictures=http://pics.example:8080\nca-file = /x/ca.pem\n",
                              file, err))
        << err;
    ASSERT_TRUE(ParseArgs({"-platform", "offscreen", "--api", "http://127.0.0.1:5000",
                           "--website=https://www.example"},
                          args, err))
        << err;
    Resolved d;
    d.api = d.update = d.website = d.partner = d.picture = d.video = HostUrl{false, "dflt", 80};
    const Resolved r = Resolve(args, file, d);
    EXPECT_EQ(r.api.Text(), "http://127.0.0.1:5000");        // option for one host
    EXPECT_EQ(r.website.Text(), "https://www.example");      // option for one host
    EXPECT_EQ(r.picture.Text(), "http://pics.example:8080"); // file, one host
    EXPECT_EQ(r.update.Text(), "https://svc.example:9443");  // file, every host
    EXPECT_EQ(r.caFile, "/x/ca.pem");

    // --service on the command line beats even a single host named in the file.
    ASSERT_TRUE(ParseArgs({"--service", "http://10.0.0.1:81"}, args, err));
    EXPECT_EQ(Resolve(args, file, d).picture.Text(), "http://10.0.0.1:81");
    EXPECT_EQ(Resolve({}, {}, d).video.Text(), "http://dflt");

    EXPECT_FALSE(ParseArgs({"--api"}, args, err));
    EXPECT_FALSE(ParseArgs({"--colour", "red"}, args, err));
    EXPECT_FALSE(ParseConfText("api = http://a\nnonsense\n", file, err));
    EXPECT_NE(err.find("line 2"), std::string::npos) << err;
    EXPECT_FALSE(ParseConfText("apii = http://a\n", file, err));
}

TEST(ServiceConfig, ConfigureSetsEverythingOrNothing) {
    const std::string api = hosts::ApiBase(), pic = hosts::PictureBase();
    const std::string conf = ::testing::TempDir() + "qumoclient_test.conf";
    {
        std::ofstream out(conf);
        out << "service = https://svc.test:8443\nupdate = http://up.test:81\n";
    }
    std::string err;
    // A bad option fails the whole start, even with a good file: nothing changes.
    EXPECT_FALSE(Configure({"--pictures", "http://a:99999"}, conf, err));
    EXPECT_NE(err.find("--pictures"), std::string::npos) << err;
    EXPECT_EQ(hosts::ApiBase(), api);
    EXPECT_FALSE(Configure({"--ca-file", conf}, conf, err)); // not a certificate
    EXPECT_EQ(hosts::ApiBase(), api);

    ASSERT_TRUE(Configure({"--pictures", "http://127.0.0.1:8099"}, conf, err)) << err;
    EXPECT_EQ(hosts::ApiBase(), "https://svc.test:8443");
    EXPECT_EQ(hosts::Api(), "svc.test:8443");
    EXPECT_EQ(hosts::UpdateBase(), "http://up.test:81");
    EXPECT_EQ(hosts::Picture(), "127.0.0.1:8099");
    // https hosts are never reached in clear; with an https API neither are the hosts it
    // names (upload servers), while hosts configured as http stay plain.
    EXPECT_TRUE(net::MustUseTls("svc.test", 8443));
    EXPECT_TRUE(net::MustUseTls("upload.elsewhere", 8411));
    EXPECT_FALSE(net::MustUseTls("up.test", 81));
    EXPECT_FALSE(net::MustUseTls("127.0.0.1", 8099));

    std::remove(conf.c_str());
    hosts::SetAllServiceHosts(api);
    hosts::SetWebsite("www.qumo.localhost:8410");
    hosts::SetPartnerLogin("open.qumo.localhost:8410");
    hosts::SetPicture(pic);
    EXPECT_FALSE(net::MustUseTls("upload.elsewhere", 8411));
}

// The program changes its working folder after reading the options: a relative CA file
// given from another folder must still name the file it named at the start.
TEST(ServiceConfig, RelativeCaFileMeansTheStartFolder) {
    namespace fs = std::filesystem;
    const fs::path before = fs::current_path();
    const fs::path start = fs::path(::testing::TempDir()) / "qumo_start_folder";
    fs::remove_all(start);
    fs::create_directories(start / "tls");
    fs::create_directories(start / "elsewhere");
    const std::string make = "cd '" + start.string() +
                             "/tls' && openssl req -x509 -newkey ec -pkeyopt "
                             "ec_paramgen_curve:prime256v1 -nodes -keyout ca.key -out ca.pem "
                             "-days 2 -subj /CN=QumoTestCA >/dev/null 2>&1";
    if (std::system(make.c_str()) != 0) {
        GTEST_SKIP() << "the openssl tool could not make a CA";
    }
    const std::string caBefore = net::ExtraCaFile();
    fs::current_path(start);
    std::string err;
    // A file that cannot be used stops the start with its name, resolved where it was given.
    EXPECT_FALSE(Configure({"--ca-file", "tls/missing.pem"}, "", err));
    EXPECT_NE(err.find((start / "tls/missing.pem").string()), std::string::npos) << err;
    EXPECT_EQ(net::ExtraCaFile(), caBefore);

    ASSERT_TRUE(Configure({"--ca-file", "tls/../tls/ca.pem"}, "", err)) << err;
    fs::current_path(start / "elsewhere"); // as the program does after its start
    const std::string kept = net::ExtraCaFile();
    EXPECT_EQ(kept, (start / "tls/ca.pem").string());
    std::string why;
    EXPECT_TRUE(net::CanLoadCaFile(kept, why)) << why;

    // In the settings file a relative path means a file beside that file.
    const fs::path conf = start / "tls/qumoclient.conf";
    std::ofstream(conf) << "ca-file = ca.pem\n";
    Settings file;
    ASSERT_TRUE(LoadConfFile(conf.string(), file, err)) << err;
    EXPECT_EQ(file.caFile.value_or(""), (start / "tls/ca.pem").string());

    fs::current_path(before);
    net::SetExtraCaFile(caBefore);
    fs::remove_all(start);
}
