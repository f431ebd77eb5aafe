// The main window's side of the thumbnail workers and the server file listing: each
// request is carried out on the user-interface thread against the preview list, and the
// worker waits for it (or gives up once it is asked to stop).
#pragma once

#include "media/preview_sink.h"
#include "serverdir/file_download_thread.h"

#include <atomic>

class CMainFrame;

class CFramePreviewSink : public IPreviewSink, public IControlTextSink {
public:
    explicit CFramePreviewSink(CMainFrame& frame);

    // The window's outer size, stored by the window on every resize.
    void StoreOuterSize(QSize size);

    PreviewState& Preview() override;
    QSize OuterSize() override;
    void SetImageCount(int count) override;
    void ReplaceImage(int index, const QImage& image) override;
    void RemoveAllImages() override;
    void InsertItem(int index, const std::u16string& text, int image) override;
    void AttachRecord(int index, const UpInfo& record) override;
    void SetItemPosition(int index, QPoint pos) override;
    void DeleteAllItems() override;
    void FreeItemRecords() override;
    void SetRedraw(bool on) override;
    void InvalidateList() override;
    bool MakesOwnThumbnails() const override { return true; }
    void SetItemFile(int index, const std::u16string& file) override;
    int LastWantedItem() override;
    ShownItems Shown() override;

    void SetControlText(const char16_t* control, const std::u16string& text) override;

private:
    CMainFrame& m_frame;
    std::atomic<int> m_width{0};
    std::atomic<int> m_height{0};
};
