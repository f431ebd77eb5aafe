#include "media/show_local_img_thread.h"

#include <algorithm>

#include "app/global_var.h"
#include "media/media_ext.h"
#include "media/preview_grid.h"
#include "media/thumbnail.h"
#include "platform/files.h"

namespace {

// The thumbnail a video shows, when the skin holds one.
std::u16string VideoPlaceholder() {
    std::u16string path = CGlobalVar::m_strInstallRoot + u"skin/blue/listview/vidio.png";
    platform::FileAttributes attr;
    if (platform::GetFileAttributesEx(path, attr) && !attr.isDirectory)
        return path;
    return {};
}

} // namespace

ShowLocalImgThread::ShowLocalImgThread(IPreviewSink& sink)
    : CWorkThread(u"Global/ShowLocalImgThread"), m_sink(sink) {}

// Run works on our members, so the thread must be gone before they are.
ShowLocalImgThread::~ShowLocalImgThread() {
    StopAndJoin();
}

int ShowLocalImgThread::Run(CWorkThread*) {
    m_layoutWidth = LayoutWidthOf(m_sink.OuterSize().width());
    const std::size_t total = m_sink.Preview().names.size();
    std::size_t first = 0;
    while (first < total) {
        std::size_t n = std::min<std::size_t>(kBatch, total - first);
        if (!Batch(first, n))
            return 0;
        first += n;
        if (m_restart) {
            m_restart = false;
            first = 0;
        }
        if (!Wait(2))
            return 0;
    }
    m_sink.InvalidateList();
    return 0;
}

bool ShowLocalImgThread::Batch(std::size_t first, std::size_t count) {
    const PreviewState& preview = m_sink.Preview();
    m_sink.SetImageCount(static_cast<int>(preview.names.size()));

    int width = LayoutWidthOf(m_sink.OuterSize().width());
    if (LayoutNeedsRestart(m_layoutWidth, width)) {
        // The window changed too much for the running layout: start over.
        m_sink.FreeItemRecords();
        m_sink.DeleteAllItems();
        m_sink.RemoveAllImages();
        m_restart = true;
        m_layoutWidth = width;
        return true;
    }

    const int columns = GridColumns(m_layoutWidth);
    m_sink.SetRedraw(true);
    for (std::size_t i = first; i < first + count; ++i) {
        const std::u16string& name = preview.names[i];
        std::u16string file = PreviewFilePath(preview.folder, name);
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
