// The fixture of the upload integration tests: one qumo-service per suite, logged in, and
// per test a fresh folder with the list file in it; each test's end puts the service's
// faults and the preferences back, so a failed test does not leak its set-up into the next.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "app/global_var.h"
#include "app/user_prefs.h"
#include "platform/codepage.h"
#include "tests/api/service_session.h"
#include "upload_it_util.h"

namespace upload_it {

class ServiceTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        service = new ServiceSession();
        ASSERT_TRUE(service->Start());
        ASSERT_TRUE(service->Login());
    }
    static void TearDownTestSuite() {
        delete service;
        service = nullptr;
    }
    void SetUp() override {
        ASSERT_NE(service, nullptr);
        char tmpl[] = "/tmp/qumo_upit_XXXXXX";
        dir = mkdtemp(tmpl);
        listPath = dir + "/QumolanUploadList.xml";
        CGlobalVar::m_strUploadListPath = platform::FromNarrow(listPath);
        CGlobalVar::m_nUploadCtrl = 0;
    }
    void TearDown() override {
        service->Admin("/admin/faults?delay_ms=0&drop_after=-1&drop_always=0");
        prefs::Apply(prefs::UserPrefs{});
        EXPECT_EQ(std::system(("rm -rf " + dir).c_str()), 0);
    }
    // A file no earlier run made, named `stem`, this process and `ext`.
    std::string Fresh(const std::string& stem, int64_t size, const char* ext = ".jpg") {
        const std::string p = dir + "/" + stem + "_" + std::to_string(::getpid()) + ext;
        WriteFreshFile(p, size);
        return p;
    }

    static inline ServiceSession* service = nullptr;
    std::string dir, listPath;
};

} // namespace upload_it
