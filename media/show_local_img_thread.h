// Fills the preview grid with the thumbnails of a local folder's media files.
#pragma once

#include "app/work_thread.h"
#include "media/preview_sink.h"

class ShowLocalImgThread : public CWorkThread {
public:
    static constexpr int kBatch = 20;

    explicit ShowLocalImgThread(IPreviewSink& sink);
    ~ShowLocalImgThread() override;

protected:
    int Run(CWorkThread* worker) override;

private:
    // false when the worker was stopped during the batch.
    bool Batch(std::size_t first, std::size_t count);

    IPreviewSink& m_sink;
    int m_layoutWidth = 0;
    bool m_restart = false;
};
