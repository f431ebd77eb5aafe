// Files and folders dropped on the main window from a file manager: queued as the upload
// commands queue them, into one server folder chosen in the picker for the whole drop.
#include "ui/mainframe/main_frame.h"

#include "media/media_ext.h"
#include "ui/show_msg_dlg.h"

#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QUrl>

namespace {

bool HasLocalUrl(const QMimeData* mime) {
    if (!mime || !mime->hasUrls()) {
        return false;
    }
    for (const QUrl& url : mime->urls()) {
        if (url.isLocalFile()) {
            return true;
        }
    }
    return false;
}

} // namespace

bool CMainFrame::OnDropUrls(const QList<QUrl>& urls) {
    if (RefuseWhileQueueing(u"a drop")) {
        return false;
    }
    struct DroppedFile {
        std::u16string folder;
        std::u16string name;
    };
    std::vector<DroppedFile> files;
    std::vector<std::u16string> folders;
    bool anyLocal = false;
    for (const QUrl& url : urls) {
        // Web addresses and other schemes are not ours to fetch.
        if (!url.isLocalFile()) {
            continue;
        }
        const QFileInfo info(url.toLocalFile());
        if (!info.exists()) {
            continue;
        }
        anyLocal = true;
        const QString path = QDir::cleanPath(info.absoluteFilePath());
        if (info.isDir()) {
            folders.push_back(path.toStdU16String());
        } else if (info.isFile() && IsMediaFile(path.toStdU16String())) {
            files.push_back({QDir::cleanPath(info.absolutePath()).toStdU16String(),
                             info.fileName().toStdU16String()});
        }
    }
    if (!anyLocal) {
        return false;
    }
    if (files.empty() && folders.empty()) {
        ShowMessageBox(this, kNothingToUploadText, 1);
        return true;
    }
    int fid = 0;
    if (!ChooseUploadTarget(fid)) {
        return true;
    }
    // Files first, named by their file names in duplicate messages as a file upload names
    // them; then each folder as "上传目录" uploads it, with its own messages.
    bool addedFiles = false;
    for (const DroppedFile& f : files) {
        addedFiles = AddFileUpload(f.folder, f.name, fid) || addedFiles;
    }
    if (addedFiles) {
        StartAddedUploads();
    }
    for (const std::u16string& folder : folders) {
        UploadFolderTo(folder, fid);
    }
    return true;
}

void CMainFrame::dragEnterEvent(QDragEnterEvent* e) {
    if (HasLocalUrl(e->mimeData())) {
        e->acceptProposedAction();
    }
}

void CMainFrame::dropEvent(QDropEvent* e) {
    if (!HasLocalUrl(e->mimeData())) {
        return;
    }
    e->acceptProposedAction();
    const QList<QUrl> urls = e->mimeData()->urls();
    // The picker is modal: it runs after the drag has ended, not inside the drop.
    QPointer<CMainFrame> self(this);
    QMetaObject::invokeMethod(
        this,
        [self, urls]() {
            if (self) {
                self->OnDropUrls(urls);
            }
        },
        Qt::QueuedConnection);
}
