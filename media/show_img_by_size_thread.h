// Lays the preview grid out again after the main window was resized; the thumbnails
// already in the image list are reused.
#pragma once

#include "app/work_thread.h"
#include "media/preview_sink.h"

class ShowImgBySizeThread : public CWorkThread {
public:
    static constexpr int kBatch = 30;

    explicit ShowImgBySizeThread(IPreviewSink& sink);
    ~ShowImgBySizeThread() override;

protected:
    int Run(CWorkThread* worker) override;

private:
    // false when the worker was stopped during the batch.
    bool Batch(std::size_t first, std::size_t count);

    IPreviewSink& m_sink;
    int m_layoutWidth = 0;
    bool m_restart = false;
};
