// What the thumbnail workers need from the main window's preview.
#pragma once

#include <QImage>
#include <QPoint>
#include <QSize>
#include <limits>
#include <string>
#include <vector>

#include "upload/up_info.h"

// What the user sees of the preview: items [first, last] are on screen (`last` counts the
// cells the screen has room for, beyond the items there are), after a scroll in
// `direction` (> 0 down, < 0 up).
struct ShownItems {
    int first = 0;
    int last = 0;
    int direction = 1;
};

// The preview's lists, owned by the main window. Workers read them (the server listing
// also appends to them) without a lock: the window stops every preview worker before it
// changes them for another preview.
struct PreviewState {
    std::vector<std::u16string> names; // display order; name i belongs to image i
    std::u16string folder;             // where the named files are
    std::vector<UpInfo> records;       // server file records; empty for a local folder
};

// Every change of the list view and its image list is carried out on the user-interface
// thread; each call returns once it has been done. An implementation may return without
// doing anything once the calling worker has been asked to stop, so that a window
// waiting for the worker to end never deadlocks with it.
class IPreviewSink {
public:
    virtual ~IPreviewSink() = default;

    virtual PreviewState& Preview() = 0;
    // The main window's outer size now (safe from any thread).
    virtual QSize OuterSize() = 0;

    virtual void SetImageCount(int count) = 0;
    virtual void ReplaceImage(int index, const QImage& image) = 0;
    virtual void RemoveAllImages() = 0;
    virtual void InsertItem(int index, const std::u16string& text, int image) = 0;
    virtual void AttachRecord(int index, const UpInfo& record) = 0; // the item keeps a copy
    virtual void SetItemPosition(int index, QPoint pos) = 0;
    virtual void DeleteAllItems() = 0;
    virtual void FreeItemRecords() = 0; // frees the records attached to the items
    virtual void SetRedraw(bool on) = 0;
    virtual void InvalidateList() = 0;

    // True when the preview makes the thumbnails of its items itself, from the files named
    // with SetItemFile, for what is on screen first; the workers then only place items.
    virtual bool MakesOwnThumbnails() const { return false; }
    // Item `index` shows the picture of `file` (made when the preview needs it).
    virtual void SetItemFile(int /*index*/, const std::u16string& /*file*/) {}
    // The last item the user can see now, or could see without scrolling when there are
    // fewer items (safe from any thread); a listing fetches more only as this nears its end.
    virtual int LastWantedItem() { return std::numeric_limits<int>::max() / 2; }
    // The items on screen now (safe from any thread); a listing downloads their pictures
    // first. Without a screen every item counts as shown.
    virtual ShownItems Shown() { return {0, LastWantedItem(), 1}; }
};
