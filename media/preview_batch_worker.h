// What the two thumbnail-grid workers share: the names of the preview are placed in
// batches, and a window that changed its width too much makes the layout start over.
#pragma once

#include <cstddef>

#include "app/work_thread.h"
#include "media/preview_sink.h"

class PreviewBatchWorker : public CWorkThread {
protected:
    // `pauseMs` is the pause after each batch; `dropImagesOnRestart` also empties the
    // image list when the layout starts over (the images are then made again).
    PreviewBatchWorker(const char16_t* eventName, IPreviewSink& sink, std::size_t batch,
                       int pauseMs, bool dropImagesOnRestart);
    ~PreviewBatchWorker() override;

    // Places every name, batch by batch; ends early when the worker is stopped.
    void RunBatches();
    // Places names [first, first + count) on a grid of `columns`; false when stopped.
    virtual bool PlaceBatch(std::size_t first, std::size_t count, int columns) = 0;

    IPreviewSink& m_sink;

private:
    // false when the worker was stopped during the batch.
    bool Batch(std::size_t first, std::size_t count);

    const std::size_t m_batch;
    const int m_pauseMs;
    const bool m_dropImagesOnRestart;
    int m_layoutWidth = 0;
    bool m_restart = false;
};
