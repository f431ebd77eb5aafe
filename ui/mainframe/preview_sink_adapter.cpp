#include "ui/mainframe/preview_sink_adapter.h"

#include "ui/mainframe/main_frame.h"
#include "ui/mainframe/preview_list.h"
#include "ui/mainframe/ui_thread_call.h"

#include <QPointer>

namespace {

// Runs `work` with the preview list on the window's thread; nothing once the list is gone.
template <class Work> void OnList(CMainFrame& frame, Work work) {
    QPointer<CPreviewList> list(frame.m_pPreviewList);
    CallOnUiThreadAndWait(&frame, [list, work]() {
        if (list) {
            work(*list);
        }
    });
}

} // namespace

CFramePreviewSink::CFramePreviewSink(CMainFrame& frame) : m_frame(frame) {}

void CFramePreviewSink::StoreOuterSize(QSize size) {
    m_width = size.width();
    m_height = size.height();
}

PreviewState& CFramePreviewSink::Preview() {
    return m_frame.m_preview;
}

QSize CFramePreviewSink::OuterSize() {
    return QSize(m_width.load(), m_height.load());
}

void CFramePreviewSink::SetImageCount(int count) {
    OnList(m_frame, [count](CPreviewList& l) { l.SetImageCount(count); });
}

void CFramePreviewSink::ReplaceImage(int index, const QImage& image) {
    OnList(m_frame, [index, image](CPreviewList& l) { l.ReplaceImage(index, image); });
}

void CFramePreviewSink::RemoveAllImages() {
    OnList(m_frame, [](CPreviewList& l) { l.RemoveAllImages(); });
}

void CFramePreviewSink::InsertItem(int index, const std::u16string& text, int image) {
    OnList(m_frame,
           [index, text, image](CPreviewList& l) { l.InsertPreviewItem(index, text, image); });
}

void CFramePreviewSink::AttachRecord(int index, const UpInfo& record) {
    auto copy = std::make_shared<UpInfo>(record);
    OnList(m_frame, [index, copy](CPreviewList& l) { l.AttachRecord(index, *copy); });
}

void CFramePreviewSink::SetItemPosition(int index, QPoint pos) {
    OnList(m_frame, [index, pos](CPreviewList& l) { l.SetItemPosition(index, pos); });
}

void CFramePreviewSink::DeleteAllItems() {
    OnList(m_frame, [](CPreviewList& l) { l.DeleteAllItems(); });
}

void CFramePreviewSink::FreeItemRecords() {
    OnList(m_frame, [](CPreviewList& l) { l.FreeItemRecords(); });
}

void CFramePreviewSink::SetRedraw(bool on) {
    OnList(m_frame, [on](CPreviewList& l) { l.setUpdatesEnabled(on); });
}

void CFramePreviewSink::InvalidateList() {
    OnList(m_frame, [](CPreviewList& l) { l.viewport()->update(); });
}

void CFramePreviewSink::SetItemFile(int index, const std::u16string& file) {
    OnList(m_frame, [index, file](CPreviewList& l) { l.SetItemFile(index, file); });
}

int CFramePreviewSink::LastWantedItem() {
    return m_frame.m_pPreviewList ? m_frame.m_pPreviewList->LastWantedItem() : 0;
}

ShownItems CFramePreviewSink::Shown() {
    const CPreviewList* list = m_frame.m_pPreviewList;
    if (!list) {
        return {0, 0, 1};
    }
    return {list->FirstShownItem(), list->LastWantedItem(), list->ScrollDirection()};
}

void CFramePreviewSink::SetControlText(const char16_t* control, const std::u16string& text) {
    const std::u16string name = control ? control : u"";
    QPointer<CMainFrame> frame(&m_frame);
    CallOnUiThreadAndWait(&m_frame, [frame, name, text]() {
        if (frame) {
            frame->SetControlText(name.c_str(), text);
        }
    });
}
