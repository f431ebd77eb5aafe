// Lays the preview grid out again after the main window was resized; the thumbnails
// already in the image list are reused.
#pragma once

#include "media/preview_batch_worker.h"

class ShowImgBySizeThread : public PreviewBatchWorker {
public:
    static constexpr int kBatch = 30;

    explicit ShowImgBySizeThread(IPreviewSink& sink);
    ~ShowImgBySizeThread() override;

protected:
    int Run(CWorkThread* worker) override;
    bool PlaceBatch(std::size_t first, std::size_t count, int columns) override;
};
