// What the window benchmarks share: a work folder with the skin and configuration, a
// folder of small JPEG-named files, the program paths and server folders of a logged-in
// user whose services do not answer, and picking a folder in the window's local tree.
#pragma once

#include "app/global_var.h"
#include "app/program_paths.h"
#include "net/hosts.h"
#include "serverdir/server_dir_info.h"
#include "ui/local_dir_tree.h"
#include "ui/mainframe/main_frame.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <vector>

namespace benchframe {

inline bool CopyTree(const QString& from, const QString& to) {
    if (!QDir().mkpath(to))
        return false;
    for (const QFileInfo& e : QDir(from).entryInfoList(QDir::NoDotAndDotDot | QDir::AllEntries)) {
        const QString target = to + "/" + e.fileName();
        if (e.isDir() ? !CopyTree(e.filePath(), target) : !QFile::copy(e.filePath(), target))
            return false;
    }
    return true;
}

// `files` small JPEG-named files spread over `folders` sub-folders.
inline bool MakeFolder(const QString& folder, int files, int folders) {
    for (int i = 0; i < files; ++i) {
        const QString dir = folder + QString::asprintf("/d%04d", i % folders);
        if (i < folders && !QDir().mkpath(dir))
            return false;
        QFile f(dir + QString::asprintf("/photo_%06d.jpg", i));
        if (!f.open(QIODevice::WriteOnly))
            return false;
        f.write(QByteArray(64 + i % 512, static_cast<char>(i)));
    }
    return true;
}

inline double Seconds(const QElapsedTimer& t) {
    return static_cast<double>(t.nsecsElapsed()) / 1e9;
}

// A fresh work folder below `work` with the skin, the configuration and `files` media files
// in `folders` sub-folders of home/photos; the program runs from there as user 1001 whose
// services do not answer (the upload worker's calls fail at once and change no row).
inline bool PrepareWork(const QString& work, int files, int folders) {
    QDir(work).removeRecursively();
    const QString home = work + "/home";
    if (!QDir().mkpath(work + "/bin/log") || !QDir().mkpath(work + "/lib/tmp") ||
        !CopyTree(QStringLiteral(QUMO_SOURCE_DIR) + "/skin/blue", work + "/skin/blue") ||
        !QFile::copy(QStringLiteral(QUMO_SOURCE_DIR) + "/res/QumolanLocalConfig.xml",
                     work + "/bin/QumolanLocalConfig.xml") ||
        !MakeFolder(home + "/photos", files, folders))
        return false;
    qputenv("HOME", home.toUtf8());
    ComputeProgramPaths((work + "/bin/QumoClient").toStdU16String());
    CGlobalVar::m_strUid = u"1001";
    hosts::SetAllServiceHosts("127.0.0.1:9");
    std::vector<ServerFolder> dirs(2);
    dirs[0].fid = 0;
    dirs[0].parenterid = -1;
    CopyToFixed(dirs[0].name, u"我的私人目录");
    dirs[1].fid = 2;
    dirs[1].parenterid = 0;
    CopyToFixed(dirs[1].name, u"相册");
    WriteServerDirInfo(dirs);
    return true;
}

// Selects `folder` (a child of a top item of the local tree) as a user does; false when
// the tree does not show it.
inline bool SelectLocalFolder(CMainFrame& frame, const QString& parent, const QString& folder) {
    CLocalDirTree* tree = frame.m_pLocalDirTree;
    QTreeWidgetItem* top = nullptr;
    tree->RootItem()->setExpanded(true);
    for (int i = 0; i < tree->RootItem()->childCount(); ++i)
        if (CLocalDirTree::ItemPath(tree->RootItem()->child(i)) == parent)
            top = tree->RootItem()->child(i);
    if (!top)
        return false;
    top->setExpanded(true);
    for (int i = 0; i < top->childCount(); ++i) {
        if (CLocalDirTree::ItemPath(top->child(i)) == folder) {
            tree->setCurrentItem(top->child(i));
            top->child(i)->setSelected(true);
            return true;
        }
    }
    return false;
}

} // namespace benchframe
