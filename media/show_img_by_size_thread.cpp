#include "media/show_img_by_size_thread.h"

#include "media/preview_grid.h"

ShowImgBySizeThread::ShowImgBySizeThread(IPreviewSink& sink)
    : PreviewBatchWorker(u"Global\\ShowImgBySizeThread", sink, kBatch, 0, false) {}

// PlaceBatch runs on the thread: it must be gone before this object is.
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
    RunBatches();
    return 0;
}

bool ShowImgBySizeThread::PlaceBatch(std::size_t first, std::size_t count, int columns) {
    const PreviewState& preview = m_sink.Preview();
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
