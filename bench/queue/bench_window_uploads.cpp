// The main window uploading against a local qumo-service, offscreen: a saved queue of
// 1,000 tasks and one of every task, each loaded by a fresh window whose upload worker
// sends the first files while the queue tab shows them. Prints files per second over the
// first uploaded files of each, and their ratio (the window's cost per file must not grow
// with the queue).
//   bench_window_uploads <work dir> [files] [uploaded]   (QT_QPA_PLATFORM=offscreen)
#include "bench/queue/frame_setup.h"
#include "media/local_scan.h"
#include "tests/api/service_session.h"
#include "ui/mainframe/list_ctrl_ex.h"
#include "ui/skin/du_control.h"
#include "ui/skin/du_style.h"
#include "ui/skin/du_window.h"
#include "upload/upload_list_file.h"

#include <QApplication>
#include <QtTest/QTest>

#include <cstdio>
#include <string>

namespace {

using benchframe::Seconds;

// `files` files of 2 KiB with contents of their own in sub-folders of 100.
bool MakeUniqueFiles(const QString& folder, int files) {
    for (int i = 0; i < files; ++i) {
        const QString dir = folder + QString::asprintf("/d%04d", i / 100);
        if (i % 100 == 0 && !QDir().mkpath(dir))
            return false;
        QFile f(dir + QString::asprintf("/photo_%06d.jpg", i));
        QByteArray bytes(2048, static_cast<char>(i));
        const QByteArray tag = QByteArray::number(i) + "-" + QByteArray::number(files);
        bytes.replace(0, tag.size(), tag);
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
            return false;
    }
    return true;
}

// Files per second over the first `uploaded` rows of a fresh window loading `count` tasks
// from a fresh service; 0 on failure.
double RunOne(const QString& work, int count, int uploaded) {
    const QString photos = work + QString::asprintf("/home/library%d", count);
    if (!MakeUniqueFiles(photos, count))
        return 0;
    ServiceSession service;
    if (!service.Start() || !service.Login())
        return 0;
    service.Admin(std::string("/admin/space?mobile=") + ServiceSession::DemoMobile() +
                  "&mb=1000000");
    std::vector<UpInfo> tasks;
    CGlobalVar::m_strNetDirPath = u"我的酷摩岚";
    FindDirAndFiles(photos.toStdU16String().c_str(), tasks, 0);
    QFile::remove(QString::fromStdU16String(CGlobalVar::m_strUploadListPath));
    if (static_cast<int>(tasks.size()) != count || !AddUploadTaskLists(tasks))
        return 0;
    tasks = std::vector<UpInfo>();

    CMainFrame frame;
    if (!frame.Create(u"QumoClient"))
        return 0;
    frame.resize(1100, 720);
    frame.show();
    if (!QTest::qWaitForWindowExposed(&frame))
        return 0;
    if (DuControl* tab = frame.WindowObject()->Control(u"tab_uploadfile"))
        QTest::mouseClick(tab->Widget(), Qt::LeftButton);
    CListCtrlEx* list = frame.m_pUploadList;
    auto done = [&]() {
        for (int r = 0; r < uploaded; ++r)
            if (list->GetItemData(r) != UploadListModel::kValueUploaded)
                return false;
        return true;
    };
    // From the first file's end: the worker's first pass over the queue is the engine's.
    if (!QTest::qWaitFor([&] { return list->GetItemData(0) == UploadListModel::kValueUploaded; },
                         60000))
        return 0;
    QElapsedTimer t;
    t.start();
    if (!QTest::qWaitFor(done, 600000))
        return 0;
    const double rate = (uploaded - 1) / Seconds(t);
    frame.StopAllWorkers();
    return rate;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_window_uploads <work dir> [files] [uploaded]\n");
        return 2;
    }
    const QString work = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    const int files = argc > 2 ? std::max(1000, std::atoi(argv[2])) : 20000;
    const int uploaded = argc > 3 ? std::max(2, std::atoi(argv[3])) : 500;
    if (!benchframe::PrepareWork(work, 0, 1)) {
        std::fprintf(stderr, "cannot prepare %s\n", argv[1]);
        return 1;
    }
    auto style = duLoadStyleW(CGlobalVar::m_strSkinPath.c_str());
    DuSetAppStyle(style.get());
    const double small = RunOne(work, 1000, uploaded);
    const double large = RunOne(work, files, uploaded);
    std::printf("files %d uploaded %d\n", files, uploaded);
    std::printf("window_uploads_per_s_1000 %.1f\n", small);
    std::printf("window_uploads_per_s_all %.1f\n", large);
    DuSetAppStyle(nullptr);
    return small > 0 && large > 0 ? 0 : 1;
}
