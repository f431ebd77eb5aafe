// Photographs the main window offscreen for the documentation: the frame with its user
// panel, and the upload queue in the middle of an upload (bars, percentages, a paused row,
// an uploaded row, waiting rows, the row buttons).
//   qumo_mainframe_screenshots <repository root> <output folder>
// Run through scripts/screenshots.
#include "app/global_var.h"
#include "ui/mainframe/list_ctrl_ex.h"
#include "ui/mainframe/main_frame.h"
#include "ui/qumo_app.h"
#include "ui/skin/du_control.h"
#include "ui/skin/du_style.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QTemporaryDir>

#include <cstdio>

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
        ok = Save(frame, out + "/main_window.png") && ok;

        CListCtrlEx* list = frame.m_pUploadList;
        list->AddTaskRows({
            Task(u"IMG_20120123_101512.jpg", u"我的酷摩岚\\旅行照片", 3276800),
            Task(u"IMG_20120123_101748.jpg", u"我的酷摩岚\\旅行照片", 2936012),
            Task(u"庙会_舞狮.mp4", u"我的酷摩岚\\旅行照片\\2012年春节", 48234496),
            Task(u"DSC_0042.JPG", u"我的酷摩岚\\家庭相册", 4194304),
            Task(u"宝宝第一次走路.mov", u"我的酷摩岚\\家庭相册\\宝宝成长", 125829120),
            Task(u"DSC_0043.JPG", u"我的酷摩岚\\家庭相册", 3984588),
            Task(u"DSC_0044.JPG", u"我的酷摩岚\\家庭相册", 1048576),
        });
        UploadListModel* model = list->Model();
        model->SetValue(0, 100);
        model->SetValue(1, 100);
        model->SetValue(2, 64);
        model->SetValue(3, 23);
        model->SetState(3, 0);
        list->selectRow(2);
        frame.ShowQueueSummary(5);
        if (DuWindow* window = frame.WindowObject()) {
            if (DuControl* tab = window->Control(u"tab_uploadfile")) {
                tab->Select();
            }
        }
        ok = Save(frame, out + "/main_window_queue.png") && ok;
        frame.hide();
    }
    DuSetAppStyle(nullptr);
    return ok ? 0 : 1;
}
