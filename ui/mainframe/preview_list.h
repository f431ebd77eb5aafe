// The preview list: thumbnails of 160 x 120 in icon mode, each item placed where the
// thumbnail workers put it, its picture taken from the list's own image list by index. In
// a server preview every item carries a copy of its file's server record.
#pragma once

#include "upload/up_info.h"

#include <QIcon>
#include <QImage>
#include <QListWidget>
#include <QPixmap>
#include <QTimer>

#include <atomic>
#include <list>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

class ThumbLoader;

class CPreviewList : public QListWidget {
public:
    static constexpr int kControlId = 3001;
    static constexpr int kThumbWidth = 160;
    static constexpr int kThumbHeight = 120;

    // Pictures held at most, beyond the ones on screen: what is visible plus the
    // read-ahead, so a folder of any size costs the same memory.
    static constexpr int kHeldImages = 400;

    explicit CPreviewList(QWidget* parent = nullptr);
    ~CPreviewList() override;

    // The image list. An index outside it, or a picture no longer held, shows white.
    int ImageCount() const { return m_imageCount; }
    void SetImageCount(int count);
    void ReplaceImage(int index, const QImage& image);
    void RemoveAllImages();
    // How many pictures are held now (at most kHeldImages + what is on screen).
    int HeldImages() const { return static_cast<int>(m_held.size()); }
    bool HasImage(int index) const { return m_held.count(index) != 0; }

    // Thumbnails the list makes itself, on a pool of decoders, for what is on screen first
    // and a bounded read-ahead in the direction of scrolling; pictures let go are made
    // again (or read from the desktop's thumbnail cache) when they come back into view.
    // A new preview: forgets the files of the last one.
    void StartThumbnails(bool desktopCache, std::u16string videoPlaceholder);
    void SetItemFile(int index, const std::u16string& file);
    // Stops making thumbnails (the decoders finish their current file, reporting nothing).
    void StopThumbnails();
    // True while thumbnails of items on screen or in the read-ahead are still to come.
    bool ThumbnailsPending() const;
    // The items on screen, first and last; (0, -1) for none.
    std::pair<int, int> VisibleRange() const;
    // The last item that would be on screen, were there items enough (any thread).
    int LastWantedItem() const { return m_lastWanted.load(); }
    // The first item on screen and the direction of the last scroll, with LastWantedItem
    // (any thread).
    int FirstShownItem() const { return m_firstShown.load(); }
    int ScrollDirection() const { return m_shownDirection.load(); }

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

protected:
    void resizeEvent(QResizeEvent* e) override;

private:
    void ApplyImage(QListWidgetItem* item, int image);
    void ScheduleWanted();
    void UpdateWanted();
    void TrimHeld();

    struct Held {
        QPixmap pixmap;
        std::list<int>::iterator use; // place in m_use, most recent first
    };
    std::unordered_map<int, Held> m_held;
    std::list<int> m_use;
    int m_imageCount = 0;
    QPixmap m_blank;
    QIcon m_blankIcon;

    std::unique_ptr<ThumbLoader> m_loader;
    bool m_loading = false;
    QTimer m_wantedTimer;
    int m_lastScroll = 0;
    int m_direction = 1;
    std::atomic<int> m_lastWanted{kHeldImages / 4};
    std::atomic<int> m_firstShown{0};
    std::atomic<int> m_shownDirection{1};
};
