#include "media/show_img_by_size_thread.h"

#include <algorithm>

#include "media/preview_grid.h"

ShowImgBySizeThread::ShowImgBySizeThread(IPreviewSink& sink)
    : CWorkThread(u"Global/ShowImgBySizeThread"), m_sink(sink) {}

// Run works on our members, so the thread must be gone before they are.
ShowImgBySizeThread::~ShowImgBySizeThread() {
    StopAndJoin();
}

int ShowImgBySizeThread::Run(CWorkThread*) {
    // Clear the items; the images stay and are shown again at their new places.
    m_sink.FreeItemRecords();
    m_sink.SetRedraw(false);
    m_sink.DeleteAllItems();
    m_sink.SetRedraw(true);
    m_sink.InvalidateList();

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
        if (!Wait(0))
            return 0;
    }
    m_sink.InvalidateList();
    return 0;
}

bool ShowImgBySizeThread::Batch(std::size_t first, std::size_t count) {
    const PreviewState& preview = m_sink.Preview();
    m_sink.SetImageCount(static_cast<int>(preview.names.size()));

    int width = LayoutWidthOf(m_sink.OuterSize().width());
    if (LayoutNeedsRestart(m_layoutWidth, width)) {
        m_sink.FreeItemRecords();
        m_sink.DeleteAllItems();
        m_restart = true;
        m_layoutWidth = width;
        return true;
    }

    const int columns = GridColumns(m_layoutWidth);
    m_sink.SetRedraw(true);
    for (std::size_t i = first; i < first + count; ++i) {
        if (!Wait(0))
            return false;
        const std::u16string& name = preview.names[i];
        const int index = static_cast<int>(i);
        m_sink.InsertItem(index, name, index);
        int rec = FindRecordByName(preview.records, 0, name);
        if (rec >= 0)
            m_sink.AttachRecord(index, preview.records[static_cast<std::size_t>(rec)]);
        if (!Wait(0))
            return false;
        m_sink.SetItemPosition(index, GridPosition(index, columns));
    }
    return true;
}
