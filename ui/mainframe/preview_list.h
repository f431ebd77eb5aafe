// The preview list: thumbnails of 160 x 120 in icon mode, each item placed where the
// thumbnail workers put it, its picture taken from the list's own image list by index. In
// a server preview every item carries a copy of its file's server record.
#pragma once

#include "upload/up_info.h"

#include <QImage>
#include <QListWidget>
#include <QPixmap>

#include <memory>
#include <string>
#include <vector>

class CPreviewList : public QListWidget {
public:
    static constexpr int kControlId = 3001;
    static constexpr int kThumbWidth = 160;
    static constexpr int kThumbHeight = 120;

    explicit CPreviewList(QWidget* parent = nullptr);

    // The image list. An index outside it shows no picture.
    int ImageCount() const { return static_cast<int>(m_images.size()); }
    void SetImageCount(int count);
    void ReplaceImage(int index, const QImage& image);
    void RemoveAllImages();

    // Items. `index` beyond the end appends.
    void InsertPreviewItem(int index, const std::u16string& text, int image);
    void AttachRecord(int index, const UpInfo& record);
    void SetItemPosition(int index, QPoint pos);
    void DeleteAllItems();
    // Frees every record the items carry; the items stay.
    void FreeItemRecords();

    // The record of item `row`; null for a local item or a row outside the list.
    const UpInfo* RecordAt(int row) const;
    // How many items carry a record.
    int RecordCount() const;
    // The text of item `row`, empty outside the list.
    std::u16string ItemText(int row) const;
    // The row at a viewport position; -1 when none.
    int HitTest(const QPoint& viewportPos) const;
    // Where item `row`'s thumbnail is drawn, in viewport coordinates.
    QRect IconRect(int row) const;
    // The selected rows, ascending.
    std::vector<int> SelectedRows() const;

private:
    void ApplyImage(QListWidgetItem* item, int image);

    std::vector<QPixmap> m_images;
    QPixmap m_blank;
};
