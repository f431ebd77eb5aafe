// Login, space, folder and file lists, version answers, token and parameter checks, pages,
// partner login cookies and the picture hosts of a real service.
#include "tests/service/service_client.h"

#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <regex>

namespace {

class ApiTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        svc = new ServiceProcess;
        ASSERT_TRUE(svc->Start({"--demo", "--latest-version", "1.2.0"})) << svc->Error();
    }
    static void TearDownTestSuite() {
        delete svc;
        svc = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(LogIn(*svc, ServiceProcess::DemoMobile(), ServiceProcess::DemoPassword(), me));
    }
    static ServiceProcess* svc;
    Login me;
};

ServiceProcess* ApiTest::svc = nullptr;

TEST_F(ApiTest, LoginAnswersRightWrongAndUnknown) {
    Json::Value v;
    ASSERT_TRUE(ApiGet(*svc, "/mobilelogin.json?mobile=13800138000&pwd=" + Md5Of("qumo2012"), v));
    const Json::Value& a = v["attachment"];
    EXPECT_EQ(v["status"].asInt(), 200);
    EXPECT_EQ(a["nick"].asString(), "酷摩小岚");
    EXPECT_EQ(a["uid"].asString(), me.uid);
    EXPECT_EQ(a["token"].asString().size(), 32u);
    EXPECT_NE(a["token"].asString(), me.token); // every login its own token
    // The avatar's address carries a capability of 128 bits, not the account id.
    EXPECT_TRUE(
        std::regex_match(a["headface"].asString(),
                         std::regex("http://" + svc->ApiHost() + "/avatar/[0-9a-f]{32}\\.png")))
        << a["headface"].asString();
    EXPECT_EQ(a["totalspace"].asUInt(), 2048u);
    EXPECT_TRUE(a["usedspace"].isIntegral());
    // Upper-case hex digits of the same digest are the same password.
    std::string upper = Md5Of("qumo2012");
    for (char& c : upper)
        c = static_cast<char>(std::toupper(c));
    ASSERT_TRUE(ApiGet(*svc, "/mobilelogin.json?mobile=13800138000&pwd=" + upper, v));
    EXPECT_EQ(v["status"].asInt(), 200);

    for (std::string q : {"mobile=13800138000&pwd=" + Md5Of("wrong"),
                          "mobile=13900000000&pwd=" + Md5Of("qumo2012")}) {
        ASSERT_TRUE(ApiGet(*svc, "/mobilelogin.json?" + q, v));
        EXPECT_EQ(v["status"].asInt(), 405) << q;
        EXPECT_EQ(v["message"].asString(), "用户名或密码错误，请重新输入！") << q;
    }
    for (std::string q :
         {std::string("mobile=13800138000&pwd=qumo2012"), "mobile=&pwd=" + Md5Of("x"),
          "pwd=" + Md5Of("qumo2012"), std::string("mobile=13800138000"),
          "mobile=13800138000&pwd=" + Md5Of("qumo2012") + "0"}) {
        ASSERT_TRUE(ApiGet(*svc, "/mobilelogin.json?" + q, v));
        EXPECT_EQ(v["status"].asInt(), 400) << q;
    }
}

TEST_F(ApiTest, EveryAccountCallChecksUidAndToken) {
    Json::Value good;
    ASSERT_TRUE(ApiGet(*svc, "/getspace.json?" + Auth(me), good));
    EXPECT_EQ(good["status"].asInt(), 200);
    std::string bad[] = {"uid=" + me.uid + "&token=0123456789abcdef0123456789abcdef",
                         "uid=" + me.uid,
                         "token=" + me.token,
                         "uid=100002&token=" + me.token,
                         "uid=abc&token=" + me.token,
                         "uid=" + me.uid + "x&token=" + me.token,
                         ""};
    std::string calls[] = {"/getspace.json?", "/getfs.json?client=PC&pname=1.000.01&",
                           "/getfilesforpc.json?mid=-1&folderid=0&num=30&",
                           "/allinone.json?sha1=" + Sha1Of("x") +
                               "&folderid=0&filename=a.png&suffix=png&size=1&"};
    for (const std::string& call : calls) {
        for (const std::string& q : bad) {
            Json::Value v;
            ASSERT_TRUE(ApiGet(*svc, call + q, v)) << call << q;
            EXPECT_EQ(v["status"].asInt(), 401) << call << q;
        }
    }
}

TEST_F(ApiTest, SpaceAndFolderList) {
    Json::Value v;
    ASSERT_TRUE(ApiGet(*svc, "/getspace.json?" + Auth(me), v));
    EXPECT_EQ(v["attachment"]["totalspace"].asUInt(), 2048u);
    EXPECT_EQ(v["attachment"]["nick"].asString(), "酷摩小岚");
    ASSERT_TRUE(ApiGet(*svc, "/getfs.json?" + Auth(me) + "&client=PC&pname=1.000.01", v));
    const Json::Value& l = v["attachment"]["folderlist"];
    ASSERT_TRUE(l.isArray());
    ASSERT_GE(l.size(), 7u);
    EXPECT_EQ(l[0]["fid"].asString(), "0");
    EXPECT_EQ(l[0]["parenterid"].asString(), "-1");
    // Three levels below the root, with Chinese names; every parent listed before its children.
    std::map<std::string, std::string> parent;
    for (const Json::Value& f : l) {
        EXPECT_TRUE(f["fid"].isString() && f["parenterid"].isString());
        if (f["fid"].asString() != "0") {
            EXPECT_TRUE(parent.count(f["parenterid"].asString())) << f["name"].asString();
        }
        parent[f["fid"].asString()] = f["parenterid"].asString();
    }
    std::string fair;
    for (const Json::Value& f : l)
        if (f["name"].asString() == "北京庙会")
            fair = f["fid"].asString();
    ASSERT_FALSE(fair.empty());
    int depth = 0;
    for (std::string id = fair; id != "0"; id = parent[id])
        ++depth;
    EXPECT_EQ(depth, 3);
}

TEST_F(ApiTest, FileListParametersAreChecked) {
    struct Case {
        std::string q;
        int status;
    } cases[] = {
        {"mid=-1&folderid=0&num=0", 400},
        {"mid=-1&folderid=0&num=abc", 400},
        {"mid=-1&num=30", 400},
        {"mid=x&folderid=0&num=30", 400},
        {"mid=-2&folderid=0&num=30", 400},
        {"mid=-1&folderid=-1&num=30", 400},
        {"mid=-1&folderid=999999&num=30", 404},
        {"mid=-1&folderid=0&num=30", 200},
        {"mid=-1&folderid=0&num=99999999", 200},
    };
    for (const Case& c : cases) {
        Json::Value v;
        ASSERT_TRUE(ApiGet(*svc, "/getfilesforpc.json?" + Auth(me) + "&" + c.q, v)) << c.q;
        EXPECT_EQ(v["status"].asInt(), c.status) << c.q;
    }
}

TEST_F(ApiTest, AnnouncementParametersAreChecked) {
    std::string sha = Sha1Of("content");
    struct Case {
        std::string q;
        int status;
    } cases[] = {
        {"sha1=&folderid=0&filename=a.png&suffix=png&size=7", 400},
        {"sha1=xyz&folderid=0&filename=a.png&suffix=png&size=7", 400},
        {"sha1=" + sha + "&folderid=0&filename=a%2Fb.png&suffix=png&size=7", 400},
        {"sha1=" + sha + "&folderid=0&filename=..&suffix=png&size=7", 400},
        {"sha1=" + sha + "&folderid=0&filename=%FF%FE.png&suffix=png&size=7", 400},
        {"sha1=" + sha + "&folderid=0&filename=&suffix=png&size=7", 400},
        {"sha1=" + sha + "&folderid=0&filename=a.png&suffix=png&size=-1", 400},
        {"sha1=" + sha + "&folderid=0&filename=a.png&suffix=png&size=1x", 400},
        {"sha1=" + sha + "&folderid=abc&filename=a.png&suffix=png&size=7", 400},
        {"sha1=" + sha + "&folderid=424242&filename=a.png&suffix=png&size=7", 404},
        {"sha1=" + sha + "&folderid=0&filename=%E5%9B%BE.png&suffix=png&size=7", 200},
    };
    for (const Case& c : cases) {
        Json::Value v;
        ASSERT_TRUE(ApiGet(*svc, "/allinone.json?" + Auth(me) + "&" + c.q, v)) << c.q;
        EXPECT_EQ(v["status"].asInt(), c.status) << c.q;
    }
}

TEST_F(ApiTest, VersionAnswers) {
    struct Case {
        const char* version;
        int status;
    } cases[] = {{"1.000.01", 1}, {"1.1.9", 1}, {"1.2", 0}, {"1.2.0", 0}, {"2.0", 0}};
    for (const Case& c : cases) {
        Json::Value v;
        ASSERT_TRUE(ApiGet(
            *svc, std::string("/packagemanager/versionupdateinfo.json?version=") + c.version, v));
        ASSERT_EQ(v["status"].asInt(), 200);
        EXPECT_EQ(v["attachment"]["status"].asInt(), c.status) << c.version;
        if (c.status == 1) {
            EXPECT_EQ(
                v["attachment"]["updateurl"].asString().rfind("http://www.qumo.localhost:", 0), 0u);
        }
    }
    Json::Value v;
    ASSERT_TRUE(ApiGet(*svc, "/packagemanager/versionupdateinfo.json", v));
    EXPECT_EQ(v["status"].asInt(), 400);
}

TEST_F(ApiTest, RegistrationCreatesAnAccountThatLogsIn) {
    std::string form =
        "mobile=15500001111&nick=%E5%B0%8F%E6%98%8E&password=secret99&password2=secret99";
    std::string req = "POST /user/register HTTP/1.1\r\nHost: www.qumo.localhost\r\n"
                      "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                      std::to_string(form.size()) + "\r\nConnection: close\r\n\r\n" + form;
    RawResponse r;
    ASSERT_TRUE(RawExchange(svc->ApiPort(), req, r));
    EXPECT_EQ(r.status, 200);
    EXPECT_NE(r.body.find("注册成功"), std::string::npos);
    Login fresh;
    ASSERT_TRUE(LogIn(*svc, "15500001111", "secret99", fresh));
    Json::Value v;
    ASSERT_TRUE(ApiGet(*svc, "/getspace.json?" + Auth(fresh), v));
    EXPECT_EQ(v["attachment"]["nick"].asString(), "小明");
    // The same mobile again is refused, and the first password still works.
    ASSERT_TRUE(RawExchange(svc->ApiPort(), req, r));
    EXPECT_EQ(r.status, 400);
    EXPECT_TRUE(LogIn(*svc, "15500001111", "secret99", fresh));
}

TEST_F(ApiTest, PagesAreServed) {
    for (const char* path :
         {"/", "/user/register", "/user/repwd", "/info/morespace/", "/about/aboutus",
          "/openuser/sina", "/openuser/renren", "/openuser/qweibo", "/qq/login"}) {
        RawResponse r;
        ASSERT_TRUE(RawGet(svc->ApiPort(), path, r)) << path;
        EXPECT_EQ(r.status, 200) << path;
        EXPECT_EQ(r.Header("Content-Type"), "text/html; charset=utf-8") << path;
        EXPECT_NE(r.body.find("<meta charset=\"utf-8\">"), std::string::npos) << path;
    }
}

TEST_F(ApiTest, PartnerLoginSetsCookiesAndRedirectsHome) {
    std::string form = "account=weibo_fan&password=pw123456";
    std::string req = "POST /openuser/sina HTTP/1.1\r\nHost: open.qumo.localhost\r\n"
                      "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                      std::to_string(form.size()) + "\r\nConnection: close\r\n\r\n" + form;
    RawResponse r;
    ASSERT_TRUE(RawExchange(svc->ApiPort(), req, r));
    EXPECT_EQ(r.status, 302);
    EXPECT_EQ(r.Header("Location"),
              "http://www.qumo.localhost:" + std::to_string(svc->ApiPort()) + "/");
    // Both cookies, for the website's bare domain; only utoken is HttpOnly.
    std::string uid, token;
    size_t pos = 0;
    while ((pos = r.head.find("Set-Cookie: ", pos)) != std::string::npos) {
        size_t e = r.head.find("\r\n", pos);
        std::string c = r.head.substr(pos + 12, e - pos - 12);
        pos = e;
        EXPECT_NE(c.find("; Domain=qumo.localhost"), std::string::npos) << c;
        std::string value = c.substr(c.find('=') + 1, c.find(';') - c.find('=') - 1);
        if (c.rfind("uid=", 0) == 0) {
            uid = value;
            EXPECT_EQ(c.find("HttpOnly"), std::string::npos);
        } else if (c.rfind("utoken=", 0) == 0) {
            token = value;
            EXPECT_NE(c.find("; HttpOnly"), std::string::npos);
        }
    }
    ASSERT_FALSE(uid.empty());
    ASSERT_FALSE(token.empty());
    // The client completes the login with them.
    Json::Value v;
    ASSERT_TRUE(ApiGet(*svc, "/getspace.json?uid=" + uid + "&token=" + token, v));
    EXPECT_EQ(v["status"].asInt(), 200);
    EXPECT_GT(v["attachment"]["totalspace"].asUInt(), 0u);
    EXPECT_EQ(v["attachment"]["nick"].asString(), "weibo_fan");
    // The same partner account later is the same service account; a wrong password is not.
    RawResponse again;
    ASSERT_TRUE(RawExchange(svc->ApiPort(), req, again));
    EXPECT_NE(again.head.find("Set-Cookie: uid=" + uid + ";"), std::string::npos);
    std::string badForm = "account=weibo_fan&password=nope";
    std::string badReq = "POST /openuser/sina HTTP/1.1\r\nContent-Type: "
                         "application/x-www-form-urlencoded\r\nContent-Length: " +
                         std::to_string(badForm.size()) + "\r\nConnection: close\r\n\r\n" + badForm;
    ASSERT_TRUE(RawExchange(svc->ApiPort(), badReq, again));
    EXPECT_EQ(again.status, 400);
    EXPECT_EQ(again.head.find("Set-Cookie"), std::string::npos);
}

TEST_F(ApiTest, PictureHostsServeAvatarsPicturesAndSources) {
    const std::string png("\x89PNG\r\n\x1a\n", 8);
    RawResponse r;
    Json::Value fs, list;
    ASSERT_TRUE(ApiGet(*svc, "/getspace.json?" + Auth(me), fs));
    EXPECT_EQ(Fetch(*svc, fs["attachment"]["headface"].asString()).substr(0, 8), png);
    ASSERT_TRUE(ApiGet(*svc, "/getfs.json?" + Auth(me) + "&client=PC&pname=1.000.01", fs));
    std::string family;
    for (const Json::Value& f : fs["attachment"]["folderlist"])
        if (f["name"].asString() == "家庭相册")
            family = f["fid"].asString();
    ASSERT_TRUE(ApiGet(
        *svc, "/getfilesforpc.json?" + Auth(me) + "&mid=-1&folderid=" + family + "&num=30", list));
    bool sawVideo = false, sawFolder = false;
    for (const Json::Value& e : list["attachment"]["filelist"]) {
        int type = e["type"].asInt();
        if (type == 100) {
            sawFolder = true;
            EXPECT_EQ(e["name"].asString(), "宝宝成长");
            continue;
        }
        ASSERT_TRUE(RawGet(svc->ApiPort(), "/" + e["mobilepic"].asString(), r));
        EXPECT_EQ(r.status, 200);
        EXPECT_EQ(r.body.substr(0, 8), png);
        std::string src = e["source"].asString();
        ASSERT_EQ(src.rfind("http://" + svc->ApiHost() + "/", 0), 0u);
        ASSERT_TRUE(RawGet(svc->ApiPort(), src.substr(7 + svc->ApiHost().size()), r));
        EXPECT_EQ(r.body.size(), e["size"].asUInt());
        if (type == 200) {
            sawVideo = true;
            EXPECT_EQ(e["mobilepic"].asString().rfind("vthumb/", 0), 0u);
            EXPECT_FALSE(e["playurl"].asString().empty());
        } else {
            EXPECT_EQ(r.body.substr(0, 8), png);
        }
    }
    EXPECT_TRUE(sawVideo);
    EXPECT_TRUE(sawFolder);
    for (const char* bad : {"/pic/s/zz.png", "/pic/s/0000000000000000000000000000000000000000.png",
                            "/src/0", "/src/1007", "/src/99999999", "/avatar/1.png",
                            "/avatar/100001.png", "/play/1032", "/nothing"}) {
        ASSERT_TRUE(RawGet(svc->ApiPort(), bad, r));
        EXPECT_EQ(r.status, 404) << bad;
    }
}

} // namespace
