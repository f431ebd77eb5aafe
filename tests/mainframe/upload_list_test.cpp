// The upload list on its own: row texts and values, the row buttons with their questions
// and messages, the list file following a cancel, messages 1529 and 1530, lookups by path
// without regard to case, and the worker-to-window calls that must not deadlock on stop.
#include "app/global_var.h"
#include "app/work_thread.h"
#include "platform/codepage.h"
#include "skin_fixture.h"
#include "ui/mainframe/list_ctrl_ex.h"
#include "ui/mainframe/ui_thread_call.h"
#include "ui/messages.h"
#include "ui/test_hooks.h"
#include "upload/upload_list_file.h"

#include <QApplication>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QtTest/QTest>
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <sstream>

namespace {

using ui::testing::MsgAnswer;
using ui::testing::MsgBoxAnswerer;

// Records the messages the list sends to the main window.
class MessageSink : public QObject {
public:
    bool event(QEvent* e) override {
        if (auto* msg = dynamic_cast<ui::AppMessage*>(e)) {
            messages.emplace_back(msg->Id(), msg->text);
            return true;
        }
        return QObject::event(e);
    }
    std::vector<std::pair<int, std::u16string>> messages;
};

UpInfo Task(const std::u16string& path, std::int64_t size, int dirId = 7) {
    UpInfo t;
    t.m_strFilePath = path;
    t.m_strFilePath2 = path;
    t.m_strFileName = path.substr(path.rfind(u'/') + 1);
    t.m_nFileLen = size;
    t.m_nNetDirId = dirId;
    t.m_strNetDirPath = u"我的酷摩岚\\旅行照片";
    return t;
}

class UploadList : public uitest::BlueSkin {
protected:
    void SetUp() override {
        uitest::BlueSkin::SetUp();
        ASSERT_TRUE(m_dir.isValid());
        CGlobalVar::m_strUid = u"5001";
        CGlobalVar::m_strUploadListPath =
            (m_dir.path() + QStringLiteral("/QumolanUploadList.xml")).toStdU16String();
        CGlobalVar::m_strCurUploadPath.clear();
        CGlobalVar::m_nUploadCtrl = 0;
        m_list = std::make_unique<CListCtrlEx>();
        m_list->CreateColumns();
        m_list->SetNotifyTarget(&m_sink);
        m_list->resize(694, 420);
        m_list->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_list.get()));
    }
    void TearDown() override {
        m_list.reset();
        CGlobalVar::m_strCurUploadPath.clear();
        CGlobalVar::m_nUploadCtrl = 0;
        uitest::BlueSkin::TearDown();
    }
    void Click(int row, RowButton button) {
        const QRect rect = m_list->ButtonRect(row, button);
        ASSERT_TRUE(rect.isValid()) << "row " << row << " offers no such button";
        QTest::mouseClick(m_list->viewport(), Qt::LeftButton, {}, rect.center());
    }
    std::u16string Path(const char* name) const {
        return (m_dir.path() + QLatin1Char('/') + QLatin1String(name)).toStdU16String();
    }

    QTemporaryDir m_dir;
    MessageSink m_sink;
    std::unique_ptr<CListCtrlEx> m_list;
};

TEST_F(UploadList, ColumnsRowsAndSizeTexts) {
    auto* model = m_list->Model();
    ASSERT_EQ(model->columnCount(), 7);
    const char16_t* headings[] = {u"文件名", u"上传目录", u"上传进度", u"文件大小",
                                  u"操作",   u"全路径",   u"网络节点"};
    const int widths[] = {150, 130, 200, 90, 70};
    for (int c = 0; c < 7; ++c) {
        EXPECT_EQ(model->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString().toStdU16String(),
                  headings[c]);
        EXPECT_EQ(m_list->isColumnHidden(c), c >= 5) << c;
        if (c < 5) {
            EXPECT_EQ(m_list->columnWidth(c), widths[c]) << c;
        }
    }
    m_list->AddTaskRows(
        {Task(u"/p/a.jpg", 1048576, 12), Task(u"/p/b.MP4", 1048577, 0), Task(u"/p/c.png", 0)});
    ASSERT_EQ(m_list->GetItemCount(), 3);
    EXPECT_EQ(m_list->GetItemText(0, 0), u"a.jpg");
    EXPECT_EQ(m_list->GetItemText(0, 1), u"我的酷摩岚\\旅行照片");
    EXPECT_EQ(m_list->GetItemText(0, 2), u"等待中...");
    EXPECT_EQ(m_list->GetItemText(0, 3), u"1024.0 KB");
    EXPECT_EQ(m_list->GetItemText(0, 4), u"");
    EXPECT_EQ(m_list->GetItemText(0, 5), u"/p/a.jpg");
    EXPECT_EQ(m_list->GetItemText(0, 6), u"12");
    EXPECT_EQ(m_list->GetItemText(1, 3), u"1.0 MB");
    EXPECT_EQ(m_list->GetItemText(2, 3), u"0.0 KB");
    EXPECT_EQ(m_list->GetItemData(0), 0);
    EXPECT_EQ(m_list->rowHeight(0), CListCtrlEx::kRowHeight);
    EXPECT_EQ(m_list->RowState(0), 1);
}

TEST_F(UploadList, ValuesTurnIntoPercentagesAndUploaded) {
    m_list->AddTaskRows({Task(u"/p/A.jpg", 10), Task(u"/p/b.jpg", 10), Task(u"/P/a.JPG", 10)});
    UploadListModel* model = m_list->Model();
    // Rows are found by path without regard to case; every matching row changes.
    EXPECT_EQ(model->RowsWithPath(u"/p/a.jpg"), (std::vector<int>{0, 2}));
    EXPECT_TRUE(model->SetValueForPath(u"/P/A.JPG", 37));
    EXPECT_EQ(m_list->GetItemText(0, 2), u"37%");
    EXPECT_EQ(m_list->GetItemText(2, 2), u"37%");
    EXPECT_EQ(m_list->GetItemText(1, 2), u"等待中...");
    EXPECT_FALSE(model->SetValueForPath(u"/p/none.jpg", 50));

    // 100 becomes "uploaded" at once: the row offers no pause, only its cancel button.
    model->SetValue(1, 100);
    EXPECT_EQ(m_list->GetItemData(1), 200);
    EXPECT_EQ(m_list->GetItemText(1, 2), u"上传成功");
    EXPECT_FALSE(m_list->ButtonRect(1, RowButton::Pause).isValid());
    EXPECT_FALSE(m_list->ButtonRect(1, RowButton::Resume).isValid());
    EXPECT_TRUE(m_list->ButtonRect(1, RowButton::Cancel).isValid());
    // A value outside 1..100 keeps the text.
    model->SetValue(0, 0);
    EXPECT_EQ(m_list->GetItemText(0, 2), u"37%");
    // The bar and the buttons lie inside their own columns.
    const QRect progress = m_list->ProgressCellRect(0);
    const QRect op = m_list->visualRect(model->index(0, UploadListModel::kColOperation));
    EXPECT_TRUE(progress.contains(UploadListDelegate::BarRect(progress)));
    EXPECT_TRUE(op.contains(m_list->ButtonRect(0, RowButton::Pause)));
    EXPECT_TRUE(op.contains(m_list->ButtonRect(0, RowButton::Cancel)));
    EXPECT_FALSE(m_list->ButtonRect(0, RowButton::Pause)
                     .intersects(m_list->ButtonRect(0, RowButton::Cancel)));
}

TEST_F(UploadList, PauseAsksThenResumeDoesNot) {
    m_list->AddTaskRows({Task(u"/p/a.jpg", 10), Task(u"/p/b.jpg", 10)});
    m_list->Model()->SetValue(1, 42);
    MsgBoxAnswerer answerer(MsgAnswer::Confirm);

    answerer.Queue(MsgAnswer::Decline);
    Click(1, RowButton::Pause);
    EXPECT_EQ(answerer.Texts(), std::vector<std::u16string>{u"确定要暂停此文件的上传吗？"});
    EXPECT_EQ(answerer.Records().at(0).oneButton, 0);
    EXPECT_EQ(m_list->RowState(1), 1);
    EXPECT_TRUE(m_sink.messages.empty());

    Click(1, RowButton::Pause);
    EXPECT_EQ(m_list->RowState(1), 0);
    ASSERT_EQ(m_sink.messages.size(), 1u);
    EXPECT_EQ(m_sink.messages[0], std::make_pair(1528, std::u16string(u"/p/b.jpg")));
    EXPECT_FALSE(m_list->ButtonRect(1, RowButton::Pause).isValid());

    answerer.Clear();
    Click(1, RowButton::Resume);
    EXPECT_TRUE(answerer.Texts().empty());
    EXPECT_EQ(m_list->RowState(1), 1);
    ASSERT_EQ(m_sink.messages.size(), 2u);
    EXPECT_EQ(m_sink.messages[1], std::make_pair(1527, std::u16string(u"/p/b.jpg")));
    // Buttons of an uploaded row do nothing but cancel.
    m_list->Model()->SetValue(0, 200);
    m_list->OnPauseButton(0);
    m_list->OnResumeButton(0);
    EXPECT_EQ(m_sink.messages.size(), 2u);
    EXPECT_TRUE(answerer.Texts().empty());
}

// The list removes a cancelled row and tells the main window (1526), whose session drops the
// task, stops an attempt in progress and removes the list file's element; only an uploaded
// row goes without a question.
TEST_F(UploadList, CancelRemovesTheRowAndTellsTheWindow) {
    const std::u16string done = Path("done.jpg"), waiting = Path("waiting.jpg"),
                         sending = Path("sending.jpg");
    m_list->AddTaskRows({Task(done, 5), Task(waiting, 5), Task(sending, 5)});
    m_list->Model()->SetValue(0, 200);
    m_list->Model()->SetValue(2, 30);
    MsgBoxAnswerer answerer(MsgAnswer::Confirm);

    Click(0, RowButton::Cancel);
    EXPECT_TRUE(answerer.Texts().empty());
    ASSERT_EQ(m_list->GetItemCount(), 2);
    EXPECT_EQ(m_list->GetItemText(0, 5), waiting);

    answerer.Queue(MsgAnswer::Decline);
    Click(0, RowButton::Cancel);
    EXPECT_EQ(answerer.Texts(), std::vector<std::u16string>{u"确定要取消此文件的上传吗？"});
    EXPECT_EQ(m_list->GetItemCount(), 2);

    Click(0, RowButton::Cancel);
    Click(0, RowButton::Cancel);
    EXPECT_EQ(m_list->GetItemCount(), 0);
    ASSERT_EQ(m_sink.messages.size(), 3u);
    EXPECT_EQ(m_sink.messages[0], std::make_pair(1526, done));
    EXPECT_EQ(m_sink.messages[1], std::make_pair(1526, waiting));
    EXPECT_EQ(m_sink.messages[2], std::make_pair(1526, sending));
}

TEST_F(UploadList, AllPausedAndDeleteAllMessages) {
    m_list->AddTaskRows({Task(u"/p/a.jpg", 1), Task(u"/p/b.jpg", 1), Task(u"/p/c.jpg", 1)});
    m_list->Model()->SetValue(1, 200);
    // Posted from another thread, as the worker does.
    std::thread poster([this] {
        ui::PostAppMessage(m_list.get(), std::make_unique<ui::AppMessage>(ui::kMsgPauseAllRows));
    });
    poster.join();
    QCoreApplication::sendPostedEvents(m_list.get());
    for (int r = 0; r < 3; ++r) {
        EXPECT_EQ(m_list->RowState(r), 0) << r;
    }
    EXPECT_TRUE(m_list->ButtonRect(0, RowButton::Resume).isValid());
    EXPECT_FALSE(m_list->ButtonRect(0, RowButton::Pause).isValid());
    EXPECT_FALSE(m_list->ButtonRect(1, RowButton::Resume).isValid()); // uploaded

    ui::AppMessage clear(ui::kMsgDeleteAllRows);
    ui::SendAppMessage(m_list.get(), clear);
    EXPECT_EQ(m_list->GetItemCount(), 0);
    EXPECT_TRUE(m_list->Model()->RowsWithPath(u"/p/a.jpg").empty());
}

// A worker waiting for the user-interface thread is released by its stop, even while the
// user-interface thread itself is blocked in that stop; the call it asked for never runs.
class WaitingWorker : public CWorkThread {
public:
    WaitingWorker(QObject* context) : CWorkThread(u""), m_context(context) {}
    ~WaitingWorker() override { StopAndJoin(); }
    std::atomic<int> started{0}, answered{-1}, ran{0};

protected:
    int Run(CWorkThread*) override {
        started = 1;
        answered = CallOnUiThreadAndWait(m_context, [this] { ran = 1; }) ? 1 : 0;
        return 0;
    }

private:
    QObject* m_context;
};

TEST(UiThreadCall, StopReleasesAWaitingWorker) {
    QObject context;
    WaitingWorker worker(&context);
    ASSERT_TRUE(worker.Start());
    while (!worker.started) {
        std::this_thread::yield();
    }
    EXPECT_TRUE(worker.Stop()); // the user-interface thread never ran the call
    EXPECT_EQ(worker.answered.load(), 0);
    QCoreApplication::sendPostedEvents(&context);
    EXPECT_EQ(worker.ran.load(), 0);
}

TEST(UiThreadCall, CallRunsOnTheUiThreadAndAnswers) {
    QObject context;
    std::atomic<bool> onUi{false};
    std::atomic<int> result{-1};
    std::thread t([&] {
        result = CallOnUiThreadAndWait(&context,
                                       [&] { onUi = QThread::currentThread() == qApp->thread(); })
                     ? 1
                     : 0;
    });
    QTRY_COMPARE_WITH_TIMEOUT(result.load(), 1, 10000);
    t.join();
    EXPECT_TRUE(onUi.load());
}

// Ten thousand rows, every third with a progress bar: the list scrolls through them all,
// repainting each step, and a lookup by path still finds the one row. (The time per scroll
// frame is a figure of bench/queue.)
TEST_F(UploadList, TenThousandRowsScrollAndRepaint) {
    std::vector<UpInfo> tasks;
    for (int i = 0; i < 10000; ++i) {
        tasks.push_back(
            Task(u"/media/photos/2012/IMG_" + platform::FromNarrow(std::to_string(i)) + u".jpg",
                 1000 + i));
    }
    m_list->AddTaskRows(tasks);
    ASSERT_EQ(m_list->GetItemCount(), 10000);
    for (int i = 0; i < 10000; i += 3) {
        m_list->Model()->SetValue(i, 1 + i % 99);
    }
    m_list->resize(694, 480);
    QScrollBar* bar = m_list->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 0);
    const int frames = 200;
    for (int f = 0; f <= frames; ++f) {
        bar->setValue(bar->maximum() / frames * f);
        m_list->viewport()->repaint();
    }
    bar->setValue(bar->maximum());
    m_list->viewport()->repaint();
    // At the end of the scroll the last row is the one shown at the bottom.
    const QModelIndex last = m_list->indexAt(QPoint(10, m_list->viewport()->height() - 5));
    EXPECT_EQ(last.row(), 9999);
    EXPECT_EQ(m_list->GetItemData(9999), 1 + 9999 % 99);
    // A lookup by path among the ten thousand rows still finds the one row.
    EXPECT_EQ(m_list->Model()->RowsWithPath(u"/MEDIA/photos/2012/img_9999.JPG"),
              std::vector<int>{9999});
}

} // namespace
