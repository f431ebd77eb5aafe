// Fills the preview grid with the thumbnails of a local folder's media files.
#pragma once

#include "media/preview_batch_worker.h"

// The thumbnail a video shows, when the skin holds one ("vidio.png"); empty otherwise.
std::u16string VideoPlaceholder();

class ShowLocalImgThread : public PreviewBatchWorker {
public:
    static constexpr int kBatch = 20;

    explicit ShowLocalImgThread(IPreviewSink& sink);
    ~ShowLocalImgThread() override;

protected:
    int Run(CWorkThread* worker) override;
    bool PlaceBatch(std::size_t first, std::size_t count, int columns) override;
};
