// Photographs the main window offscreen for the documentation: a local folder's preview
// full of thumbnails with the floating upload button, a server folder's preview (from a
// qumo-service started with its demo account), and the upload queue in the middle of an
// upload (bars, percentages and speeds, a paused row, an uploaded row, waiting rows, the row
// buttons, the progress line), the queue's menu, the settings window and the tray menu.
//   qumo_mainframe_screenshots <repository root> <output folder> [service port]
// Run through scripts/screenshots.
#include "app/app_settings.h"
#include "app/global_var.h"
#include "net/api_calls.h"
#include "net/hosts.h"
#include "serverdir/server_dir_info.h"
#include "ui/local_dir_tree.h"
#include "ui/mainframe/list_ctrl_ex.h"
#include "ui/mainframe/main_frame.h"
#include "ui/mainframe/preview_list.h"
#include "ui/qumo_app.h"
#include "ui/server_dir_tree.h"
#include "ui/settings_dlg.h"
#include "ui/skin/du_control.h"
#include "ui/skin/du_style.h"
#include "upload/transfer_stats.h"

#include "video_fixture.h"

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLinearGradient>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QTemporaryDir>

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

bool Save(QWidget& window, const QString& path) {
    for (int i = 0; i < 5; ++i) {
        QCoreApplication::processEvents();
    }
    const bool ok = window.grab().save(path, "PNG");
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
    return ok;
}

bool CopyTree(const QString& from, const QString& to) {
    if (!QDir().mkpath(to)) {
        return false;
    }
    for (const QFileInfo& e : QDir(from).entryInfoList(QDir::NoDotAndDotDot | QDir::AllEntries)) {
        const QString target = to + "/" + e.fileName();
        if (e.isDir() ? !CopyTree(e.filePath(), target) : !QFile::copy(e.filePath(), target)) {
            return false;
        }
    }
    return true;
}

// Lets the window's workers run until `done` holds (at most 30 s).
template <class Done> void RunUntil(Done done) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < 30000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    for (int i = 0; i < 10; ++i) {
        QCoreApplication::processEvents();
    }
}

// A landscape photograph of our own: sky, sun, hills and water in colours of `seed`.
bool WritePhoto(const QString& path, int seed) {
    const int w = 1600, h = 1200;
    QImage img(w, h, QImage::Format_RGB32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const int hue = (seed * 47) % 360;
    QLinearGradient sky(0, 0, 0, h * 0.6);
    sky.setColorAt(0, QColor::fromHsv((hue + 200) % 360, 120, 250));
    sky.setColorAt(1, QColor::fromHsv((hue + 20) % 360, 70, 255));
    p.fillRect(img.rect(), sky);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor::fromHsv((hue + 40) % 360, 90, 255));
    p.drawEllipse(QPointF(w * (0.2 + (seed % 5) * 0.14), h * 0.25), 110, 110);
    for (int layer = 0; layer < 3; ++layer) {
        QPainterPath hills;
        const double base = h * (0.5 + layer * 0.1);
        hills.moveTo(0, h);
        for (int x = 0; x <= w; x += 40) {
            const double y = base - 120 * (1.0 - layer * 0.25) *
                                        std::abs(std::sin((x + seed * 97 + layer * 300) / 260.0));
            hills.lineTo(x, y);
        }
        hills.lineTo(w, h);
        hills.closeSubpath();
        p.setBrush(
            QColor::fromHsv((hue + 90 + layer * 12) % 360, 110 + layer * 30, 170 - layer * 35));
        p.drawPath(hills);
    }
    if (seed % 3 == 0) {
        QLinearGradient sea(0, h * 0.78, 0, h);
        sea.setColorAt(0, QColor::fromHsv((hue + 190) % 360, 140, 210));
        sea.setColorAt(1, QColor::fromHsv((hue + 210) % 360, 180, 140));
        p.fillRect(QRectF(0, h * 0.78, w, h * 0.22), sea);
    }
    p.end();
    return img.save(path, "JPEG", 88);
}

// A photo taken in portrait: stored lying on its side with the EXIF orientation 6 (turn it
// a quarter clockwise), as cameras store them.
bool WritePortrait(const QString& path, int seed) {
    const QString tmp = path + ".tmp.jpg";
    if (!WritePhoto(tmp, seed)) {
        return false;
    }
    QImage upright = QImage(tmp).scaled(600, 800, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    QFile::remove(tmp);
    QPainter p(&upright);
    p.setBrush(QColor(200, 40, 40));
    p.setPen(Qt::NoPen);
    p.drawEllipse(QPointF(300, 200), 90, 90); // a red sun near the top: upright at a glance
    p.end();
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    if (!upright.transformed(QTransform().rotate(-90)).save(&buffer, "JPEG", 88)) {
        return false;
    }
    QByteArray exif("\xFF\xE1\x00\x22"
                    "Exif\x00\x00"
                    "II\x2A\x00\x08\x00\x00\x00\x01\x00\x12\x01\x03\x00\x01\x00\x00\x00",
                    28);
    exif.append('\x06');
    exif.append(QByteArray(7, '\0'));
    QFile out(path);
    return out.open(QIODevice::WriteOnly) && out.write(jpeg.left(2) + exif + jpeg.mid(2)) > 0;
}

// The demo account logged in on the service at `port`, its folder tree file written.
bool LogIntoDemo(int port) {
    hosts::SetAllServiceHosts("127.0.0.1:" + std::to_string(port));
    hosts::SetWebsite("127.0.0.1:" + std::to_string(port));
    const LoginAnswer login = ApiLogin(u"13800138000", u"qumo2012");
    if (login.outcome != ApiOutcome::Ok) {
        return false;
    }
    GetAppSettings().SetUserInfo(login.uid.c_str(), login.token.c_str(), login.nick.c_str(),
                                 login.headface.c_str(), static_cast<int>(login.usedSpace),
                                 static_cast<int>(login.totalSpace));
    const FolderListAnswer folders = ApiGetFolderList(LoginKind::Account);
    return !folders.folders.empty() && WriteServerDirInfo(folders.folders) == 1;
}

// `menu` drawn over a picture of `window` at `at` (window coordinates), as it pops up.
bool SaveWithMenu(QWidget& window, QMenu& menu, const QPoint& at, const QString& path) {
    menu.ensurePolished();
    menu.adjustSize();
    QPixmap shot = window.grab();
    QPainter p(&shot);
    // A soft shadow under the popup, as a desktop draws one.
    const QRect box(at, menu.size());
    for (int i = 1; i <= 4; ++i) {
        p.fillRect(box.translated(i, i), QColor(0, 0, 0, 14));
    }
    p.drawPixmap(at, menu.grab());
    p.end();
    const bool ok = shot.save(path, "PNG");
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
    return ok;
}

UpInfo Task(const char16_t* name, const char16_t* folder, std::int64_t size) {
    UpInfo t;
    t.m_strFileName = name;
    t.m_strFilePath = std::u16string(u"/home/demo/图片/") + name;
    t.m_strFilePath2 = t.m_strFilePath;
    t.m_nFileLen = size;
    t.m_nNetDirId = 3;
    t.m_strNetDirPath = folder;
    return t;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <repository root> <output folder>\n", argv[0]);
        return 2;
    }
    const QString repo = QString::fromLocal8Bit(argv[1]);
    const QString out = QString::fromLocal8Bit(argv[2]);
    QDir().mkpath(out);

    // A private install root: the avatar files are written below the skin folder.
    QTemporaryDir root;
    if (!root.isValid() || !CopyTree(repo + "/skin/blue", root.path() + "/skin/blue")) {
        return 1;
    }
    CGlobalVar::m_strInstallRoot = (root.path() + "/").toStdU16String();
    CGlobalVar::m_strUploadListPath = (root.path() + "/none.xml").toStdU16String();
    CGlobalVar::m_strNick = u"酷摩小岚";
    CGlobalVar::m_nTotalSpace = 2048;
    CGlobalVar::m_nUsedSpace = 737;
    QDir().mkpath(root.path() + "/lib/tmp");
    const int port = argc > 3 ? std::atoi(argv[3]) : 0;
    if (port > 0 && !LogIntoDemo(port)) {
        std::fprintf(stderr, "cannot log into the demo account on port %d\n", port);
        return 1;
    }
    // A home folder with an album of photographs for the local preview.
    const QString home = root.path() + "/home";
    const QString album = home + "/图片/2012春节旅行";
    QDir().mkpath(album);
    QDir().mkpath(home + "/文档");
    QDir().mkpath(home + "/视频");
    for (int i = 0; i < 15; ++i) {
        WritePhoto(album + QString::asprintf("/IMG_201201%02d_%04d.jpg", 20 + i / 5, 1015 + i * 37),
                   i + 3);
    }
    // A folder with a photo taken in portrait and a video, for their thumbnails.
    const QString mixed = home + "/图片/竖拍与视频";
    QDir().mkpath(mixed);
    WritePortrait(mixed + "/IMG_20120124_0930.jpg", 11);
    WriteTestVideo((mixed + "/庙会_舞狮.mp4").toStdString(), 320, 240, 40, 3, QColor(230, 120, 30));
    WritePhoto(mixed + "/IMG_20120124_0931.jpg", 5);
    qputenv("HOME", home.toUtf8());
    qputenv("XDG_CACHE_HOME", (home + "/.cache").toUtf8());
    std::unique_ptr<DuStyle> style =
        duLoadStyleW((root.path() + "/skin/blue/config.xml").toStdU16String().c_str());
    if (!style) {
        return 1;
    }
    DuSetAppStyle(style.get());

    bool ok = true;
    {
        CMainFrame frame;
        if (!frame.Create(kMainWindowTitle)) {
            return 1;
        }
        frame.show();

        // The album selected in the local tree and previewed, the pointer over a photo.
        CLocalDirTree* tree = frame.m_pLocalDirTree;
        QTreeWidgetItem* item = tree->RootItem();
        while (item && CLocalDirTree::ItemPath(item) != album) {
            item->setExpanded(true);
            QTreeWidgetItem* next = nullptr;
            for (int i = 0; i < item->childCount() && !next; ++i) {
                const QString p = CLocalDirTree::ItemPath(item->child(i));
                if (!p.isEmpty() && (album == p || album.startsWith(p + "/"))) {
                    next = item->child(i);
                }
            }
            item = next;
        }
        if (item) {
            tree->setCurrentItem(item);
            tree->scrollToItem(item);
        }
        frame.OnLocalDirClick(album.toStdU16String());
        RunUntil([&] { return !frame.PreviewWorkerRunning(); });
        CPreviewList* preview = frame.m_pPreviewList;
        if (preview->count() > 1) {
            preview->item(1)->setSelected(true);
            frame.PlaceFloatUploadButton(preview->visualItemRect(preview->item(1)).center());
        }
        ok = Save(frame, out + "/main_window.png") && ok;

        // The portrait photo stands upright; the video shows a frame of its own.
        frame.OnLocalDirClick(mixed.toStdU16String());
        RunUntil([&] { return !frame.PreviewWorkerRunning(); });
        ok = Save(frame, out + "/main_window_portrait_video.png") && ok;

        // A server folder of the demo account.
        if (port > 0) {
            const auto found = frame.m_pServerDirTree->findItems(
                QStringLiteral("2012年春节"), Qt::MatchExactly | Qt::MatchRecursive);
            if (!found.isEmpty()) {
                CServerDirTree* server = frame.m_pServerDirTree;
                server->scrollToItem(found.front());
                frame.OnServerDirClick(server->visualItemRect(found.front()).center());
                RunUntil([&] { return !frame.PreviewWorkerRunning(); });
                ok = Save(frame, out + "/main_window_server.png") && ok;
            }
        }

        CListCtrlEx* list = frame.m_pUploadList;
        list->AddTaskRows({
            Task(u"IMG_20120123_101512.jpg", u"我的酷摩岚/旅行照片", 3276800),
            Task(u"IMG_20120123_101748.jpg", u"我的酷摩岚/旅行照片", 2936012),
            Task(u"庙会_舞狮.mp4", u"我的酷摩岚/旅行照片/2012年春节", 48234496),
            Task(u"DSC_0042.JPG", u"我的酷摩岚/家庭相册", 4194304),
            Task(u"宝宝第一次走路.mov", u"我的酷摩岚/家庭相册/宝宝成长", 125829120),
            Task(u"DSC_0043.JPG", u"我的酷摩岚/家庭相册", 3984588),
            Task(u"DSC_0044.JPG", u"我的酷摩岚/家庭相册", 1048576),
        });
        UploadListModel* model = list->Model();
        model->SetValue(0, 100);
        model->SetValue(1, 100);
        model->SetValue(2, 64);
        model->SetValue(3, 23);
        model->SetState(3, 0);
        list->selectRow(2);
        // The figures of an upload under way, from recorded byte counts: two files done,
        // the video and a photo being sent (the photo then paused), the rest waiting.
        TransferStats& stats = UploadStats();
        const uint64_t sizes[] = {3276800, 2936012, 48234496, 4194304, 125829120, 3984588, 1048576};
        for (int r = 0; r < model->Count() && r < 7; ++r) {
            stats.Queued(model->Text(r, UploadListModel::kColFullPath), sizes[r]);
        }
        const std::u16string video = model->Text(2, UploadListModel::kColFullPath);
        stats.Ended(model->Text(0, UploadListModel::kColFullPath), TransferStats::End::Done);
        stats.Ended(model->Text(1, UploadListModel::kColFullPath), TransferStats::End::Instant);
        stats.BytesSent(model->Text(3, UploadListModel::kColFullPath), 964689, 964689, 4194304);
        stats.Ended(model->Text(3, UploadListModel::kColFullPath), TransferStats::End::Paused);
        // Far past the window's own clock, whose refresh then leaves these samples alone.
        const int64_t t0 = 1000000000;
        stats.Sample(t0);
        uint64_t sent = 0;
        for (int second = 1; second <= 8; ++second) {
            const uint64_t n = (second % 3 == 0 ? 2300 : 2100) * 1024;
            sent += n;
            stats.BytesSent(video, n, 13200000 + sent, 48234496);
            stats.Sample(t0 + second * 1000);
        }
        {
            // The five unfinished rows are the queue the summary counts (held paused: the
            // picture is of a moment, not a run).
            std::vector<UpInfo> tasks;
            for (int r = 2; r < model->Count(); ++r) {
                UpInfo task;
                task.m_strFilePath = model->Text(r, UploadListModel::kColFullPath);
                task.m_nStatus = 5;
                tasks.push_back(task);
            }
            frame.m_session.Add(std::move(tasks), false);
        }
        frame.ShowQueueSummary(5);
        frame.OnProgressTick(t0 + 8000);
        if (DuWindow* window = frame.WindowObject()) {
            if (DuControl* tab = window->Control(u"tab_uploadfile")) {
                tab->Select();
            }
        }
        ok = Save(frame, out + "/main_window_queue.png") && ok;

        // The queue's menu, opened by a right click on the list.
        {
            QMenu menu(&frame);
            frame.BuildQueueMenu(menu);
            const QPoint at = list->mapTo(&frame, list->visualRect(model->index(3, 1)).center());
            ok = SaveWithMenu(frame, menu, at, out + "/main_window_queue_menu.png") && ok;
        }
        // The tray's menu, drawn near the window's bottom right corner as a panel shows it.
        {
            QMenu menu(&frame);
            frame.BuildTrayMenu(menu);
            menu.adjustSize();
            const QPoint at(frame.width() - menu.sizeHint().width() - 24,
                            frame.height() - menu.sizeHint().height() - 36);
            ok = SaveWithMenu(frame, menu, at, out + "/tray_menu.png") && ok;
        }
        // The settings window over the main window.
        {
            CSettingsDlg settings(&frame, (root.path() + "/prefs.conf").toStdU16String());
            if (settings.OnInitDialog()) {
                settings.show();
                QCoreApplication::processEvents();
                if (QWidget* focused = settings.focusWidget()) {
                    focused->clearFocus(); // no text cursor in the picture
                }
                ok = Save(settings, out + "/settings.png") && ok;
                settings.hide();
            } else {
                ok = false;
            }
        }
        frame.hide();
    }
    DuSetAppStyle(nullptr);
    return ok ? 0 : 1;
}
