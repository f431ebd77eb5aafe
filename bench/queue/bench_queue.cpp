// Queues a folder of media files (100 sub-folders) from the main window as a user does:
// the folder selected in the local tree, the upload command, the picker confirmed. Prints
// the time until every row is listed and the list file holds every task, the same for
// one list-file write per task (what queueing cost before the batch write), the upload
// list's repaint time per scroll frame with every row in it (waiting, then with a progress
// bar on every third row), and the time to show every task as a row at once.
//   bench_queue <work dir> [files]   (QT_QPA_PLATFORM=offscreen)
#include "bench/queue/frame_setup.h"
#include "net/api_calls.h"
#include "ui/mainframe/list_ctrl_ex.h"
#include "ui/mainframe/main_frame.h"
#include "ui/server_dir_tree.h"
#include "ui/skin/du_control.h"
#include "ui/skin/du_style.h"
#include "ui/skin/du_window.h"
#include "ui/test_hooks_picker.h"
#include "upload/upload_list_file.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QScrollBar>
#include <QtTest/QTest>

#include <cstdio>
#include <vector>

namespace {

using benchframe::Seconds;

// One list-file write per task for the first `n` tasks, into a fresh file.
double PerTaskWrites(const std::vector<UpInfo>& tasks, std::size_t n) {
    QFile::remove(QString::fromStdU16String(CGlobalVar::m_strUploadListPath));
    QElapsedTimer t;
    t.start();
    for (std::size_t i = 0; i < n && i < tasks.size(); ++i)
        AddUploadTaskList(tasks[i]);
    return Seconds(t);
}

// The upload list's mean time per scroll step with its repaint, through the whole list.
double ScrollFrameMs(CListCtrlEx* list) {
    QScrollBar* bar = list->verticalScrollBar();
    const int steps = 200;
    QElapsedTimer s;
    s.start();
    for (int i = 0; i < steps; ++i) {
        bar->setValue(bar->maximum() * i / steps);
        list->viewport()->repaint();
    }
    return Seconds(s) * 1000.0 / steps;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_queue <work dir> [files]\n");
        return 2;
    }
    const QString work = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    const int files = argc > 2 ? std::atoi(argv[2]) : 10000;
    const QString home = work + "/home";
    if (!benchframe::PrepareWork(work, files, 100)) {
        std::fprintf(stderr, "cannot prepare %s\n", argv[1]);
        return 1;
    }
    auto style = duLoadStyleW(CGlobalVar::m_strSkinPath.c_str());
    DuSetAppStyle(style.get());

    double windowSeconds = 0;
    double frameMs = 0;
    double progressFrameMs = 0;
    double fillMs = 0;
    int rows = 0;
    std::size_t saved = 0;
    std::vector<UpInfo> tasks;
    {
        CMainFrame frame;
        if (!frame.Create(u"QumoClient")) {
            std::fprintf(stderr, "the main window did not open\n");
            return 1;
        }
        frame.resize(1100, 720);
        frame.show();
        if (!QTest::qWaitForWindowExposed(&frame))
            std::fprintf(stderr, "the window was not exposed\n");
        if (!benchframe::SelectLocalFolder(frame, home, home + "/photos")) {
            std::fprintf(stderr, "no photos folder in the local tree\n");
            return 1;
        }

        ui::testing::PickerAnswerer picker;
        picker.QueueChoose(u"我的私人目录/相册");
        QElapsedTimer t;
        t.start();
        frame.OnUploadFolder();
        windowSeconds = Seconds(t);
        rows = frame.m_pUploadList->GetItemCount();
        ReadUploadTaskList(tasks);
        saved = tasks.size();
        frame.StopAllWorkers();

        // Scrolling through the full list on the queue tab, one repaint per step.
        if (DuControl* tab = frame.WindowObject()->Control(u"tab_uploadfile"))
            QTest::mouseClick(tab->Widget(), Qt::LeftButton);
        CListCtrlEx* list = frame.m_pUploadList;
        if (!list->isVisible())
            std::fprintf(stderr, "the upload list is not visible\n");
        frameMs = ScrollFrameMs(list);
        // The same while uploads run: a progress bar on every third row.
        for (int i = 0; i < rows; i += 3)
            list->Model()->SetValue(i, 1 + i % 99);
        progressFrameMs = ScrollFrameMs(list);

        // Showing every task as a row at once, in a list of its own.
        CListCtrlEx fresh;
        fresh.CreateColumns();
        fresh.resize(694, 480);
        QElapsedTimer f;
        f.start();
        fresh.AddTaskRows(tasks);
        fillMs = Seconds(f) * 1000.0;
    }

    const double per1000 = PerTaskWrites(tasks, 1000);
    const double per2000 = PerTaskWrites(tasks, 2000);
    // Each write rewrites the whole file: the time grows with the square of the count.
    const double projected =
        per2000 * (static_cast<double>(files) / 2000.0) * (static_cast<double>(files) / 2000.0);
    std::printf("files %d rows %d saved %zu\n", files, rows, saved);
    std::printf("queue_window_s %.3f\n", windowSeconds);
    std::printf("per_task_writes_1000_s %.3f\n", per1000);
    std::printf("per_task_writes_2000_s %.3f\n", per2000);
    std::printf("per_task_writes_projected_s %.1f\n", projected);
    std::printf("scroll_frame_ms %.2f\n", frameMs);
    std::printf("scroll_frame_progress_ms %.2f\n", progressFrameMs);
    std::printf("rows_fill_ms %.1f\n", fillMs);
    DuSetAppStyle(nullptr);
    return rows == files && static_cast<int>(saved) == files ? 0 : 1;
}
