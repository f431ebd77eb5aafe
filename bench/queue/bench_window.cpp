// The main window with a whole photo library, offscreen, against the goals of a queue of
// 100,000 files:
//   memory      the window with every task as a row, above the same window idle (VmRSS),
//               and the upload list's rows alone;
//   start-up    from the window's creation (which loads the saved list file) until every
//               row is listed and the window has painted;
//   queueing    a folder of the files in sub-folders of 100 files queued from the window
//               (local tree, upload command, picker), with the longest gap between turns
//               of the event loop and the progress texts the window showed meanwhile;
//   flat cost   the window's own handling per uploaded file (100 progress messages 1525
//               with their repaints, the worker's summary, the once-a-second refresh)
//               with every row listed against 1,000 rows.
//   bench_window <work dir> [files] [screenshot.png]   (QT_QPA_PLATFORM=offscreen)
#include "bench/bench_util.h"
#include "bench/engine_util.h"
#include "bench/queue/frame_setup.h"
#include "media/local_scan.h"
#include "ui/mainframe/list_ctrl_ex.h"
#include "ui/skin/du_control.h"
#include "ui/skin/du_style.h"
#include "ui/skin/du_window.h"
#include "ui/test_hooks_picker.h"
#include "upload/transfer_stats.h"
#include "upload/upload_list_file.h"
#include "upload/upload_session.h"

#include <QApplication>
#include <QPixmap>
#include <QTimer>
#include <QtTest/QTest>

#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <set>

namespace {

using benchframe::Seconds;

// Resident memory with the freed pages handed back, so an earlier phase's peak does not
// count for a later one.
long TrimmedRssKb() {
    malloc_trim(0);
    return bench::RssKb();
}

// The bytes malloc hands out now: the live data alone, without the pages a heap left
// fragmented by a peak keeps.
double LiveHeapMb() {
    const struct mallinfo2 m = mallinfo2();
    return static_cast<double>(m.uordblks + m.hblkhd) / (1024.0 * 1024.0);
}

std::u16string CopyrightText(CMainFrame& frame) {
    DuControl* c =
        frame.WindowObject() ? frame.WindowObject()->Control(u"copyright_text") : nullptr;
    return c ? c->Text() : std::u16string();
}

bool OpenFrame(CMainFrame& frame) {
    if (!frame.Create(u"QumoClient"))
        return false;
    frame.resize(1100, 720);
    frame.show();
    return QTest::qWaitForWindowExposed(&frame);
}

void ShowQueueTab(CMainFrame& frame) {
    if (DuControl* tab = frame.WindowObject()->Control(u"tab_uploadfile"))
        QTest::mouseClick(tab->Widget(), Qt::LeftButton);
    QApplication::processEvents();
}

// Timestamps the turns of the event loop: a 5 ms timer that keeps the longest gap between
// two of its firings, and notes each text the queue line shows meanwhile.
class TurnWatch : public QObject {
public:
    TurnWatch(CMainFrame& frame, const char* shot) : m_frame(frame), m_shot(shot) {
        m_timer.setInterval(5);
        m_timer.setTimerType(Qt::PreciseTimer);
        connect(&m_timer, &QTimer::timeout, this, [this] { Turn(); });
    }
    void Start() {
        m_clock.start();
        m_last = 0;
        m_timer.start();
    }
    // The gap up to now counts too: the last turn may have been long ago.
    void Stop() {
        m_timer.stop();
        m_maxGapNs = std::max(m_maxGapNs, m_clock.nsecsElapsed() - m_last);
    }
    double MaxGapMs() const { return static_cast<double>(m_maxGapNs) / 1e6; }
    const std::set<std::u16string>& Texts() const { return m_texts; }

private:
    void Turn() {
        const qint64 now = m_clock.nsecsElapsed();
        m_maxGapNs = std::max(m_maxGapNs, now - m_last);
        m_last = now;
        m_texts.insert(CopyrightText(m_frame));
        // One picture of the window once it shows how far it is and rows have come.
        if (m_shot && !m_shotTaken && now > 500'000'000 &&
            m_frame.m_pUploadList->GetItemCount() > 0) {
            m_shotTaken = true;
            m_frame.grab().save(QString::fromLocal8Bit(m_shot));
        }
    }
    CMainFrame& m_frame;
    const char* m_shot;
    bool m_shotTaken = false;
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_maxGapNs = 0;
    std::set<std::u16string> m_texts;
};

// The window's handling of `files` uploaded files spread over its rows: per file 100
// progress messages through its message queue (a repaint every 20) and the worker's summary;
// the window's once-a-second refresh runs meanwhile. Seconds per file.
double HandlingPerFile(CMainFrame& frame, int files) {
    CListCtrlEx* list = frame.m_pUploadList;
    const int rows = list->GetItemCount();
    std::vector<std::u16string> paths;
    for (int i = 0; i < files; ++i)
        paths.push_back(
            list->GetItemText(static_cast<int>(static_cast<long long>(i) * rows / files),
                              UploadListModel::kColFullPath));
    QElapsedTimer clock;
    clock.start();
    int pending = frame.PendingTaskCount();
    for (int i = 0; i < files; ++i) {
        for (int p = 1; p <= 100; ++p) {
            frame.PostProgress(p, paths[static_cast<std::size_t>(i)]);
            if (p % 20 == 0)
                QApplication::processEvents();
        }
        frame.ShowQueueSummary(--pending);
        QApplication::processEvents();
    }
    return Seconds(clock) / files;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_window <work dir> [files] [screenshot.png]\n");
        return 2;
    }
    const QString work = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    const int files = argc > 2 ? std::max(1000, std::atoi(argv[2])) : 10000;
    const char* shot = argc > 3 ? argv[3] : nullptr;
    const QString home = work + "/home";
    const QString photos = home + "/photos";
    if (!benchframe::PrepareWork(work, files, std::max(1, files / 100))) {
        std::fprintf(stderr, "cannot prepare %s\n", argv[1]);
        return 1;
    }
    auto style = duLoadStyleW(CGlobalVar::m_strSkinPath.c_str());
    DuSetAppStyle(style.get());
    const QString listPath = QString::fromStdU16String(CGlobalVar::m_strUploadListPath);
    bool ok = true;

    // Idle: the window with an empty queue.
    long idleKb = 0;
    double idleHeapMb = 0;
    double idleStartS = 0;
    {
        QElapsedTimer t;
        t.start();
        CMainFrame frame;
        ok = OpenFrame(frame) && ok;
        QApplication::processEvents();
        idleStartS = Seconds(t);
        ShowQueueTab(frame);
        QTest::qWait(200);
        idleKb = TrimmedRssKb();
        idleHeapMb = LiveHeapMb();
        frame.StopAllWorkers();
    }

    // Queueing the folder from an empty queue.
    double queueS = 0;
    double gapMs = 0;
    int progressTexts = 0;
    std::u16string progressExample;
    {
        CMainFrame frame;
        ok = OpenFrame(frame) && ok;
        ShowQueueTab(frame);
        if (!benchframe::SelectLocalFolder(frame, home, photos)) {
            std::fprintf(stderr, "no photos folder in the local tree\n");
            return 1;
        }
        ui::testing::PickerAnswerer picker;
        picker.QueueChoose(u"我的私人目录/相册");
        TurnWatch watch(frame, shot);
        watch.Start();
        QElapsedTimer t;
        t.start();
        frame.OnUploadFolder();
        queueS = Seconds(t);
        watch.Stop();
        gapMs = watch.MaxGapMs();
        for (const std::u16string& text : watch.Texts()) {
            if (text.find(u"添加") != std::u16string::npos) {
                ++progressTexts;
                progressExample = text;
            }
        }
        frame.StopAllWorkers();
        // The rows and the list file as the walk makes them: the scan's tasks last to first.
        std::vector<UpInfo> scanned;
        FindDirAndFiles(photos.toStdU16String().c_str(), scanned, 2);
        std::vector<UpInfo> saved;
        ReadUploadTaskList(saved);
        bool same = static_cast<int>(scanned.size()) == files &&
                    frame.m_pUploadList->GetItemCount() == files &&
                    static_cast<int>(saved.size()) == files;
        for (int i = 0; same && i < files; ++i) {
            const std::u16string& want =
                scanned[scanned.size() - 1 - static_cast<std::size_t>(i)].m_strFilePath;
            same = frame.m_pUploadList->GetItemText(i, UploadListModel::kColFullPath) == want &&
                   saved[static_cast<std::size_t>(i)].m_strFilePath == want;
        }
        if (!same)
            std::fprintf(stderr, "the rows or the list file differ from the walk's order\n");
        ok = ok && same;
    }

    // The rows alone: a list of every task of its own. The list file as the upload engine
    // holds it and the task records read from it, for comparison.
    FlushUploadTaskList();
    DropUploadListForTesting();
    const long beforeRead = TrimmedRssKb();
    std::vector<UpInfo> tasks;
    ReadUploadTaskList(tasks);
    const double readMb = static_cast<double>(TrimmedRssKb() - beforeRead) / 1024.0;
    double listRowsMb = 0;
    double tasksMb = 0;
    {
        // What a copy of every task record weighs (the queue holds one).
        const long before = TrimmedRssKb();
        std::vector<UpInfo> copy = tasks;
        tasksMb = static_cast<double>(TrimmedRssKb() - before) / 1024.0;
    }
    double figuresMb = 0;
    {
        // What the transfer figures of every task weigh (the window's queue has them).
        const long before = TrimmedRssKb();
        TransferStats stats;
        for (const UpInfo& t : tasks)
            stats.Queued(t.m_strFilePath, static_cast<uint64_t>(t.m_nFileLen));
        figuresMb = static_cast<double>(TrimmedRssKb() - before) / 1024.0;
    }
    double sessionMb = 0;
    {
        // The upload session holding every task (paused, so no worker starts), then the
        // list's rows over the session's tasks: a row holds its task, not a copy.
        const long before = TrimmedRssKb();
        bench::QuietView view;
        UploadSession session(view, UploadSession::Options{.keepFinished = false});
        std::vector<TaskRef> refs;
        refs.reserve(tasks.size());
        for (const UpInfo& t : tasks) {
            refs.push_back(UploadSession::MakeTask(t));
            refs.back()->info.m_nStatus = 5;
        }
        session.Add(refs, false);
        sessionMb = static_cast<double>(TrimmedRssKb() - before) / 1024.0;
        const long beforeRows = TrimmedRssKb();
        {
            CListCtrlEx list;
            list.CreateColumns();
            list.AddTaskRows(refs);
            listRowsMb = static_cast<double>(TrimmedRssKb() - beforeRows) / 1024.0;
        }
        session.Reset();
    }

    // Start-up with the list file the queueing left, read from the disk as at a login,
    // then memory and the cost per file. The bench's own copy of the tasks goes first.
    tasks = std::vector<UpInfo>();
    double startS = 0;
    long fullKb = 0;
    double fullHeapMb = 0;
    double perFileBig = 0;
    FlushUploadTaskList();
    DropUploadListForTesting();
    {
        QElapsedTimer t;
        t.start();
        CMainFrame frame;
        ok = OpenFrame(frame) && ok;
        QApplication::processEvents();
        startS = Seconds(t);
        ok = ok && frame.m_pUploadList->GetItemCount() == files;
        frame.StopAllWorkers();
        ShowQueueTab(frame);
        fullKb = TrimmedRssKb();
        fullHeapMb = LiveHeapMb();
        perFileBig = HandlingPerFile(frame, 300);
    }
    double perFileSmall = 0;
    {
        ReadUploadTaskList(tasks);
        tasks.resize(1000);
        QFile::remove(listPath);
        AddUploadTaskLists(tasks);
        CMainFrame frame;
        ok = OpenFrame(frame) && ok;
        frame.StopAllWorkers();
        ShowQueueTab(frame);
        perFileSmall = HandlingPerFile(frame, 300);
    }

    std::printf("files %d\n", files);
    std::printf("memory_idle_mb %.1f\n", static_cast<double>(idleKb) / 1024.0);
    std::printf("memory_rows_mb %.1f\n", static_cast<double>(fullKb - idleKb) / 1024.0);
    std::printf("memory_rows_live_heap_mb %.1f\n", fullHeapMb - idleHeapMb);
    std::printf("memory_list_rows_mb %.1f\n", listRowsMb);
    std::printf("memory_task_records_mb %.1f\n", tasksMb);
    std::printf("memory_session_tasks_mb %.1f\n", sessionMb);
    std::printf("memory_list_file_held_mb %.1f\n", readMb - tasksMb);
    std::printf("memory_transfer_figures_mb %.1f\n", figuresMb);
    std::printf("startup_s %.3f\n", startS);
    std::printf("startup_empty_queue_s %.3f\n", idleStartS);
    std::printf("queue_s %.3f\n", queueS);
    std::printf("queue_max_gap_ms %.1f\n", gapMs);
    std::printf("queue_progress_texts %d\n", progressTexts);
    std::printf("queue_progress_example %s\n",
                QString::fromStdU16String(progressExample).toUtf8().constData());
    std::printf("handling_per_file_ms_1000 %.3f\n", perFileSmall * 1000.0);
    std::printf("handling_per_file_ms_all %.3f\n", perFileBig * 1000.0);
    DuSetAppStyle(nullptr);
    return ok ? 0 : 1;
}
