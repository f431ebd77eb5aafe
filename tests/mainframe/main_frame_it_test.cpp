// The main window as a user meets it, against a real qumo-service: the user panel, the
// saved queue, uploads to "上传成功", pause, resume and cancel of running and waiting files,
// lack of space, logout and another account, and a restart in the middle of an upload.
#include "frame_fixture.h"

#include "ui/local_dir_tree.h"
#include "ui/mainframe/user_panel_text.h"
#include "ui/skin/du_surface.h"
#include "ui/user_login_dlg.h"

#include <QMenu>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <fstream>
#include <sstream>

using namespace mftest;
using ui::testing::MsgAnswer;
using ui::testing::MsgBoxAnswerer;

namespace {

std::string FileBytes(const std::u16string& path) {
    return upload_it::ReadBytes(platform::ToNarrow(path));
}

TEST(UserPanelText, SpaceRules) {
    EXPECT_EQ(UserSpaceText(10240, 5120), u"容量：10G （已使用50%）");
    EXPECT_EQ(UserSpaceText(0, 0), u"容量：0G （尚未使用）");
    EXPECT_EQ(UserSpaceText(0, 500), u"容量：0G （尚未使用）");
    EXPECT_EQ(UserSpaceText(10240, 102), u"容量：10G （尚未使用）"); // below 1 %
    EXPECT_EQ(UserSpaceText(10240, 103), u"容量：10G （已使用1%）");
    EXPECT_EQ(UserSpaceText(2047, 2047), u"容量：1G （已使用100%）");
    // No overflow for a large account.
    EXPECT_EQ(UserSpaceText(2000000000, 1000000000), u"容量：1953125G （已使用50%）");
    EXPECT_EQ(AvatarExtension(u"http://h/a/b.GIF"), u"gif");
    EXPECT_EQ(AvatarExtension(u"http://h/a.b/noext"), u"");
    EXPECT_EQ(AvatarExtension(u"http://h/a/b.tar.JpG"), u"jpg");
}

class MainFrameIt : public FrameTest {};

TEST_F(MainFrameIt, UserPanelAvatarAndMenu) {
    GatedFrame* frame = OpenFrame();
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->windowTitle().toStdU16String(), u"酷摩岚 V1.0");
    EXPECT_EQ(Text(u"link_username"), u"酷摩小岚");
    EXPECT_EQ(Text(u"link_useMemory"),
              UserSpaceText(CGlobalVar::m_nTotalSpace, CGlobalVar::m_nUsedSpace));
    EXPECT_EQ(CGlobalVar::m_nTotalSpace, 2048);
    EXPECT_EQ(Text(u"copyright_text"), u"暂无上传任务");

    // The service's avatar (a PNG address) is saved as the JPEG target and shown.
    const std::u16string folder = CGlobalVar::m_strInstallRoot + u"skin/blue/topuserinfo/";
    const std::string avatar = FileBytes(folder + u"selfimage.jpg");
    ASSERT_GE(avatar.size(), 8u);
    EXPECT_EQ(avatar.substr(0, 4), "\x89PNG");
    DuImage* image = m_style->ImageResources()->Find(u"btn_selfimage");
    ASSERT_NE(image, nullptr);
    EXPECT_FALSE(image->IsNull());

    const std::string defaultBytes = FileBytes(folder + u"selfimage_default.jpg");
    const std::u16string accountAvatar = CGlobalVar::m_strHeadface;
    // No extension: the default picture.
    CGlobalVar::m_strHeadface = platform::FromNarrow("http://" + service->ApiHost() + "/noext");
    frame->ShowUserInfo();
    EXPECT_EQ(FileBytes(folder + u"selfimage.jpg"), defaultBytes);
    // A GIF address (upper case counts) that cannot be fetched: the default, no GIF file.
    CGlobalVar::m_strHeadface =
        platform::FromNarrow("http://" + service->ApiHost() + "/missing/face.GIF");
    frame->ShowUserInfo();
    EXPECT_EQ(FileBytes(folder + u"selfimage.jpg"), defaultBytes);
    EXPECT_TRUE(FileBytes(folder + u"selfimage.gif").empty());
    // A GIF address that answers: the GIF target is the picture.
    CGlobalVar::m_strHeadface = accountAvatar + u"?as=.gif";
    frame->ShowUserInfo();
    EXPECT_EQ(FileBytes(folder + u"selfimage.gif"), avatar);
    EXPECT_TRUE(FileBytes(folder + u"selfimage.jpg").empty());
    EXPECT_FALSE(m_style->ImageResources()->Find(u"btn_selfimage")->IsNull());
    // The next user's failed GIF must not show the previous picture.
    CGlobalVar::m_strHeadface =
        platform::FromNarrow("http://" + service->ApiHost() + "/missing/other.gif");
    frame->ShowUserInfo();
    EXPECT_TRUE(FileBytes(folder + u"selfimage.gif").empty());
    EXPECT_EQ(FileBytes(folder + u"selfimage.jpg"), defaultBytes);

    // Space texts follow the values.
    CGlobalVar::m_nTotalSpace = 10240;
    CGlobalVar::m_nUsedSpace = 5120;
    frame->ShowUserInfo();
    EXPECT_EQ(Text(u"link_useMemory"), u"容量：10G （已使用50%）");

    // The system menu: texts, commands and separators in order.
    QMenu menu;
    frame->BuildSystemMenu(menu);
    std::vector<std::pair<int, std::u16string>> items;
    for (QAction* a : menu.actions())
        items.emplace_back(a->isSeparator() ? 0 : a->data().toInt(), a->text().toStdU16String());
    const std::vector<std::pair<int, std::u16string>> expected = {{12772, u"进入酷摩岚网(&H)"},
                                                                  {0, u""},
                                                                  {32801, u"检查更新(&U)"},
                                                                  {kCmdSettings, u"设置(&S)"},
                                                                  {12796, u"关于(&A)"},
                                                                  {12791, u"注销(&Q)"},
                                                                  {0, u""},
                                                                  {12793, u"退出(&X)"}};
    EXPECT_EQ(items, expected);

    // The maximise toggle twice: maximised with sysMax on, then restored with it off.
    DuControl* max = frame->WindowObject()->Control(u"sysMax");
    ASSERT_NE(max, nullptr);
    DuControl* self = frame->WindowObject()->Control(u"mainframe");
    // The test screen (800 x 800) is narrower than the window (980 x 660): it opened
    // maximised with the button on; restored it is no wider than the screen.
    EXPECT_TRUE(frame->isMaximized());
    EXPECT_TRUE(max->CheckState());
    frame->showNormal();
    EXPECT_FALSE(max->CheckState());
    EXPECT_LE(frame->width(), frame->screen()->availableSize().width());
    frame->WindowObject()->SendEvent(self, kDuEventMaximizeToggle);
    EXPECT_TRUE(max->CheckState());
    EXPECT_TRUE(frame->isMaximized());
    frame->WindowObject()->SendEvent(self, kDuEventMaximizeToggle);
    EXPECT_FALSE(max->CheckState());
    EXPECT_FALSE(frame->isMaximized());

    // The caption's maximise button.
    frame->WindowObject()->SendEvent(max, kDuEventStateChange, 1);
    EXPECT_TRUE(frame->isMaximized());
    frame->WindowObject()->SendEvent(max, kDuEventStateChange, 0);
    EXPECT_FALSE(frame->isMaximized());

    // A double click on the caption (the title, away from its buttons) toggles as sysMax
    // does, the button following; so does a window maximised by the window system.
    ASSERT_TRUE(QTest::qWaitForWindowExposed(frame));
    QWidget* surface = frame->WindowObject()->Surface();
    const QPoint title(surface->width() / 3, 12);
    QTest::mouseDClick(surface, Qt::LeftButton, Qt::NoModifier, title);
    EXPECT_TRUE(frame->isMaximized());
    EXPECT_TRUE(max->CheckState());
    QTest::mouseDClick(surface, Qt::LeftButton, Qt::NoModifier, title);
    EXPECT_FALSE(frame->isMaximized());
    EXPECT_FALSE(max->CheckState());
    frame->showMaximized();
    EXPECT_TRUE(max->CheckState());
    frame->showNormal();
    EXPECT_FALSE(max->CheckState());

    // Pages of the website go to the desktop's opener with their full address.
    const QString opened = m_root.path() + "/opened.txt";
    const QString opener = m_root.path() + "/opener.sh";
    {
        QFile script(opener);
        ASSERT_TRUE(script.open(QIODevice::WriteOnly));
        script.write(("#!/bin/sh\necho \"$1\" >> '" + opened + "'\n").toUtf8());
    }
    QFile::setPermissions(opener, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    platform::SetDesktopOpener(opener.toStdString());
    EXPECT_TRUE(frame->OnCommand(kCmdHomePage));
    frame->WindowObject()->SendEvent(frame->WindowObject()->Control(u"btn_getmorememory"),
                                     kDuEventClick);
    EXPECT_TRUE(frame->OnCommand(kCmdAbout));
    const std::string site = "http://" + service->ApiHost();
    const std::string expectedPages =
        site + "/\n" + site + "/info/morespace/\n" + site + "/about/aboutus\n";
    std::string pages;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            pages = upload_it::ReadBytes(opened.toStdString());
            return pages.size() >= expectedPages.size();
        },
        10000));
    // The opener runs detached: the order of three quick launches is not guaranteed.
    auto sorted = [](std::string text) {
        std::vector<std::string> lines;
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        std::sort(lines.begin(), lines.end());
        return lines;
    };
    EXPECT_EQ(sorted(pages), sorted(expectedPages));
    platform::SetDesktopOpener("true");

    // Exit asks; declining keeps everything.
    MsgBoxAnswerer answerer(MsgAnswer::Decline);
    frame->WindowObject()->SendEvent(frame->WindowObject()->Control(u"sysClose"), kDuEventClick);
    EXPECT_EQ(answerer.Texts(), std::vector<std::u16string>{u"确定退出系统吗,点[否]取消退出?"});
    EXPECT_TRUE(frame->isVisible());
    EXPECT_FALSE(CGlobalVar::m_strUid.empty());
    // The window manager's close (Alt+F4) asks the same question; 'no' keeps the window.
    answerer.Queue(MsgAnswer::Decline);
    EXPECT_FALSE(frame->windowHandle()->close());
    EXPECT_EQ(answerer.Texts().size(), 2u);
    EXPECT_EQ(answerer.Texts().back(), u"确定退出系统吗,点[否]取消退出?");
    EXPECT_TRUE(frame->isVisible());
    EXPECT_FALSE(CGlobalVar::m_strUid.empty());
    answerer.Queue(MsgAnswer::Confirm);
    EXPECT_TRUE(frame->OnCommand(kCmdExit));
    EXPECT_EQ(answerer.Texts().size(), 3u); // the confirmed close does not ask again
    EXPECT_FALSE(frame->isVisible());
    EXPECT_TRUE(CGlobalVar::m_strUid.empty());
    EXPECT_EQ(CGlobalVar::m_nTotalSpace, 0);
}

TEST_F(MainFrameIt, SavedQueueShowsItsRowsAndUploads) {
    const std::u16string small = NewFile("small", 1048576), big = NewFile("big", 6 << 20);
    SaveTasks({small, big});
    GatedFrame* frame = CreateFrame();
    std::vector<int> bigValues;
    QMetaObject::Connection recorder;
    {
        // The service sits on the first announcement while the window shows the loaded queue.
        ASSERT_NE(service->Admin("/admin/faults?delay_ms=1500"), "");
        ASSERT_TRUE(ShowFrame());
        ASSERT_EQ(List()->GetItemCount(), 2);
        EXPECT_EQ(List()->GetItemText(0, 0), NameOf(small));
        EXPECT_EQ(List()->GetItemText(0, 1), u"我的酷摩岚");
        EXPECT_EQ(List()->GetItemText(0, 2), u"等待中...");
        EXPECT_EQ(List()->GetItemText(0, 3), u"1024.0 KB");
        EXPECT_EQ(List()->GetItemText(0, 5), small);
        EXPECT_EQ(List()->GetItemText(0, 6), u"0");
        EXPECT_EQ(List()->GetItemText(1, 3), u"6.0 MB");
        EXPECT_EQ(Text(u"copyright_text"), u"2个文件正在上传......");
        EXPECT_EQ(Text(u"tab_uploadfile"), u"   文件上传进度(2)");
        EXPECT_EQ(frame->m_session.Pending(), 2);
        service->Admin("/admin/faults?delay_ms=0");
        recorder = QObject::connect(List()->Model(), &QAbstractItemModel::dataChanged, frame,
                                    [&](const QModelIndex& from, const QModelIndex& to) {
                                        const int r = Row(big);
                                        if (r >= from.row() && r <= to.row())
                                            bigValues.push_back(List()->GetItemData(r));
                                    });
    }
    ASSERT_TRUE(WaitUploaded(small));
    ASSERT_TRUE(WaitUploaded(big));
    QObject::disconnect(recorder);
    EXPECT_EQ(List()->GetItemText(Row(big), 2), u"上传成功");
    // The bar moved through whole percentages before the end.
    ASSERT_GE(bigValues.size(), 3u);
    EXPECT_TRUE(
        std::any_of(bigValues.begin(), bigValues.end(), [](int v) { return v > 0 && v < 100; }));
    EXPECT_TRUE(std::is_sorted(bigValues.begin(), bigValues.end()));
    ASSERT_TRUE(WaitWorkerEnded());
    EXPECT_EQ(Text(u"copyright_text"), u"暂无上传任务");
    EXPECT_EQ(Text(u"tab_uploadfile"), u"   文件上传进度");
    EXPECT_EQ(ListFile(), EmptyGroupBytes());
    ExpectArrived(small);
    ExpectArrived(big);
    // Uploaded rows stay until cancelled.
    EXPECT_EQ(List()->GetItemCount(), 2);
}

TEST_F(MainFrameIt, EmptyOrBrokenSavedQueueStartsNoWorker) {
    const std::u16string gone = NewFile("gone", 10);
    SaveTasks({gone});
    ASSERT_TRUE(DeleteUploadTaskList(gone));
    const std::string emptyGroup = ListFile();
    ASSERT_EQ(emptyGroup, EmptyGroupBytes());
    ASSERT_NE(OpenFrame(), nullptr);
    EXPECT_EQ(List()->GetItemCount(), 0);
    EXPECT_FALSE(m_frame->m_session.WorkerRunning());
    EXPECT_EQ(Text(u"copyright_text"), u"暂无上传任务");
    m_frame.reset();

    // Not XML at all: the queue starts empty, the file is set aside as it was (never
    // overwritten by the next upload) and the user is told once.
    {
        std::ofstream f(platform::ToNarrow(CGlobalVar::m_strUploadListPath), std::ios::binary);
        f << "\xFF\xFE<<<not xml";
    }
    const std::string broken = ListFile();
    MsgBoxAnswerer answerer(MsgAnswer::Confirm);
    ASSERT_NE(OpenFrame(), nullptr);
    EXPECT_EQ(List()->GetItemCount(), 0);
    EXPECT_FALSE(m_frame->m_session.WorkerRunning());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !answerer.Texts().empty(); }, 5000));
    const std::u16string told = answerer.Texts().front();
    const std::u16string prefix = u"上传列表文件无法读取，已另存为 ";
    ASSERT_EQ(told.rfind(prefix, 0), 0u);
    const std::u16string aside =
        told.substr(prefix.size(), told.find(u' ', prefix.size()) - prefix.size());
    EXPECT_EQ(FileBytes(aside), broken);
    std::remove(platform::ToNarrow(aside).c_str());
    m_frame.reset();
    ASSERT_NE(OpenFrame(), nullptr);
    QTest::qWait(50);
    EXPECT_EQ(answerer.Texts().size(), 1u);
}

TEST_F(MainFrameIt, PauseAndResumeTheFileBeingSentAndAWaitingOne) {
    const std::u16string sending = NewFile("sending", 12 << 20),
                         waiting = NewFile("waiting", 300000);
    SaveTasks({sending, waiting});
    GatedFrame* frame = CreateFrame();
    frame->SetGate(sending, 20);
    ASSERT_TRUE(ShowFrame());
    ASSERT_TRUE(WaitGate());
    MsgBoxAnswerer answerer(MsgAnswer::Confirm);

    // The waiting file: its task is paused (status 5), the transfer goes on.
    Click(waiting, RowButton::Pause);
    EXPECT_EQ(List()->RowState(Row(waiting)), 0);
    EXPECT_EQ(TaskStatus(waiting), 5);
    EXPECT_EQ(m_frame->m_session.CommandOf(sending), 0);
    // The file being sent: its attempt is told to pause, and every wait of it ends at once
    // (the gate's too), so it may already be paused.
    Click(sending, RowButton::Pause);
    EXPECT_TRUE(m_frame->m_session.CommandOf(sending) == 2 || TaskStatus(sending) == 5);
    EXPECT_EQ(answerer.Texts().size(), 2u);
    frame->Release();
    ASSERT_TRUE(QTest::qWaitFor([&] { return TaskStatus(sending) == 5; }, 60000));
    QTest::qWait(50);
    EXPECT_EQ(m_frame->m_session.CommandOf(sending), -1); // the transfer let the file go
    const int pausedAt = Value(sending);
    EXPECT_GE(pausedAt, 20);
    EXPECT_LT(pausedAt, 100);
    EXPECT_EQ(Value(waiting), 0);
    EXPECT_TRUE(List()->ButtonRect(Row(sending), RowButton::Resume).isValid());
    ExpectNotArrived(sending);
    ExpectNotArrived(waiting);
    EXPECT_TRUE(ListFileHas(u"UploadStatus=\"1\"")); // the upload values were saved

    // Resume the sent file: it continues from the service's offset.
    const std::uint64_t sentBeforeResume = UploadBodyBytesSent();
    Click(sending, RowButton::Resume);
    ASSERT_TRUE(WaitUploaded(sending));
    EXPECT_LT(UploadBodyBytesSent() - sentBeforeResume, 12u << 20);
    ExpectArrived(sending);
    // The waiting file stays paused until it is resumed.
    QTest::qWait(200);
    EXPECT_EQ(Value(waiting), 0);
    EXPECT_EQ(TaskStatus(waiting), 5);
    ExpectNotArrived(waiting);
    Click(waiting, RowButton::Resume);
    ASSERT_TRUE(WaitUploaded(waiting));
    ExpectArrived(waiting);
    ASSERT_TRUE(WaitWorkerEnded());
    EXPECT_EQ(ListFile(), EmptyGroupBytes());
}

TEST_F(MainFrameIt, CancelUploadedWaitingAndRunningRows) {
    const std::u16string done = NewFile("done", 2000), running = NewFile("running", 8 << 20),
                         waiting = NewFile("waitcancel", 5000);
    SaveTasks({done, running, waiting});
    GatedFrame* frame = CreateFrame();
    frame->SetGate(running, 10);
    ASSERT_TRUE(ShowFrame());
    ASSERT_TRUE(WaitGate());
    ASSERT_TRUE(WaitUploaded(done));
    MsgBoxAnswerer answerer(MsgAnswer::Confirm);

    Click(done, RowButton::Cancel); // uploaded: no question
    EXPECT_TRUE(answerer.Texts().empty());
    EXPECT_EQ(Row(done), -1);

    Click(waiting, RowButton::Cancel);
    EXPECT_EQ(answerer.Texts(), std::vector<std::u16string>{u"确定要取消此文件的上传吗？"});
    EXPECT_EQ(Row(waiting), -1);
    EXPECT_EQ(TaskStatus(waiting) == -1 || TaskStatus(waiting) == 3, true);
    EXPECT_FALSE(ListFileHas(NameOf(waiting)));
    // The plain summary, or the progress line once the refresh has shown it.
    EXPECT_EQ(Text(u"tab_uploadfile"), u"   文件上传进度(1)");
    EXPECT_TRUE(Text(u"copyright_text") == u"1个文件正在上传......" ||
                Text(u"copyright_text").starts_with(u"正在上传 "));

    Click(running, RowButton::Cancel);
    EXPECT_EQ(Row(running), -1);
    EXPECT_EQ(TaskStatus(running), -1); // the session let it go; its attempt stops
    EXPECT_FALSE(ListFileHas(NameOf(running)));
    frame->Release();
    ASSERT_TRUE(WaitWorkerEnded());
    EXPECT_EQ(List()->GetItemCount(), 0);
    EXPECT_EQ(ListFile(), EmptyGroupBytes());
    EXPECT_EQ(Text(u"copyright_text"), u"暂无上传任务");
    ExpectArrived(done);
    ExpectNotArrived(running);
    ExpectNotArrived(waiting);
}

TEST_F(MainFrameIt, LackOfSpacePausesEveryRow) {
    ASSERT_NE(service->Admin("/admin/space?mobile=" + std::string(service->DemoMobile()) + "&mb=1"),
              "");
    const std::u16string a = NewFile("nospace_a", 3 << 20), b = NewFile("nospace_b", 3 << 20);
    SaveTasks({a, b});
    MsgBoxAnswerer answerer(MsgAnswer::Confirm);
    ASSERT_NE(OpenFrame(), nullptr);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return List()->RowState(0) == 0 && List()->RowState(1) == 0; }, 60000));
    EXPECT_EQ(answerer.Texts(), std::vector<std::u16string>{kNoSpaceMessage});
    EXPECT_TRUE(List()->ButtonRect(0, RowButton::Resume).isValid());
    EXPECT_TRUE(List()->ButtonRect(1, RowButton::Resume).isValid());
    EXPECT_EQ(TaskStatus(a), 5);
    EXPECT_EQ(TaskStatus(b), 5);
    // With space again, a resumed row uploads.
    ASSERT_NE(
        service->Admin("/admin/space?mobile=" + std::string(service->DemoMobile()) + "&mb=2048"),
        "");
    // No file is being sent: the resume still reaches the task.
    Click(b, RowButton::Resume);
    ASSERT_TRUE(WaitUploaded(b));
    ExpectArrived(b);
    EXPECT_EQ(TaskStatus(a), 5);
}

// Answers the login window of a logout with an account, or closes it.
void AnswerLogin(const std::u16string& account, const std::u16string& password) {
    QTimer::singleShot(20, [account, password]() {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* login = dynamic_cast<CUserLoginDlg*>(w);
            if (!login || !login->isVisible())
                continue;
            if (account.empty()) {
                DuAppStyle()->Close(login);
                return;
            }
            login->AccountEdit()->setText(QString::fromStdU16String(account));
            login->PasswordEdit()->setText(QString::fromStdU16String(password));
            login->RunLogin();
            return;
        }
        AnswerLogin(account, password); // not shown yet
    });
}

TEST_F(MainFrameIt, LogoutAndAnotherAccountSeeOnlyTheirQueues) {
    // A second account, registered on the website.
    const std::string mobile = "139" + std::to_string(10000000 + ::getpid() % 9000000);
    const std::string form = "mobile=" + mobile + "&nick=second&password=secret1&password2=secret1";
    RawResponse reg;
    ASSERT_TRUE(RawExchange(service->Port(),
                            "POST /user/register HTTP/1.1\r\nHost: x\r\nContent-Type: "
                            "application/x-www-form-urlencoded\r\nContent-Length: " +
                                std::to_string(form.size()) + "\r\nConnection: close\r\n\r\n" +
                                form,
                            reg));
    ASSERT_EQ(reg.status, 200) << reg.body;
    const std::u16string second = platform::FromNarrow(mobile);

    // Each account has a saved task; the demo account's stays unfinished at first.
    const std::u16string mine = NewFile("demo_task", 6 << 20),
                         theirs = NewFile("second_task", 4000);
    LoginAnswer other = ApiLogin(second, u"secret1");
    ASSERT_EQ(other.outcome, ApiOutcome::Ok);
    GetAppSettings().SetUserInfo(other.uid.c_str(), other.token.c_str(), other.nick.c_str(),
                                 other.headface.c_str(), 0, 100);
    SaveTasks({theirs});
    ASSERT_TRUE(service->Login());
    SaveTasks({mine});

    GatedFrame* frame = CreateFrame();
    frame->SetGate(mine, 5);
    ASSERT_TRUE(ShowFrame());
    ASSERT_TRUE(WaitGate());
    ASSERT_EQ(List()->GetItemCount(), 1);
    EXPECT_EQ(List()->GetItemText(0, 5), mine);

    // The local tree as the first user left it: the file system opened and selected; then a
    // medium is mounted.
    CLocalDirTree* tree = frame->m_pLocalDirTree;
    const QString media = m_root.path() + "/media";
    ASSERT_TRUE(QDir().mkpath(media));
    tree->SetMediaRoots({media});
    for (int i = 0; i < tree->RootItem()->childCount(); ++i) {
        if (CLocalDirTree::ItemPath(tree->RootItem()->child(i)) == "/") {
            tree->RootItem()->child(i)->setExpanded(true);
            tree->setCurrentItem(tree->RootItem()->child(i));
        }
    }
    ASSERT_FALSE(tree->selectedItems().isEmpty());
    ASSERT_TRUE(QDir().mkpath(media + "/U盘"));

    MsgBoxAnswerer answerer(MsgAnswer::Confirm);
    AnswerLogin(second, u"secret1");
    EXPECT_TRUE(frame->OnCommand(kCmdLogout));
    EXPECT_EQ(platform::ToNarrow(CGlobalVar::m_strUid), other.uid);
    // The local tree is filled anew: the new medium is there, nothing open or selected.
    int mounted = 0;
    for (int i = 0; i < tree->RootItem()->childCount(); ++i) {
        mounted += CLocalDirTree::ItemPath(tree->RootItem()->child(i)) == media + "/U盘";
        EXPECT_FALSE(tree->RootItem()->child(i)->isExpanded());
    }
    EXPECT_EQ(mounted, 1);
    EXPECT_TRUE(tree->selectedItems().isEmpty());
    EXPECT_TRUE(frame->isVisible());
    EXPECT_EQ(Text(u"link_username"), u"second");
    EXPECT_EQ(Text(u"tab_predirview"), u"        预览目录");
    ASSERT_EQ(List()->GetItemCount(), 1);
    EXPECT_EQ(List()->GetItemText(0, 5), theirs);
    ASSERT_TRUE(WaitUploaded(theirs));
    ExpectArrived(theirs);
    ExpectNotArrived(mine);
    EXPECT_TRUE(answerer.Texts().empty());

    // Back to the demo account: its unfinished task is there again and finishes.
    AnswerLogin(platform::FromNarrow(service->DemoMobile()),
                platform::FromNarrow(service->DemoPassword()));
    EXPECT_TRUE(frame->OnCommand(kCmdLogout));
    ASSERT_EQ(List()->GetItemCount(), 1);
    EXPECT_EQ(List()->GetItemText(0, 5), mine);
    ASSERT_TRUE(WaitUploaded(mine));
    ExpectArrived(mine);
    ExpectNotArrived(theirs);

    // Cancelling the login window ends the program: the window closes, no worker is left.
    AnswerLogin(u"", u"");
    EXPECT_TRUE(frame->OnCommand(kCmdLogout));
    EXPECT_FALSE(frame->isVisible());
    EXPECT_FALSE(frame->m_session.WorkerRunning());
    EXPECT_TRUE(CGlobalVar::m_strUid.empty());
}

TEST_F(MainFrameIt, RestartInTheMiddleContinuesFromTheSavedList) {
    const std::u16string file = NewFile("restart", 16 << 20);
    SaveTasks({file});
    GatedFrame* first = CreateFrame();
    first->SetGate(file, 40);
    ASSERT_TRUE(ShowFrame());
    ASSERT_TRUE(WaitGate());
    // The window goes away mid-transfer (its worker is stopped at once).
    m_frame.reset();
    EXPECT_TRUE(ListFileHas(u"UploadStatus=\"1\""));
    EXPECT_TRUE(ListFileHas(NameOf(file)));
    ExpectNotArrived(file);

    const std::uint64_t sentBefore = UploadBodyBytesSent();
    ASSERT_NE(OpenFrame(), nullptr);
    ASSERT_EQ(List()->GetItemCount(), 1);
    ASSERT_TRUE(WaitUploaded(file));
    // Only the rest went over the wire the second time.
    EXPECT_LT(UploadBodyBytesSent() - sentBefore, static_cast<std::uint64_t>(16 << 20) * 7 / 10);
    ExpectArrived(file);
    ASSERT_TRUE(WaitWorkerEnded());
    EXPECT_EQ(ListFile(), EmptyGroupBytes());
}

} // namespace

namespace {

// The queue-wide commands through the queue tab's buttons and the list's menu: pause all
// stops the file being sent and every waiting one without touching the list file, resume
// all sends them, a failed file is retried at once, the uploaded rows are cleared; the
// progress line and the one notice follow.
TEST_F(MainFrameIt, QueueWideCommandsAndTheirProgressLine) {
    const std::u16string sending = NewFile("all_sending", 8 << 20),
                         waiting = NewFile("all_waiting", 300000),
                         missing = NewFile("all_missing", 4000);
    SaveTasks({sending, waiting, missing});
    const QString missingPath = QString::fromStdU16String(missing);
    GatedFrame* frame = CreateFrame();
    frame->SetGate(sending, 10);
    ASSERT_TRUE(ShowFrame());
    ASSERT_TRUE(WaitGate());
    DuWindow* w = frame->WindowObject();
    auto press = [&](const char16_t* button) {
        ASSERT_NE(w->Control(button), nullptr);
        w->SendEvent(w->Control(button), kDuEventClick);
    };
    int64_t now = 0;
    auto tick = [&]() { frame->OnProgressTick(now += 1000); };

    press(u"btn_pauseall");
    EXPECT_TRUE(m_frame->m_session.CommandOf(sending) == 2 || TaskStatus(sending) == 5);
    EXPECT_EQ(TaskStatus(waiting), 5);
    EXPECT_EQ(TaskStatus(missing), 5);
    for (const auto& p : {sending, waiting, missing})
        EXPECT_EQ(List()->RowState(Row(p)), 0);
    frame->Release();
    ASSERT_TRUE(QTest::qWaitFor([&] { return TaskStatus(sending) == 5; }, 60000));
    EXPECT_EQ(Value(waiting), 0);
    tick();
    EXPECT_EQ(Text(u"copyright_text"), u"上传已暂停 0/3 个文件");
    EXPECT_EQ(Text(u"tab_uploadfile"), u"   文件上传进度(3)");
    // Pausing wrote nothing of its own: the entries and their order are as they were.
    for (const auto& p : {sending, waiting, missing})
        EXPECT_TRUE(ListFileHas(NameOf(p)));

    // Resume all from the list's menu; the missing file fails and stays for the user.
    ASSERT_TRUE(QFile::rename(missingPath, missingPath + ".away"));
    QMenu menu;
    frame->BuildQueueMenu(menu);
    std::vector<std::pair<int, std::u16string>> items;
    for (QAction* a : menu.actions())
        items.emplace_back(a->isSeparator() ? 0 : a->data().toInt(), a->text().toStdU16String());
    const std::vector<std::pair<int, std::u16string>> expected = {
        {kCmdPauseAll, u"全部暂停"},
        {kCmdResumeAll, u"全部继续"},
        {kCmdRetryFailed, u"立即重试失败的文件"},
        {0, u""},
        {kCmdClearFinished, u"清除已完成"}};
    EXPECT_EQ(items, expected);
    EXPECT_FALSE(menu.actions().back()->isEnabled()); // nothing uploaded yet
    EXPECT_TRUE(frame->OnCommand(kCmdResumeAll));
    ASSERT_TRUE(WaitUploaded(sending));
    ASSERT_TRUE(WaitUploaded(waiting));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return List()->GetItemText(Row(missing), 2) == kUnreadableFileText; }, 60000));
    tick();
    EXPECT_EQ(frame->m_strLastNotice, u"上传完成：3 个文件，1 个失败");

    // The file is back: retried at once, uploaded, and a notice of its own.
    frame->m_strLastNotice.clear();
    ASSERT_TRUE(QFile::rename(missingPath + ".away", missingPath));
    press(u"btn_retryfailed");
    ASSERT_TRUE(WaitUploaded(missing));
    ASSERT_TRUE(WaitWorkerEnded());
    tick();
    EXPECT_EQ(frame->m_strLastNotice, u"上传完成：1 个文件");
    EXPECT_EQ(Text(u"copyright_text"), u"暂无上传任务");
    ExpectArrived(sending);
    ExpectArrived(waiting);
    ExpectArrived(missing);

    // Clearing the uploaded rows leaves the list file as the worker left it.
    const std::string listDone = ListFile();
    EXPECT_EQ(listDone, EmptyGroupBytes());
    press(u"btn_clearfinished");
    EXPECT_EQ(List()->GetItemCount(), 0);
    EXPECT_EQ(ListFile(), listDone);
}

} // namespace
