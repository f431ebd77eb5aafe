#include "media/preview_batch_worker.h"

#include <algorithm>

#include "media/preview_grid.h"

PreviewBatchWorker::PreviewBatchWorker(const char16_t* eventName, IPreviewSink& sink,
                                       std::size_t batch, int pauseMs, bool dropImagesOnRestart)
    : CWorkThread(eventName), m_sink(sink), m_batch(batch), m_pauseMs(pauseMs),
      m_dropImagesOnRestart(dropImagesOnRestart) {}

PreviewBatchWorker::~PreviewBatchWorker() {
    StopAndJoin();
}

void PreviewBatchWorker::RunBatches() {
    m_layoutWidth = LayoutWidthOf(m_sink.OuterSize().width());
    const std::size_t total = m_sink.Preview().names.size();
    std::size_t first = 0;
    while (first < total) {
        std::size_t n = std::min<std::size_t>(m_batch, total - first);
        if (!Batch(first, n))
            return;
        first += n;
        if (m_restart) {
            m_restart = false;
            first = 0;
        }
        if (!Wait(m_pauseMs))
            return;
    }
    m_sink.InvalidateList();
}

bool PreviewBatchWorker::Batch(std::size_t first, std::size_t count) {
    m_sink.SetImageCount(static_cast<int>(m_sink.Preview().names.size()));

    int width = LayoutWidthOf(m_sink.OuterSize().width());
    if (LayoutNeedsRestart(m_layoutWidth, width)) {
        // The window changed too much for the running layout: start over.
        m_sink.FreeItemRecords();
        m_sink.DeleteAllItems();
        if (m_dropImagesOnRestart)
            m_sink.RemoveAllImages();
        m_restart = true;
        m_layoutWidth = width;
        return true;
    }
    m_sink.SetRedraw(true);
    return PlaceBatch(first, count, GridColumns(m_layoutWidth));
}
