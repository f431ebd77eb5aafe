// The main window against a real qumo-service: a program folder of its own (skin, local
// configuration, upload list file) in a temporary install root, the demo account logged in,
// and a main window whose progress calls can hold the transfer at a chosen percentage so
// that a test acts while a file is being sent.
#pragma once

#include "app/app_settings.h"
#include "app/global_var.h"
#include "app/program_paths.h"
#include "app/user_prefs.h"
#include "net/api_calls.h"
#include "net/hosts.h"
#include "platform/codepage.h"
#include "platform/event.h"
#include "platform/shell.h"
#include "tests/0support/raw_http.h"
#include "tests/api/service_session.h"
#include "tests/upload/upload_it_util.h"
#include "ui/mainframe/list_ctrl_ex.h"
#include "ui/mainframe/main_frame.h"
#include "ui/qumo_app.h"
#include "ui/skin/du_style.h"
#include "ui/test_hooks.h"
#include "upload/transfer_control.h"
#include "upload/upload_list_file.h"
#include "upload/upload_protocol.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest/QTest>
#include <gtest/gtest.h>

#include <poll.h>

#include <atomic>
#include <mutex>
#include <string>

namespace mftest {

// The main window with a gate in its progress calls (made on the transfer's thread).
class GatedFrame : public CMainFrame {
public:
    GatedFrame()
        : reached(platform::EventHandle::Create()), release(platform::EventHandle::Create()) {}
    // The worker may wait in the gate: it is stopped before the gate's events go away.
    ~GatedFrame() override { StopAllWorkers(); }

    // Holds the transfer of `path` once its progress reaches `percent`.
    void SetGate(const std::u16string& path, int percent) {
        std::lock_guard<std::mutex> g(m_gateLock);
        m_gatePath = path;
        m_gatePercent = percent;
    }
    void PostProgress(int percent, const std::u16string& path) override {
        CMainFrame::PostProgress(percent, path);
        {
            std::lock_guard<std::mutex> g(m_gateLock);
            if (m_tripped || m_gatePath.empty() || path != m_gatePath || percent < m_gatePercent)
                return;
            m_tripped = true;
            gatePercent = percent;
        }
        reached.Set();
        // Ends with the release or with the worker's stop.
        platform::WaitFd(release.Fd(), POLLIN, -1);
    }
    void Release() { release.Set(); }

    platform::EventHandle reached;
    platform::EventHandle release;
    std::atomic<int> gatePercent{0};

private:
    std::mutex m_gateLock;
    std::u16string m_gatePath;
    int m_gatePercent = 0;
    bool m_tripped = false;
};

class FrameTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        service = new ServiceSession();
        ASSERT_TRUE(service->Start());
        hosts::SetWebsite(service->ApiHost()); // the service serves the website's pages too
    }
    static void TearDownTestSuite() {
        delete service;
        service = nullptr;
    }

    void SetUp() override {
        ASSERT_NE(service, nullptr);
        ASSERT_TRUE(m_root.isValid());
        QApplication::setQuitOnLastWindowClosed(false);
        platform::SetDesktopOpener("true");
        const QString root = m_root.path();
        ASSERT_TRUE(QDir().mkpath(root + "/bin/log"));
        ASSERT_TRUE(QDir().mkpath(root + "/lib/tmp"));
        ASSERT_TRUE(QDir().mkpath(root + "/files"));
        ASSERT_TRUE(CopyTree(QStringLiteral(QUMO_SOURCE_DIR) + "/skin/blue", root + "/skin/blue"));
        ASSERT_TRUE(QFile::copy(QStringLiteral(QUMO_SOURCE_DIR) + "/res/QumolanLocalConfig.xml",
                                root + "/bin/QumolanLocalConfig.xml"));
        QFile::setPermissions(root + "/bin/QumolanLocalConfig.xml",
                              QFile::ReadOwner | QFile::WriteOwner);
        ASSERT_TRUE(ComputeProgramPaths((root + "/bin/QumoClient").toStdU16String()));
        m_style = duLoadStyleW(CGlobalVar::m_strSkinPath.c_str());
        ASSERT_NE(m_style, nullptr);
        DuSetAppStyle(m_style.get());
        ASSERT_TRUE(service->Admin("/admin/space?mobile=" + std::string(service->DemoMobile()) +
                                   "&mb=2048") != "");
        ASSERT_TRUE(service->Login());
        CGlobalVar::m_nUploadCtrl = 0;
        CGlobalVar::m_strCurUploadPath.clear();
        // These windows are checked one file after another; several at once have tests of
        // their own.
        prefs::Apply(prefs::UserPrefs{.transfers = 1});
        m_sentBefore = UploadBodyBytesSent();
    }

    void TearDown() override {
        m_frame.reset();
        DuSetAppStyle(nullptr);
        m_style.reset();
        CGlobalVar::m_nUploadCtrl = 0;
        prefs::Apply(prefs::UserPrefs{});
    }

    static bool CopyTree(const QString& from, const QString& to) {
        QDir source(from);
        if (!QDir().mkpath(to))
            return false;
        for (const QFileInfo& e : source.entryInfoList(QDir::NoDotAndDotDot | QDir::AllEntries)) {
            const QString target = to + "/" + e.fileName();
            if (e.isDir() ? !CopyTree(e.filePath(), target) : !QFile::copy(e.filePath(), target))
                return false;
        }
        return true;
    }

    // A new file of `size` bytes in the test's folder, with a name no other run used.
    std::u16string NewFile(const std::string& stem, std::int64_t size) {
        static int counter = 0;
        const std::string name = stem + "_" + std::to_string(::getpid()) + "_" +
                                 std::to_string(++counter) + "_" + std::to_string(time(nullptr)) +
                                 ".jpg";
        const std::string path = platform::ToNarrow(FilesDir()) + "/" + name;
        upload_it::WriteFreshFile(path, size);
        return platform::FromNarrow(path);
    }
    std::u16string FilesDir() const { return (m_root.path() + "/files").toStdU16String(); }

    // Saves tasks into the logged-in user's list group, as a previous run left them.
    static void SaveTasks(const std::vector<std::u16string>& paths) {
        for (const auto& p : paths)
            ASSERT_TRUE(AddUploadTaskList(upload_it::MakeTask(platform::ToNarrow(p))));
    }

    GatedFrame* CreateFrame() {
        m_frame = std::make_unique<GatedFrame>();
        return m_frame.get();
    }
    bool ShowFrame() {
        if (!m_frame->Create(kMainWindowTitle))
            return false;
        m_frame->show();
        return QTest::qWaitForWindowExposed(m_frame.get());
    }
    GatedFrame* OpenFrame() {
        CreateFrame();
        return ShowFrame() ? m_frame.get() : nullptr;
    }

    CListCtrlEx* List() const { return m_frame->m_pUploadList; }
    int Row(const std::u16string& path) const { return List()->Model()->FirstRowWithPath(path); }
    int Value(const std::u16string& path) const { return List()->GetItemData(Row(path)); }
    std::u16string Text(const char16_t* control) const {
        DuWindow* w = m_frame->WindowObject();
        DuControl* c = w ? w->Control(control) : nullptr;
        return c ? c->Text() : u"<none>";
    }
    bool WaitUploaded(const std::u16string& path, int ms = 60000) {
        return QTest::qWaitFor([&] { return Row(path) >= 0 && Value(path) == 200; }, ms);
    }
    bool WaitGate(int ms = 60000) {
        return QTest::qWaitFor([&] { return m_frame->reached.IsSet(); }, ms);
    }
    bool WaitWorkerEnded(int ms = 60000) {
        return QTest::qWaitFor([&] { return !m_frame->m_session.WorkerRunning(); }, ms);
    }
    // The status of the first active or waiting task with this path; -1 when none.
    int TaskStatus(const std::u16string& path) {
        // The session's state as the record's status field numbers it.
        switch (m_frame->m_session.StateOf(path)) {
        case TaskState::Waiting:
            return 0;
        case TaskState::Paused:
        case TaskState::Failed:
            return 5;
        case TaskState::Uploaded:
            return 3;
        case TaskState::Cancelled:
            return -1;
        default:
            return 2;
        }
    }
    void Click(const std::u16string& path, RowButton button) {
        const int row = Row(path);
        ASSERT_GE(row, 0);
        List()->scrollTo(List()->Model()->index(row, 0));
        const QRect rect = List()->ButtonRect(row, button);
        ASSERT_TRUE(rect.isValid()) << "the row offers no such button";
        QTest::mouseClick(List()->viewport(), Qt::LeftButton, {}, rect.center());
    }

    // The entries of a server folder by name, as the logged-in account sees them.
    std::map<std::u16string, ServerFileEntry> ServerFiles(int fid = 0) {
        std::map<std::u16string, ServerFileEntry> m;
        for (const ServerFileEntry& e : service->ListFolder(fid))
            m[e.name] = e;
        return m;
    }
    static std::u16string NameOf(const std::u16string& path) {
        return path.substr(path.rfind(u'/') + 1);
    }
    // The file arrived whole: the service named its pictures by the content's SHA-1.
    // A row shows "上传成功" once the last byte is sent; the confirmation follows.
    void ExpectArrived(const std::u16string& path) {
        std::map<std::u16string, ServerFileEntry> files;
        const bool listed = QTest::qWaitFor(
            [&] {
                files = ServerFiles();
                return files.count(NameOf(path)) != 0;
            },
            30000);
        EXPECT_TRUE(listed);
        auto it = files.find(NameOf(path));
        std::string names;
        for (const auto& [name, e] : files)
            names += " " + platform::ToNarrow(name);
        ASSERT_NE(it, files.end()) << platform::ToNarrow(path) << " not among" << names;
        EXPECT_EQ(upload_it::StoredSha1(it->second.mobilepic),
                  upload_it::FileSha1(platform::ToNarrow(path)));
    }
    void ExpectNotArrived(const std::u16string& path) {
        EXPECT_EQ(ServerFiles().count(NameOf(path)), 0u) << platform::ToNarrow(path);
    }
    // The list file holding only the logged-in user's empty group.
    static std::string EmptyGroupBytes() {
        return upload_it::ListFileBytes(u"\r\n<QumoUploadList>\r\n\t<UserInfo UserName=\"" +
                                        CGlobalVar::m_strUid + u"\" />\r\n</QumoUploadList>");
    }
    static std::string ListFile() {
        return upload_it::ReadBytes(platform::ToNarrow(CGlobalVar::m_strUploadListPath));
    }
    static bool ListFileHas(const std::u16string& text) {
        const std::string bytes = ListFile();
        std::u16string utf16;
        for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
            utf16.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                                  (static_cast<unsigned char>(bytes[i + 1]) << 8)));
        return utf16.find(text) != std::u16string::npos;
    }

    static ServiceSession* service;
    QTemporaryDir m_root;
    std::unique_ptr<DuStyle> m_style;
    std::unique_ptr<GatedFrame> m_frame;
    std::uint64_t m_sentBefore = 0;
};

inline ServiceSession* FrameTest::service = nullptr;

} // namespace mftest
