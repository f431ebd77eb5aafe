// Adding uploads from the window: a folder with its sub-folders, selected preview files and
// the floating button, each through the server folder picker, with the duplicate rules.
#include "preview_fixture.h"

#include "media/local_scan.h"

#include <QDropEvent>
#include <QMimeData>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <set>

using namespace mftest;
using ui::testing::MsgAnswer;
using ui::testing::MsgBoxAnswerer;
using ui::testing::PickerAnswerer;

namespace {

class AddUploadIt : public PreviewTest {
protected:
    // Holds every upload back: the service answers the worker's first call only after
    // the test has ended (the stop at the end cancels the worker's wait).
    void HoldUploads() { ASSERT_NE(service->Admin("/admin/faults?delay_ms=20000"), ""); }
    void TearDown() override {
        PreviewTest::TearDown();
        service->Admin("/admin/faults?delay_ms=0");
    }
    int Rows() const { return List()->GetItemCount(); }
    std::u16string RowPath(int row) const {
        return List()->GetItemText(row, UploadListModel::kColFullPath);
    }
    std::vector<UpInfo> SavedTasks() {
        std::vector<UpInfo> tasks;
        EXPECT_TRUE(ReadUploadTaskList(tasks));
        return tasks;
    }
    std::u16string ServerPath(const QString& text) {
        return m_frame->m_pServerDirTree->ItemPath(ServerItem(text));
    }
};

TEST(DuplicateMessage, ElevenAndTwelveCharacterRules) {
    EXPECT_EQ(CMainFrame::DuplicateMessage(u"12345678901", 0), u"[12345678901]已在上传任务中");
    EXPECT_EQ(CMainFrame::DuplicateMessage(u"123456789012", 0), u"[12345678901...]已在上传任务中");
    EXPECT_EQ(CMainFrame::DuplicateMessage(u"123456789012", 55), u"[12345678901...]已在上传任务中");
    EXPECT_EQ(CMainFrame::DuplicateMessage(u"123456789012", 200), u"[123456789012]已上传完毕");
    EXPECT_EQ(CMainFrame::DuplicateMessage(u"1234567890123", 200), u"[123456789012...]已上传完毕");
    EXPECT_EQ(CMainFrame::DuplicateMessage(u"春节.jpg", 200), u"[春节.jpg]已上传完毕");
}

TEST_F(AddUploadIt, NoLocalFolderThenCancelledPickerAddNothing) {
    Pictures(m_home + "/相册", "秋", 3);
    ASSERT_NE(OpenFrame(), nullptr);
    MsgBoxAnswerer boxes;
    PickerAnswerer picker;

    // Nothing selected in the local tree: the message comes before any picker.
    m_frame->m_pLocalDirTree->clearSelection();
    m_frame->OnUploadFolder();
    EXPECT_EQ(boxes.Texts(), std::vector<std::u16string>{u"请选择本地待上传的目录后再上传！"});
    EXPECT_EQ(picker.Shown(), 0);

    // Cancelling the picker adds nothing and says nothing.
    boxes.Clear();
    ClickLocalFolder(m_home + "/相册");
    picker.QueueCancel();
    m_frame->OnUploadFolder();
    EXPECT_EQ(picker.Shown(), 1);
    EXPECT_TRUE(boxes.Texts().empty());
    EXPECT_EQ(Rows(), 0);
    EXPECT_FALSE(QFile::exists(QString::fromStdU16String(CGlobalVar::m_strUploadListPath)) &&
                 !SavedTasks().empty());
}

TEST_F(AddUploadIt, FolderUploadQueuesReversedAndDuplicatesAreNamed) {
    const QString album = m_home + "/相册";
    std::vector<std::u16string> files = Pictures(album, "冬", 2);
    for (const auto& p : Pictures(album + "/子目录", "雪", 2, 1))
        files.push_back(p);
    ASSERT_NE(OpenFrame(), nullptr);
    HoldUploads();
    MsgBoxAnswerer boxes;
    PickerAnswerer picker;
    const std::u16string target = ServerPath("2012年春节");
    ASSERT_FALSE(target.empty());
    const int fid = m_frame->m_pServerDirTree->ItemFid(ServerItem("2012年春节"));

    ClickLocalFolder(album);
    picker.QueueChoose(target);
    QTest::mouseClick(m_frame->WindowObject()->Control(u"btn_uploadDir")->Widget(), Qt::LeftButton);
    ASSERT_EQ(Rows(), 4);
    EXPECT_TRUE(boxes.Texts().empty());
    EXPECT_EQ(CGlobalVar::m_strNetDirPath, target);
    // The scan's order reversed, every row waiting for the chosen folder.
    std::vector<UpInfo> scanned;
    FindDirAndFiles(album.toStdU16String().c_str(), scanned, fid);
    ASSERT_EQ(scanned.size(), 4u);
    for (int row = 0; row < 4; ++row) {
        EXPECT_EQ(RowPath(row), scanned[3 - row].m_strFilePath);
        EXPECT_EQ(List()->GetItemText(row, UploadListModel::kColNetDir), target);
        EXPECT_EQ(List()->GetItemText(row, UploadListModel::kColNetDirId),
                  QString::number(fid).toStdU16String());
    }
    const std::vector<UpInfo> saved = SavedTasks();
    ASSERT_EQ(saved.size(), 4u);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(saved[i].m_strFilePath, RowPath(i));
        EXPECT_EQ(saved[i].m_nNetDirId, fid);
        EXPECT_EQ(saved[i].m_strNetDirPath, target);
    }
    EXPECT_EQ(Text(u"tab_uploadfile"), QueueSummaryTexts(4).tabText);

    // Again: one message per file naming its full path, then nothing to upload.
    picker.QueueChoose(target);
    m_frame->OnUploadFolder();
    std::vector<std::u16string> expected;
    for (int row = 0; row < 4; ++row)
        expected.push_back(CMainFrame::DuplicateMessage(RowPath(row), 0));
    std::reverse(expected.begin(), expected.end()); // the walk runs from the last task
    expected.push_back(u"本地待上传目录中无符合的文件！");
    EXPECT_EQ(boxes.Texts(), expected);
    EXPECT_EQ(Rows(), 4);
    EXPECT_EQ(SavedTasks().size(), 4u);
    // The picker opened on the folder chosen before.
    EXPECT_EQ(picker.Shown(), 2);
}

TEST_F(AddUploadIt, SelectedFilesAndFloatingButtonWithTheirDuplicates) {
    const QString album = m_home + "/相册";
    const std::vector<std::u16string> files = Pictures(album, "一张很长很长的照片名字", 4);
    const QString other = m_home + "/其他"; // above the album in the tree, same file names
    Pictures(other, "一张很长很长的照片名字", 4, 1);
    ASSERT_NE(OpenFrame(), nullptr);
    HoldUploads();
    MsgBoxAnswerer boxes;
    PickerAnswerer picker;
    const std::u16string target = ServerPath("宝宝成长");
    ClickLocalFolder(album);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Preview()->count() == 4; }, 30000));
    ASSERT_TRUE(WaitPreviewDone());
    // The keyboard moves the tree's selection to the folder above without a preview: the
    // files below still come from the folder the preview shows.
    m_frame->m_pLocalDirTree->setFocus();
    QTest::keyClick(m_frame->m_pLocalDirTree, Qt::Key_Up);
    ASSERT_EQ(m_frame->SelectedLocalFolder(), other.toStdU16String());
    ASSERT_EQ(Preview()->count(), 4);

    // Nothing selected: the menu command does nothing at all.
    Preview()->clearSelection();
    m_frame->OnCommand(kCmdUploadFromPreview);
    EXPECT_EQ(picker.Shown(), 0);

    // Two selected files.
    Preview()->item(1)->setSelected(true);
    Preview()->item(3)->setSelected(true);
    picker.QueueChoose(target);
    m_frame->OnCommand(kCmdUploadFromPreview);
    ASSERT_EQ(Rows(), 2);
    const std::u16string name1 = Preview()->ItemText(1), name3 = Preview()->ItemText(3);
    EXPECT_EQ(RowPath(0), album.toStdU16String() + u"/" + name1);
    EXPECT_EQ(RowPath(1), album.toStdU16String() + u"/" + name3);
    EXPECT_EQ(SavedTasks().size(), 2u);
    EXPECT_TRUE(boxes.Texts().empty());

    // The floating button over a waiting file: named by its file name, cut to 11.
    const QPoint over1 = Preview()->visualItemRect(Preview()->item(1)).center();
    m_frame->PlaceFloatUploadButton(over1);
    ASSERT_TRUE(m_frame->m_pFloatUploadBtn->isVisible());
    picker.QueueChoose(target);
    QTest::mouseClick(m_frame->m_pFloatUploadBtn, Qt::LeftButton);
    EXPECT_EQ(boxes.Texts(), std::vector<std::u16string>{CMainFrame::DuplicateMessage(name1, 0)});
    EXPECT_EQ(boxes.Texts()[0], u"[" + name1.substr(0, 11) + u"...]已在上传任务中");
    EXPECT_EQ(Rows(), 2);

    // Over a new file: added with its size and the chosen folder.
    boxes.Clear();
    m_frame->PlaceFloatUploadButton(Preview()->visualItemRect(Preview()->item(0)).center());
    picker.QueueChoose(target);
    QTest::mouseClick(m_frame->m_pFloatUploadBtn, Qt::LeftButton);
    ASSERT_EQ(Rows(), 3);
    EXPECT_TRUE(boxes.Texts().empty());
    const std::vector<UpInfo> saved = SavedTasks();
    ASSERT_EQ(saved.size(), 3u);
    EXPECT_EQ(saved[2].m_strFilePath, album.toStdU16String() + u"/" + Preview()->ItemText(0));
    EXPECT_EQ(saved[2].m_nFileLen,
              QFileInfo(QString::fromStdU16String(saved[2].m_strFilePath)).size());
    EXPECT_EQ(std::u16string(saved[2].m_tcExt), u"jpg");
    EXPECT_EQ(saved[2].m_strNetDirPath, target);

    // Over an uploaded one: "已上传完毕" (the session's word, once the service confirmed).
    service->Admin("/admin/faults?delay_ms=0");
    const std::u16string uploaded = RowPath(1);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return m_frame->m_session.Lookup(uploaded) == UploadSession::Known::Uploaded; },
        60000));
    boxes.Clear();
    m_frame->PlaceFloatUploadButton(Preview()->visualItemRect(Preview()->item(3)).center());
    picker.QueueChoose(target);
    QTest::mouseClick(m_frame->m_pFloatUploadBtn, Qt::LeftButton);
    EXPECT_EQ(boxes.Texts(), std::vector<std::u16string>{CMainFrame::DuplicateMessage(name3, 200)});
}

// Files and folders dropped from a file manager: one picker for the drop, media files
// only, duplicates named as the upload commands name them, a folder as "上传目录" queues
// it; addresses that are not local files are ignored without a picker.
TEST_F(AddUploadIt, DroppedFilesFoldersAndWebAddresses) {
    const QString loose = m_home + "/散图";
    const std::vector<std::u16string> pictures = Pictures(loose, "拖放", 2);
    {
        QFile text(loose + "/说明.txt");
        ASSERT_TRUE(text.open(QIODevice::WriteOnly));
        text.write("not a picture");
    }
    const QString album = m_home + "/拖放相册";
    Pictures(album, "夏", 2);
    ASSERT_NE(OpenFrame(), nullptr);
    HoldUploads();
    MsgBoxAnswerer boxes;
    PickerAnswerer picker;
    const std::u16string target = ServerPath("宝宝成长");
    auto drop = [&](const QList<QUrl>& urls) {
        QMimeData mime;
        mime.setUrls(urls);
        const QPoint at = m_frame->rect().center();
        QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(m_frame.get(), &enter);
        QDropEvent dropped(QPointF(at), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(m_frame.get(), &dropped);
        QTest::qWait(50); // the queued handling after the drag
        return enter.isAccepted();
    };
    auto local = [](const std::u16string& p) {
        return QUrl::fromLocalFile(QString::fromStdU16String(p));
    };

    // A web address: refused at the door, no picker, nothing queued.
    EXPECT_FALSE(drop({QUrl(QStringLiteral("https://example.com/a.jpg"))}));
    EXPECT_EQ(picker.Shown(), 0);
    EXPECT_EQ(Rows(), 0);

    // Two pictures, a text file and a web address: the pictures, in the dropped order.
    picker.QueueChoose(target);
    EXPECT_TRUE(drop({local(pictures[0]), QUrl::fromLocalFile(loose + "/说明.txt"),
                      QUrl(QStringLiteral("https://example.com/b.jpg")), local(pictures[1])}));
    EXPECT_EQ(picker.Shown(), 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Rows() == 2; }, 10000));
    EXPECT_EQ(RowPath(0), pictures[0]);
    EXPECT_EQ(RowPath(1), pictures[1]);
    EXPECT_EQ(List()->GetItemText(0, UploadListModel::kColNetDir), target);
    EXPECT_TRUE(boxes.Texts().empty());

    // The folder and a picture already queued: the folder's files as a folder upload
    // queues them (reversed), the picture named by its file name.
    picker.QueueChoose(target);
    drop({local(pictures[0]), QUrl::fromLocalFile(album)});
    ASSERT_TRUE(QTest::qWaitFor([&] { return Rows() == 4; }, 10000));
    EXPECT_EQ(boxes.Texts(), std::vector<std::u16string>{
                                 CMainFrame::DuplicateMessage(FrameTest::NameOf(pictures[0]), 0)});
    std::vector<UpInfo> scanned;
    FindDirAndFiles(album.toStdU16String().c_str(), scanned, 0);
    ASSERT_EQ(scanned.size(), 2u);
    EXPECT_EQ(RowPath(2), scanned[1].m_strFilePath);
    EXPECT_EQ(RowPath(3), scanned[0].m_strFilePath);
    EXPECT_EQ(SavedTasks().size(), 4u);
    EXPECT_EQ(Text(u"tab_uploadfile"), QueueSummaryTexts(4).tabText);
}

} // namespace

// A long folder upload keeps the window turning and says how far it is; meanwhile another
// upload, a drop and the exit are refused, and the rows and the list file end as a quick
// upload leaves them: the scan's tasks last to first.
TEST_F(AddUploadIt, LongFolderUploadTurnsShowsProgressAndRefusesCommands) {
    const QString library = m_home + "/图库";
    for (int d = 0; d < 6; ++d) {
        ASSERT_TRUE(QDir().mkpath(library + QString::asprintf("/%d", d)));
        for (int i = 0; i < 100; ++i) {
            QFile f(library + QString::asprintf("/%d/图%03d.jpg", d, i));
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(QByteArray(64 + i, 'x'));
        }
    }
    ASSERT_NE(OpenFrame(), nullptr);
    HoldUploads();
    MsgBoxAnswerer boxes;
    PickerAnswerer picker;
    const std::u16string target = ServerPath("2012年春节");
    const int fid = m_frame->m_pServerDirTree->ItemFid(ServerItem("2012年春节"));
    m_frame->m_queueingPace = {50, 0, 0};

    ClickLocalFolder(library);
    std::set<std::u16string> lines;
    int turns = 0;
    QTimer turn;
    QObject::connect(&turn, &QTimer::timeout, [&] {
        if (!m_frame->Queueing())
            return;
        ++turns;
        lines.insert(Text(u"copyright_text"));
        m_frame->OnUploadFolder();
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(library)});
        EXPECT_FALSE(m_frame->OnDropUrls(mime.urls()));
        m_frame->close();
    });
    turn.start(0);
    picker.QueueChoose(target);
    m_frame->OnUploadFolder();
    turn.stop();

    EXPECT_GT(turns, 2);
    EXPECT_EQ(picker.Shown(), 1);
    EXPECT_TRUE(m_frame->isVisible());
    EXPECT_TRUE(boxes.Texts().empty());
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::u16string& l) {
        return l.find(u"正在添加上传任务") != std::u16string::npos;
    }));
    std::vector<UpInfo> scanned;
    FindDirAndFiles(library.toStdU16String().c_str(), scanned, fid);
    ASSERT_EQ(scanned.size(), 600u);
    ASSERT_EQ(Rows(), 600);
    const std::vector<UpInfo> saved = SavedTasks();
    ASSERT_EQ(saved.size(), 600u);
    for (int row = 0; row < 600; ++row) {
        EXPECT_EQ(RowPath(row), scanned[599 - static_cast<std::size_t>(row)].m_strFilePath);
        EXPECT_EQ(saved[static_cast<std::size_t>(row)].m_strFilePath, RowPath(row));
    }
    EXPECT_EQ(Text(u"copyright_text"), QueueSummaryTexts(600).copyrightText);
}
