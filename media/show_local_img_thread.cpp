#include "media/show_local_img_thread.h"

#include "app/global_var.h"
#include "media/media_ext.h"
#include "media/preview_grid.h"
#include "media/thumbnail.h"
#include "platform/files.h"

namespace {} // namespace

std::u16string VideoPlaceholder() {
    std::u16string path = CGlobalVar::m_strInstallRoot + u"skin/blue/listview/vidio.png";
    platform::FileAttributes attr;
    if (platform::GetFileAttributesEx(path, attr) && !attr.isDirectory)
        return path;
    return {};
}

ShowLocalImgThread::ShowLocalImgThread(IPreviewSink& sink)
    : PreviewBatchWorker(u"Global\\ShowLocalImgThread", sink, kBatch, 2, true) {}

// PlaceBatch runs on the thread: it must be gone before this object is.
ShowLocalImgThread::~ShowLocalImgThread() {
    StopAndJoin();
}

int ShowLocalImgThread::Run(CWorkThread*) {
    RunBatches();
    return 0;
}

bool ShowLocalImgThread::PlaceBatch(std::size_t first, std::size_t count, int columns) {
    const PreviewState& preview = m_sink.Preview();
    for (std::size_t i = first; i < first + count; ++i) {
        const std::u16string& name = preview.names[i];
        std::u16string file = PreviewFilePath(preview.folder, name);
        if (m_sink.MakesOwnThumbnails()) {
            if (!Wait(0))
                return false;
            m_sink.SetItemFile(static_cast<int>(i), file);
            ShowGridItem(m_sink, static_cast<int>(i), name, nullptr, nullptr, columns);
            continue;
        }
        if (!IsImageFile(name)) {
            std::u16string placeholder = VideoPlaceholder();
            if (!placeholder.empty())
                file = placeholder;
        }
        if (!Wait(0))
            return false;
        QImage thumb = MakeThumbnail(file);
        if (!Wait(0))
            return false;
        ShowGridItem(m_sink, static_cast<int>(i), name, &thumb, nullptr, columns);
    }
    return true;
}
